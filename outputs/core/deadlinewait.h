#pragma once
// How a thread of its own sleeps to an absolute time: the step clock's
// thread to its next step, the monitor's reading to its next 10 ms mark.
// Until a time on the monotonic clock, or until woken, whichever comes
// first. One file per platform: Linux waits on a futex with an absolute
// deadline on the monotonic clock (the kernel's timer slack is its only
// lateness); Windows on a high-resolution waitable timer and an event, since
// its other waits round to the system's timer tick of up to 15.6 ms.

#include <chrono>
#include <memory>
#include <mutex>
#include <optional>

namespace portio {

class DeadlineWait
{
public:
    using Clock = std::chrono::steady_clock;

    DeadlineWait();
    ~DeadlineWait();
    DeadlineWait(const DeadlineWait &) = delete;
    DeadlineWait &operator=(const DeadlineWait &) = delete;

    // lock is held on entry and on return and let go while waiting; returns
    // at deadline (none: only when woken), when woken, or now and then for
    // nothing: the caller checks what it waits for.
    void waitUntil(std::unique_lock<std::mutex> &lock, std::optional<Clock::time_point> deadline);
    // Ends a wait in progress at once, and one that begins after the waiter
    // looked at its state: change that state under the waiter's mutex, then
    // wake.
    void wake();

private:
    struct Platform;
    std::unique_ptr<Platform> m_platform;
};

} // namespace portio
