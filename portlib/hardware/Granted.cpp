#include "Granted.h"

#include "../helper/Protocol.h"

#include <bitset>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace granted {
namespace {

// This process's identity and its ancestors' ("PID/START"), space-separated, up to init.
std::string ancestry()
{
    std::string pids;
    std::string pid = "self";
    for (int depth = 0; depth < 256 && pid != "0"; ++depth) {
        std::ifstream stat("/proc/" + pid + "/stat");
        std::string line;
        if (!std::getline(stat, line) || line.rfind(") ") == std::string::npos)
            break;
        // pid (command) state ppid ...: the command may hold spaces and ')'.
        std::istringstream fields(line.substr(line.rfind(") ") + 2));
        std::string state, parent;
        fields >> state >> parent;
        pids += helper::processIdentity(line) + ' ';
        pid = parent;
    }
    return pids;
}

// Reads "FIRST-LAST" or a last "FIRST-LAST," from ranges.
bool range(std::istream &ranges, unsigned long &first, unsigned long &last)
{
    std::string text;
    if (!std::getline(ranges, text, ','))
        return false;
    char *end = nullptr;
    first = std::strtoul(text.c_str(), &end, 0);
    if (end == text.c_str() || *end != '-')
        return false;
    const char *second = end + 1;
    last = std::strtoul(second, &end, 0);
    return end != second && *end == '\0' && first <= last && last <= 0xFFFF;
}

using PortSet = std::bitset<0x10000>;

PortSet read(const std::string &value, const std::string &pids)
{
    PortSet set;
    const std::size_t colon = value.find(':');
    if (colon == std::string::npos || colon == 0 ||
        (' ' + pids).find(' ' + value.substr(0, colon) + ' ') == std::string::npos)
        return set;
    std::istringstream ranges(value.substr(colon + 1));
    unsigned long first = 0, last = 0;
    while (range(ranges, first, last))
        for (unsigned long port = first; port <= last; ++port)
            set.set(port);
    return set;
}

// Read once: the variable and the ancestry do not change while it matters.
const PortSet &grantedHere()
{
    static const PortSet &ports = *[] {
        const char *value = std::getenv(helper::grantedVariable);
        return new PortSet(value ? read(value, ancestry()) : PortSet());
    }();
    return ports;
}

} // namespace

bool covers(const std::string &value, const std::string &pids, unsigned short port)
{
    return read(value, pids)[port];
}

bool covers(unsigned short port) { return grantedHere()[port]; }

bool any() { return grantedHere().any(); }

} // namespace granted
