#pragma once

#include <string>

// The ports portpanel-run granted to this process or to one of its
// ancestors: Linux keeps that permission across execve and fork.
namespace granted {

// Whether port permission for port came with the process. A variable copied
// into an unrelated process, or one whose granting process has ended, grants
// nothing.
bool covers(unsigned short port);

// Whether portpanel-run granted this process any port.
bool any();

// The variable's value, as "PID:FIRST-LAST,...", read against pids: what
// covers reads, apart for tests. ancestry lists this process's pid, then its
// parent's, and so on.
bool covers(const std::string &value, const std::string &ancestry, unsigned short port);

} // namespace granted
