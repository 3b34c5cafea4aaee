#include "deadlinewait.h"

#include <linux/futex.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <climits>
#include <cstdint>
#include <ctime>

namespace portio {

// A futex on a generation count: wake() counts it up and wakes; a wait that
// began before sees the count moved and returns at once, so no wake is lost
// between the caller's look at its state and the wait. The wait is one
// system call with an absolute deadline on CLOCK_MONOTONIC (the clock of
// libstdc++'s steady_clock), and the caller's mutex is taken back without
// the wake-up a condition variable's return costs: the monitor's reading
// wakes a hundred times a second for as long as its window is open.
struct DeadlineWait::Platform
{
    std::atomic<std::uint32_t> generation {0};
    static_assert(sizeof(std::atomic<std::uint32_t>) == sizeof(std::uint32_t));
    static_assert(std::atomic<std::uint32_t>::is_always_lock_free);

    std::uint32_t *word() { return reinterpret_cast<std::uint32_t *>(&generation); }
};

DeadlineWait::DeadlineWait()
    : m_platform(std::make_unique<Platform>())
{
}

DeadlineWait::~DeadlineWait() = default;

void DeadlineWait::waitUntil(std::unique_lock<std::mutex> &lock, std::optional<Clock::time_point> deadline)
{
    const std::uint32_t seen = m_platform->generation.load(std::memory_order_acquire);
    timespec due {};
    if (deadline) {
        const auto ns = std::chrono::duration_cast<std::chrono::nanoseconds>(deadline->time_since_epoch()).count();
        due.tv_sec = time_t(ns / 1'000'000'000);
        due.tv_nsec = long(ns % 1'000'000'000);
    }
    lock.unlock();
    // Returns at the deadline (ETIMEDOUT), when woken, when the count moved
    // before the wait began (EAGAIN) or for a signal (EINTR): all of them a
    // return to the caller, who looks again.
    if (deadline)
        ::syscall(SYS_futex, m_platform->word(), FUTEX_WAIT_BITSET_PRIVATE, seen, &due, nullptr,
                  FUTEX_BITSET_MATCH_ANY);
    else
        ::syscall(SYS_futex, m_platform->word(), FUTEX_WAIT_PRIVATE, seen, nullptr, nullptr, 0);
    lock.lock();
}

void DeadlineWait::wake()
{
    m_platform->generation.fetch_add(1, std::memory_order_release);
    ::syscall(SYS_futex, m_platform->word(), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
}

} // namespace portio
