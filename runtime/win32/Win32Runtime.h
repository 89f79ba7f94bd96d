#pragma once

#include "Controls.h"
#include "WideText.h"

#include <memory>
#include <string>
#include <windows.h>

// The Win32 side of the form runtime: the platform's own EDIT, STATIC and
// BUTTON controls, UTF-16 inside, UTF-8 to the handlers.
namespace runtime::win32 {

// What each control answers with its window.
struct Handled {
    virtual ~Handled() = default;
    [[nodiscard]] virtual HWND handle() const = 0;
};

inline std::wstring wide(const std::string &utf8) { return utf16(utf8); }
std::string windowText(HWND control);

// The drawn socket's window class, registered at the first ask, and its control.
const wchar_t *connectorWindowClass();
std::unique_ptr<Control> makeConnector(const ControlLayout &layout, HWND handle);

// Makes an EDIT behave as the three-digit value field.
void makeMaskEdBox(HWND edit);

HWND handle(const Form &form);
// Runs the form's handler for a character typed outside a text field (Form::onKey).
bool handleKey(const MSG &message);
// This thread's form window, where one exists: the owner for a message box.
HWND shownForm();
HWND handle(const Control *control);

// The window's DPI, the system's message font at a DPI, and the frame around a
// client area at a DPI, on every Windows from 7 SP1 on.
UINT windowDpi(HWND window);
LOGFONTW messageFont(UINT dpi);
RECT frameFor(const RECT &client, DWORD style, UINT dpi);
// COM on this thread, once, for the accessibility objects; false where it fails.
bool comReady();
// The name a screen reader says for the control.
void setAccessibleName(HWND control, const std::string &name);
// A control whose changes a screen reader announces (the status line), and
// the announcement after a change.
void makeLiveRegion(HWND control);
void announceChange(HWND control);

// A function of a system DLL that older Windows lack; null where it is missing.
FARPROC newerFunction(const wchar_t *dll, const char *name);

} // namespace runtime::win32
