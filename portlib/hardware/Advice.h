#pragma once

#include "Privilege.h"

#include <cstdint>
#include <string>
#include <vector>

// Words for a refused port and for what would grant it: the same for the
// library's refusals and for a program that lists the ports this user may
// reach.
namespace advice {

// A refusal in two parts: what is refused and the one thing most likely to
// help, then each route tried with its reason.
struct Refusal {
    struct Tried {
        std::string route, why;
    };
    std::string action;
    std::vector<Tried> routes;
};

// The action on its own line, then one indented line per route: for a box
// and for standard error.
std::string lines(const Refusal &refusal);

// All on one line, for a list of ports.
std::string oneLine(const Refusal &refusal);

// What the helper can do for this user.
enum class Helper : std::uint8_t {
    NotRun,          // not in the portpanel group (the helper's file cannot be run)
    Missing,         // not installed: joining the group would not help
    Refused,         // it runs but did not serve, for the reason in its route
    LacksCapability, // its file lost cap_sys_rawio, so the kernel refuses it
    KernelRefused,   // the kernel refused it although its file has the capability
    Serves,          // it serves, but not this port (its policy)
};

// Who asks and what the kernel allows: what decides the one action.
struct Situation {
    std::string lockdown; // the level in force; empty where not known
    bool kernelLacksPortAccess = false;
    bool parallelRegister = false; // the parallel-port driver reaches it
    bool inLp = false;
    bool driverNotLoaded = false; // the kernel has parallel ports but no /dev/parportN
    Helper helper = Helper::NotRun;
    bool everyPort = false; // asked for the ports at all, not one port
};

// The first line: what to do to reach what ("this port", "the ports").
std::string action(const Situation &situation, const std::string &what,
                   const std::string &policyFile);

// The kernel is locked down: what it refuses, for a route's reason.
std::string lockedDown(const std::string &level);

// The same, short, for the reason of root's routes.
std::string lockedOut(const std::string &level);

// Why the helper (or who) could not take port permission (an errno), knowing
// whether its file carries the capability that it needs.
std::string helperRefused(int error, bool fileHasCapability, const std::string &who = "the helper");

// Why portpanel-run could not take port permission: why it was started
// without cap_sys_rawio, or, while it holds it, the kernel's ioperm error,
// read with the lockdown level ("" where the lockdown file is not there).
std::string launcherRefused(privilege::WithoutRawio cause, int error, const std::string &lockdown);

// Root's own ioperm refused while the capability is held, the lockdown level
// not known.
std::string iopermRefused(int error, bool capabilityHeld);

// The helper runs but its policy does not open the port.
std::string notInPolicy(std::uint16_t port, const std::string &policyFile);

// A parallel port's device (/dev/parportN) held by someone: "lp0", "ppdev0";
// "none" or empty when the name is not known. how: "in use by ", "held
// exclusively by ".
std::string inUse(const std::string &device, const std::string &holder,
                  const char *how = "in use by ");

// A parallel port's device that cannot be opened, and why.
std::string openFailed(const std::string &device, int error);

} // namespace advice
