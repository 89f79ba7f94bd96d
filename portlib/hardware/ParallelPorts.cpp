#include "ParallelPorts.h"
#include "SystemRoot.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
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

enum Register : std::uint8_t { Data = 0, Status = 1, Control = 2, EppEnd = 7, EcpEnd = 2 };
constexpr std::uint8_t driverBits = 0x0F; // strobe, autofeed, init, select
constexpr std::uint8_t interruptBit = 0x10;
constexpr std::uint8_t directionBit = 0x20;
constexpr std::uint8_t unusedBits = 0xC0; // not driven on a PC-style port: read as 1

struct Port {
    int number;
    int base;
    int ecp; // 0 when the port has no ECP block
    bool hasInterrupt;
    int fd = -1;
    bool tristate = false;
    bool reverse = false;
    Claim refused = Claim::Held; // Refused or NotOpened once a claim failed
    std::string refusal;         // and why
};

std::string procFile(int number, const char *name)
{
    return PORTPANEL_SYSTEM_ROOT "/proc/sys/dev/parport/parport" + std::to_string(number) + "/" +
           name;
}

// N follows the order in which ports registered, not their addresses. A USB
// adapter registers with base 0, where its registers are not.
std::vector<Port> discover()
{
    std::vector<Port> registered;
    for (int n = 0; n < 64; ++n) {
        int base = 0, ecp = 0, irq = -1;
        std::ifstream(procFile(n, "base-addr")) >> base >> ecp;
        std::ifstream(procFile(n, "irq")) >> irq;
        if (base > 0)
            registered.push_back({n, base, ecp, irq >= 0, -1, false, false, Claim::Held, {}});
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

Port &at(int index) { return ports()[static_cast<std::size_t>(index)]; }

std::string device(const Port &port)
{
    return PORTPANEL_SYSTEM_ROOT "/dev/parport" + std::to_string(port.number);
}

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

int portOf(std::uint16_t address)
{
    // A port at 0x3BC has four registers, with the display adapter's after them.
    const auto holds = [address](const Port &port) {
        const int last = port.base + (port.base == 0x3BC ? Control + 1 : EppEnd);
        return (address >= port.base && address <= last) ||
               (port.ecp > 0 && address >= port.ecp && address <= port.ecp + EcpEnd);
    };
    const auto found = std::ranges::find_if(ports(), holds);
    return found == ports().end() ? -1 : static_cast<int>(found - ports().begin());
}

bool driverReaches(int index, std::uint16_t address)
{
    return address >= at(index).base && address <= at(index).base + Control;
}

std::string describe(int index, std::uint16_t address)
{
    const Port &port = at(index);
    const int offset = address - port.base;
    const char *kind = offset < 0 || offset > EppEnd ? "ECP register"
                       : offset > Control            ? "EPP register"
                                                     : "register";
    char text[96];
    std::snprintf(text, sizeof text, "the %s 0x%04X of parport%d", kind, address, port.number);
    return text;
}

namespace {

// The driver's name for whoever holds the port now (ppdev0, lp0, ...), "none"
// when nobody does, empty when the file cannot be read.
std::string holder(const Port &port)
{
    std::string name;
    std::ifstream(procFile(port.number, "devices/active")) >> name;
    return name;
}

std::string inUse(const Port &port, const std::string &name, const char *how = "in use by ")
{
    return device(port) + " is " + how +
           (name.empty() || name == "none" ? "another program" : name) +
           "; close the program that holds it (another portpanel?) and try again";
}

void wake(int) {}

// A real-time signal of the library's own, for the claim's timer: the
// highest one that nobody handles, its handler installed once and never
// swapped. 0 when every one is taken.
int wakeSignal()
{
    static const int chosen = [] {
        for (int signal = SIGRTMAX; signal > SIGRTMIN; --signal) {
            struct sigaction now = {};
            if (sigaction(signal, nullptr, &now) != 0 || now.sa_handler != SIG_DFL)
                continue;
            struct sigaction ours = {};
            ours.sa_handler = wake; // no SA_RESTART: the claim ends with EINTR
            if (sigaction(signal, &ours, nullptr) == 0)
                return signal;
        }
        return 0;
    }();
    return chosen;
}

// devices/active said nobody holds the port, so only a race makes the claim
// wait, and ppdev holds its driver-wide lock while it does: every other
// program's driver calls wait with it. The wait is kept short.
constexpr long boundNs = 50'000'000;

timespec now()
{
    timespec time{};
    clock_gettime(CLOCK_MONOTONIC, &time);
    return time;
}

bool before(const timespec &a, const timespec &b)
{
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

// The claim, ended by a timer aimed at this thread (and again every 10 ms,
// should one come before the claim sleeps). Another signal's EINTR is retried
// within the bound. Returns 0 or the error; ETIMEDOUT when the bound ran out.
int claimWithinBound(int fd, std::string &setup)
{
    const int signal = wakeSignal();
    sigevent event{};
    event.sigev_notify = SIGEV_THREAD_ID;
    event.sigev_signo = signal;
    event.sigev_notify_thread_id = gettid();
    timer_t timer{};
    if (signal == 0 || timer_create(CLOCK_MONOTONIC, &event, &timer) != 0) {
        setup = signal ? std::string("timer_create: ") + std::strerror(errno)
                       : "no real-time signal is free";
        return EAGAIN;
    }
    sigset_t ours, saved;
    sigemptyset(&ours);
    sigaddset(&ours, signal);
    pthread_sigmask(SIG_UNBLOCK, &ours, &saved);
    const itimerspec bound{{0, 10'000'000}, {0, boundNs}};
    const timespec start = now();
    const timespec deadline{start.tv_sec + (start.tv_nsec + boundNs) / 1'000'000'000,
                            (start.tv_nsec + boundNs) % 1'000'000'000};
    timer_settime(timer, 0, &bound, nullptr);
    int result = 0;
    while ((result = ioctl(fd, PPCLAIM)) != 0 && errno == EINTR && before(now(), deadline)) {
    }
    const int error = result == 0 ? 0 : errno == EINTR ? ETIMEDOUT : errno;
    pthread_sigmask(SIG_BLOCK, &ours, nullptr);
    timer_delete(timer);
    const timespec poll{};
    while (sigtimedwait(&ours, nullptr, &poll) > 0) { // none left pending for the thread
    }
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    return error;
}

Claim refuse(Port &port, Claim how, const std::string &words, std::string &why)
{
    port.refused = how;
    why = port.refusal = words;
    return how;
}

std::string openFailed(const Port &port, int error)
{
    const std::string words = device(port) + ": " + std::strerror(error);
    return error == ENOENT ? words + " (the ppdev module is not loaded: 'sudo modprobe ppdev')"
                           : words;
}

std::string claimFailed(const Port &port, int error, const std::string &setup)
{
    if (error == ETIMEDOUT)
        return inUse(port, holder(port));
    if (error == ENXIO)
        return inUse(port, holder(port), "held exclusively by ");
    if (!setup.empty())
        return device(port) + " was not claimed: its wait cannot be bounded (" + setup + ")";
    return device(port) + ": claim: " + std::strerror(error);
}

} // namespace

Claim claim(int index, std::string &why)
{
    Port &port = at(index);
    if (port.fd >= 0)
        return Claim::Held;
    if (port.refused != Claim::Held)
        return why = port.refusal, port.refused;
    if (!free(index, why))
        return refuse(port, Claim::Refused, why, why);
    const int fd = open(device(port).c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return refuse(port, Claim::NotOpened, openFailed(port, errno), why);
    std::string setup;
    if (const int error = claimWithinBound(fd, setup); error != 0) {
        close(fd);
        return refuse(port, Claim::Refused, claimFailed(port, error, setup), why);
    }
    unsigned modes = 0;
    port.tristate = ioctl(fd, PPGETMODES, &modes) == 0 && (modes & PARPORT_MODE_TRISTATE) != 0;
    port.fd = fd;
    return Claim::Held;
}

bool free(int index, std::string &why)
{
    const Port &port = at(index);
    const std::string name = port.fd >= 0 ? "" : holder(port);
    if (name == "none")
        return true;
    why = port.fd >= 0 ? "portpanel holds " + device(port) +
                             " through the parallel-port driver, which does not reach this register"
          : name.empty() ? "cannot tell who holds " + device(port) + " (" +
                               procFile(port.number, "devices/active") + " cannot be read)"
                         : inUse(port, name);
    return false;
}

namespace {

std::string failed(const Port &port, const char *call)
{
    return device(port) + ": " + call + ": " + std::strerror(errno);
}

// The words for a write the port cannot do, or empty.
std::string writeControl(Port &port, std::uint8_t value)
{
    // Bits 0-3 go to the driver; the direction bit has its own call; the
    // interrupt bit stays the driver's.
    const bool reverse = (value & directionBit) != 0;
    if (reverse && !port.tristate)
        return device(port) + " has no tri-state data lines, so it cannot take input on them "
                              "(bit 5 of the control register); choose PS/2, bidirectional or "
                              "ECP mode for the port in the firmware set-up";
    unsigned char byte = value & driverBits;
    if (ioctl(port.fd, PPWCONTROL, &byte) != 0)
        return failed(port, "write control");
    int mode = reverse ? 1 : 0;
    if (reverse != port.reverse && ioctl(port.fd, PPDATADIR, &mode) != 0)
        return failed(port, "set data direction");
    port.reverse = reverse;
    return {};
}

// Returns the driver call that failed, or null.
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
        // The driver reports only its own bits 0-3; bit 4 is estimated from
        // the port's interrupt setting, the rest as the hardware has them.
        value =
            static_cast<std::uint8_t>((byte & driverBits) | (port.hasInterrupt ? interruptBit : 0) |
                                      (port.reverse ? directionBit : 0) | unusedBits);
        return nullptr;
    }
}

} // namespace

bool write(int index, std::uint16_t address, std::uint8_t value, std::string &why)
{
    Port &port = at(index);
    unsigned char byte = value;
    switch (address - port.base) {
    case Data:
        if (ioctl(port.fd, PPWDATA, &byte) == 0)
            return true;
        why = failed(port, "write data");
        return false;
    case Control:
        why = writeControl(port, value);
        return why.empty();
    default: // the status register is read-only on a PC-style port
        return true;
    }
}

bool read(int index, std::uint16_t address, std::uint8_t &value, std::string &why)
{
    const Port &port = at(index);
    const char *failedCall = readRegister(port, address, value);
    if (failedCall)
        why = failed(port, failedCall);
    return failedCall == nullptr;
}

std::string managed()
{
    std::string list;
    for (const Port &port : ports()) {
        char text[32];
        std::snprintf(text, sizeof text, "%sparport%d at 0x%04X", list.empty() ? "" : ", ",
                      port.number, port.base);
        list += text;
    }
    return list.empty() ? "none" : list;
}

bool anyOpenable()
{
    return std::ranges::any_of(
        ports(), [](const Port &port) { return access(device(port).c_str(), R_OK | W_OK) == 0; });
}

bool driverNotLoaded()
{
    return std::ranges::any_of(ports(), [](const Port &port) {
        return access(device(port).c_str(), F_OK) != 0 && errno == ENOENT;
    });
}

} // namespace parallel
