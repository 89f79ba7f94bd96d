#include "Advice.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

namespace advice {
namespace {

const std::string thenLogIn = ", then log in again";
const std::string addLp = "'sudo adduser $USER lp'";
const std::string addPortpanel = "'sudo adduser $USER portpanel'";
const std::string modprobe = "run 'sudo modprobe ppdev'";
const std::string atEveryStart = "to load it at every start, add ppdev to /etc/modules";
const std::string viaDriver = "the parallel ports the kernel manages stay reachable through its "
                              "driver, for root and the lp group";

// "to let portpanel-io reach port 0x0378"
std::string toLet(const Situation &situation, const std::string &what)
{
    return " to let " + situation.program + " reach " + what;
}

std::string portpanelOpens(const std::string &policyFile)
{
    return "the portpanel group opens the parallel and serial ports, PCI port cards and the ports "
           "listed in " +
           policyFile + ", through the port helper";
}

// What the driver's route reaches: asked for every port, only its own.
std::string throughDriver(const Situation &situation, const std::string &what)
{
    return situation.everyPort ? "the parallel ports the kernel manages" : what;
}

Refusal joinLp(const Situation &situation, const std::string &what)
{
    return {"join the lp group" + toLet(situation, throughDriver(situation, what)) + ": " + addLp +
                thenLogIn,
            {},
            {}};
}

Refusal loadPpdev(const Situation &situation, const std::string &what)
{
    return {modprobe + toLet(situation, throughDriver(situation, what)) +
                " through the kernel's parallel-port driver",
            {atEveryStart},
            {}};
}

Refusal underLockdown(const Situation &situation, const std::string &what)
{
    if (!situation.parallelRegister)
        return unlock(situation, what);
    Refusal refusal =
        situation.driverNotLoaded ? loadPpdev(situation, what)
        : situation.inLp
            ? Refusal{"fix what the parallel-port driver reports below" + toLet(situation, what),
                      {},
                      {}}
            : joinLp(situation, what);
    refusal.notes.push_back(lockedDown(situation.lockdown, situation.lockdownParameter) + "; " +
                            viaDriver);
    if (situation.everyPort) {
        const Refusal other = unlock(situation, "them");
        refusal.notes.push_back("for other ports, " + other.action);
        refusal.notes.push_back(other.notes[1]); // the other way to the same end
    }
    return refusal;
}

Refusal withoutPortAccess(const Situation &situation, const std::string &what)
{
    const std::string why = "this kernel has no user-space port access: it reaches ports only "
                            "through its parallel-port driver";
    if (situation.parallelRegister)
        return {joinLp(situation, what).action, {why}, {}};
    return {"start " + situation.program +
                " on a kernel built with CONFIG_X86_IOPL_IOPERM=y, as Debian's own are, to reach " +
                what,
            {why},
            {}};
}

Refusal helperAction(const Situation &situation, const std::string &what)
{
    switch (situation.helper) {
    case Helper::LacksCapability:
        return {"run '" + std::string(reconfigure) + "', then start " + situation.program +
                    " again to reach " + what,
                {"the port helper's file has lost its capability, which that gives back"},
                {}};
    case Helper::KernelRefused:
        return {"look in the kernel's log ('sudo dmesg') for why it refused the port helper" +
                    toLet(situation, what),
                {"the helper's file has the capability it needs, so the kernel may be locked "
                 "down, as Debian does when Secure Boot is on; its log then says 'raw io port "
                 "access is restricted'"},
                {}};
    default:
        return {"fix what the port helper reports below" + toLet(situation, what), {}, {}};
    }
}

Refusal joinGroups(const Situation &situation, const std::string &what,
                   const std::string &policyFile)
{
    const bool offerLp = situation.parallelRegister && !situation.inLp;
    const bool offerPortpanel = situation.helper == Helper::NotRun;
    if (!offerLp && !offerPortpanel)
        return {"fix one of the routes below" + toLet(situation, what), {}, {}};
    if (!offerPortpanel)
        return joinLp(situation, what);
    if (!offerLp)
        return {"join the portpanel group" + toLet(situation, what) + ": " + addPortpanel +
                    thenLogIn,
                {portpanelOpens(policyFile)},
                {}};
    if (situation.everyPort)
        return {"join the lp or the portpanel group" + toLet(situation, what) + ": " + addLp +
                    " or " + addPortpanel + thenLogIn,
                {"the lp group opens the parallel ports the kernel manages, through its driver",
                 portpanelOpens(policyFile)},
                {}};
    return {joinLp(situation, what).action,
            {"or join the portpanel group instead (" + addPortpanel +
             "): " + portpanelOpens(policyFile)},
            {}};
}

} // namespace

const char *const reconfigure = "sudo dpkg-reconfigure portpanel";

std::string self() { return program_invocation_short_name; }

std::string lines(const Refusal &refusal)
{
    std::string text = refusal.action;
    for (const std::string &note : refusal.notes)
        text += "\n  " + note;
    for (const Refusal::Tried &tried : refusal.routes)
        text += "\n  " + tried.route + ": " + tried.why;
    return text;
}

std::string oneLine(const Refusal &refusal)
{
    std::string text = refusal.action;
    for (const std::string &note : refusal.notes)
        text += "; " + note;
    for (const Refusal::Tried &tried : refusal.routes)
        text += "; " + tried.route + ": " + tried.why;
    return text;
}

Refusal action(const Situation &situation, const std::string &what, const std::string &policyFile)
{
    const Helper helper = situation.helper;
    if (!situation.lockdown.empty() && situation.lockdown != "none")
        return underLockdown(situation, what);
    if (helper == Helper::LacksCapability || helper == Helper::KernelRefused)
        return helperAction(situation, what);
    if (situation.parallelRegister && situation.inLp && situation.driverNotLoaded)
        return loadPpdev(situation, what);
    if (situation.kernelLacksPortAccess)
        return withoutPortAccess(situation, what);
    if (helper == Helper::Refused)
        return helperAction(situation, what);
    return joinGroups(situation, what, policyFile);
}

Refusal unlock(const Situation &situation, const std::string &what)
{
    const std::string kernel = lockedDown(situation.lockdown, situation.lockdownParameter);
    if (!situation.lockdownParameter.empty())
        return {"remove " + situation.lockdownParameter +
                    " from the kernel's command line and reboot" + toLet(situation, what),
                {kernel,
                 "on Debian it is set in GRUB_CMDLINE_LINUX in /etc/default/grub: take it out "
                 "there, then run 'sudo update-grub'",
                 viaDriver},
                {}};
    return {"turn Secure Boot off in the firmware setup and reboot" + toLet(situation, what),
            {kernel,
             "or run 'sudo mokutil --disable-validation' and choose a password; at the next "
             "boot MokManager asks for characters of it: confirm 'Change Secure Boot state' "
             "there, and the kernel starts unlocked",
             viaDriver},
            {}};
}

std::string lockedDown(const std::string &level, const std::string &parameter)
{
    return "the kernel is locked down (" + level + ")" +
           (parameter.empty() ? ", as Debian does when Secure Boot is on"
                              : " by " + parameter + " on its command line (/proc/cmdline)") +
           ": it refuses direct port access to every program, root included";
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
                     call + "); '" + reconfigure + "' gives it back";
}

namespace {

// The kernel starts the program without its file's capability.
std::string startedWithout(privilege::WithoutRawio cause)
{
    const std::string kernel = "the kernel started portpanel-run without its file's cap_sys_rawio";
    const std::string reach = ", to reach the portpanel group's ports";
    switch (cause) {
    case privilege::WithoutRawio::FileLacks:
        return "run '" + std::string(reconfigure) +
               "' to give portpanel-run back the cap_sys_rawio it needs" + reach +
               "\n  its file lacks cap_sys_rawio (security.capability)";
    case privilege::WithoutRawio::NoNewPrivileges:
        return "run portpanel-run where no_new_privs is not set" + reach + "\n  " + kernel +
               " because this session has no_new_privs ('setpriv --no-new-privs', systemd's "
               "NoNewPrivileges=, a sandbox)";
    case privilege::WithoutRawio::NosuidMount:
        return "install portpanel-run on a filesystem mounted without nosuid" + reach + "\n  " +
               kernel + " because its file is on a nosuid mount";
    case privilege::WithoutRawio::Traced:
        return "run portpanel-run without a debugger or strace" + reach + "\n  " + kernel +
               " because it is being traced";
    case privilege::WithoutRawio::UserNamespace:
        return "run portpanel-run outside the container or sandbox" + reach + "\n  " + kernel +
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
    return "look in the kernel's log ('sudo dmesg') for why it refused " + self() +
           " port access although it holds CAP_SYS_RAWIO\n  it may be locked down, as Debian does "
           "when Secure Boot is on; its log then says 'raw io port access is restricted'\n  " +
           call;
}

std::string portName(std::uint16_t port)
{
    char name[16];
    std::snprintf(name, sizeof name, "port 0x%04X", port);
    return name;
}

std::string notInPolicy(std::uint16_t port, const std::string &policyFile,
                        const std::string &program)
{
    char range[8];
    std::snprintf(range, sizeof range, "0x%04X", port);
    return "ask an administrator to add " + std::string(range) + " to " + policyFile + " to let " +
           program + " reach " + portName(port) +
           " through the portpanel group\n  the port helper's policy does not open it; a port "
           "listed there is as open to the group as to root";
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
