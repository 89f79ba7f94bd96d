#include "ParallelPorts.h"
#include "Advice.h"
#include "SystemRoot.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <memory>
#include <mutex>
#include <sys/ioctl.h>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <vector>

namespace parallel {
namespace {

enum Register : std::uint8_t { Data = 0, Status = 1, Control = 2, EppEnd = 7, EcpEnd = 2 };
constexpr std::uint8_t driverBits = 0x0F; // strobe, autofeed, init, select
constexpr std::uint8_t interruptBit = 0x10;
constexpr std::uint8_t directionBit = 0x20;
constexpr std::uint8_t unusedBits = 0xC0; // not driven on a PC-style port: read as 1

// A claim that a thread of the library's own makes, so that the caller's
// wait is bounded without any signal. Once the caller gives up, the thread
// owns the descriptor: it releases a claim that ends late, and closes it.
struct Pending {
    explicit Pending(int device) : fd(device) {}
    std::mutex lock;
    std::condition_variable ended;
    int result = -1;      // 0 or the claim's errno once it ended
    bool entered = false; // the claim's thread is about to ask the driver
    bool abandoned = false;
    std::atomic<int> fd;
};

struct Port {
    Port(int n, int at, int ecpAt, bool interrupt)
        : number(n), base(at), ecp(ecpAt), hasInterrupt(interrupt)
    {
    }
    int number;
    int base;
    int ecp; // the ECP block: as the kernel lists it, else base + 0x400
    bool hasInterrupt;
    int fd = -1;
    bool tristate = false;
    bool reverse = false;
    Claim refused = Claim::Held; // Refused or NotOpened once a claim failed
    std::string refusal;         // and why
    std::shared_ptr<Pending> abandoned = {};
};

std::string procFile(int number, const char *name)
{
    return PORTPANEL_SYSTEM_ROOT "/proc/sys/dev/parport/parport" + std::to_string(number) + "/" +
           name;
}

// The first words of a small file of the kernel's, opened close-on-exec: a
// thread of the host may start a program at any moment.
std::string firstLine(const std::string &path)
{
    char text[128] = {};
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return {};
    const ssize_t size = ::read(fd, text, sizeof text - 1);
    close(fd);
    return size > 0 ? std::string(text, static_cast<std::size_t>(size)) : std::string();
}

// N follows the order in which ports registered, not their addresses. A USB
// adapter registers with base 0, where its registers are not. Where the
// kernel lists no ECP block, the helper still opens base + 0x400, so the
// library counts it as the port's too.
std::vector<Port> discover()
{
    std::vector<Port> registered;
    for (int n = 0; n < 64; ++n) {
        int base = 0, ecp = 0, irq = -1;
        std::sscanf(firstLine(procFile(n, "base-addr")).c_str(), "%d %d", &base, &ecp);
        std::sscanf(firstLine(procFile(n, "irq")).c_str(), "%d", &irq);
        if (base > 0)
            registered.emplace_back(n, base, ecp > 0 ? ecp : base + 0x400, irq >= 0);
    }
    return registered;
}

// Never destroyed: a host's global destructor may still call the library.
// The kernel releases a claim when the claiming process closes its device,
// at exit at the latest.
std::vector<Port> *found = nullptr;

std::vector<Port> &ports()
{
    if (!found)
        found = new std::vector<Port>(discover());
    return *found;
}

Port &at(int index) { return ports()[static_cast<std::size_t>(index)]; }

std::string device(const Port &port)
{
    return PORTPANEL_SYSTEM_ROOT "/dev/parport" + std::to_string(port.number);
}

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

std::string deviceName(int index) { return "/dev/parport" + std::to_string(at(index).number); }

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
    const std::string text = firstLine(procFile(port.number, "devices/active"));
    return text.substr(0, text.find_first_of(" \t\n"));
}

// A program that opened the device through ppdev and claimed it once stays
// registered until it closes it, listed in devices/ as ppdevN; it may have
// asked for the port exclusively, which devices/active does not show once
// its claim is released. Empty when no such program is listed.
std::string registeredThroughPpdev(const Port &port)
{
    std::string name;
    if (DIR *dir = opendir(procFile(port.number, "devices").c_str())) {
        while (const dirent *entry = readdir(dir))
            if (std::strncmp(entry->d_name, "ppdev", 5) == 0)
                name = entry->d_name;
        closedir(dir);
    }
    return name;
}

std::string inUse(const Port &port, const std::string &name, const char *how = "in use by ")
{
    return advice::inUse(device(port), name, how);
}

// devices/active said nobody holds the port, so only a race makes the claim
// wait, and ppdev holds its driver-wide lock while it does: every other
// program's driver calls wait with it. The wait is kept short. It starts when
// the claim's thread asks the driver: on a busy machine the thread may take
// far longer than that to be scheduled, and nobody waits on us meanwhile.
constexpr std::chrono::milliseconds bound{50};
constexpr std::chrono::seconds threadStartBound{5};

void claimInBackground(const std::shared_ptr<Pending> &pending)
{
    const int fd = pending->fd;
    {
        const std::lock_guard lock(pending->lock);
        pending->entered = true;
        pending->ended.notify_one();
    }
    const int result = ioctl(fd, PPCLAIM) == 0 ? 0 : errno;
    const std::lock_guard lock(pending->lock);
    if (!pending->abandoned) {
        pending->result = result;
        pending->ended.notify_one();
        return;
    }
    if (result == 0)
        ioctl(fd, PPRELEASE);
    if (pending->fd.exchange(-1) >= 0)
        close(fd);
}

// The claim's thread takes none of the host's signals.
bool startClaim(const std::shared_ptr<Pending> &pending, std::string &setup)
{
    sigset_t all, saved;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &saved);
    try {
        std::thread(claimInBackground, pending).detach();
    } catch (const std::system_error &error) {
        setup = std::string("a thread to wait in: ") + error.what();
    }
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    return setup.empty();
}

// Returns 0 or the claim's error; ETIMEDOUT when the bound ran out, and the
// descriptor is then the claim's thread's to close.
int claimWithinBound(Port &port, int fd, std::string &setup)
{
    const auto pending = std::make_shared<Pending>(fd);
    if (!startClaim(pending, setup))
        return EAGAIN;
    std::unique_lock lock(pending->lock);
    pending->ended.wait_for(lock, threadStartBound, [&] { return pending->entered; });
    if (pending->ended.wait_for(lock, bound, [&] { return pending->result >= 0; }))
        return pending->result;
    pending->abandoned = true;
    port.abandoned = pending;
    return ETIMEDOUT;
}

Claim refuse(Port &port, Claim how, const std::string &words, std::string &why)
{
    port.refused = how;
    why = port.refusal = words;
    return how;
}

std::string openFailed(const Port &port, int error)
{
    return advice::openFailed(device(port), error);
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
    if (const int error = claimWithinBound(port, fd, setup); error != 0) {
        if (error != ETIMEDOUT)
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
    if (port.fd >= 0)
        why = "portpanel holds " + device(port) +
              " through the parallel-port driver, which does not reach this register";
    else if (port.refused == Claim::Refused)
        why = port.refusal;
    else if (const std::string name = holder(port); name != "none")
        why = name.empty() ? "cannot tell who holds " + device(port) + " (" +
                                 procFile(port.number, "devices/active") + " cannot be read)"
                           : inUse(port, name);
    else if (const std::string opened = registeredThroughPpdev(port); !opened.empty())
        why = inUse(port, opened, "open in another program, which may hold it exclusively: ");
    else
        return true;
    return false;
}

void forgetAfterFork()
{
    if (!found)
        return;
    for (Port &port : *found) {
        if (port.fd >= 0) // the parent's claim stays the parent's
            close(port.fd);
        if (const int fd = port.abandoned ? port.abandoned->fd.exchange(-1) : -1; fd >= 0)
            close(fd);
        port = Port(port.number, port.base, port.ecp, port.hasInterrupt);
    }
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
