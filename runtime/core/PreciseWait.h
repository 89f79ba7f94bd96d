#pragma once

#include <chrono>
#include <functional>

// Waits that keep to a few microseconds, for a pulse's width: no system's
// sleep does (a sleep ends tens of microseconds late on Linux, a tick late on
// Windows), so the last stretch is spent reading the monotonic clock.
namespace runtime {

using SteadyClock = std::chrono::steady_clock;

// The system's finest sleep, for about that long.
void sleepFor(SteadyClock::duration duration);

// Sleeps until shortly before deadline, by sleep (the caller's, which may end
// early and say so with true, on an interruption) or else by sleepFor, then
// spins to the deadline. True when sleep said it ended early.
bool waitUntil(SteadyClock::time_point deadline,
               const std::function<bool(SteadyClock::duration)> &sleep = {});

} // namespace runtime
