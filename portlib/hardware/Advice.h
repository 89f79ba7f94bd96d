#pragma once

#include <cstdint>
#include <string>

// Words for a refused port and for what would grant it: the same for the
// library's refusals and for a program that lists the ports this user may
// reach.
namespace advice {

// What grants access to what ("this port", "the ports"), for a register that
// the parallel-port driver reaches or not, on a kernel with or without
// user-space port access.
std::string grant(bool kernelLacksPortAccess, bool parallelRegister, const std::string &what,
                  const std::string &policyFile);

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
