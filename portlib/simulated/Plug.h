#pragma once

#include <cstdint>

// The simulated PC's parallel port at 0x378 as its pins see it: a loopback
// plug and faults can be fitted through the environment, as the README says.
namespace simulated {

void write(std::uint16_t port, std::uint8_t value);
// What the port reads; a port that is not there reads 0xFF.
std::uint8_t read(std::uint16_t port);

} // namespace simulated
