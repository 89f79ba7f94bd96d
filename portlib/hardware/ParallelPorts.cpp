#include "ParallelPorts.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>
#include <vector>

#ifndef sigev_notify_thread_id // glibc before 2.37 names the field only in the union
#define sigev_notify_thread_id _sigev_un._tid
#endif

namespace parallel {
namespace {

enum Register : std::uint8_t { Data = 0, Status = 1, Control = 2 };
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
    Claim refused = Claim::Held; // InUse or Refused once a claim failed
    std::string refusal;         // and why
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
        registered.push_back({n, base, irq >= 0, -1, false, Claim::Held, {}});
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

namespace {

void interrupted(int) {}

// ppdev's claim waits for as long as another holder keeps the port. A timer
// aimed at this thread interrupts it after a second (and every 100 ms after,
// should the first signal come before the wait begins).
int claimWithinASecond(int fd)
{
    struct sigaction wake = {};
    struct sigaction saved = {};
    wake.sa_handler = interrupted; // no SA_RESTART: the claim ends with EINTR
    sigaction(SIGALRM, &wake, &saved);
    sigset_t alarm, mask;
    sigemptyset(&alarm);
    sigaddset(&alarm, SIGALRM);
    pthread_sigmask(SIG_UNBLOCK, &alarm, &mask);
    sigevent event{};
    event.sigev_notify = SIGEV_THREAD_ID;
    event.sigev_signo = SIGALRM;
    event.sigev_notify_thread_id = gettid();
    timer_t timer{};
    const bool timed = timer_create(CLOCK_MONOTONIC, &event, &timer) == 0;
    const itimerspec second{{0, 100'000'000}, {1, 0}};
    if (timed)
        timer_settime(timer, 0, &second, nullptr);
    const int result = ioctl(fd, PPCLAIM);
    const int error = errno;
    if (timed)
        timer_delete(timer);
    pthread_sigmask(SIG_SETMASK, &mask, nullptr);
    sigaction(SIGALRM, &saved, nullptr);
    errno = error;
    return result;
}

// The driver's name for whoever holds the port now (ppdev0, lp0, ...).
std::string holder(const Port &port)
{
    std::string name;
    std::ifstream(procFile(port.number, "devices/active")) >> name;
    return name.empty() ? "another program" : name;
}

Claim refuse(Port &port, Claim how, const std::string &words, std::string &why)
{
    port.refused = how;
    why = port.refusal = words;
    return how;
}

std::string failed(const Port &port, const char *call)
{
    return device(port) + ": " + call + ": " + std::strerror(errno);
}

} // namespace

Claim claim(int index, std::string &why)
{
    Port &port = ports()[static_cast<std::size_t>(index)];
    if (port.fd >= 0)
        return Claim::Held;
    if (port.refused != Claim::Held) {
        why = port.refusal;
        return port.refused;
    }
    const int fd = open(device(port).c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return refuse(port, Claim::Refused, device(port) + ": " + std::strerror(errno), why);
    if (claimWithinASecond(fd) != 0) {
        const bool busy = errno == EINTR;
        const std::string words =
            busy ? device(port) + " is in use by " + holder(port) +
                       "; close the program that holds it (another portpanel?) and try again"
                 : failed(port, "claim");
        close(fd);
        return refuse(port, busy ? Claim::InUse : Claim::Refused, words, why);
    }
    port.fd = fd;
    return Claim::Held;
}

namespace {

// Each returns the driver call that failed, or null.
const char *writeRegister(Port &port, std::uint16_t address, std::uint8_t value)
{
    unsigned char byte = value;
    switch (address - port.base) {
    case Data:
        return ioctl(port.fd, PPWDATA, &byte) == 0 ? nullptr : "write data";
    case Control: {
        // Bits 0-3 go to the driver; the direction bit has its own call; the
        // interrupt bit stays the driver's.
        byte &= driverBits;
        if (ioctl(port.fd, PPWCONTROL, &byte) != 0)
            return "write control";
        const bool reverse = (value & directionBit) != 0;
        int mode = reverse ? 1 : 0;
        if (reverse != port.reverse && ioctl(port.fd, PPDATADIR, &mode) != 0)
            return "set data direction";
        port.reverse = reverse;
        return nullptr;
    }
    default: // the status register is read-only on a PC-style port
        return nullptr;
    }
}

const char *readRegister(const Port &port, std::uint16_t address, std::uint8_t &value)
{
    unsigned char byte = 0;
    switch (address - port.base) {
    case Data:
        if (ioctl(port.fd, PPRDATA, &byte) != 0)
            return "read data";
        value = byte;
        return nullptr;
    case Status:
        if (ioctl(port.fd, PPRSTATUS, &byte) != 0)
            return "read status";
        value = byte;
        return nullptr;
    default:
        if (ioctl(port.fd, PPRCONTROL, &byte) != 0)
            return "read control";
        // The driver reports only its own bits 0-3; the rest as the hardware has them.
        value =
            static_cast<std::uint8_t>((byte & driverBits) | (port.hasInterrupt ? interruptBit : 0) |
                                      (port.reverse ? directionBit : 0) | unusedBits);
        return nullptr;
    }
}

bool reported(const Port &port, const char *failedCall, std::string &why)
{
    if (failedCall)
        why = failed(port, failedCall);
    return failedCall == nullptr;
}

} // namespace

bool write(int index, std::uint16_t address, std::uint8_t value, std::string &why)
{
    Port &port = ports()[static_cast<std::size_t>(index)];
    return reported(port, writeRegister(port, address, value), why);
}

bool read(int index, std::uint16_t address, std::uint8_t &value, std::string &why)
{
    const Port &port = ports()[static_cast<std::size_t>(index)];
    return reported(port, readRegister(port, address, value), why);
}

bool anyOpenable()
{
    return std::ranges::any_of(
        ports(), [](const Port &port) { return access(device(port).c_str(), R_OK | W_OK) == 0; });
}

} // namespace parallel
