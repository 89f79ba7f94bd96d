// A PC with one parallel port at 0x378 and nothing else on the bus. Every
// write is traced on stderr, so that ./run shows what the window wrote; reads
// too when PORTPANEL_SIMULATED_TRACE is "all" (a capture reads thousands a second).
#include "inpout32.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr unsigned short dataPort = 0x378;
constexpr unsigned short statusPort = 0x379;
constexpr unsigned short controlPort = 0x37A;

// A port with nothing attached: status lines pulled up, not busy; control
// as after reset.
unsigned char data = 0x00;
unsigned char control = 0x0C;
constexpr unsigned char status = 0x78;
constexpr unsigned char emptyBus = 0xFF;

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
    if (address(port) == dataPort)
        data = byte;
    else if (address(port) == controlPort)
        control = byte;
    std::fprintf(stderr, "simulated port: out 0x%04X <- 0x%02X\n", address(port), byte);
}

short INPOUT_CALL Inp32(short port)
{
    unsigned char byte = emptyBus;
    if (address(port) == dataPort)
        byte = data;
    else if (address(port) == statusPort)
        byte = status;
    else if (address(port) == controlPort)
        byte = control;
    if (tracingReads())
        std::fprintf(stderr, "simulated port: in  0x%04X -> 0x%02X\n", address(port), byte);
    return byte;
}

const char *ReadinessProblem(void) { return nullptr; }

const char *PortRoute(short) { return "simulated (no hardware)"; }
