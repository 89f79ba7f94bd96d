#pragma once

#include <cstdint>
#include <string>

// Ports beyond this user's own reach, through portpanel-helper, which
// members of the portpanel group may run.
namespace helperclient {

// The helper's file: its installed path, or PORTPANEL_HELPER in a test
// build, which is ignored in secure-execution mode.
const char *path();

// Starts the helper once and keeps it. False, with the reason in why, when
// it cannot be started or cannot take port permission; the reason is kept.
bool start(std::string &why);

// False, with the failed exchange and how the helper ended in why, once the
// helper has gone; it is reaped then.
bool out(std::uint16_t port, std::uint8_t value, std::string &why);
bool in(std::uint16_t port, std::uint8_t &value, std::string &why);

} // namespace helperclient
