#pragma once

#include <bitset>
#include <string>
#include <sys/types.h>

// Which ports the helper serves. By default the registers of every parallel
// port the kernel knows, the standard parallel and serial ranges, and the I/O
// ranges of PCI serial, parallel and multiport serial controllers; nothing
// that can harm the machine (PCI configuration, DMA, interrupt and reset
// registers). An administrator opens more in the policy file.
namespace helper {

using PortSet = std::bitset<0x10000>;

struct Policy {
    std::string root; // "" on the machine; a tree of a test's own
    std::string file; // the policy file, such as /etc/portpanel/ports
    uid_t owner = 0;  // who must own it and its folder: root
};

// Fills open, or returns why the helper must not serve: a policy file that
// is not trusted (not a regular file, not the owner's, or writable by anyone
// else, its group included, as its folder must not be either), that cannot
// be read, or that has a line it cannot read.
std::string readPolicy(const Policy &policy, PortSet &open);

} // namespace helper
