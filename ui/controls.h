#pragma once

#include <windows.h>

#include "ui/window.h"

// Wrappers for controls that a dialog template creates; bind them with attachToDialogItem.
// None owns its control: the controls go with their dialog. Each operation sends the one
// message it is named after.

class ButtonControl : public Window {
public:
    ButtonControl();
    // BM_SETCHECK: checked or unchecked.
    void setCheck(bool checked) { SendMessageA(handle, BM_SETCHECK, checked ? BST_CHECKED : BST_UNCHECKED, 0); }
    // BM_GETCHECK: any state but unchecked (checked, indeterminate) counts as checked.
    bool getCheck() const { return SendMessageA(handle, BM_GETCHECK, 0, 0) != BST_UNCHECKED; }
};

// With both bounds non-zero, every change of the text pulls a number outside
// [minValue, maxValue] back to the nearer bound.
class EditControl : public Window {
public:
    EditControl();
    void onCommandNotify(int code) override;
    // EM_LIMITTEXT: the user can type at most `characters`.
    void limitText(int characters) { SendMessageA(handle, EM_LIMITTEXT, static_cast<WPARAM>(characters), 0); }
    // SetWindowTextA with `value` in decimal: false when the control refused it.
    bool setNumberText(int value);

    int minValue = 0;
    int maxValue = 0;
};

class ComboBoxControl : public Window {
public:
    // CB_ADDSTRING: the index of the new entry (sorted lists put it in place), or CB_ERR.
    int addString(const char* text)
    {
        return static_cast<int>(SendMessageA(handle, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text)));
    }
    // CB_GETCURSEL: the selected index, or CB_ERR (-1) when nothing is selected.
    int getCurSel() const { return static_cast<int>(SendMessageA(handle, CB_GETCURSEL, 0, 0)); }
    // CB_SETCURSEL: selects `index` (-1 clears the selection); raises no CBN_SELCHANGE.
    void setCurSel(int index) { SendMessageA(handle, CB_SETCURSEL, static_cast<WPARAM>(index), 0); }
    // CB_RESETCONTENT: removes every entry.
    void resetContent() { SendMessageA(handle, CB_RESETCONTENT, 0, 0); }
};

class ListBoxControl : public Window {
public:
    // LB_INSERTSTRING: puts `text` at `index` (-1: at the end); its index, or LB_ERR.
    int insertString(int index, const char* text)
    {
        return static_cast<int>(
            SendMessageA(handle, LB_INSERTSTRING, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text)));
    }
    // LB_DELETESTRING: removes the entry at `index`.
    void deleteString(int index) { SendMessageA(handle, LB_DELETESTRING, static_cast<WPARAM>(index), 0); }
    // LB_GETCOUNT: the number of entries.
    int getCount() const { return static_cast<int>(SendMessageA(handle, LB_GETCOUNT, 0, 0)); }
    // LB_GETCURSEL: the selected index, or LB_ERR (-1) when nothing is selected.
    int getCurSel() const { return static_cast<int>(SendMessageA(handle, LB_GETCURSEL, 0, 0)); }
    // LB_SETCURSEL: selects `index`; raises no LBN_SELCHANGE.
    void setCurSel(int index) { SendMessageA(handle, LB_SETCURSEL, static_cast<WPARAM>(index), 0); }
};

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
