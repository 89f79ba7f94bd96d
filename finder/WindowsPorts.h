#pragma once

#include "PortFinder.h"

#include <cstdint>

// The Windows side: what SetupAPI and the configuration manager answer for
// the Ports device class, and which inpout32.dll the binder finds. The
// answers are turned into ports here, on any system, so that recorded answers
// can be tested anywhere.
namespace finder::onwindows {

// One IO_DES of a device's configuration.
struct IoAnswer {
    std::uint64_t base = 0, end = 0;
    std::uint32_t flags = 0; // IOD_DesFlags: fIOD_PortType, 0 for memory-mapped
};

struct DeviceAnswer {
    std::string instanceId;    // "PCI\VEN_1C00&DEV_3050&...\4&1F7E8A3&0&00E0"
    std::string friendlyName;  // "ECP Printer Port (LPT1)"
    std::string portName;      // the device key's PortName: "LPT1"; may be empty
    std::string service;       // the driver's service: "Parport", "Serial"
    std::uint32_t problem = 0; // the configuration manager's problem number, 0 for none
    bool allocated = true;     // the ranges are the allocated ones, not the firmware's
    std::vector<IoAnswer> io;
};

// Where the binder finds inpout32.dll: its file and word size, or why none.
struct LibraryAnswer {
    std::string path;
    int bits = 0;
    std::string why;
};

std::vector<FoundPort> describe(const std::vector<DeviceAnswer> &devices,
                                const LibraryAnswer &library);

// The registry values that Microsoft documents for memory integrity
// (hypervisor-protected code integrity) and the vulnerable-driver blocklist:
// 1 on, 0 off, -1 where the value is absent (Windows 7, wine).
struct RegistryAnswer {
    int memoryIntegrity = -1;
    int driverBlocklist = -1;
};

Restrictions restrictions(const RegistryAnswer &registry);

#ifdef _WIN32
std::vector<DeviceAnswer> askWindows();
LibraryAnswer askBinder();
RegistryAnswer askRegistry();
#endif

} // namespace finder::onwindows
