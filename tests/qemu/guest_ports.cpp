// Runs inside the emulated PC as its init's only job: real port access through
// the program's own binding and conversions, with the hardware library.
#include "Conversions.h"
#include "PortIO.h"
#include "RuntimeError.h"

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
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

// Without privilege the library must refuse at binding, naming cause and fix,
// before any port is touched.
int refuseUnprivileged()
{
    if (setgid(65534) != 0 || setuid(65534) != 0)
        return std::printf("PORTTEST FAIL cannot become nobody\n"), 1;
    try {
        portio::Out32(0x378, 0x11);
        std::printf("PORTTEST FAIL nobody wrote a port\n");
        return 1;
    } catch (const runtime::RuntimeError &error) {
        const std::string report = error.report();
        const bool named =
            error.number() == 5 && report.find("Operation not permitted") != std::string::npos &&
            report.find("setcap cap_sys_rawio+ep /bin/guest_ports") != std::string::npos;
        std::printf("PORTTEST %s refused as nobody: %s\n", named ? "ok" : "FAIL", report.c_str());
        return named ? 0 : 1;
    }
}

} // namespace

int main(int argc, char **argv)
{
    if (argc > 1 && std::string(argv[1]) == "--as-nobody")
        return refuseUnprivileged();

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
