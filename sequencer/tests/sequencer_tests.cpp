#include "sequencer.h"
#include "steptime.h"

#include "portio.h"
#include "recordingport.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace sequencer;
using portio::RecordingPort;

namespace {

// A sequencer that has been through start-up, with its port recorded.
struct Rig
{
    RecordingPort port;
    portio::ScopedPortBackend scope{port};
    Sequencer seq;

    Rig()
    {
        seq.startUp();
        port.clear();
    }

    // Cells such that the code of step index i is i + 1, so every written
    // byte names the step it came from.
    void numberTheSteps()
    {
        for (int index = 0; index < StepCount; ++index)
            for (int channel = 1; channel <= ChannelCount; ++channel)
                seq.setCell(channel, index, ((index + 1) >> (channel - 1)) & 1);
    }

    std::vector<int> run(int ticks)
    {
        std::vector<int> progress;
        for (int i = 0; i < ticks; ++i) {
            seq.tick();
            progress.push_back(seq.progress());
        }
        return progress;
    }
};

std::vector<int> concat(std::initializer_list<std::vector<int>> parts)
{
    std::vector<int> all;
    for (const auto &part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

std::vector<int> range(int from, int to)
{
    std::vector<int> values;
    for (int v = from; v <= to; ++v)
        values.push_back(v);
    return values;
}

} // namespace

TEST(StepGrid, codeIsTheSumOfTheWeightsOfCellsThatHoldOne)
{
    struct Case { std::vector<std::pair<int, int>> cells; int code; };
    const Case cases[] = {
        {{}, 0},
        {{{1, 1}, {2, 1}, {3, 1}, {4, 1}, {5, 1}, {6, 1}, {7, 1}, {8, 1}}, 255},
        {{{8, 1}}, 128},
        {{{1, 1}}, 1},
        {{{1, 1}, {3, 1}}, 5},
        {{{1, 2}, {2, 1}}, 2},   // greyed counts as off
        {{{4, 7}, {5, -1}}, 0},  // so does any other value
    };
    for (const Case &c : cases) {
        StepGrid grid;
        for (auto [channel, value] : c.cells)
            grid.setCell(channel, 3, std::int16_t(value));
        EXPECT_EQ(grid.lptCode(3), c.code);
        EXPECT_EQ(grid.lptCode(4), 0);
    }
}

TEST(StepEngine, walksTheActiveRangeAndWraps)
{
    struct Case { int first, last, ticks; std::vector<int> steps; };
    const Case cases[] = {
        {1, 20, 23, concat({range(1, 20), {1, 2, 3}})},
        {5, 8, 10, {5, 6, 7, 8, 5, 6, 7, 8, 5, 6}},
        {19, 20, 5, {19, 20, 19, 20, 19}},
    };
    for (const Case &c : cases) {
        Rig rig;
        rig.numberTheSteps();
        rig.seq.setLastActiveStep(std::int16_t(c.last));
        rig.seq.setFirstActiveStep(std::int16_t(c.first));
        rig.seq.start();
        EXPECT_TRUE(rig.port.writtenBytes().empty()) << "Start itself outputs nothing";
        EXPECT_EQ(rig.run(c.ticks), c.steps) << "progress, range " << c.first << "-" << c.last;
        EXPECT_EQ(rig.port.writtenBytes(), c.steps) << "port, range " << c.first << "-" << c.last;
        EXPECT_EQ(rig.seq.codeText(), std::to_string(c.steps.back()));
    }
}

TEST(StepEngine, rangeChangesWhileRunning)
{
    // Lowering the last step below the step about to be output wraps at once.
    Rig lower;
    lower.numberTheSteps();
    lower.seq.start();
    lower.run(10);
    lower.seq.setLastActiveStep(6);
    EXPECT_EQ(lower.run(7), (std::vector<int>{1, 2, 3, 4, 5, 6, 1}));

    // Raising the first step goes on upward; the next wrap uses the new value.
    Rig raise;
    raise.numberTheSteps();
    raise.seq.setLastActiveStep(12);
    raise.seq.start();
    raise.run(3);
    raise.seq.setFirstActiveStep(8);
    EXPECT_EQ(raise.run(12), (std::vector<int>{4, 5, 6, 7, 8, 9, 10, 11, 12, 8, 9, 10}));
}

TEST(StepEngine, liveColumnShowsTheStepLastOutputAndCellChangesWaitForTheirStep)
{
    Rig rig;
    rig.seq.setCell(3, 0, 1);
    rig.seq.setCell(5, 0, 2);
    rig.seq.setLastActiveStep(2);
    rig.seq.start();
    rig.seq.tick();
    EXPECT_EQ(rig.seq.cell(3, LiveColumn), 1);
    EXPECT_EQ(rig.seq.cell(5, LiveColumn), 0) << "greyed is dark when stepped";
    rig.seq.clickCell(1, 0); // switched on while its step is shown
    EXPECT_EQ(rig.seq.cell(1, LiveColumn), 0);
    rig.seq.tick();
    EXPECT_EQ(rig.seq.cell(3, LiveColumn), 0);
    rig.seq.tick();
    EXPECT_EQ(rig.seq.cell(1, LiveColumn), 1);
    EXPECT_EQ(rig.port.writtenBytes(), (std::vector<int>{4, 0, 5}));
}

TEST(StepEngine, clickCellTogglesAndTurnsGreyedOn)
{
    Sequencer seq;
    const std::pair<std::int16_t, std::int16_t> cases[] = {{0, 1}, {1, 0}, {2, 1}};
    for (auto [before, after] : cases) {
        seq.setCell(2, 7, before);
        seq.clickCell(2, 7);
        EXPECT_EQ(seq.cell(2, 7), after);
    }
    seq.clickCell(2, LiveColumn);
    EXPECT_EQ(seq.cell(2, LiveColumn), 0) << "the LiveColumn takes no clicks";
}

TEST(Transport, bytesWrittenForSessionsOfClicks)
{
    using Action = void (*)(Sequencer &);
    const Action startUp = [](Sequencer &s) { s.startUp(); };
    const Action start = [](Sequencer &s) { s.start(); };
    const Action stop = [](Sequencer &s) { s.stop(); };
    const Action tick = [](Sequencer &s) { s.tick(); };
    const Action sim = [](Sequencer &s) { s.clickSimulation(); };
    const Action shutDown = [](Sequencer &s) { s.shutDown(); };
    struct Case { const char *name; std::vector<Action> actions; std::vector<int> bytes; };
    // Steps 1, 2, 3 have the codes 1, 2, 3.
    const Case cases[] = {
        {"plain run", {startUp, start, tick, tick, stop, shutDown}, {0, 1, 2, 0, 0}},
        {"simulation before start, left on",
         {startUp, sim, start, tick, tick, stop, start, tick, shutDown}, {0, 0, 0}},
        {"simulation off while running", {startUp, sim, start, tick, sim, tick, tick}, {0, 0, 0, 2, 3}},
        {"simulation on while running", {startUp, start, tick, sim, tick, tick, stop}, {0, 1, 0}},
        {"start stop start begins again", {startUp, start, tick, tick, stop, start, tick}, {0, 1, 2, 0, 1}},
        {"shut-down while running", {startUp, start, tick, shutDown}, {0, 1, 0}},
        {"shut-down with simulation on", {startUp, sim, shutDown}, {0, 0, 0}},
    };
    for (const Case &c : cases) {
        RecordingPort port;
        portio::ScopedPortBackend scope(port);
        Sequencer seq;
        for (int index = 0; index < 3; ++index)
            for (int channel = 1; channel <= 2; ++channel)
                seq.setCell(channel, index, ((index + 1) >> (channel - 1)) & 1);
        for (Action action : c.actions)
            action(seq);
        EXPECT_EQ(port.writtenBytes(), c.bytes) << c.name;
    }
}

TEST(Transport, stopResetsProgressAndLiveColumnButKeepsTheCode)
{
    Rig rig;
    rig.numberTheSteps();
    rig.seq.setFirstActiveStep(4);
    rig.seq.start();
    EXPECT_FALSE(rig.seq.startEnabled());
    EXPECT_TRUE(rig.seq.stopEnabled());
    EXPECT_TRUE(rig.seq.timerActive());
    rig.run(4);
    rig.seq.stop();
    EXPECT_EQ(rig.seq.progress(), 1);
    EXPECT_EQ(rig.seq.nextStep(), 3);
    EXPECT_EQ(rig.seq.codeText(), "7");
    for (int channel = 1; channel <= ChannelCount; ++channel)
        EXPECT_EQ(rig.seq.cell(channel, LiveColumn), 0);
    EXPECT_TRUE(rig.seq.startEnabled());
    EXPECT_FALSE(rig.seq.stopEnabled());
    EXPECT_FALSE(rig.seq.timerEnabled());
}

TEST(StepTime, intervalIsStepTimeMinusCorrection)
{
    struct Case { std::int16_t step, cpu; int interval; };
    const Case cases[] = {{10, 5, 495}, {0, 5, 45}, {3, 0, 150}, {1, 2, 78}, {0, 0, 50}};
    for (const Case &c : cases) {
        Rig rig;
        rig.seq.selectCpuTime(c.cpu);
        rig.seq.selectStepTime(c.step);
        EXPECT_EQ(rig.seq.tickIntervalMs(), c.interval);
        EXPECT_EQ(rig.seq.intervalText(), std::to_string(c.interval));
        const std::int16_t stepMs = rig.seq.stepTimeMs(), cpuMs = rig.seq.cpuTimeMs();
        rig.seq.selectStepTime(-1); // no entry: nothing matches, nothing changes
        rig.seq.selectCpuTime(6);   // no such entry either
        EXPECT_EQ(rig.seq.stepTimePosition(), -1);
        EXPECT_EQ(rig.seq.cpuTimePosition(), -1);
        EXPECT_EQ(rig.seq.stepTimeMs(), stepMs);
        EXPECT_EQ(rig.seq.cpuTimeMs(), cpuMs);
        EXPECT_EQ(rig.seq.tickIntervalMs(), c.interval);
        EXPECT_EQ(rig.seq.intervalText(), std::to_string(c.interval));
    }
}

TEST(StepTime, entriesMatchByExactText)
{
    EXPECT_EQ(matchTimeEntry(StepTimeTable, "150ms"), 150);
    EXPECT_EQ(matchTimeEntry(CpuTimeTable, "5ms"), 5);
    for (const char *text : {"", "50", "50MS", " 50ms", "50ms ", "5ms"})
        EXPECT_FALSE(matchTimeEntry(StepTimeTable, text)) << text;
}

TEST(StepTime, pickWhileRunningKeepsTheTimerAndThePlace)
{
    Rig rig;
    rig.numberTheSteps();
    rig.seq.start();
    rig.run(3);
    rig.seq.selectStepTime(10);
    EXPECT_TRUE(rig.seq.timerActive());
    EXPECT_EQ(rig.seq.tickIntervalMs(), 500);
    EXPECT_EQ(rig.run(1), std::vector<int>{4});
}

TEST(ActiveRange, theMovedBarGivesWayAndTheOtherNeverMoves)
{
    struct Case
    {
        int first, last; // before
        char bar;        // 'L' last (HScroll2), 'F' first (HScroll3)
        int value;
        int firstAfter, lastAfter;
    };
    const Case cases[] = {
        {1, 20, 'L', 1, 1, 2},    {1, 20, 'L', -5, 1, 2},  {8, 12, 'L', 3, 8, 9},
        {8, 12, 'L', 8, 8, 9},    {8, 12, 'L', 30, 8, 20}, {1, 20, 'F', 20, 19, 20},
        {3, 10, 'F', 15, 9, 10},  {3, 10, 'F', 10, 9, 10}, {3, 10, 'F', 9, 9, 10},
        {3, 10, 'F', 0, 1, 10},   {5, 6, 'L', 6, 5, 6},    {5, 6, 'F', 6, 5, 6},
    };
    struct Recorder : SequencerObserver
    {
        int firstCalls = 0, lastCalls = 0;
        void firstActiveStepChanged() override { ++firstCalls; }
        void lastActiveStepChanged() override { ++lastCalls; }
    };
    for (const Case &c : cases) {
        Sequencer seq;
        seq.setLastActiveStep(std::int16_t(c.last));
        seq.setFirstActiveStep(std::int16_t(c.first));
        ASSERT_EQ(seq.firstActiveStep(), c.first);
        ASSERT_EQ(seq.lastActiveStep(), c.last);
        Recorder recorder;
        seq.addObserver(&recorder);
        if (c.bar == 'L')
            seq.setLastActiveStep(std::int16_t(c.value));
        else
            seq.setFirstActiveStep(std::int16_t(c.value));
        const std::string where = std::string(1, c.bar) + "=" + std::to_string(c.value);
        EXPECT_EQ(seq.firstActiveStep(), c.firstAfter) << where;
        EXPECT_EQ(seq.lastActiveStep(), c.lastAfter) << where;
        EXPECT_EQ(seq.firstActiveStepText(), std::to_string(c.firstAfter)) << where;
        EXPECT_EQ(seq.lastActiveStepText(), std::to_string(c.lastAfter)) << where;
        EXPECT_EQ(c.bar == 'L' ? recorder.firstCalls : recorder.lastCalls, 0) << where << ": the other bar moved";
    }
}

TEST(StartUp, clearsThePortThenPointsTheListThenPicksTheTimes)
{
    std::vector<std::string> log;
    struct Port final : portio::PortBackend
    {
        std::vector<std::string> *log;
        void out32(std::int16_t port, std::int16_t value) override
        {
            log->push_back("Out32 " + std::to_string(port) + " " + std::to_string(value));
        }
        std::int16_t inp32(std::int16_t) override { return 0; }
    } port;
    port.log = &log;
    portio::ScopedPortBackend scope(port);
    struct Recorder : SequencerObserver
    {
        std::vector<std::string> *log;
        const Sequencer *seq;
        void stepTimeSelectionChanged() override { log->push_back("Combo1 " + std::to_string(seq->stepTimePosition())); }
        void cpuTimeSelectionChanged() override { log->push_back("Combo2 " + std::to_string(seq->cpuTimePosition())); }
        void intervalChanged() override { log->push_back("interval " + seq->intervalText()); }
    };
    Sequencer seq;
    Recorder recorder;
    recorder.log = &log;
    recorder.seq = &seq;
    seq.addObserver(&recorder);

    EXPECT_EQ(seq.intervalText(), "");
    EXPECT_EQ(seq.codeText(), "");
    EXPECT_EQ(seq.firstActiveStepText(), "1");
    EXPECT_EQ(seq.lastActiveStepText(), "20");
    EXPECT_FALSE(seq.timerEnabled());
    seq.startUp([&] { log.push_back("File1"); });
    const std::vector<std::string> expected = {"Out32 888 0", "File1",      "Combo1 0",   "interval 50",
                                               "Combo2 0",    "interval 50"};
    EXPECT_EQ(log, expected);
    EXPECT_TRUE(seq.startEnabled());
    EXPECT_FALSE(seq.timerActive());
    EXPECT_EQ(seq.tickIntervalMs(), 50);
}

TEST(StepEngine, progressIsSetOnEveryTickAndStop)
{
    struct Counter : SequencerObserver
    {
        int sets = 0;
        void progressSet() override { ++sets; }
    };
    Rig rig;
    Counter counter;
    rig.seq.addObserver(&counter);
    rig.seq.setLastActiveStep(2);
    rig.seq.start();
    rig.run(3);
    rig.seq.stop();
    rig.seq.start();
    rig.seq.stop();
    EXPECT_EQ(counter.sets, 5);
}
