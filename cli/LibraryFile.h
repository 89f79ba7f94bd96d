#pragma once

#include <cstdint>
#include <string>

namespace cli {

// The file the port library was loaded from; call after a port access bound it.
std::string boundLibraryFile();

// The route the bound library took to a port, as it names it; call after an
// access to that port.
std::string routeOf(std::uint16_t port);

} // namespace cli
