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
    const char *file = std::getenv("PORTPANEL_RECORD");
    return file ? file : "";
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
