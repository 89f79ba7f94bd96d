#pragma once

#include <cstdint>
#include <string>

namespace cli {

// The file the port library was loaded from; call after a port access bound it.
std::string boundLibraryFile();

// The route the port finder says this user gets to a port, or that it lists
// no such port.
std::string routeOf(std::uint16_t port);

} // namespace cli
