#pragma once

// Ctrl-C, SIGTERM and SIGHUP during a run that changes data: noted instead
// of ending the process at once, so that the run stops where nothing is
// half-written (its temporary files removed, its transaction rolled back)
// and the program then exits with 128 + the signal's number.

namespace vark::app {

/// While one lives, SIGINT, SIGTERM and SIGHUP are noted (Signal()); the
/// handlers that were there come back when it is destroyed. One at a time.
class InterruptionGuard {
public:
    InterruptionGuard();
    ~InterruptionGuard();
    InterruptionGuard(const InterruptionGuard&) = delete;
    InterruptionGuard& operator=(const InterruptionGuard&) = delete;

    /// The signal noted since the guard was made, 0 when none.
    static int Signal();
};

}  // namespace vark::app
