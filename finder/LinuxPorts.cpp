#include "Granted.h"
#include "LinuxTree.h"
#include "Privilege.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <iterator>
#include <set>
#include <sstream>
#include <sys/auxv.h>
#include <sys/io.h>
#include <unistd.h>

namespace finder::onlinux {

std::string readText(const std::string &path)
{
    std::string text;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return text;
    char chunk[4096];
    for (ssize_t n = 0; text.size() < 65536 && (n = read(fd, chunk, sizeof chunk)) > 0;)
        text.append(chunk, static_cast<std::size_t>(n));
    close(fd);
    while (!text.empty() && (text.back() == '\n' || text.back() == ' '))
        text.pop_back();
    return text;
}

namespace {

// The names in a folder that start with prefix, in the order of their
// numbers (lp2 before lp10) and then by name.
std::vector<std::string> names(const std::string &folder, const std::string &prefix)
{
    std::vector<std::string> found;
    if (DIR *dir = opendir(folder.c_str())) {
        while (const dirent *entry = readdir(dir))
            if (std::string name = entry->d_name;
                name.starts_with(prefix) && name != "." && name != "..")
                found.push_back(name);
        closedir(dir);
    }
    const auto number = [&prefix](const std::string &name) {
        return std::strtoul(name.c_str() + prefix.size(), nullptr, 10);
    };
    std::ranges::sort(found, [&number](const std::string &a, const std::string &b) {
        return number(a) != number(b) ? number(a) < number(b) : a < b;
    });
    return found;
}

} // namespace

std::vector<Parport> readParports(const std::string &root)
{
    const std::string folder = root + "/proc/sys/dev/parport/";
    std::vector<Parport> ports;
    for (const std::string &name : names(folder, "parport")) {
        Parport port;
        port.number = std::atoi(name.c_str() + 7);
        std::istringstream(readText(folder + name + "/base-addr")) >> port.base >> port.ecp;
        port.modes = readText(folder + name + "/modes");
        port.irq = readText(folder + name + "/irq");
        std::istringstream(readText(folder + name + "/devices/active")) >> port.active;
        ports.push_back(port);
    }
    return ports;
}

bool holds(const std::vector<IoRange> &ranges, unsigned address)
{
    return std::ranges::any_of(ranges, [address](const IoRange &range) {
        return address >= range.first && address <= range.last;
    });
}

std::vector<IoRange> registers(const Parport &port)
{
    if (port.base == 0 || port.base > 0xFFF8)
        return {};
    std::vector<IoRange> ranges{
        {static_cast<std::uint16_t>(port.base),
         static_cast<std::uint16_t>(port.base + (port.base == 0x3BC ? 3 : 7))}};
    if (port.ecp > 0 && port.ecp <= 0xFFFD)
        ranges.push_back(
            {static_cast<std::uint16_t>(port.ecp), static_cast<std::uint16_t>(port.ecp + 2)});
    return ranges;
}

namespace {

std::string holderOf(const Parport &port) { return port.active == "none" ? "" : port.active; }

FoundPort describeParport(const Parport &port, const Routes &routes)
{
    FoundPort found{
        "parport", "parport" + std::to_string(port.number), "", registers(port), holderOf(port),
        ""};
    found.description = "modes " + (port.modes.empty() ? "unknown" : port.modes) + ", irq " +
                        (port.irq.empty() || port.irq == "-1" ? "none" : port.irq);
    if (port.base == 0) {
        found.description += "; a USB adapter: no registers, its pins cannot be reached as ports";
        found.access = "none: a USB parallel adapter has no I/O ports; its pins are reached only "
                       "through its own driver";
    } else
        found.access = routes.describe(found.ranges);
    return found;
}

// The PCI classes listed (class and subclass); null for others.
const char *pciClass(unsigned code)
{
    switch (code) {
    case 0x0700:
        return "serial controller";
    case 0x0701:
        return "parallel controller";
    case 0x0702:
        return "multiport serial controller";
    case 0x0780:
        return "communication controller";
    default:
        return nullptr;
    }
}

std::string linkName(const std::string &link)
{
    char target[512] = {};
    const ssize_t size = readlink(link.c_str(), target, sizeof target - 1);
    const std::string path(target, size > 0 ? static_cast<std::size_t>(size) : 0);
    return path.substr(path.rfind('/') + 1);
}

// The I/O ranges of a PCI device's resource file: "start end flags" in hex,
// I/O where IORESOURCE_IO (0x100) is set.
std::vector<IoRange> ioRanges(const std::string &resourceFile)
{
    constexpr unsigned long long ioResource = 0x100;
    std::istringstream lines(readText(resourceFile));
    std::vector<IoRange> ranges;
    unsigned long long first = 0, last = 0, flags = 0;
    while (lines >> std::hex >> first >> last >> flags)
        if ((flags & ioResource) != 0 && first > 0 && first <= last && last <= 0xFFFF)
            ranges.push_back({static_cast<std::uint16_t>(first), static_cast<std::uint16_t>(last)});
    return ranges;
}

// The parallel port the kernel made of a card, if any: its base is in a range.
const Parport *onCard(const std::vector<IoRange> &ranges, const std::vector<Parport> &ports)
{
    const auto port = std::ranges::find_if(
        ports, [&ranges](const Parport &port) { return holds(ranges, port.base); });
    return port == ports.end() ? nullptr : &*port;
}

std::string trimmedId(const std::string &text)
{
    return text.starts_with("0x") ? text.substr(2) : text;
}

void addPciDevices(const System &system, const std::vector<Parport> &parports, const Routes &routes,
                   std::vector<FoundPort> &found)
{
    const std::string folder = system.root + "/sys/bus/pci/devices/";
    for (const std::string &address : names(folder, "")) {
        const std::string device = folder + address + "/";
        const unsigned code = std::strtoul(readText(device + "class").c_str(), nullptr, 16) >> 8;
        const char *type = pciClass(code);
        if (!type)
            continue;
        const std::string driver = linkName(device + "driver");
        FoundPort port{"pci", address, "", ioRanges(device + "resource"), "", ""};
        port.description = trimmedId(readText(device + "vendor")) + ":" +
                           trimmedId(readText(device + "device")) + " " + type + ", driver " +
                           (driver.empty() ? "none" : driver);
        if (const Parport *parallel = onCard(port.ranges, parports)) {
            port.description += " (parport" + std::to_string(parallel->number) + ")";
            port.holder = holderOf(*parallel);
        }
        port.access = port.ranges.empty() ? "none: no I/O ranges (memory-mapped registers only)"
                                          : routes.describe(port.ranges);
        found.push_back(port);
    }
}

std::string usbIds(const std::string &interface)
{
    const std::string vendor = readText(interface + "/../idVendor");
    const std::string product = readText(interface + "/../idProduct");
    const std::string name = readText(interface + "/../product");
    if (vendor.empty())
        return "";
    return " " + vendor + ":" + product + (name.empty() ? "" : " " + name);
}

// USB printer adapters: /dev/usb/lpN and /sys/class/usbmisc/lpN, either or both.
void addUsbPrinters(const System &system, std::vector<FoundPort> &found)
{
    const std::vector<std::string> devices = names(system.root + "/dev/usb", "lp");
    const std::vector<std::string> classes = names(system.root + "/sys/class/usbmisc", "lp");
    std::set<std::string> all(devices.begin(), devices.end());
    all.insert(classes.begin(), classes.end());
    for (const std::string &name : all) {
        const std::string ids = usbIds(system.root + "/sys/class/usbmisc/" + name + "/device");
        found.push_back(
            {"usb-printer",
             "/dev/usb/" + name,
             "printer device" + ids + ": no registers, its pins cannot be reached as ports",
             {},
             "",
             "none: a USB printer adapter takes print data only; for pins use a parallel port on "
             "the mainboard or a PCI or PCIe card"});
    }
}

// An empty range changes nothing; a kernel without ioperm says ENOSYS first.
bool kernelHasIoperm() { return !(ioperm(0, 0, 0) != 0 && errno == ENOSYS); }

// As the library finds the helper: PORTPANEL_HELPER, but not in secure mode.
std::string helperPath()
{
    const char *test = getauxval(AT_SECURE) ? nullptr : std::getenv("PORTPANEL_HELPER");
    return test && *test ? test : PORTPANEL_HELPER_PATH;
}

// The portpanel-run this user would start: the first on PATH, where it
// carries its capability.
std::string runPath(const std::string &prefix)
{
    std::istringstream path(std::getenv("PATH") ? std::getenv("PATH") : "");
    for (std::string folder; std::getline(path, folder, ':');)
        if (const std::string file = prefix + folder + "/portpanel-run";
            access(file.c_str(), F_OK) == 0)
            return privilege::fileGrantsRawio(file) ? file : "";
    return "";
}

} // namespace

System thisSystem(const std::string &root)
{
    const std::string prefix = root == "/" ? "" : root;
    Identity who{privilege::holdsRawio(), kernelHasIoperm(),
                 [](const std::string &path, int mode) { return access(path.c_str(), mode) == 0; },
                 privilege::inGroup("lp")};
    return {prefix,
            who,
            prefix + helperPath(),
            PORTPANEL_POLICY_PATH,
            0,
            privilege::lockdownLevel(prefix + "/sys/kernel/security/lockdown"),
            privilege::fileGrantsRawio(prefix + helperPath()),
            runPath(prefix),
            [](std::uint16_t port) { return granted::covers(port); }};
}

Restrictions restrictions(const System &system)
{
    Restrictions found{system.lockdown, "", "", ""};
    if (privilege::lockedDown(system.lockdown))
        found.line = advice::lockedDown(system.lockdown) +
                     "; the parallel ports it manages stay reachable through its driver (group "
                     "lp); for other ports turn Secure Boot off in the firmware setup";
    return found;
}

std::vector<FoundPort> find(const System &system)
{
    const std::vector<Parport> parports = readParports(system.root);
    const Routes routes(system, parports);
    std::vector<FoundPort> found;
    std::ranges::transform(parports, std::back_inserter(found), [&routes](const Parport &port) {
        return describeParport(port, routes);
    });
    addPciDevices(system, parports, routes, found);
    addUsbPrinters(system, found);
    return found;
}

} // namespace finder::onlinux
