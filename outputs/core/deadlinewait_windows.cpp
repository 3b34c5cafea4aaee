#include "deadlinewait.h"

#include <windows.h>

#include <algorithm>

namespace portio {

#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

struct DeadlineWait::Platform
{
    HANDLE timer = nullptr;
    HANDLE woken = nullptr; // auto-reset: a wake before the wait is kept
};

DeadlineWait::DeadlineWait()
    : m_platform(std::make_unique<Platform>())
{
    // High resolution where Windows has it (10 1803 and later); elsewhere a
    // plain waitable timer, as exact as the system's timer tick.
    m_platform->timer = ::CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                                 TIMER_ALL_ACCESS);
    if (!m_platform->timer)
        m_platform->timer = ::CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
    m_platform->woken = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
}

DeadlineWait::~DeadlineWait()
{
    ::CloseHandle(m_platform->timer);
    ::CloseHandle(m_platform->woken);
}

void DeadlineWait::waitUntil(std::unique_lock<std::mutex> &lock, std::optional<Clock::time_point> deadline)
{
    DWORD count = 1;
    HANDLE handles[2] = {m_platform->woken, m_platform->timer};
    if (deadline) {
        const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(*deadline - Clock::now());
        // Negative: relative, in units of 100 ns.
        LARGE_INTEGER due {};
        due.QuadPart = -std::max<long long>(1, left.count() / 100);
        if (::SetWaitableTimer(m_platform->timer, &due, 0, nullptr, nullptr, FALSE))
            count = 2;
    }
    lock.unlock();
    ::WaitForMultipleObjects(count, handles, FALSE, deadline && count == 1 ? 1 : INFINITE);
    lock.lock();
}

void DeadlineWait::wake()
{
    ::SetEvent(m_platform->woken);
}

} // namespace portio
