// portpanel-run: starts a program with port permission for the policy's
// ports, so that it reaches them at the bus's speed instead of through the
// helper. Installed as the helper is (cap_sys_rawio, 0750 root:portpanel),
// and refusing anyone neither root nor in portpanel whatever its file's mode:
// it takes permission for exactly the policy's ranges, drops every privilege,
// and only then looks at its arguments. Linux keeps port permission across
// execve and fork, so the program and its children hold it; it is no more
// than the same user reaches through the helper. By default the program runs
// under a system-call filter that answers its own ioperm and iopl calls
// (Filter.h), which needs no_new_privs: --no-filter leaves both off.
#include "../hardware/Advice.h"
#include "../hardware/Privilege.h"
#include "Filter.h"
#include "Grant.h"
#include "Policy.h"
#include "Protocol.h"
#include "Version.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

// As env, nice and timeout give them: the launcher's own failures, then
// a program that cannot be run, or is not found.
constexpr int failed = 125, cannotRun = 126, notFound = 127;

constexpr const char *usage =
    "usage: portpanel-run [--no-filter | --accept-iopl] [--] PROGRAM [ARGUMENT...]\n"
    "       portpanel-run --help | --version\n";

// Why the policy's ports cannot all be granted; empty once they are.
std::string grant(helper::PortSet &open)
{
    std::string why = helper::readPolicy({"", PORTPANEL_POLICY_PATH, 0}, open);
    if (!why.empty())
        return why;
    const std::string level = privilege::lockdownLevel("/sys/kernel/security/lockdown");
    if (privilege::lockedDown(level))
        return advice::lockedDown(level);
    const privilege::WithoutRawio cause = privilege::whyWithoutRawio("/proc/self/exe");
    if (cause != privilege::WithoutRawio::Held)
        return advice::launcherRefused(cause, EPERM, level);
    const int error = helper::takePermission(open);
    return error == 0 ? "" : advice::launcherRefused(cause, error, level);
}

struct Options {
    bool filter = true, acceptIopl = false;
    char **program = nullptr;
    std::string mistake; // a usage mistake, in words
};

Options readOptions(char **argv)
{
    Options options;
    char **at = argv + 1;
    for (; *at && (*at)[0] == '-'; ++at) {
        const std::string option = *at;
        if (option == "--") {
            ++at;
            break;
        }
        if (option == "--no-filter")
            options.filter = false;
        else if (option == "--accept-iopl")
            options.acceptIopl = true;
        else
            return options.mistake = "unknown option " + option, options;
    }
    options.program = at;
    if (!*at)
        options.mistake = "no program given";
    else if (options.acceptIopl && !options.filter)
        options.mistake = "--accept-iopl needs the filter that --no-filter leaves off";
    return options;
}

int run(const Options &options, const helper::PortSet &open, const std::string &granted)
{
    if (setenv(helper::grantedVariable, granted.c_str(), 1) != 0) {
        std::perror("portpanel-run: setenv");
        return failed;
    }
    if (options.filter) {
        std::string why = prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0
                              ? helper::filterPortCalls(open, options.acceptIopl)
                              : std::string("no_new_privs: ") + std::strerror(errno);
        if (!why.empty()) {
            std::fprintf(stderr, "portpanel-run: %s did not run: %s\n", *options.program,
                         why.c_str());
            return failed;
        }
    }
    execvp(options.program[0], options.program);
    const int error = errno;
    std::fprintf(stderr, "portpanel-run: %s: %s\n", options.program[0], std::strerror(error));
    return error == ENOENT ? notFound : cannotRun;
}

// Whether this caller may run it at all: root or a member of portpanel.
bool allowed()
{
    if (getuid() == 0 || privilege::inGroup("portpanel"))
        return true;
    std::fputs("portpanel-run: only root and members of the portpanel group may run it: 'sudo "
               "adduser $USER portpanel', then log in again\n",
               stderr);
    return false;
}

} // namespace

int main(int argc, char **argv)
{
    if (!allowed())
        return failed;
    helper::PortSet open;
    const std::string refusal = grant(open);
    if (const char *call = helper::dropPrivilege()) {
        std::fprintf(stderr, "portpanel-run: could not drop its privilege (%s: %s)\n", call,
                     std::strerror(errno));
        return failed;
    }
    const std::string first = argc > 1 ? argv[1] : "";
    if (argc == 2 && (first == "--help" || first == "--version")) {
        if (first == "--help")
            std::fputs(usage, stdout);
        else
            std::printf("portpanel-run %s\n", PORTPANEL_VERSION);
        return 0;
    }
    const Options options = argc < 2 ? Options{.mistake = "no program given"} : readOptions(argv);
    if (!options.mistake.empty()) {
        std::fprintf(stderr, "portpanel-run: %s\n%s", options.mistake.c_str(), usage);
        return failed;
    }
    if (!refusal.empty()) {
        std::fprintf(stderr, "portpanel-run: %s did not run: %s\n", *options.program,
                     refusal.c_str());
        return failed;
    }
    std::string self;
    std::getline(std::ifstream("/proc/self/stat"), self);
    return run(options, open, helper::processIdentity(self) + ":" + helper::ranges(open));
}
