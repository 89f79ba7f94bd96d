#pragma once

#include <string>

// The ports portpanel-run granted to this process or to one of its
// ancestors: Linux keeps that permission across execve and fork.
namespace granted {

// Whether port permission for port came with the process, as far as the
// variable says: read only outside secure mode (secure_getenv), and only for
// ports the policy still lists. A variable copied into an unrelated process,
// or one whose granting process has ended, grants nothing. Whether the
// permission is real, only an access can tell: accessInChild.
bool covers(unsigned short port);

// Whether portpanel-run granted this process any port.
bool any();

// What a granted port's first access in a thread came to.
enum class Proof : unsigned char {
    Made,    // the permission is real: the access was made (a read's byte in byte)
    Refused, // the CPU refused it: the grant is forged, stale or given back
    Failed,  // no process could be started to try (errno says why)
};

// Makes the access once in a short-lived process copied from this thread,
// which inherits its port permission: its exit status carries the byte, and
// the CPU's refusal ends it with SIGSEGV there, not here. It sends this
// process no signal, and needs no handler.
Proof accessInChild(unsigned short port, bool write, unsigned char &byte);

// The grant no longer counts for port.
void forget(unsigned short port);

// The variable's value, as "PID:FIRST-LAST,...", read against pids: what
// covers reads, apart for tests. ancestry lists this process's pid, then its
// parent's, and so on.
bool covers(const std::string &value, const std::string &ancestry, unsigned short port);

} // namespace granted
