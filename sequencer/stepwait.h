#pragma once
// How the step clock's thread sleeps: until an absolute time on the
// monotonic clock, or until woken, whichever comes first. One file per
// platform: POSIX waits on a condition variable bound to the monotonic clock
// (the kernel's timer slack, which realtime.h makes small, is its only
// lateness); Windows on a high-resolution waitable timer and an event, since
// its other waits round to the system's timer tick of up to 15.6 ms.

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>

namespace sequencer {

class StepWait
{
public:
    using Clock = std::chrono::steady_clock;

    StepWait();
    ~StepWait();
    StepWait(const StepWait &) = delete;
    StepWait &operator=(const StepWait &) = delete;

    // lock is held on entry and on return and let go while waiting; returns
    // at deadline (none: only when woken), when woken, or now and then for
    // nothing: the caller checks what it waits for.
    void waitUntil(std::unique_lock<std::mutex> &lock, std::optional<Clock::time_point> deadline);
    // Ends a wait in progress, or the next one, at once.
    void wake();

private:
    struct Platform;
    std::unique_ptr<Platform> m_platform;
};

} // namespace sequencer
