#include "Files.h"

#ifdef _WIN32
#include "WideText.h"

#include <cerrno>
#include <windows.h>
#endif

namespace runtime {

#ifdef _WIN32
std::FILE *createFile(const std::string &path) { return _wfopen(utf16(path).c_str(), L"wb"); }

bool replaceFile(const std::string &from, const std::string &to)
{
    if (MoveFileExW(utf16(from).c_str(), utf16(to).c_str(), MOVEFILE_REPLACE_EXISTING))
        return true;
    errno = GetLastError() == ERROR_ACCESS_DENIED ? EACCES : EIO;
    return false;
}

void removeFile(const std::string &path) { _wremove(utf16(path).c_str()); }
#else
std::FILE *createFile(const std::string &path) { return std::fopen(path.c_str(), "wb"); }

bool replaceFile(const std::string &from, const std::string &to)
{
    return std::rename(from.c_str(), to.c_str()) == 0;
}

void removeFile(const std::string &path) { std::remove(path.c_str()); }
#endif

} // namespace runtime
