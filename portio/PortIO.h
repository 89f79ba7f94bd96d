#pragma once

#include "Library.h"

#include <cstdint>

#if defined(_WIN32) && (defined(__i386__) || defined(_M_IX86))
#define PORTIO_CALL __stdcall
#else
#define PORTIO_CALL
#endif

// The two entry points of the port library, each bound at its first call.
// Each call goes through a pointer that starts at a binding stub and then
// holds the bound address, as the PLT works: once bound, a call costs what a
// call into a linked library does.
namespace portio {

namespace declared {
using Out32Function = void(PORTIO_CALL *)(short, short);
using Inp32Function = short(PORTIO_CALL *)(short);
extern runtime::EntryPoint out32Record;
extern runtime::EntryPoint inp32Record;
extern Out32Function out32;
extern Inp32Function inp32;
} // namespace declared

// No port reads below 0: a negative value is how our libraries say that this
// port was not reached. Raises error 5 naming the port when the library
// confirms it through its optional PortProblem entry point; a foreign
// library's value is returned as it came.
std::int16_t checkRefusal(std::int16_t port, std::int16_t value);

inline void Out32(std::int16_t port, std::int16_t value) { declared::out32(port, value); }

inline std::int16_t Inp32(std::int16_t port)
{
    const std::int16_t value = declared::inp32(port);
    return value >= 0 ? value : checkRefusal(port, value);
}

} // namespace portio
