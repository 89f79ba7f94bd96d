#pragma once

#ifdef _WIN32
#include <string>

namespace runtime {

// "Windows error 32: The process cannot access the file because it is being
// used by another process.": Windows' own words for an error code, in the
// user's language, with file in place of a "%1" in them.
std::string systemMessage(unsigned long code, const std::wstring &file = L"the file");

} // namespace runtime
#endif
