#include "Interruptions.h"

#include <algorithm>
#include <atomic>
#include <chrono>

#ifdef _WIN32
#include <windows.h>
#else
#include <cerrno>
#include <csignal>
#include <ctime>
#include <pthread.h>
#endif

namespace cli {

#ifdef _WIN32

namespace {

HANDLE interruption = nullptr;
std::atomic<bool> interrupted = false; // interruption's state, read without a call
HANDLE restored = nullptr;
DWORD kind = CTRL_C_EVENT;                 // of the last interruption
constexpr DWORD controlCExit = 0xC000013A; // what a console program ends with on Ctrl+C
constexpr DWORD longestWait = 5000;

// Runs on a thread of its own; the process may end when it returns.
BOOL WINAPI onControl(DWORD type)
{
    kind = type;
    interrupted = true;
    SetEvent(interruption);
    WaitForSingleObject(restored, longestWait);
    return TRUE;
}

} // namespace

HeldInterruptions::HeldInterruptions()
{
    interruption = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    interrupted = false;
    restored = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    SetConsoleCtrlHandler(onControl, TRUE);
}

HeldInterruptions::~HeldInterruptions()
{
    SetEvent(restored);
    if (caught_)
        ExitProcess(controlCExit);
    SetConsoleCtrlHandler(onControl, FALSE);
    CloseHandle(interruption);
    CloseHandle(restored);
}

bool HeldInterruptions::sleep(runtime::SteadyClock::duration duration)
{
    caught_ = runtime::sleepUnlessSet(duration, interruption);
    return caught_ != 0;
}

bool HeldInterruptions::cameMeanwhile()
{
    caught_ = caught_ || interrupted;
    return caught_ != 0;
}

// Windows' waits end a millisecond or a tick late, which would cap a capture
// sampled every 100 us at a thousand samples a second: spin the last stretch.
bool HeldInterruptions::hold(double milliseconds)
{
    return holdUntil(runtime::SteadyClock::now() +
                     std::chrono::duration_cast<runtime::SteadyClock::duration>(
                         std::chrono::duration<double, std::milli>(milliseconds)));
}

bool HeldInterruptions::interruptedByUser() const { return caught_ && kind == CTRL_C_EVENT; }

#else

namespace {

// Blocked, an ignored signal would be queued and taken by sigtimedwait.
bool atDefault(int signal)
{
    struct sigaction action = {};
    return sigaction(signal, nullptr, &action) == 0 && !(action.sa_flags & SA_SIGINFO) &&
           action.sa_handler == SIG_DFL;
}

sigset_t signalsOf(bool withStop)
{
    sigset_t set;
    sigemptyset(&set);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        if (atDefault(signal))
            sigaddset(&set, signal);
    if (withStop && atDefault(SIGTSTP)) // Ctrl+Z waits too, so that a stop cannot stretch the pulse
        sigaddset(&set, SIGTSTP);
    return set;
}

sigset_t before;

} // namespace

HeldInterruptions::HeldInterruptions()
{
    const sigset_t held = signalsOf(true);
    pthread_sigmask(SIG_BLOCK, &held, &before);
}

HeldInterruptions::~HeldInterruptions()
{
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
    if (caught_) // taken from the queue while held: now it acts as it would have
        raise(caught_);
}

bool HeldInterruptions::sleep(runtime::SteadyClock::duration duration)
{
    using Clock = runtime::SteadyClock;
    const sigset_t waited = signalsOf(false);
    const auto end = Clock::now() + duration;
    for (;;) {
        const auto left =
            std::chrono::duration_cast<std::chrono::nanoseconds>(end - Clock::now()).count();
        const timespec wait{static_cast<time_t>(std::max<long long>(left, 0) / 1000000000),
                            static_cast<long>(std::max<long long>(left, 0) % 1000000000)};
        const int signal = sigtimedwait(&waited, nullptr, &wait);
        if (signal > 0) {
            caught_ = signal;
            return true;
        }
        if (errno != EINTR)
            return false; // EAGAIN: the time is up
    }
}

bool HeldInterruptions::hold(double milliseconds)
{
    return sleep(std::chrono::duration_cast<runtime::SteadyClock::duration>(
        std::chrono::duration<double, std::milli>(milliseconds)));
}

bool HeldInterruptions::interruptedByUser() const { return caught_ == SIGINT; }

bool HeldInterruptions::cameMeanwhile() { return false; }

#endif

bool HeldInterruptions::holdUntil(runtime::SteadyClock::time_point deadline)
{
    return runtime::waitUntil(
               deadline, [this](runtime::SteadyClock::duration left) { return sleep(left); }) ||
           cameMeanwhile();
}

} // namespace cli
