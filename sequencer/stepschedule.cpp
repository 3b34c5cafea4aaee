#include "stepschedule.h"

#include <algorithm>

namespace sequencer {

void StepSchedule::set(bool active, int intervalMs, Clock::time_point now)
{
    if (!active) {
        m_due.reset();
        m_intervalMs = intervalMs;
        return;
    }
    if (m_due && intervalMs == m_intervalMs)
        return;
    m_intervalMs = std::max(intervalMs, 1);
    m_due = now + std::chrono::milliseconds(m_intervalMs);
}

bool StepSchedule::take(Clock::time_point now)
{
    if (!m_due || now < *m_due)
        return false;
    const auto interval = std::chrono::milliseconds(m_intervalMs);
    *m_due += interval;
    if (*m_due <= now) // late by more than an interval: the ticks in between are dropped
        *m_due += ((now - *m_due) / interval + 1) * interval;
    return true;
}

} // namespace sequencer
