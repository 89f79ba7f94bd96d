#pragma once

#include "Policy.h"

#include <string>

// What the helper and portpanel-run share: port permission for a policy's
// ports, and then giving up every privilege.
namespace helper {

// Port permission for exactly the open ranges; 0 or the failing call's errno.
int takePermission(const PortSet &open);

// Back to the caller's own ids with no capability left, none to be gained by
// a later execve; the call that failed, or null.
const char *dropPrivilege();

// The open ranges as "0x378-0x37F,0x3F8-0x3FF"; empty for none.
std::string ranges(const PortSet &open);

} // namespace helper
