#pragma once
// The sequencer's engine: every rule of the step grid, the step engine, the
// step time, the transport, the active range and start-up/shut-down. It
// knows nothing of widgets. The main window presents its state, forwards
// the user's events to it, owns the real timer and calls tick() on each
// timeout; a test calls tick() directly.
//
// All counts, steps, codes and intervals are 16-bit signed, as the window's
// variables are. The port is written only through portio::LptOut, and only
// at start-up, on a tick with "Simulation" off, on Stop with "Simulation"
// off, on every click of "Simulation", and at shut-down.

#include "stepgrid.h"
#include "steptime.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sequencer {

// Told what the engine changed, so that a face updates only that. Every
// callback comes after the engine's state is complete for that change.
class SequencerObserver
{
public:
    virtual ~SequencerObserver() = default;
    virtual void cellChanged(int /*channel*/, int /*index*/) {} // LiveColumn too (index 20)
    // Sent on every write of the progress bar, even of the value it already
    // holds here: the user may have dragged the widget away meanwhile.
    virtual void progressSet() {}
    virtual void codeTextChanged() {}
    virtual void intervalChanged() {} // TickIntervalMs and its "IstSpeed:" text
    virtual void timerChanged() {}    // enabled state or interval of the timer
    virtual void transportChanged() {} // which of Start and Stop is enabled
    virtual void simulationChanged() {}
    virtual void firstActiveStepChanged() {} // bar value or its label
    virtual void lastActiveStepChanged() {}
    virtual void stepTimeSelectionChanged() {}
    virtual void cpuTimeSelectionChanged() {}
};

class Sequencer
{
public:
    static constexpr std::int16_t MinStep = 1;
    static constexpr std::int16_t MaxStep = StepCount;

    // The state at creation: every cell off, range 1 to 20, progress 1,
    // timer off with interval 0, no list entry selected, "IstSpeed:" and
    // "LPTCode:" empty. Nothing is written to the port until startUp().
    Sequencer() = default;

    void addObserver(SequencerObserver *observer);
    void removeObserver(SequencerObserver *observer);

    // --- events of the window ---------------------------------------------

    // The window opens: 0 to the port, then pointFileList (the file panel
    // reads its folder), then position 0 of the step time list and position
    // 0 of the correction list, each through its pick handler.
    void startUp(const std::function<void()> &pointFileList = {});
    // The window closes: 0 to the port whatever the state; the timer ends.
    void shutDown();

    // One tick of the step timer: wrap test, progress, cells into the
    // LiveColumn, code display, port output unless "Simulation", advance.
    void tick();

    void start();
    void stop();
    // A click on "Simulation": the switch flips and 0 goes to the port.
    void clickSimulation();

    // A click on a pattern cell: on becomes off, off or greyed becomes on.
    // LiveColumn cells take no clicks.
    void clickCell(int channel, int index);
    // Set a pattern cell (index 0 to 19) to 0, 1 or 2: the pattern loader.
    void setCell(int channel, int index, std::int16_t value);

    // A change of a range bar's value, by the user or by the program. The
    // value is held to the bar's range 1 to 20; a value equal to the bar's
    // is no change. When the new range would break 1 <= first < last <= 20
    // the bar just moved gives way (it is set again, which runs its handler
    // once more inside the first run); the other bar never moves.
    void setLastActiveStep(std::int16_t value);
    void setFirstActiveStep(std::int16_t value);

    // A pick of an entry of the step time list (position 0 to 10) or the
    // correction list (0 to 5). Any other position leaves the list without a
    // selection; its text is then empty, which matches no entry, so the
    // stored time stays. Either pick recomputes the interval and its text.
    void selectStepTime(std::int16_t position);
    void selectCpuTime(std::int16_t position);

    // --- state, as the window shows it ------------------------------------

    std::int16_t cell(int channel, int index) const { return m_grid.cell(channel, index); }
    std::int16_t nextStep() const { return m_nextStep; }
    std::int16_t progress() const { return m_progress; }
    const std::string &codeText() const { return m_codeText; }
    std::int16_t firstActiveStep() const { return m_firstActiveStep; }
    std::int16_t lastActiveStep() const { return m_lastActiveStep; }
    const std::string &firstActiveStepText() const { return m_firstActiveStepText; }
    const std::string &lastActiveStepText() const { return m_lastActiveStepText; }
    bool simulation() const { return m_simulation == 1; }
    bool timerEnabled() const { return m_timerEnabled; }
    // A timer with interval 0 never ticks; the window runs its timer only
    // while this holds.
    bool timerActive() const { return m_timerEnabled && m_tickIntervalMs > 0; }
    bool startEnabled() const { return !m_timerEnabled; }
    bool stopEnabled() const { return m_timerEnabled; }
    std::int16_t stepTimeMs() const { return m_stepTimeMs; }
    std::int16_t cpuTimeMs() const { return m_cpuTimeMs; }
    std::int16_t tickIntervalMs() const { return m_tickIntervalMs; }
    const std::string &intervalText() const { return m_intervalText; }
    std::int16_t stepTimePosition() const { return m_stepTimePosition; } // -1: none
    std::int16_t cpuTimePosition() const { return m_cpuTimePosition; }

private:
    void onLastActiveStepChanged();
    void onFirstActiveStepChanged();
    template<std::size_t N>
    void pickTimeEntry(const std::array<TimeEntry, N> &table, std::int16_t position, std::int16_t &selected,
                       std::int16_t &storedMs, void (SequencerObserver::*changed)());
    void onTimeListPicked();
    void setLiveCell(int channel, std::int16_t value);
    void setProgress(std::int16_t value);
    void setTimerEnabled(bool enabled);
    template<typename Member, typename... Args>
    void notify(Member member, Args... args);

    StepGrid m_grid;
    std::int16_t m_nextStep = 0;
    std::int16_t m_progress = 1;
    std::string m_codeText;
    std::int16_t m_firstActiveStep = 1;
    std::int16_t m_lastActiveStep = 20;
    std::string m_firstActiveStepText = "1";
    std::string m_lastActiveStepText = "20";
    std::int16_t m_simulation = 0;
    bool m_timerEnabled = false;
    std::int16_t m_stepTimeMs = 0;
    std::int16_t m_cpuTimeMs = 0;
    std::int16_t m_tickIntervalMs = 0;
    std::string m_intervalText;
    std::int16_t m_stepTimePosition = -1;
    std::int16_t m_cpuTimePosition = -1;
    std::vector<SequencerObserver *> m_observers;
};

} // namespace sequencer
