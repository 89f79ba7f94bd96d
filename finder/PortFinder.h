#pragma once
#include <cstdint>
#include <string>
#include <vector>
namespace finder {
struct IoRange {
    std::uint16_t first;
    std::uint16_t last;
};
struct FoundPort {
    std::string kind;        // "parport", "pci", "usb-printer", "ports-class" (Windows), "library"
                             // (Windows: which inpout32.dll)
    std::string name;        // parport0, 0000:00:05.0, /dev/usb/lp0, LPT1, ...
    std::string description; // modes, vendor:device and driver, "printer device: no registers", ...
    std::vector<IoRange> ranges;
    std::string holder; // who holds a kernel parallel port now; empty when free or unknown
    std::string access; // the route this user gets, or why refused and what grants it
};
// What the system does to every port route, for a line above the ports.
// Each field is empty where not known.
struct Restrictions {
    std::string lockdown;        // Linux: "none", "integrity", "confidentiality"
    std::string memoryIntegrity; // Windows: "on", "off"
    std::string driverBlocklist; // Windows: "on", "off"
    std::string line;            // what those in force mean for ports; empty where none is
};
Restrictions findRestrictions(const std::string &root = "/");
// Linux: reads /proc and /sys under root ("/" normally; tests pass a fake tree). Windows: root
// ignored.
std::vector<FoundPort> findPorts(const std::string &root = "/");
} // namespace finder
