#pragma once

#include "PortFinder.h"

#include <functional>
#include <sys/types.h>

// The Linux side: what the kernel's files say, and the route this user gets
// to each port, decided as the hardware library decides it.
namespace finder::onlinux {

// What this user may do. A test gives one of its own.
struct Identity {
    bool rawio = false;       // CAP_SYS_RAWIO: ioperm and /dev/port
    bool kernelIoperm = true; // the kernel has ioperm (CONFIG_X86_IOPL_IOPERM)
    std::function<bool(const std::string &path, int mode)> may; // access(2) for this user
    bool inLp = false;                                          // in the lp group now
};

struct System {
    std::string root; // "" on the machine, a tree of a test's own
    Identity who;
    std::string helper;        // the helper's file, under root
    std::string policyFile;    // the helper's policy, under root
    uid_t policyOwner = 0;     // who must own it
    std::string lockdown;      // the kernel's lockdown level; empty where not known
    bool helperCapable = true; // the helper's file starts it with cap_sys_rawio
    std::string run; // portpanel-run's file with its capability, under root; empty for none
    std::function<bool(std::uint16_t port)> granted; // portpanel-run gave this process the port
    std::string lockdownParameter; // "lockdown=..." on the kernel's command line; empty for none
};

// This user on this machine, with the kernel's files under root.
System thisSystem(const std::string &root);

std::vector<FoundPort> find(const System &system);

// The kernel's lockdown level, and what it means where it is in force.
Restrictions restrictions(const System &system);

} // namespace finder::onlinux
