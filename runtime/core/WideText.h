#pragma once

#ifdef _WIN32
#include <string>

namespace runtime {

// UTF-16 from Windows as UTF-8, for messages and handlers.
std::string utf8(const std::wstring &text);

// UTF-8 as the UTF-16 that Windows' wide calls take.
std::wstring utf16(const std::string &utf8);

} // namespace runtime
#endif
