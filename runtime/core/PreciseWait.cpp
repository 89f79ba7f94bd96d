#include "PreciseWait.h"

#ifdef _WIN32
#include <algorithm>
#include <atomic>
#include <windows.h>
#else
#include <cerrno>
#include <ctime>
#endif

namespace runtime {
namespace {

#ifdef _WIN32
using CreateTimer = HANDLE(WINAPI *)(LPSECURITY_ATTRIBUTES, LPCWSTR, DWORD, DWORD);
constexpr DWORD highResolution = 0x2; // CREATE_WAITABLE_TIMER_HIGH_RESOLUTION

struct Timer {
    HANDLE handle;
    bool fine; // high resolution: it ends within about a millisecond
};

// The program's one timer, made at its first wait. Windows 7 has
// CreateWaitableTimerExW but refuses the flag; Windows 10 1803 on takes it.
const Timer &timer()
{
    static const Timer made = [] {
        const FARPROC found =
            GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "CreateWaitableTimerExW");
        const auto create = reinterpret_cast<CreateTimer>(reinterpret_cast<void (*)()>(found));
        if (HANDLE fine =
                create ? create(nullptr, nullptr, highResolution, TIMER_ALL_ACCESS) : nullptr)
            return Timer{fine, true};
        return Timer{CreateWaitableTimerW(nullptr, TRUE, nullptr), false};
    }();
    return made;
}

// How late a timer has ended, at worst, in this run (under wine a
// high-resolution timer ends milliseconds late): the spun stretch grows by it.
std::atomic<SteadyClock::rep> lateness{0};

// A high-resolution timer ends within about a millisecond; another ends on
// the system's tick, up to 15.6 ms late: spin longer than that.
SteadyClock::duration spun()
{
    using std::chrono::milliseconds;
    const SteadyClock::duration late(lateness.load());
    return timer().fine ? std::min<SteadyClock::duration>(milliseconds(2) + late, milliseconds(16))
                        : SteadyClock::duration(milliseconds(16));
}

// Each sleep is for half of what is left, down to a millisecond, so that a
// late end seen on the way still leaves time to spin.
SteadyClock::duration slice(SteadyClock::duration duration)
{
    const SteadyClock::duration least = std::chrono::milliseconds(1);
    return std::min(duration, std::max(duration / 2, least));
}

void learn(SteadyClock::time_point due)
{
    const SteadyClock::rep late = (SteadyClock::now() - due).count();
    for (SteadyClock::rep worst = lateness.load();
         late > worst && !lateness.compare_exchange_weak(worst, late);) {
    }
}
#else
// Linux's sleeps end up to about a millisecond late on a busy machine.
SteadyClock::duration spun() { return std::chrono::microseconds(1500); }
#endif

} // namespace

#ifdef _WIN32
bool sleepUnlessSet(SteadyClock::duration duration, void *event)
{
    duration = slice(duration);
    const HANDLE handles[] = {event, timer().handle};
    // Relative, in 100 ns units; at least one, as zero would not wait at all.
    LARGE_INTEGER due{};
    due.QuadPart = -std::max<LONGLONG>(
        1, std::chrono::duration_cast<std::chrono::nanoseconds>(duration).count() / 100);
    const auto end = SteadyClock::now() + duration;
    if (handles[1] && SetWaitableTimer(handles[1], &due, 0, nullptr, nullptr, FALSE)) {
        const bool set = event
                             ? WaitForMultipleObjects(2, handles, FALSE, INFINITE) == WAIT_OBJECT_0
                             : (WaitForSingleObject(handles[1], INFINITE), false);
        if (!set)
            learn(end);
        return set;
    }
    const auto ms = static_cast<DWORD>(
        std::chrono::ceil<std::chrono::milliseconds>(duration).count()); // no timer: whole ms
    return event ? WaitForSingleObject(event, ms) == WAIT_OBJECT_0 : (Sleep(ms), false);
}

void sleepFor(SteadyClock::duration duration) { sleepUnlessSet(duration, nullptr); }
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
    for (auto left = deadline - SteadyClock::now() - spun(); left.count() > 0;
         left = deadline - SteadyClock::now() - spun()) {
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
