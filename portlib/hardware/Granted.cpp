#include "Granted.h"

#include "../helper/Policy.h"
#include "../helper/Protocol.h"
#include "SystemRoot.h"

#include <bitset>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/io.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

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

// The ports the policy lists now: a grant taken under an older policy counts
// only where this one still opens the port.
PortSet listed()
{
    helper::PortSet open;
    return helper::readPolicy({PORTPANEL_SYSTEM_ROOT, PORTPANEL_POLICY_PATH, 0}, open).empty()
               ? open
               : PortSet();
}

// Read once: the variable and the ancestry do not change while it matters.
PortSet &grantedHere()
{
    static PortSet &ports = *[] {
        const char *value = secure_getenv(helper::grantedVariable);
        return new PortSet(value ? read(value, ancestry()) & listed() : PortSet());
    }();
    return ports;
}

// In the child: a host's SIGSEGV handler (a crash reporter, a sanitizer's)
// must not run there, so the CPU's refusal ends it as the status says. The
// call goes straight to the kernel, past any wrapper that would keep the
// handler: its sigaction all zero is SIG_DFL, no flags, no restorer, no mask.
[[noreturn]] void accessAndExit(unsigned short port, bool write, unsigned char byte)
{
    const unsigned long defaults[4] = {};
    syscall(SYS_rt_sigaction, SIGSEGV, defaults, nullptr, sizeof defaults[0]);
    if (write)
        outb(byte, port);
    else
        byte = inb(port);
    syscall(SYS_exit_group, write ? 0 : byte);
    __builtin_unreachable();
}

} // namespace

bool covers(const std::string &value, const std::string &pids, unsigned short port)
{
    return read(value, pids)[port];
}

bool covers(unsigned short port) { return grantedHere()[port]; }

void forget(unsigned short port) { grantedHere()[port] = false; }

Proof accessInChild(unsigned short port, bool write, unsigned char &byte)
{
    // A plain copy of this thread that signals nobody when it ends: no fork
    // handler of the host runs, and a host that ignores SIGCHLD still gets
    // its status (__WCLONE).
    const long child = syscall(SYS_clone, 0UL, nullptr, nullptr, nullptr, nullptr);
    if (child == 0)
        accessAndExit(port, write, byte);
    if (child < 0)
        return Proof::Failed;
    int status = 0;
    while (waitpid(static_cast<pid_t>(child), &status, __WCLONE) < 0)
        if (errno != EINTR)
            return Proof::Failed;
    if (!WIFEXITED(status))
        return Proof::Refused;
    if (!write)
        byte = static_cast<unsigned char>(WEXITSTATUS(status));
    return Proof::Made;
}

bool any() { return grantedHere().any(); }

} // namespace granted
