#include "SystemMessage.h"

#include "WideText.h"

#include <windows.h>

namespace runtime {

std::string systemMessage(unsigned long code, const std::wstring &file)
{
    wchar_t *text = nullptr;
    const DWORD flags =
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
    const DWORD length =
        FormatMessageW(flags, nullptr, code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    std::wstring words(text ? text : L"", length);
    LocalFree(text);
    if (const std::size_t insert = words.find(L"%1"); insert != std::wstring::npos)
        words.replace(insert, 2, file);
    while (!words.empty() &&
           (words.back() == L'\n' || words.back() == L'\r' || words.back() == L' '))
        words.pop_back();
    return "Windows error " + std::to_string(code) + (words.empty() ? "" : ": " + utf8(words));
}

} // namespace runtime
