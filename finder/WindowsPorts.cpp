#include "WindowsPorts.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

namespace finder::onwindows {
namespace {

constexpr std::uint32_t portType = 0x1; // fIOD_PortType: I/O space, not memory

std::string hex(std::uint64_t value)
{
    char text[24];
    std::snprintf(text, sizeof text, "0x%04llX", static_cast<unsigned long long>(value));
    return text;
}

// "PCI 1C00:3050" from "PCI\VEN_1C00&DEV_3050&...", "ACPI PNP0401" from
// "ACPI\PNP0401\0", "USB 067B:2303" from "USB\VID_067B&PID_2303\...".
std::string bus(const std::string &instance)
{
    const std::string kind = instance.substr(0, instance.find('\\'));
    const std::size_t start = kind.size() + 1;
    const std::string id =
        start < instance.size() ? instance.substr(start, instance.find('\\', start) - start) : "";
    const auto field = [&id](const char *name) {
        const std::size_t at = id.find(name);
        return at == std::string::npos ? std::string() : id.substr(at + 4, 4);
    };
    const std::string vendor = field(kind == "PCI" ? "VEN_" : "VID_");
    const std::string device = field(kind == "PCI" ? "DEV_" : "PID_");
    return kind + " " + (vendor.empty() ? id : vendor + ":" + device);
}

// The configuration manager's problem numbers that a user meets here.
std::string problem(std::uint32_t number)
{
    const char *meaning = number == 22   ? "disabled in Device Manager"
                          : number == 12 ? "its resources conflict with another device's"
                          : number == 28 ? "no driver installed"
                          : number == 10 ? "it cannot start"
                                         : "see Device Manager";
    return "problem " + std::to_string(number) + ": " + meaning;
}

struct Ranges {
    std::vector<IoRange> ports;
    std::string notes;
};

Ranges ranges(const DeviceAnswer &device)
{
    Ranges found;
    for (const IoAnswer &io : device.io) {
        const std::string span = hex(io.base) + "-" + hex(io.end);
        if ((io.flags & portType) == 0)
            found.notes += "; memory-mapped registers at " + span + ", not I/O ports";
        else if (io.end < io.base || io.end > 0xFFFF)
            found.notes += "; an I/O range " + span + " beyond the 16-bit port space";
        else
            found.ports.push_back(
                {static_cast<std::uint16_t>(io.base), static_cast<std::uint16_t>(io.end)});
    }
    return found;
}

std::string libraryWords(const LibraryAnswer &library)
{
    return library.path + " (" + std::to_string(library.bits) + "-bit)";
}

FoundPort port(const DeviceAnswer &device, const LibraryAnswer &library)
{
    const Ranges found = ranges(device);
    FoundPort port{"ports-class",
                   !device.portName.empty()       ? device.portName
                   : !device.friendlyName.empty() ? device.friendlyName
                                                  : device.instanceId,
                   device.friendlyName + ", " + bus(device.instanceId) + ", driver " +
                       (device.service.empty() ? "none" : device.service),
                   found.ports,
                   "",
                   ""};
    if (device.problem != 0)
        port.description += ", " + problem(device.problem);
    if (!device.allocated && !found.ports.empty())
        port.description += ", ranges as the firmware set them (not started)";
    port.description += found.notes;
    port.access = found.ports.empty()
                      ? "none: no I/O ports" +
                            std::string(bus(device.instanceId).starts_with("USB")
                                            ? " (a USB adapter: its lines cannot be reached as "
                                              "ports)"
                                            : "")
                  : library.path.empty() ? "refused: " + library.why
                                         : "inpout32.dll: " + libraryWords(library);
    return port;
}

} // namespace

Restrictions restrictions(const RegistryAnswer &registry)
{
    const auto state = [](int value) { return value < 0 ? "" : value ? "on" : "off"; };
    Restrictions found{"", state(registry.memoryIntegrity), state(registry.driverBlocklist), ""};
    const bool integrity = registry.memoryIntegrity > 0, blocklist = registry.driverBlocklist > 0;
    if (!integrity && !blocklist)
        return found;
    found.line =
        std::string(integrity && blocklist ? "memory integrity (hypervisor-protected code "
                                             "integrity) and the vulnerable-driver "
                                             "blocklist are"
                    : integrity ? "memory integrity (hypervisor-protected code integrity) is"
                                : "the vulnerable-driver blocklist is") +
        " on: Windows may refuse the kernel driver that a port DLL depends on, and its "
        "ports then read as nothing; the DLL's own documentation says whether its driver "
        "is compatible";
    return found;
}

std::vector<FoundPort> describe(const std::vector<DeviceAnswer> &devices,
                                const LibraryAnswer &library)
{
    std::vector<FoundPort> found;
    found.reserve(devices.size() + 1);
    std::ranges::transform(
        devices, std::back_inserter(found),
        [&library](const DeviceAnswer &device) { return port(device, library); });
    const bool has = !library.path.empty();
    found.push_back(
        {"library",
         has ? library.path : "inpout32.dll",
         has ? std::to_string(library.bits) + "-bit, as the binder finds it" : "not found",
         {},
         "",
         has ? "inpout32.dll: " + libraryWords(library) : "refused: " + library.why});
    return found;
}

} // namespace finder::onwindows
