#pragma once

#include "PreciseWait.h"

// While one lives, the interruptions that end a run (Ctrl+C, SIGTERM, SIGHUP,
// SIGQUIT, a closed console) wait: hold() returns early when one comes, and it
// takes effect only when this ends, after the caller has put things back.
// A signal that was ignored when the program started (nohup, a script's
// background job) stays ignored: only those at their default are held.
// One at a time, on the main thread.
namespace cli {

class HeldInterruptions {
  public:
    HeldInterruptions();
    ~HeldInterruptions();
    HeldInterruptions(const HeldInterruptions &) = delete;
    HeldInterruptions &operator=(const HeldInterruptions &) = delete;

    // Waits milliseconds; true at once when an interruption came.
    bool hold(double milliseconds);
    // Waits until deadline to within microseconds; true at once when an interruption came.
    bool holdUntil(runtime::SteadyClock::time_point deadline);

    // Ctrl+C came (SIGINT; on Windows the console's Ctrl+C).
    [[nodiscard]] bool interruptedByUser() const;
    // The run has ended as Ctrl+C asked: it does not end the program when this ends.
    void dismiss() { caught_ = 0; }

  private:
    int caught_ = 0;
};

} // namespace cli
