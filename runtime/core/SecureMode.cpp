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

std::string privilegeRefusal(const std::string &program, const std::string &file)
{
    return "run 'sudo setcap -r " + file + "' or 'sudo chmod ug-s " + file + "', then start " +
           program + " again\n  " + program + " will not start with privilege: " + file +
           " carries a capability or a setuid/setgid bit, which would let anyone who runs it "
           "load their own code with that privilege\n  to reach the ports without root, join "
           "the lp group ('sudo adduser $USER lp': the parallel ports the kernel manages) or the "
           "portpanel group ('sudo adduser $USER portpanel': the ports the helper's policy opens, "
           "the parallel and serial ports, PCI port cards and the ranges an administrator "
           "lists), then log in again";
}

void refusePrivilege(const char *program)
{
    if (getauxval(AT_SECURE) == 0)
        return;
    throw RuntimeError(ErrorNumber::Privileged, privilegeRefusal(program, executable(program)));
}

} // namespace runtime
