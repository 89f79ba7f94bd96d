// A stand-in port library that writes every call to the file named by
// PORTPANEL_RECORD, so tests can see exactly what reached the library.
#include "inpout32.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void record(const char *format, int port, int value = 0)
{
    const char *path = std::getenv("PORTPANEL_RECORD");
    if (!path)
        return;
    if (FILE *file = std::fopen(path, "a")) {
        std::fprintf(file, format, port, value);
        std::fputc('\n', file);
        std::fclose(file);
    }
}

} // namespace

#ifdef RECORDING_NEEDS_DEPENDENCY
// Imported from dep.dll (tests/windows/dependency.cpp), which the loader must find.
extern "C" __declspec(dllimport) int portpanelDependency();
#else
namespace {
int portpanelDependency() { return 0; }
} // namespace
#endif

namespace {

// The file of a port's number in the folder PORTPANEL_PORT_FOLDER.
bool portFile(char (&path)[4096], int port)
{
    const char *folder = std::getenv("PORTPANEL_PORT_FOLDER");
    return folder && std::snprintf(path, sizeof path, "%s/%d", folder, port) < 4096;
}

} // namespace

// With PORTPANEL_LATCH set, a write to a port that has a file goes into it,
// so that the port reads back what was written, as a register does.
void INPOUT_CALL Out32(short port, short value)
{
    record("out %d %d", port, value + portpanelDependency());
    char path[4096];
    if (std::getenv("PORTPANEL_LATCH") && portFile(path, port))
        if (FILE *file = std::fopen(path, "r+")) {
            std::fprintf(file, "%d\n", value & 0xFF);
            std::fclose(file);
        }
}

#ifdef RECORDING_REFUSES
// Refuses port 0x2F8 as the hardware library refuses a port it cannot reach.
constexpr short refused = 0x2F8;
const char *PortProblem(short port) { return port == refused ? "refused by the test" : nullptr; }
#endif

#ifndef RECORDING_WITHOUT_INP32
namespace {

// A port with a file of its number (decimal) in the folder PORTPANEL_PORT_FOLDER
// reads the number in it: a port the test changes while the program watches.
// Else returns PORTPANEL_READ_VALUE (default 42) so a shown value can be traced
// here. A list "120,120,248" gives the Nth read the Nth value, then the last:
// a port that changes while it is watched.
short readValue(short port)
{
#ifdef RECORDING_REFUSES
    if (port == refused)
        return -1;
#endif
    if (char path[4096]; portFile(path, port)) {
        if (FILE *file = std::fopen(path, "r")) {
            int read = 0;
            const bool number = std::fscanf(file, "%i", &read) == 1;
            std::fclose(file);
            if (number)
                return static_cast<short>(read);
        }
    }
    static int reads = 0;
    const char *value = std::getenv("PORTPANEL_READ_VALUE");
    for (int i = 0; value && i < reads && std::strchr(value, ','); ++i)
        value = std::strchr(value, ',') + 1;
    ++reads;
    return static_cast<short>(value ? std::atoi(value) : 42);
}

} // namespace

// PORTPANEL_TOGGLE="PORT:MASK" inverts MASK's bits of that port at every other
// read of it: a line that changes at every sample.
short INPOUT_CALL Inp32(short port)
{
    record("in %d", port);
    static const char *toggle = std::getenv("PORTPANEL_TOGGLE");
    static int toggled = 0;
    int mask = 0;
    if (char *colon = nullptr; toggle && std::strtol(toggle, &colon, 0) == port && *colon == ':')
        mask = (toggled++ % 2) ? static_cast<int>(std::strtol(colon + 1, nullptr, 0)) : 0;
    return static_cast<short>(readValue(port) ^ mask);
}
#endif

#ifdef RECORDING_UNREADY
const char *ReadinessProblem(void) { return "the recording library was built unready (test)"; }
#endif
