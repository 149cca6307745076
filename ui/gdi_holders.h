#pragma once

#include <windows.h>

// A device context from GetDC, released on destruction. A null window gives the screen's.
class WindowDc {
public:
    explicit WindowDc(HWND window) : window(window), context(GetDC(window)) {}
    ~WindowDc() { if (context) ReleaseDC(window, context); }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    HDC get() const { return context; }

private:
    HWND window;
    HDC context;
};

// An owned solid brush.
class SolidBrush {
public:
    explicit SolidBrush(COLORREF colour) : brush(CreateSolidBrush(colour)) {}
    ~SolidBrush() { if (brush) DeleteObject(brush); }
    SolidBrush(const SolidBrush&) = delete;
    SolidBrush& operator=(const SolidBrush&) = delete;
    HBRUSH get() const { return brush; }

private:
    HBRUSH brush;
};

// Selects a GDI object into a context and puts the previous one back on destruction.
class SelectedObject {
public:
    SelectedObject(HDC context, HGDIOBJ object) : context(context), previous(SelectObject(context, object)) {}
    ~SelectedObject() { if (previous) SelectObject(context, previous); }
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;

private:
    HDC context;
    HGDIOBJ previous;
};

// An owned font; replaced fonts are deleted.
class OwnedFont {
public:
    OwnedFont() = default;
    ~OwnedFont() { reset(nullptr); }
    OwnedFont(const OwnedFont&) = delete;
    OwnedFont& operator=(const OwnedFont&) = delete;

    void reset(HFONT replacement)
    {
        if (font)
            DeleteObject(font);
        font = replacement;
    }
    HFONT get() const { return font; }

private:
    HFONT font = nullptr;
};
