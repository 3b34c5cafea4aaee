#include "stepclock.h"

namespace sequencer {

StepClock::StepClock(Sequencer &engine, std::mutex &engineLock, std::function<void()> priority)
    : m_engine(engine)
    , m_engineLock(engineLock)
    , m_priority(std::move(priority))
    , m_thread([this] { run(); })
{
}

StepClock::~StepClock()
{
    {
        const std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_wait.wake();
    m_thread.join();
}

void StepClock::set(bool active, int intervalMs)
{
    {
        const std::lock_guard lock(m_mutex);
        m_schedule.set(active, intervalMs, StepSchedule::Clock::now());
    }
    m_wait.wake();
}

bool StepClock::isActive() const
{
    const std::lock_guard lock(m_mutex);
    return m_schedule.active();
}

int StepClock::interval() const
{
    const std::lock_guard lock(m_mutex);
    return m_schedule.intervalMs();
}

void StepClock::setHeld(bool held)
{
    const std::lock_guard lock(m_mutex);
    m_held = held;
}

void StepClock::run()
{
    std::unique_lock lock(m_mutex);
    bool raised = false;
    while (!m_stop) {
        if (!raised && m_schedule.active() && m_priority) {
            raised = true;
            lock.unlock();
            m_priority();
            lock.lock();
        }
        // An absolute deadline on the monotonic clock: a late wake-up does
        // not move the next one.
        m_wait.waitUntil(lock, m_schedule.due());
        if (m_stop || !m_schedule.take(StepSchedule::Clock::now()) || m_held)
            continue;
        lock.unlock();
        {
            const std::lock_guard engine(m_engineLock);
            if (m_engine.timerActive())
                m_engine.tick();
        }
        if (stepped)
            stepped();
        lock.lock();
    }
}

} // namespace sequencer
