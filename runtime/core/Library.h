#pragma once

#include <string>

namespace runtime {

// One entry point of an outside library, bound at its first use.
struct EntryPoint {
    const char *library; // declared file name, e.g. "inpout32.dll"
    const char *name;
    void *bound = nullptr;
};

// Name the platform's loader looks for: "inpout32.dll" on Windows,
// "libinpout32.so" on Linux. No directory, so the ordinary search decides.
std::string loaderName(const char *library);

// Optional entry point a library may export to say it cannot work here:
// const char *ReadinessProblem(void), null when ready, else cause and fix.
inline constexpr const char *readinessEntryPoint = "ReadinessProblem";

// Loads the library, asks it whether it can work, and looks the entry point
// up. Throws RuntimeError naming the library or entry point and the cause.
void *bind(EntryPoint &entry);

// An optional entry point of the library that entry was bound from; null
// when the library lacks it.
void *optionalEntryPoint(const EntryPoint &entry, const char *name);

// Where bind finds a library: its file and word size, or why none (the
// words bind would throw). The library is loaded as bind loads it, then let
// go; no entry point is looked up and none is called.
struct LibraryLocation {
    std::string path;
    int bits = 0;
    std::string why;
};
LibraryLocation locate(const char *library);

} // namespace runtime
