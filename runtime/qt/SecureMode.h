#pragma once

namespace runtime {

// The window never runs with privilege: started with a capability or a
// setuid/setgid bit on its file, it must refuse before the toolkit loads
// any plugin or reads any of the user's settings. Throws RuntimeError.
void refusePrivilege();

} // namespace runtime
