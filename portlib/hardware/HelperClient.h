#pragma once

#include "Advice.h"

#include <cstdint>
#include <string>

// Ports beyond this user's own reach, through portpanel-helper, which
// members of the portpanel group may run.
namespace helperclient {

// The helper's file: its installed path, or PORTPANEL_HELPER, which is
// ignored in secure-execution mode. Not thread-safe: the library calls this
// under its one lock.
const char *path();

// Starts the helper once and keeps it. False, with the reason in why, when
// it cannot be started or will not serve; the reason is kept.
bool start(std::string &why);

// What the helper can do for this user, as its start found: NotRun before
// it is started or where its file cannot be run.
advice::Helper standing();

// One exchange, ended within about a second, the end of a helper that stops
// answering included. False, with words in why, when the helper does not
// serve that port, or once it has gone (it is killed if need be and reaped
// then, and every later exchange is refused).
bool out(std::uint16_t port, std::uint8_t value, std::string &why);
bool in(std::uint16_t port, std::uint8_t &value, std::string &why);

// In a child after fork: the parent's helper stays the parent's; the child
// starts its own when it needs one.
void forgetAfterFork();

} // namespace helperclient
