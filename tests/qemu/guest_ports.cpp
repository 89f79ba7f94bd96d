// Runs inside the emulated PC: real port access through the program's own
// binding and conversions, with the hardware library, as root (no argument)
// and as a user in lp, in portpanel, or in neither.
#include "Conversions.h"
#include "PortIO.h"
#include "RuntimeError.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <grp.h>
#include <string>
#include <sys/io.h>
#include <thread>
#include <unistd.h>

namespace {

int failures = 0;

void check(const char *what, int expected, int got)
{
    failures += expected != got;
    std::printf("PORTTEST %s %s: expected 0x%02X, read 0x%02X\n", expected == got ? "ok" : "FAIL",
                what, expected, got);
}

// Writes a byte to the port typed as text, reads it back through the same text.
int roundTrip(const std::string &typed, int value)
{
    portio::Out32(runtime::textToInteger(typed), static_cast<std::int16_t>(value));
    return portio::Inp32(runtime::textToInteger(typed));
}

// The I/O base of QEMU's PCI 16550 (vendor 1b36, device 0002), from sysfs.
unsigned pciSerialBase()
{
    for (const auto &device : std::filesystem::directory_iterator("/sys/bus/pci/devices")) {
        std::string vendor, id;
        std::ifstream(device.path() / "vendor") >> vendor;
        std::ifstream(device.path() / "device") >> id;
        if (vendor == "0x1b36" && id == "0x0002") {
            std::string start;
            std::ifstream(device.path() / "resource") >> start;
            return static_cast<unsigned>(std::stoul(start, nullptr, 16));
        }
    }
    return 0;
}

constexpr gid_t lp = 7;
constexpr gid_t portpanelGroup = 990;
constexpr uid_t user = 1000;

// Becomes an ordinary user in the given groups (none for gid 0).
bool becomeUser(gid_t group)
{
    const gid_t groups[] = {group};
    return setgroups(group ? 1 : 0, groups) == 0 && setresgid(user, user, user) == 0 &&
           setresuid(user, user, user) == 0;
}

// What root's own inb reads at this moment, from a root child kept for it.
struct RootEyes {
    int ask[2], answer[2];
    RootEyes()
    {
        if (pipe(ask) != 0 || pipe(answer) != 0)
            std::abort();
        if (fork() == 0) {
            char port[2];
            while (::read(ask[0], port, 2) == 2) {
                const unsigned short p =
                    static_cast<unsigned char>(port[0]) | static_cast<unsigned char>(port[1]) << 8;
                ioperm(p, 1, 1);
                const unsigned char value = ::inb(p);
                (void)!write(answer[1], &value, 1);
            }
            _exit(0);
        }
    }
    int inb(unsigned short port)
    {
        const char request[2] = {static_cast<char>(port), static_cast<char>(port >> 8)};
        unsigned char value = 0;
        (void)!::write(ask[1], request, 2);
        return ::read(answer[0], &value, 1) == 1 ? value : -1;
    }
};

// A call that must end in error 5 whose words hold every one of needles.
void refused(const char *what, const std::function<void()> &call,
             std::initializer_list<const char *> needles)
{
    try {
        call();
        std::printf("PORTTEST FAIL %s: not refused\n", what);
        ++failures;
    } catch (const runtime::RuntimeError &error) {
        bool named = error.number() == 5;
        for (const char *needle : needles)
            named = named && error.report().find(needle) != std::string::npos;
        failures += !named;
        std::printf("PORTTEST %s %s: %s\n", named ? "ok" : "FAIL", what, error.report().c_str());
    }
}

// In lp only: the parallel port through the kernel's driver, nothing else.
void asLpMember()
{
    RootEyes root;
    if (!becomeUser(lp))
        return std::printf("PORTTEST FAIL cannot become a user in lp\n"), void(++failures);
    for (const int value : {0xA5, 0x00, 0xFF})
        check("lp: 0x378 data register round-trips", value, roundTrip("0x378", value));
    check("lp: status reads as root's inb", root.inb(0x379), portio::Inp32(0x379));
    check("lp: control reads as root's inb", root.inb(0x37A), portio::Inp32(0x37A));
    portio::Out32(0x37A, 0x06);
    check("lp: control after writing 0x06 reads as root's inb", root.inb(0x37A),
          portio::Inp32(0x37A));
    refused("lp: 0x2F8 refused", [] { roundTrip("0x2F8", 1); },
            {"port 0x02F8 was not reached", "portpanel group"});
}

// In portpanel only: every port through the helper.
void asPortpanelMember()
{
    if (!becomeUser(portpanelGroup))
        return std::printf("PORTTEST FAIL cannot become a user in portpanel\n"), void(++failures);
    check("portpanel: 0x378 round-trips", 0xA5, roundTrip("0x378", 0xA5));
    check("portpanel: unfitted 0x2F8 reads the empty bus", 0xFF, roundTrip("0x2F8", 0x12));
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%X", pciSerialBase() + 7);
    check((std::string("portpanel: PCI scratch ") + hex + " round-trips").c_str(), 0x5A,
          roundTrip(hex, 0x5A));
}

// In neither group: refused before any port is touched, naming both groups.
void asNeither()
{
    if (!becomeUser(0))
        return std::printf("PORTTEST FAIL cannot become a user\n"), void(++failures);
    refused("neither: refused naming both groups", [] { portio::Out32(0x378, 0x11); },
            {"no permission to use the I/O ports", "adduser $USER lp", "adduser $USER portpanel"});
}

} // namespace

int main(int argc, char **argv)
{
    const std::string mode = argc > 1 ? argv[1] : "";
    if (mode == "--lp" || mode == "--portpanel" || mode == "--neither") {
        mode == "--lp" ? asLpMember() : mode == "--portpanel" ? asPortpanelMember() : asNeither();
        std::printf("PORTTEST DONE %s failures=%d\n", mode.c_str(), failures);
        return failures == 0 ? 0 : 1;
    }

    // A thread that exists before the library is bound: port permission on
    // Linux is per thread, so it must still be able to reach the ports.
    std::atomic<bool> bound{false};
    int threadRead = -1;
    std::thread early([&] {
        while (!bound)
            std::this_thread::yield();
        threadRead = roundTrip("888", 0x3C);
    });

    try {
        check("0x378 data register keeps 0xA5", 0xA5, roundTrip("888", 0xA5));
        bound = true;
        early.join();
        check("0x378 written from a thread started before binding", 0x3C, threadRead);
        check("0x378 round-trips 0", 0x00, roundTrip("0x378", 0));
        check("0x378 round-trips 255", 0xFF, roundTrip("&H378", 255));
        check("0x378 keeps the low byte of 0x1C3", 0xC3, roundTrip("888", 0x1C3));
        check("unused port 0x2F8 reads 255", 0xFF, portio::Inp32(runtime::textToInteger("0x2F8")));
        const unsigned scratch = pciSerialBase() + 7;
        std::printf("PORTTEST PCI serial scratch register at 0x%04X\n", scratch);
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%X", scratch);
        const std::string negative = std::to_string(static_cast<int>(scratch) - 0x10000);
        check((std::string("scratch typed as ") + hex).c_str(), 0x5A, roundTrip(hex, 0x5A));
        check(("scratch typed as " + negative).c_str(), 0xA7, roundTrip(negative, 0xA7));
        check("scratch read back as hex after negative write", 0xA7,
              portio::Inp32(runtime::textToInteger(hex)));
    } catch (const runtime::RuntimeError &error) {
        if (early.joinable()) {
            bound = true;
            early.join();
        }
        std::printf("PORTTEST FAIL %s\n", error.report().c_str());
        ++failures;
    }
    std::printf("PORTTEST DONE failures=%d\n", failures);
    return failures == 0 ? 0 : 1;
}
