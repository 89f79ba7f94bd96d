#include "PreciseWait.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <ctime>
#endif

namespace runtime {
namespace {

#ifdef _WIN32
// Sleep() ends on the system's tick, up to 15.6 ms late: spin longer than that.
constexpr auto spun = std::chrono::milliseconds(16);
#else
// Linux's sleeps end up to about a millisecond late on a busy machine.
constexpr auto spun = std::chrono::microseconds(1500);
#endif

} // namespace

#ifdef _WIN32
void sleepFor(SteadyClock::duration duration)
{
    Sleep(static_cast<DWORD>(
        std::chrono::duration_cast<std::chrono::milliseconds>(duration).count()));
}
#else
void sleepFor(SteadyClock::duration duration)
{
    const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(duration).count();
    timespec left{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    while (clock_nanosleep(CLOCK_MONOTONIC, 0, &left, &left) == EINTR) {
    }
}
#endif

bool waitUntil(SteadyClock::time_point deadline,
               const std::function<bool(SteadyClock::duration)> &sleep)
{
    for (auto left = deadline - SteadyClock::now() - spun; left.count() > 0;
         left = deadline - SteadyClock::now() - spun) {
        if (!sleep)
            sleepFor(left);
        else if (sleep(left))
            return true;
    }
    while (SteadyClock::now() < deadline) {
    }
    return false;
}

} // namespace runtime
