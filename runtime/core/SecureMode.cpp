#include "SecureMode.h"

#include "RuntimeError.h"

#include <sys/auxv.h>
#include <unistd.h>

namespace runtime {
namespace {

std::string executable(const char *name)
{
    char path[4096];
    const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
    return length > 0 ? std::string(path, static_cast<std::size_t>(length)) : name;
}

} // namespace

void refusePrivilege(const char *program)
{
    if (getauxval(AT_SECURE) == 0)
        return;
    const std::string file = executable(program);
    throw RuntimeError(
        ErrorNumber::Privileged,
        std::string(program) + " will not start with privilege: " + file +
            " carries a capability or a setuid/setgid bit, which would let anyone who runs it "
            "load their own code with that privilege. Remove it with 'sudo setcap -r " +
            file + "' or 'sudo chmod ug-s " + file +
            "'. To reach the ports without root, join the lp group (the parallel ports the "
            "kernel manages: 'sudo adduser $USER lp') or the portpanel group (the ports the "
            "helper's policy opens: the parallel and serial ports, PCI port cards and the "
            "ranges an administrator lists: 'sudo adduser $USER portpanel'), then log in again");
}

} // namespace runtime
