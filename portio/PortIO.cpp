#include "PortIO.h"

#include "Library.h"

#if defined(_WIN32) && (defined(__i386__) || defined(_M_IX86))
#define PORTIO_CALL __stdcall
#else
#define PORTIO_CALL
#endif

namespace portio
{
namespace
{

using Out32Function = void(PORTIO_CALL *)(short, short);
using Inp32Function = short(PORTIO_CALL *)(short);

constexpr const char *portLibrary = "inpout32.dll";

runtime::EntryPoint out32Entry{portLibrary, "Out32"};
runtime::EntryPoint inp32Entry{portLibrary, "Inp32"};

} // namespace

void Out32(std::int16_t port, std::int16_t value)
{
    reinterpret_cast<Out32Function>(runtime::bound(out32Entry))(port, value);
}

std::int16_t Inp32(std::int16_t port)
{
    return reinterpret_cast<Inp32Function>(runtime::bound(inp32Entry))(port);
}

} // namespace portio
