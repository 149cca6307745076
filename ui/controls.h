#pragma once

#include <windows.h>

#include "ui/window.h"

// Sets a control's text to `value` in decimal.
void setNumberText(HWND control, int value);

// Wrappers for controls that a dialog template creates; bind them with attachToDialogItem.
// None owns its control: the controls go with their dialog.

class ButtonControl : public Window {
public:
    ButtonControl();
};

// With both bounds non-zero, every change of the text pulls a number outside
// [minValue, maxValue] back to the nearer bound.
class EditControl : public Window {
public:
    EditControl();
    void onCommandNotify(int code) override;

    int minValue = 0;
    int maxValue = 0;
};

class ComboBoxControl : public Window {};

class StaticControl : public Window {
public:
    StaticControl();
};

// An owner-drawn button (BS_OWNERDRAW in the template) filled with `colour` and outlined
// with the context's pen.
class ColourSwatch : public Window {
public:
    explicit ColourSwatch(COLORREF colour);
    void onDrawItem(DRAWITEMSTRUCT* record) override;

    COLORREF colour;
};

// A push button drawn as a link; a click opens its text with the shell.
class LinkButton : public Window {
public:
    static const COLORREF linkColour = 0x00CC0000;

    void onAttached() override;
    void onCommandNotify(int code) override;
    void onDrawItem(DRAWITEMSTRUCT* record) override;
};
