// Control texts: UTF-16 in the controls, UTF-8 for the handlers.
#include "Win32Runtime.h"

namespace runtime::win32 {

std::string windowText(HWND control)
{
    std::wstring text(static_cast<std::size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
    text.resize(static_cast<std::size_t>(
        GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
    return utf8(text);
}

} // namespace runtime::win32
