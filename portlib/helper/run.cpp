// portpanel-run: starts a program with port permission for the policy's
// ports, so that it reaches them at the bus's speed instead of through the
// helper. Installed as the helper is (cap_sys_rawio, 0750 root:portpanel):
// it takes permission for exactly the policy's ranges, drops every privilege,
// and only then looks at its arguments. Linux keeps port permission across
// execve and fork, so the program and its children hold it; it is no more
// than the same user reaches through the helper.
#include "../hardware/Advice.h"
#include "../hardware/Privilege.h"
#include "Grant.h"
#include "Policy.h"
#include "Protocol.h"
#include "Version.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <unistd.h>

namespace {

constexpr const char *usage = "usage: portpanel-run PROGRAM [ARGUMENT...]\n"
                              "       portpanel-run --help | --version\n";

// Why the policy's ports cannot all be granted; empty once they are.
std::string grant(helper::PortSet &open)
{
    std::string why = helper::readPolicy({"", PORTPANEL_POLICY_PATH, 0}, open);
    if (!why.empty())
        return why;
    const std::string level = privilege::lockdownLevel("/sys/kernel/security/lockdown");
    if (privilege::lockedDown(level))
        return advice::lines(
            advice::unlock({"portpanel-run", level, privilege::lockdownParameter("/proc/cmdline")},
                           "the portpanel group's ports"));
    const int error = helper::takePermission(open);
    if (error == 0)
        return "";
    const bool capable = privilege::fileGrantsRawio("/proc/self/exe");
    const std::string cause = advice::helperRefused(error, capable, "portpanel-run");
    return error == EPERM && !capable ? "run '" + std::string(advice::reconfigure) +
                                            "', then portpanel-run again\n  " + cause
                                      : cause;
}

int run(char **program, const std::string &granted)
{
    if (setenv(helper::grantedVariable, granted.c_str(), 1) != 0) {
        std::perror("portpanel-run: setenv");
        return 5;
    }
    execvp(program[0], program);
    const int error = errno;
    std::fprintf(stderr, "portpanel-run: %s: %s\n", program[0], std::strerror(error));
    return error == ENOENT ? 127 : 126;
}

} // namespace

int main(int argc, char **argv)
{
    helper::PortSet open;
    const std::string refusal = grant(open);
    if (const char *failed = helper::dropPrivilege()) {
        std::fprintf(stderr, "portpanel-run: could not drop its privilege (%s: %s)\n", failed,
                     std::strerror(errno));
        return 5;
    }
    const std::string first = argc > 1 ? argv[1] : "";
    if (argc == 2 && (first == "--help" || first == "--version")) {
        if (first == "--help")
            std::fputs(usage, stdout);
        else
            std::printf("portpanel-run %s\n", PORTPANEL_VERSION);
        return 0;
    }
    char **program = argv + 1 + (first == "--" ? 1 : 0);
    if (!*program || (first.starts_with("-") && first != "--")) {
        std::fprintf(stderr, "portpanel-run: %s\n%s",
                     *program ? ("unknown option " + first).c_str() : "no program given", usage);
        return 2;
    }
    if (!refusal.empty()) {
        // What to do first; which program did not run goes below it.
        const std::size_t end = std::min(refusal.find('\n'), refusal.size());
        std::fprintf(stderr, "portpanel-run: %s\n  %s did not run%s\n",
                     refusal.substr(0, end).c_str(), *program, refusal.substr(end).c_str());
        return 5;
    }
    std::string self;
    std::getline(std::ifstream("/proc/self/stat"), self);
    return run(program, helper::processIdentity(self) + ":" + helper::ranges(open));
}
