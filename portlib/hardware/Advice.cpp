#include "Advice.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace advice {
namespace {

const std::string joinLp = "the lp group ('sudo adduser $USER lp')";
const std::string modprobe = "'sudo modprobe ppdev' (or add ppdev to /etc/modules to load it at "
                             "every start)";

std::string joinPortpanel(const std::string &policyFile)
{
    return "the portpanel group ('sudo adduser $USER portpanel'; it opens the parallel and serial "
           "ports, 888 among them, and the ports listed in " +
           policyFile + ")";
}

std::string underLockdown(const Situation &situation, const std::string &what)
{
    const std::string kernel = lockedDown(situation.lockdown);
    const std::string secureBootOff = "turn Secure Boot off in the firmware setup (or run 'sudo "
                                      "mokutil --disable-validation' and reboot)";
    if (!situation.parallelRegister)
        return kernel + "; the parallel ports it manages stay reachable through its driver" +
               (situation.inLp ? "" : " (group lp)") + "; to reach " + what + ", " + secureBootOff;
    return kernel + "; the parallel ports it manages stay reachable through its driver: " +
           (situation.driverNotLoaded ? modprobe
            : situation.inLp          ? "see its reason below"
                                      : "join " + joinLp + ", then log in again") +
           (situation.everyPort ? "; for other ports, " + secureBootOff : "");
}

std::string withoutPortAccess(bool parallelRegister)
{
    return "this kernel reaches ports only through its parallel-port driver: for " +
           std::string(parallelRegister
                           ? "this parallel port, join " + joinLp + ", then log in again"
                           : "other ports run portpanel on a kernel built with "
                             "CONFIG_X86_IOPL_IOPERM=y, as Debian's own are");
}

std::string helperAction(Helper helper)
{
    switch (helper) {
    case Helper::LacksCapability:
        return "the port helper's file has lost its capability: 'sudo dpkg-reconfigure "
               "portpanel' gives it back";
    case Helper::KernelRefused:
        return "the kernel refused the port helper although its file has the capability it "
               "needs: the kernel may be locked down, as Debian does when Secure Boot is on "
               "(its log, 'sudo dmesg', then says 'raw io port access is restricted')";
    default:
        return "the port helper did not serve; its reason is below";
    }
}

} // namespace

std::string lines(const Refusal &refusal)
{
    std::string text = refusal.action;
    for (const Refusal::Tried &tried : refusal.routes)
        text += "\n  " + tried.route + ": " + tried.why;
    return text;
}

std::string oneLine(const Refusal &refusal)
{
    std::string text = refusal.action;
    for (const Refusal::Tried &tried : refusal.routes)
        text += "; " + tried.route + ": " + tried.why;
    return text;
}

std::string action(const Situation &situation, const std::string &what,
                   const std::string &policyFile)
{
    const Helper helper = situation.helper;
    if (!situation.lockdown.empty() && situation.lockdown != "none")
        return underLockdown(situation, what);
    if (helper == Helper::LacksCapability || helper == Helper::KernelRefused)
        return helperAction(helper);
    if (situation.parallelRegister && situation.inLp && situation.driverNotLoaded)
        return "the kernel's parallel-port driver has no device for " + what +
               ": the ppdev module is not loaded; run " + modprobe;
    if (situation.kernelLacksPortAccess)
        return withoutPortAccess(situation.parallelRegister);
    if (helper == Helper::Refused)
        return helperAction(helper);
    const bool offerLp = situation.parallelRegister && !situation.inLp;
    const bool offerPortpanel = helper == Helper::NotRun;
    if (!offerLp && !offerPortpanel)
        return "every route to " + what + " was refused, each for the reason below";
    return "to reach " + what + ", join " +
           (offerLp && offerPortpanel ? joinLp + " or " + joinPortpanel(policyFile)
            : offerLp                 ? joinLp
                                      : joinPortpanel(policyFile)) +
           ", then log in again";
}

std::string lockedDown(const std::string &level)
{
    return "the kernel is locked down (" + level +
           "), as Debian does when Secure Boot is on: it refuses direct port access to every "
           "program, root included";
}

std::string lockedOut(const std::string &level)
{
    return "refused to every program by the locked-down kernel (" + level + ")";
}

std::string helperRefused(int error, bool fileHasCapability, const std::string &who)
{
    const std::string call = std::string("ioperm: ") + std::strerror(error);
    if (error == ENOSYS)
        return who + " finds that this kernel has no user-space port access (" + call + ")";
    if (error != EPERM)
        return who + " could not take port permission (" + call + ")";
    return fileHasCapability
               ? "the kernel refused it port permission (" + call +
                     ") although its file has cap_sys_rawio: the kernel may be locked down"
               : "its file lacks cap_sys_rawio (security.capability), so the kernel refused it "
                 "port permission (" +
                     call + "); 'sudo dpkg-reconfigure portpanel' gives it back";
}

namespace {

// The kernel starts the program without its file's capability.
std::string startedWithout(privilege::WithoutRawio cause)
{
    const std::string kernel = "the kernel started portpanel-run without its file's cap_sys_rawio";
    switch (cause) {
    case privilege::WithoutRawio::FileLacks:
        return "its file lacks cap_sys_rawio (security.capability); 'sudo dpkg-reconfigure "
               "portpanel' gives it back";
    case privilege::WithoutRawio::NoNewPrivileges:
        return "run it where no_new_privs is not set: " + kernel +
               " because this session has no_new_privs ('setpriv --no-new-privs', systemd's "
               "NoNewPrivileges=, a sandbox)";
    case privilege::WithoutRawio::NosuidMount:
        return "install it on a filesystem mounted without nosuid: " + kernel +
               " because its file is on a nosuid mount";
    case privilege::WithoutRawio::Traced:
        return "run it without a debugger or strace: " + kernel + " because it is being traced";
    case privilege::WithoutRawio::UserNamespace:
        return "run it outside the container or sandbox: " + kernel +
               " because it runs in a user namespace other than the machine's own";
    default:
        return kernel + " for a reason it cannot tell";
    }
}

} // namespace

std::string launcherRefused(privilege::WithoutRawio cause, int error, const std::string &lockdown)
{
    if (cause != privilege::WithoutRawio::Held)
        return startedWithout(cause);
    const std::string call = std::string("ioperm: ") + std::strerror(error);
    if (error == ENOSYS)
        return "this kernel has no user-space port access (" + call + ")";
    if (error != EPERM)
        return "the kernel refused port permission (" + call + ")";
    return "the kernel refused port permission although portpanel-run holds cap_sys_rawio (" +
           call + ")" +
           (lockdown.empty() ? "; /sys/kernel/security/lockdown cannot be read, so whether the "
                               "kernel is locked down is not known (if it is, 'sudo dmesg' says "
                               "'raw io port access is restricted')"
                             : "");
}

std::string iopermRefused(int error, bool capabilityHeld)
{
    std::string call = std::string("ioperm at this port: ") + std::strerror(error);
    if (error != EPERM || !capabilityHeld)
        return call;
    return "the kernel refused port access to this program although it holds CAP_SYS_RAWIO: "
           "it may be locked down, as Debian does when Secure Boot is on (its log, 'sudo "
           "dmesg', then says 'raw io port access is restricted')\n  " +
           call;
}

std::string notInPolicy(std::uint16_t port, const std::string &policyFile)
{
    char words[240];
    std::snprintf(words, sizeof words,
                  "port 0x%04X is not open to the portpanel group; an administrator can add it "
                  "to %s (a port listed there is as open to the group as to root)",
                  port, policyFile.c_str());
    return words;
}

std::string inUse(const std::string &device, const std::string &holder, const char *how)
{
    return device + " is " + how +
           (holder.empty() || holder == "none" ? "another program" : holder) +
           "; close the program that holds it (another portpanel?) and try again";
}

std::string openFailed(const std::string &device, int error)
{
    const std::string words = device + ": " + std::strerror(error);
    return error == ENOENT ? words + " (the ppdev module is not loaded: 'sudo modprobe ppdev')"
                           : words;
}

} // namespace advice
