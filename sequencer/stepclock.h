#pragma once
// The step clock: plays the sequencer's steps on a thread of its own, so
// that nothing the window does (a modal box, a drag, a slow repaint) delays
// a step, and a step the window could not draw yet is still written on time.
//
// What it holds: a thread that sleeps to the absolute due times of a
// StepSchedule on the monotonic clock, and the lock that guards the engine.
// It follows the engine's timer: whoever changes whether it runs or its
// interval calls set() (the window does from its timerChanged observer, with
// the engine's lock held). Each due tick runs engine.tick() under the
// engine's lock: the engine forms the byte and writes it through LptOut,
// which hands it to the output session without waiting on a device. Then,
// with the lock let go, stepped() tells the face (the window asks for a
// redraw, the player tells its page). A tick that finds the engine's timer
// off (a Stop that came between) does nothing.
//
// The thread asks for realtime scheduling where it is granted and keeps its
// timer slack small (see realtime.h); it runs as before when neither is
// granted. The whole engine must only be touched with its lock held.

#include "sequencer.h"
#include "stepschedule.h"
#include "deadlinewait.h"

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace sequencer {

class StepClock
{
public:
    // priority: asks for the thread's priority and says what it got; run
    // on the clock's thread when the clock first runs (null: nothing asked).
    StepClock(Sequencer &engine, std::mutex &engineLock,
              std::function<void()> priority = {});
    ~StepClock(); // stops the thread and waits for it
    StepClock(const StepClock &) = delete;
    StepClock &operator=(const StepClock &) = delete;

    // Runs with intervalMs, or stops; never waits for a tick.
    void set(bool active, int intervalMs);
    bool isActive() const;
    int interval() const;

    // A held clock keeps its schedule but plays no step: whoever holds it
    // steps the engine by hand (tests do).
    void setHeld(bool held);

    // Called on the clock's thread after each tick, with the engine's lock
    // let go. Set before the clock first runs.
    std::function<void()> stepped;

private:
    void run();

    Sequencer &m_engine;
    std::mutex &m_engineLock;
    std::function<void()> m_priority;
    mutable std::mutex m_mutex; // guards the schedule and m_stop
    portio::DeadlineWait m_wait;
    StepSchedule m_schedule;
    bool m_stop = false;
    bool m_held = false;
    std::thread m_thread;
};

} // namespace sequencer
