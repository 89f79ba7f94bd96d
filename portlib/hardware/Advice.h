#pragma once

#include "Privilege.h"

#include <cstdint>
#include <string>
#include <vector>

// Words for a refused port and for what would grant it: the same for the
// library's refusals and for a program that lists the ports this user may
// reach.
namespace advice {

// A refusal: the one thing most likely to help, as an instruction that names
// the program and the port; then the reasons and the other routes, one each;
// then each route tried with its reason.
struct Refusal {
    struct Tried {
        std::string route, why;
    };
    std::string action;
    std::vector<std::string> notes;
    std::vector<Tried> routes;
};

// The action on its own line, then one indented line per note and per route:
// for a box and for standard error.
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

// The program this process runs, as its user started it: the name a
// refusal gives it.
std::string self();

// Who asks and what the kernel allows: what decides the one action.
struct Situation {
    std::string program;  // who asks: "portpanel-io"
    std::string lockdown; // the level in force; empty where not known
    // The kernel's command-line parameter that locked it down
    // ("lockdown=integrity"); empty when Secure Boot did.
    std::string lockdownParameter;
    bool kernelLacksPortAccess = false;
    bool parallelRegister = false; // the parallel-port driver reaches it
    bool inLp = false;
    bool driverNotLoaded = false; // the kernel has parallel ports but no /dev/parportN
    Helper helper = Helper::NotRun;
    bool everyPort = false; // asked for the ports at all, not one port
};

// The first line and its notes (no routes yet): what to do to reach what
// ("port 0x0378", "the I/O ports").
Refusal action(const Situation &situation, const std::string &what, const std::string &policyFile);

// The kernel is locked down: what lifts the lockdown, with its notes.
Refusal unlock(const Situation &situation, const std::string &what);

// The kernel is locked down: what it refuses, and what locked it (Secure Boot,
// or the parameter on its command line), for a reason's line.
std::string lockedDown(const std::string &level, const std::string &parameter = "");

// The same, short, for the reason of root's routes.
std::string lockedOut(const std::string &level);

// Why the helper (or who) could not take port permission (an errno), knowing
// whether its file carries the capability that it needs.
std::string helperRefused(int error, bool fileHasCapability, const std::string &who = "the helper");

// The step that gives the package's privileged files their capability back.
extern const char *const reconfigure;

// Why portpanel-run could not take port permission: why it was started
// without cap_sys_rawio, or, while it holds it, the kernel's ioperm error,
// read with the lockdown level ("" where the lockdown file is not there).
std::string launcherRefused(privilege::WithoutRawio cause, int error, const std::string &lockdown);

// Root's own ioperm refused while the capability is held, the lockdown level
// not known.
std::string iopermRefused(int error, bool capabilityHeld);

// The helper runs but its policy does not open the port: what an
// administrator does, then why it is enough.
std::string notInPolicy(std::uint16_t port, const std::string &policyFile,
                        const std::string &program = self());

// "port 0x0378".
std::string portName(std::uint16_t port);

// A parallel port's device (/dev/parportN) held by someone: "lp0", "ppdev0";
// "none" or empty when the name is not known. how: "in use by ", "held
// exclusively by ".
std::string inUse(const std::string &device, const std::string &holder,
                  const char *how = "in use by ");

// A parallel port's device that cannot be opened, and why.
std::string openFailed(const std::string &device, int error);

} // namespace advice
