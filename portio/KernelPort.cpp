// What the kernel says of a parallel port (Linux: /proc/sys/dev/parport and
// /proc/interrupts) and what its ECP register says of its mode.
#include "SelfTest.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace selftest {
#ifndef _WIN32
namespace {

std::string firstLine(const std::filesystem::path &path)
{
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

} // namespace
#endif

KernelPort kernelPort(const std::string &systemRoot, std::uint16_t base)
{
    KernelPort found;
#ifndef _WIN32
    std::error_code error;
    const std::filesystem::path folder = std::filesystem::path(systemRoot) / "proc/sys/dev/parport";
    for (const auto &entry : std::filesystem::directory_iterator(folder, error)) {
        unsigned at = 0, ecp = 0;
        std::istringstream(firstLine(entry.path() / "base-addr")) >> at >> ecp;
        if (at != base)
            continue;
        found.known = true;
        found.name = entry.path().filename().string();
        found.modes = firstLine(entry.path() / "modes");
        found.irq = firstLine(entry.path() / "irq");
        found.ecpListed = ecp == base + 0x400u;
        if (found.irq == "-1")
            found.irq = "none";
        break;
    }
#else
    (void)systemRoot;
    (void)base;
#endif
    return found;
}

std::optional<long long> interruptCount(const std::string &systemRoot, const std::string &name)
{
    std::ifstream file(std::filesystem::path(systemRoot) / "proc/interrupts");
    // " 7:  12  0  IO-APIC  7-edge  parport0": the counts follow the number, one per processor.
    for (std::string line; !name.empty() && std::getline(file, line);) {
        std::istringstream words(line);
        std::string word;
        words >> word;
        if (word.empty() || word.back() != ':' || line.find(name) == std::string::npos)
            continue;
        long long total = 0;
        for (long long count = 0; words >> count;)
            total += count;
        return total;
    }
    return std::nullopt;
}

std::string ecpModeText(std::uint8_t ecr)
{
    char text[96];
    // Bits 0 and 1 say the FIFO is empty and full: both at once is no ECP register.
    if ((ecr & 0x03) == 0x03)
        std::snprintf(text, sizeof text, "base + 0x402 reads 0x%02X: no ECP register",
                      static_cast<unsigned>(ecr));
    else {
        constexpr const char *modes[] = {
            "SPP (standard)", "PS/2 (bidirectional)", "fast Centronics", "ECP", "EPP", "reserved",
            "FIFO test",      "configuration"};
        std::snprintf(text, sizeof text, "ECP register 0x%02X: %s mode", static_cast<unsigned>(ecr),
                      modes[ecr >> 5]);
    }
    return text;
}

} // namespace selftest
