// The step clock: its schedule driven by a clock of the test's, and the
// thread that plays the engine's steps on its own.

#include "recordingport.h"
#include "portio.h"
#include "sequencer.h"
#include "stepclock.h"
#include "stepschedule.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

using namespace sequencer;
using namespace std::chrono_literals;

TEST(StepSchedule, ticksKeepToTheirDueTimesAndLateOnesAreNotMadeUp)
{
    const StepSchedule::Clock::time_point t0 {};
    struct Step
    {
        const char *what;
        std::chrono::milliseconds at;
        bool tick;           // take() at that moment
        int nextDueMs;       // due() afterwards, from t0
    };
    StepSchedule schedule;
    schedule.set(true, 50, t0);
    EXPECT_EQ(*schedule.due(), t0 + 50ms) << "the first step one interval after Start";
    const Step steps[] = {
        {"early", 49ms, false, 50},
        {"on time", 50ms, true, 100},
        {"late, but within the interval: no drift", 130ms, true, 150},
        {"late by more than an interval: the skipped tick is dropped", 260ms, true, 300},
        {"the next one on its time again", 300ms, true, 350},
    };
    for (const Step &s : steps) {
        EXPECT_EQ(schedule.take(t0 + s.at), s.tick) << s.what;
        EXPECT_EQ(*schedule.due(), t0 + std::chrono::milliseconds(s.nextDueMs)) << s.what;
    }
    schedule.set(true, 50, t0 + 310ms);
    EXPECT_EQ(*schedule.due(), t0 + 350ms) << "the same interval keeps the phase";
    schedule.set(true, 80, t0 + 310ms);
    EXPECT_EQ(*schedule.due(), t0 + 390ms) << "a new interval starts anew from now";
    schedule.set(false, 80, t0 + 320ms);
    EXPECT_FALSE(schedule.due());
    EXPECT_FALSE(schedule.take(t0 + 1000ms));
}

TEST(StepClock, playsTheEngineOnItsOwnThreadUntilStopped)
{
    portio::RecordingPort port;
    const portio::ScopedPortBackend route(port);
    Sequencer engine;
    std::mutex lock;
    engine.startUp();
    engine.clickCell(1, 0);
    std::atomic<int> stepped {0};
    StepClock clock(engine, lock);
    clock.stepped = [&stepped] { ++stepped; };
    {
        const std::lock_guard guard(lock);
        engine.start();
        clock.set(engine.timerActive(), 1);
    }
    const auto until = std::chrono::steady_clock::now() + 30s;
    while (stepped < 25 && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(1ms);
    {
        const std::lock_guard guard(lock);
        engine.stop();
        clock.set(engine.timerActive(), engine.tickIntervalMs());
    }
    ASSERT_GE(stepped.load(), 25);
    const std::vector<int> bytes = [&] {
        const std::lock_guard guard(lock);
        return port.writtenBytes();
    }();
    // Start-up's 0, then steps 1 to 20 and on (channel 1 in step 1), and
    // Stop's 0 last.
    ASSERT_GE(bytes.size(), 27u);
    EXPECT_EQ(bytes[1], 1);
    EXPECT_EQ(bytes[2], 0);
    EXPECT_EQ(bytes[21], 1) << "wrapped to step 1";
    EXPECT_EQ(bytes.back(), 0);
    const int after = stepped;
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(stepped.load(), after) << "no step after Stop";
}
