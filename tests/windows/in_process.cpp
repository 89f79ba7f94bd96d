// Linked into portpanel_win7.exe: hooks on the UI thread that stand for what
// the system may do to the window, and are inert unless a test asks.
// PORTPANEL_REFUSE=CLASS: a CBT hook refuses to create the first window of that class.
// PORTPANEL_DRIVE set: messages sent to the window from outside act as an
// input method on the focused field (see Drive below) or move it to 144 dpi.
#include <cstdlib>
#include <cwchar>
#include <windows.h>

#include <imm.h>

namespace {

enum Drive : UINT { Compose = WM_APP + 1, Complete, Cancel, ComposeDigits, MoveTo144Dpi };

// The first window of the class only: the error box has a button too.
LRESULT CALLBACK refuse(int code, WPARAM wParam, LPARAM lParam)
{
    static bool refused = false;
    wchar_t type[64] = L"";
    if (code == HCBT_CREATEWND && !refused &&
        GetClassNameW(reinterpret_cast<HWND>(wParam), type, 64)) {
        refused = _wcsicmp(type, _wgetenv(L"PORTPANEL_REFUSE")) == 0;
        if (refused)
            return 1;
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void compose(HWND field, const wchar_t *text)
{
    const HIMC context = ImmGetContext(field);
    ImmSetCompositionStringW(context, SCS_SETSTR, const_cast<wchar_t *>(text),
                             static_cast<DWORD>(std::wcslen(text) * sizeof(wchar_t)), nullptr, 0);
    ImmReleaseContext(field, context);
}

void notify(HWND field, DWORD action)
{
    const HIMC context = ImmGetContext(field);
    ImmNotifyIME(context, NI_COMPOSITIONSTR, action, 0);
    ImmReleaseContext(field, context);
}

// Windows 8.1's suggestion at 144 dpi: the whole window, frame too, times 1.5.
void moveTo144Dpi(HWND form)
{
    RECT r;
    GetWindowRect(form, &r);
    RECT suggested{r.left, r.top, r.left + (r.right - r.left) * 3 / 2,
                   r.top + (r.bottom - r.top) * 3 / 2};
    SendMessageW(form, WM_DPICHANGED, MAKEWPARAM(144, 144), reinterpret_cast<LPARAM>(&suggested));
}

LRESULT CALLBACK drive(int code, WPARAM wParam, LPARAM lParam)
{
    const auto *sent = reinterpret_cast<const CWPSTRUCT *>(lParam);
    if (code == HC_ACTION) {
        switch (sent->message) {
        case Compose:
            compose(sent->hwnd, L"\u3042x");
            break;
        case ComposeDigits:
            compose(sent->hwnd, L"\uFF14\uFF15");
            break;
        case Complete:
            notify(sent->hwnd, CPS_COMPLETE);
            break;
        case Cancel:
            notify(sent->hwnd, CPS_CANCEL);
            break;
        case MoveTo144Dpi:
            moveTo144Dpi(sent->hwnd);
            break;
        default:
            break;
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

const bool hooked = [] {
    if (_wgetenv(L"PORTPANEL_REFUSE"))
        SetWindowsHookExW(WH_CBT, refuse, nullptr, GetCurrentThreadId());
    if (_wgetenv(L"PORTPANEL_DRIVE"))
        SetWindowsHookExW(WH_CALLWNDPROC, drive, nullptr, GetCurrentThreadId());
    return true;
}();

} // namespace
