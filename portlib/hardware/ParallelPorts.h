#pragma once

#include <cstdint>
#include <string>

// The registers of the parallel ports that the kernel manages, reached
// through its parallel-port driver (ppdev, /dev/parportN, group lp).
namespace parallel {

// The port whose data, status or control register address is; -1 when it
// is not one of them.
int portHolding(std::uint16_t address);

// Opens and claims that port once, and holds it until the program ends.
// False, with the reason in why, when it cannot.
bool claim(int port, std::string &why);

void write(int port, std::uint16_t address, std::uint8_t value);
std::uint8_t read(int port, std::uint16_t address);

// Any /dev/parportN this user may open.
bool anyOpenable();

} // namespace parallel
