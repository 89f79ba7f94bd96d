// A PC with one parallel port at 0x378 and nothing else on the bus.
#include "Plug.h"
#include "inpout32.h"

#include <cstdio>

namespace {

unsigned short address(short port) { return static_cast<unsigned short>(port); }

} // namespace

void INPOUT_CALL Out32(short port, short value)
{
    const auto byte = static_cast<unsigned char>(value);
    simulated::write(address(port), byte);
    std::fprintf(stderr, "simulated port: out 0x%04X <- 0x%02X\n", address(port), byte);
}

short INPOUT_CALL Inp32(short port)
{
    const unsigned char byte = simulated::read(address(port));
    std::fprintf(stderr, "simulated port: in  0x%04X -> 0x%02X\n", address(port), byte);
    return byte;
}

const char *ReadinessProblem(void) { return nullptr; }

const char *PortRoute(short) { return "simulated (no hardware)"; }
