#pragma once

#include <cstdint>

// The two entry points of the port library, each bound at its first call.
namespace portio
{

void Out32(std::int16_t port, std::int16_t value);
std::int16_t Inp32(std::int16_t port);

} // namespace portio
