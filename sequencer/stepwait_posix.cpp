#include "stepwait.h"

#include <condition_variable>

namespace sequencer {

struct StepWait::Platform
{
    // libstdc++ waits on steady_clock with pthread_cond_clockwait on
    // CLOCK_MONOTONIC: an absolute deadline that no change of the wall
    // clock moves.
    std::condition_variable changed;
};

StepWait::StepWait()
    : m_platform(std::make_unique<Platform>())
{
}

StepWait::~StepWait() = default;

void StepWait::waitUntil(std::unique_lock<std::mutex> &lock, std::optional<Clock::time_point> deadline)
{
    if (deadline)
        m_platform->changed.wait_until(lock, *deadline);
    else
        m_platform->changed.wait(lock);
}

void StepWait::wake()
{
    m_platform->changed.notify_all();
}

} // namespace sequencer
