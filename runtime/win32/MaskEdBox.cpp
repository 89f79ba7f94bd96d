// The value field on Win32: a subclassed EDIT whose edits follow
// runtime::mask, and which refuses any other change of its text.
#include "Mask.h"
#include "Win32Runtime.h"

#include <commctrl.h>

namespace runtime::win32 {
namespace {

constexpr UINT_PTR subclassId = 1;

// Reads the field's state, applies one edit, and shows the result.
template <class Edit> void edit(HWND field, Edit change)
{
    DWORD start = 0;
    DWORD end = 0;
    SendMessageW(field, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                 reinterpret_cast<LPARAM>(&end));
    mask::Field state{windowText(field), end, start, end - start};
    change(state);
    const std::wstring text = wide(state.text);
    DefSubclassProc(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    SendMessageW(field, EM_SETSEL, state.caret, state.caret);
}

std::string clipboardText(HWND field)
{
    std::wstring text;
    if (!OpenClipboard(field))
        return {};
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT))
        if (const auto *chars = static_cast<const wchar_t *>(GlobalLock(data))) {
            text = chars;
            GlobalUnlock(data);
        }
    CloseClipboard();
    return utf8(text);
}

LRESULT CALLBACK fieldProc(HWND field, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                           DWORD_PTR)
{
    switch (message) {
    case WM_CHAR:
        if (wParam >= L'0' && wParam <= L'9') {
            edit(field, [wParam](mask::Field &f) { mask::type(f, static_cast<char>(wParam)); });
            return 0;
        }
        if (wParam == VK_BACK) {
            edit(field, [](mask::Field &f) { mask::erase(f, -1); });
            return 0;
        }
        if (wParam >= L' ')
            return 0; // any other printable character
        break;        // Ctrl+C, Ctrl+A and the like
    case WM_KEYDOWN:
        if (wParam == VK_DELETE) {
            edit(field, [](mask::Field &f) { mask::erase(f, 0); });
            return 0;
        }
        break;
    case WM_PASTE: {
        const std::string pasted = clipboardText(field);
        edit(field, [&pasted](mask::Field &f) { mask::paste(f, pasted); });
        return 0;
    }
    case WM_CUT:
    case WM_CLEAR:
    case WM_UNDO:
    case EM_UNDO:
    case EM_REPLACESEL:
        return 0;
    case WM_SETTEXT:
        if (!lParam || !mask::isThreeDigits(utf8(reinterpret_cast<const wchar_t *>(lParam))))
            return FALSE;
        break;
    default:
        break;
    }
    return DefSubclassProc(field, message, wParam, lParam);
}

} // namespace

void makeMaskEdBox(HWND edit)
{
    SendMessageW(edit, EM_LIMITTEXT, mask::positions, 0);
    SetWindowSubclass(edit, fieldProc, subclassId, 0);
}

} // namespace runtime::win32
