#pragma once

#include <string>

namespace runtime {

// Our programs never run with privilege: started with a capability or a
// setuid/setgid bit on its file, a program must refuse before it loads any
// plugin, reads any of the user's settings or reaches a port. Throws
// RuntimeError naming the program. Linux only: Windows has no such bit.
void refusePrivilege(const char *program = "portpanel");

// The refusal's words for that program's file: what to run first, then why.
std::string privilegeRefusal(const std::string &program, const std::string &file);

} // namespace runtime
