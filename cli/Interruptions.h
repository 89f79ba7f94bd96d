#pragma once

// While one lives, the interruptions that end a run (Ctrl+C, SIGTERM, SIGHUP,
// SIGQUIT, a closed console) wait: hold() returns early when one comes, and it
// takes effect only when this ends, after the caller has put things back.
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

  private:
    int caught_ = 0;
};

} // namespace cli
