#pragma once

#include "Policy.h"

#include <string>

// The system-call filter portpanel-run leaves on the program it starts, so
// that programs written for root's ioperm work unchanged: ioperm for granted
// ports is answered with success (the permission is already there), for any
// other port with EPERM; a give-back (ioperm(..., 0)) is answered with
// success and keeps the permission, so that the port library's inline path
// stays valid; iopl is refused with EPERM, or answered with success when
// ioplSucceeds, for programs that raise it and then touch only granted ports.
// The filter stays on the process and everything it starts.
namespace helper {

// Installs the filter, once no_new_privs is set (the kernel takes a filter
// from an unprivileged process only then); empty, or why it could not.
std::string filterPortCalls(const PortSet &granted, bool ioplSucceeds);

} // namespace helper
