#pragma once

#include "Library.h"

#include <cstdint>

#if defined(_WIN32) && (defined(__i386__) || defined(_M_IX86))
#define PORTIO_CALL __stdcall
#else
#define PORTIO_CALL
#endif

// The two entry points of the port library, each bound at its first call.
// Inline, so that once bound a call costs what a call into a linked library does.
namespace portio {

namespace declared {
using Out32Function = void(PORTIO_CALL *)(short, short);
using Inp32Function = short(PORTIO_CALL *)(short);
extern runtime::EntryPoint out32;
extern runtime::EntryPoint inp32;
} // namespace declared

inline void Out32(std::int16_t port, std::int16_t value)
{
    reinterpret_cast<declared::Out32Function>(runtime::bound(declared::out32))(port, value);
}

inline std::int16_t Inp32(std::int16_t port)
{
    return reinterpret_cast<declared::Inp32Function>(runtime::bound(declared::inp32))(port);
}

} // namespace portio
