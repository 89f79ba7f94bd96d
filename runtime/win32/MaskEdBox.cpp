// The value field on Win32: a subclassed EDIT whose edits follow
// runtime::mask, and which refuses any other change of its text.
#include "EventDelivery.h"
#include "Mask.h"
#include "Win32Runtime.h"

#include <algorithm>
#include <commctrl.h>
#include <exception>
#include <imm.h>
#include <optional>

namespace runtime::win32 {
namespace {

constexpr UINT_PTR subclassId = 1;

// Reads the field's state, applies one edit, and shows the result. The text
// is three digits, so EM_GETSEL's UTF-16 positions are its byte positions;
// anything else that got in is put back to the prompts.
template <class Edit> void edit(HWND field, Edit change)
{
    DWORD start = 0;
    DWORD end = 0;
    SendMessageW(field, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                 reinterpret_cast<LPARAM>(&end));
    std::string text = windowText(field);
    if (!mask::isThreeDigits(text))
        text.assign(mask::positions, mask::prompt), start = end = 0;
    end = std::min<DWORD>(end, mask::positions);
    start = std::min(start, end);
    mask::Field state{text, end, start, end - start};
    change(state);
    const std::wstring shown = wide(state.text);
    DefSubclassProc(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(shown.c_str()));
    SendMessageW(field, EM_SETSEL, state.caret, state.caret);
}

// The clipboard's text, read within its size. Another program may hold the
// clipboard for a moment; after a few tries the field beeps, as an EDIT does.
std::optional<std::string> clipboardText(HWND field)
{
    bool opened = OpenClipboard(field) != FALSE;
    for (int tries = 1; tries < 5 && !opened; ++tries) {
        Sleep(20);
        opened = OpenClipboard(field) != FALSE;
    }
    if (!opened)
        return std::nullopt;
    std::wstring text;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT))
        if (const auto *chars = static_cast<const wchar_t *>(GlobalLock(data))) {
            const std::size_t most = GlobalSize(data) / sizeof(wchar_t);
            for (std::size_t i = 0; i < most && chars[i]; ++i)
                text += chars[i];
            GlobalUnlock(data);
        }
    CloseClipboard();
    return utf8(text);
}

void paste(HWND field)
{
    const std::optional<std::string> pasted = clipboardText(field);
    if (!pasted)
        return void(MessageBeep(MB_ICONWARNING));
    edit(field, [&pasted](mask::Field &f) { mask::paste(f, *pasted); });
}

// A character typed, or sent by an input method: digits edit, anything else
// printable is refused. Null when the EDIT should have it (Ctrl+C and the like).
bool typed(HWND field, WPARAM character)
{
    if (character >= 0xFF10 && character <= 0xFF19) // full-width digits
        character -= 0xFF10 - L'0';
    if (character >= L'0' && character <= L'9')
        edit(field, [character](mask::Field &f) { mask::type(f, static_cast<char>(character)); });
    else if (character == VK_BACK)
        edit(field, [](mask::Field &f) { mask::erase(f, -1); });
    return character >= L' ' || character == VK_BACK;
}

LRESULT handle(HWND field, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CHAR:
    case WM_IME_CHAR:
        if (typed(field, wParam))
            return 0;
        break;
    // Never the EDIT's: it would put the composition in the field, past the
    // mask. Windows shows it apart and sends the result as WM_IME_CHARs.
    case WM_IME_STARTCOMPOSITION:
    case WM_IME_COMPOSITION:
    case WM_IME_ENDCOMPOSITION:
        return DefWindowProcW(field, message, wParam, lParam);
    case WM_KEYDOWN:
        if (wParam == VK_DELETE) {
            edit(field, [](mask::Field &f) { mask::erase(f, 0); });
            return 0;
        }
        break;
    case WM_PASTE:
        paste(field);
        return 0;
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

// No exception unwinds through user32's frames: it goes to the error path.
LRESULT CALLBACK fieldProc(HWND field, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                           DWORD_PTR)
{
    try {
        return handle(field, message, wParam, lParam);
    } catch (...) {
        const std::exception_ptr error = std::current_exception();
        deliver([error] { std::rethrow_exception(error); });
        return 0;
    }
}

} // namespace

void makeMaskEdBox(HWND edit)
{
    SendMessageW(edit, EM_LIMITTEXT, mask::positions, 0);
    SetWindowSubclass(edit, fieldProc, subclassId, 0);
}

} // namespace runtime::win32
