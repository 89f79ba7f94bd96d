#pragma once

#include <cstdint>
#include <string>

// The registers of the parallel ports that the kernel manages, reached
// through its parallel-port driver (ppdev, /dev/parportN, group lp).
namespace parallel {

// The port whose data, status or control register address is; -1 when it
// is not one of them.
int portHolding(std::uint16_t address);

enum class Claim : std::uint8_t { Held, InUse, Refused };

// Opens and claims that port once, and holds it until the program ends.
// Another program's claim is waited for about a second, then the port is
// InUse. The reason for InUse or Refused is in why, and is kept.
Claim claim(int port, std::string &why);

// False, with the failed driver call and its error in why, when the driver
// refuses the access.
bool write(int port, std::uint16_t address, std::uint8_t value, std::string &why);
bool read(int port, std::uint16_t address, std::uint8_t &value, std::string &why);

// Any /dev/parportN this user may open.
bool anyOpenable();

} // namespace parallel
