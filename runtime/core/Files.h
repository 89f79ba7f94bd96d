#pragma once

#include <cstdio>
#include <string>

// Files named in UTF-8, as the programs hold every text: on Windows the narrow
// C calls would read a name in the ANSI code page, which cannot hold them all.
namespace runtime {

// The file created anew (or emptied) for writing bytes; null with errno set.
std::FILE *createFile(const std::string &path);

// Moves from over to, replacing what was there; false with errno set.
bool replaceFile(const std::string &from, const std::string &to);

void removeFile(const std::string &path);

} // namespace runtime
