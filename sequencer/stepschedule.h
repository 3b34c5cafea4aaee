#pragma once
// When the steps are due: the step timer's schedule, without a thread or a
// clock of its own, so that it can be driven by any clock.
//
// Tick n comes interval * n after start, however late the tick before it was
// handled, so the steps do not drift; a tick late by more than a whole
// interval is not made up (the ticks it skipped are dropped, as a window
// timer drops them). A new interval begins the schedule anew from the moment
// it is set; setting the interval a running schedule has keeps its phase.

#include <chrono>
#include <optional>

namespace sequencer {

class StepSchedule
{
public:
    using Clock = std::chrono::steady_clock;

    // Runs with interval (milliseconds, at least 1) from now, or stops.
    void set(bool active, int intervalMs, Clock::time_point now);

    bool active() const { return m_due.has_value(); }
    int intervalMs() const { return m_intervalMs; }
    // The next tick's due time; nothing while stopped.
    std::optional<Clock::time_point> due() const { return m_due; }

    // Called at now, at or after due(): whether a tick is due, and if so the
    // schedule moves on to the next one.
    bool take(Clock::time_point now);

private:
    std::optional<Clock::time_point> m_due;
    int m_intervalMs = 0;
};

} // namespace sequencer
