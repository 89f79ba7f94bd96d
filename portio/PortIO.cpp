#include "PortIO.h"

#include "RuntimeError.h"

#include <cstdio>
#include <string>

namespace portio::declared {
namespace {

constexpr const char *portLibrary = "inpout32.dll";

void PORTIO_CALL bindOut32(short port, short value)
{
    out32 = reinterpret_cast<Out32Function>(runtime::bind(out32Record));
    out32(port, value);
}

short PORTIO_CALL bindInp32(short port)
{
    inp32 = reinterpret_cast<Inp32Function>(runtime::bind(inp32Record));
    return inp32(port);
}

} // namespace

runtime::EntryPoint out32Record{portLibrary, "Out32"};
runtime::EntryPoint inp32Record{portLibrary, "Inp32"};
Out32Function out32 = bindOut32;
Inp32Function inp32 = bindInp32;

} // namespace portio::declared

namespace portio {

std::int16_t checkRefusal(std::int16_t port, std::int16_t value)
{
    using PortProblem = const char *(*)(short);
    static const auto problem = reinterpret_cast<PortProblem>(
        runtime::optionalEntryPoint(declared::inp32Record, "PortProblem"));
    const char *words = problem ? problem(port) : nullptr;
    if (!words)
        return value;
    char name[32];
    std::snprintf(name, sizeof name, "port 0x%04X", static_cast<unsigned>(port & 0xFFFF));
    // Our library's first line already names the port in what it says to do.
    const std::string text = words;
    const bool named = text.substr(0, text.find('\n')).find(name) != std::string::npos;
    throw runtime::RuntimeError(runtime::ErrorNumber::LibraryNotReady,
                                named ? text : std::string(name) + " was not reached: " + text);
}

} // namespace portio
