// A PC with one parallel port at 0x378 and nothing else on the bus. Every
// write is traced on stderr, so that ./run shows what the window wrote; reads
// too when PORTPANEL_SIMULATED_TRACE is "all" (a capture reads thousands a second).
#include "Plug.h"
#include "inpout32.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

unsigned short address(short port) { return static_cast<unsigned short>(port); }

bool tracingReads()
{
    static const bool all = [] {
        const char *asked = std::getenv("PORTPANEL_SIMULATED_TRACE");
        return asked && std::strcmp(asked, "all") == 0;
    }();
    return all;
}

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
    if (tracingReads())
        std::fprintf(stderr, "simulated port: in  0x%04X -> 0x%02X\n", address(port), byte);
    return byte;
}

const char *ReadinessProblem(void) { return nullptr; }

const char *PortRoute(short) { return "simulated (no hardware)"; }
