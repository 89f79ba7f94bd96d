#include "ParallelPorts.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

namespace parallel {
namespace {

enum Register { Data = 0, Status = 1, Control = 2 };
constexpr std::uint8_t driverBits = 0x0F; // strobe, autofeed, init, select
constexpr std::uint8_t interruptBit = 0x10;
constexpr std::uint8_t directionBit = 0x20;
constexpr std::uint8_t unusedBits = 0xC0; // not driven on a PC-style port: read as 1

struct Port {
    int number;
    int base;
    bool hasInterrupt;
    int fd = -1;
    bool reverse = false;
    std::string refusal; // why it could not be claimed, once tried
};

std::string procFile(int number, const char *name)
{
    return "/proc/sys/dev/parport/parport" + std::to_string(number) + "/" + name;
}

// N follows the order in which ports registered, not their addresses.
std::vector<Port> discover()
{
    std::vector<Port> registered;
    for (int n = 0; n < 64; ++n) {
        int base = -1;
        int irq = -1;
        if (!(std::ifstream(procFile(n, "base-addr")) >> base))
            continue;
        std::ifstream(procFile(n, "irq")) >> irq;
        registered.push_back({n, base, irq >= 0, -1, false, {}});
    }
    return registered;
}

// At namespace scope, before releaseAtExit, so that it outlives it.
std::vector<Port> found;
bool discovered = false;

std::vector<Port> &ports()
{
    if (!discovered) {
        found = discover();
        discovered = true;
    }
    return found;
}

std::string device(const Port &port) { return "/dev/parport" + std::to_string(port.number); }

// Claimed ports go back to the driver when the program ends.
struct Release {
    ~Release()
    {
        for (Port &port : found)
            if (port.fd >= 0) {
                ioctl(port.fd, PPRELEASE);
                close(port.fd);
            }
    }
} releaseAtExit;

} // namespace

int portHolding(std::uint16_t address)
{
    for (std::size_t i = 0; i < ports().size(); ++i) {
        const int offset = address - ports()[i].base;
        if (offset >= Data && offset <= Control)
            return static_cast<int>(i);
    }
    return -1;
}

bool claim(int index, std::string &why)
{
    Port &port = ports()[static_cast<std::size_t>(index)];
    if (port.fd >= 0)
        return true;
    if (!port.refusal.empty()) {
        why = port.refusal;
        return false;
    }
    const int fd = open(device(port).c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0 || ioctl(fd, PPCLAIM) != 0) {
        why = port.refusal = device(port) + ": " + std::strerror(errno);
        if (fd >= 0)
            close(fd);
        return false;
    }
    port.fd = fd;
    return true;
}

void write(int index, std::uint16_t address, std::uint8_t value)
{
    Port &port = ports()[static_cast<std::size_t>(index)];
    unsigned char byte = value;
    switch (address - port.base) {
    case Data:
        ioctl(port.fd, PPWDATA, &byte);
        break;
    case Control: {
        // Bits 0-3 go to the driver; the direction bit has its own call; the
        // interrupt bit stays the driver's.
        byte &= driverBits;
        ioctl(port.fd, PPWCONTROL, &byte);
        const bool reverse = (value & directionBit) != 0;
        int mode = reverse ? 1 : 0;
        if (reverse != port.reverse && ioctl(port.fd, PPDATADIR, &mode) == 0)
            port.reverse = reverse;
        break;
    }
    default: // the status register is read-only on a PC-style port
        break;
    }
}

std::uint8_t read(int index, std::uint16_t address)
{
    Port &port = ports()[static_cast<std::size_t>(index)];
    unsigned char byte = 0xFF;
    switch (address - port.base) {
    case Data:
        ioctl(port.fd, PPRDATA, &byte);
        return byte;
    case Status:
        ioctl(port.fd, PPRSTATUS, &byte);
        return byte;
    default:
        // The driver reports only its own bits 0-3; the rest as the hardware has them.
        ioctl(port.fd, PPRCONTROL, &byte);
        return static_cast<std::uint8_t>((byte & driverBits) |
                                         (port.hasInterrupt ? interruptBit : 0) |
                                         (port.reverse ? directionBit : 0) | unusedBits);
    }
}

bool anyOpenable()
{
    for (const Port &port : ports())
        if (access(device(port).c_str(), R_OK | W_OK) == 0)
            return true;
    return false;
}

} // namespace parallel
