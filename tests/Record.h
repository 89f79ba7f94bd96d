#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

// The calls and bindings that reached the recording port library, one per
// line, from the file the test's environment names.
namespace record {

inline std::filesystem::path path()
{
#ifdef _WIN32 // the ANSI environment cannot hold every folder's name
    const wchar_t *file = _wgetenv(L"PORTPANEL_RECORD");
#else
    const char *file = std::getenv("PORTPANEL_RECORD");
#endif
    return file ? std::filesystem::path(file) : std::filesystem::path();
}

inline std::vector<std::string> lines()
{
    std::vector<std::string> result;
    std::ifstream in(path());
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

inline void clear() { std::ofstream(path(), std::ios::trunc); }

} // namespace record
