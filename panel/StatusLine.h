#pragma once

#include <cstdint>
#include <string>

namespace panel {

// "Port = " + the address as typed + " Value = " + the value read.
std::string statusLine(const std::string &addressText, std::int16_t valueRead);

} // namespace panel
