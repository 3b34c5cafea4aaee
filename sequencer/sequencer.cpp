#include "sequencer.h"

#include "steptime.h"

#include "portio.h"

#include <algorithm>

namespace sequencer {

namespace {

std::int16_t toInt16(int value)
{
    return static_cast<std::int16_t>(value);
}

std::int16_t clampToBar(std::int16_t value)
{
    return std::clamp<std::int16_t>(value, Sequencer::MinStep, Sequencer::MaxStep);
}

template<std::size_t N>
std::string_view entryText(const std::array<TimeEntry, N> &table, std::int16_t position)
{
    return position >= 0 && std::size_t(position) < N ? table[std::size_t(position)].text : std::string_view();
}

} // namespace

void Sequencer::addObserver(SequencerObserver *observer)
{
    m_observers.push_back(observer);
}

void Sequencer::removeObserver(SequencerObserver *observer)
{
    std::erase(m_observers, observer);
}

template<typename Member, typename... Args>
void Sequencer::notify(Member member, Args... args)
{
    for (SequencerObserver *observer : m_observers)
        (observer->*member)(args...);
}

void Sequencer::startUp(const std::function<void()> &pointFileList)
{
    portio::LptOut(0);
    if (pointFileList)
        pointFileList();
    selectStepTime(0);
    selectCpuTime(0);
}

void Sequencer::shutDown()
{
    portio::LptOut(0);
    setTimerEnabled(false);
}

void Sequencer::tick()
{
    // 1. Wrap test. LastActiveStep is read on every tick, FirstActiveStep
    //    only here; the test against 20 keeps the index inside the grid.
    if (m_nextStep >= m_lastActiveStep || m_nextStep == StepCount)
        m_nextStep = toInt16(m_firstActiveStep - 1);
    // 2. Progress.
    setProgress(toInt16(m_nextStep + 1));
    // 3. Cells, channel 1 first.
    std::int16_t code = 0;
    std::int16_t weight = 1;
    for (int channel = 1; channel <= ChannelCount; ++channel) {
        if (m_grid.cell(channel, m_nextStep) == 1) {
            setLiveCell(channel, 1);
            code = toInt16(code + weight);
        } else {
            setLiveCell(channel, 0);
        }
        weight = toInt16(weight * 2);
    }
    // 4. Display.
    const std::string text = std::to_string(code);
    if (text != m_codeText) {
        m_codeText = text;
        notify(&SequencerObserver::codeTextChanged);
    }
    // 5. Output.
    if (m_simulation != 1)
        portio::LptOut(static_cast<std::uint8_t>(code));
    // 6. Advance.
    m_nextStep = toInt16(m_nextStep + 1);
}

void Sequencer::start()
{
    m_nextStep = toInt16(m_firstActiveStep - 1);
    setTimerEnabled(true);
    notify(&SequencerObserver::transportChanged);
}

void Sequencer::stop()
{
    setTimerEnabled(false);
    notify(&SequencerObserver::transportChanged);
    setProgress(1);
    m_nextStep = toInt16(m_firstActiveStep - 1);
    for (int channel = 1; channel <= ChannelCount; ++channel)
        setLiveCell(channel, 0);
    if (m_simulation != 1)
        portio::LptOut(0);
}

void Sequencer::clickSimulation()
{
    m_simulation = m_simulation == 1 ? 0 : 1;
    notify(&SequencerObserver::simulationChanged);
    portio::LptOut(0);
}

void Sequencer::clickCell(int channel, int index)
{
    if (index < 0 || index >= StepCount)
        return;
    setCell(channel, index, m_grid.cell(channel, index) == 1 ? 0 : 1);
}

void Sequencer::setCell(int channel, int index, std::int16_t value)
{
    if (!StepGrid::isValid(channel, index) || index == LiveColumn)
        return;
    if (m_grid.cell(channel, index) == value)
        return;
    m_grid.setCell(channel, index, value);
    notify(&SequencerObserver::cellChanged, channel, index);
}

void Sequencer::setLiveCell(int channel, std::int16_t value)
{
    if (m_grid.cell(channel, LiveColumn) == value)
        return;
    m_grid.setCell(channel, LiveColumn, value);
    notify(&SequencerObserver::cellChanged, channel, LiveColumn);
}

void Sequencer::setProgress(std::int16_t value)
{
    m_progress = value;
    notify(&SequencerObserver::progressSet);
}

void Sequencer::setTimerEnabled(bool enabled)
{
    if (m_timerEnabled == enabled)
        return;
    m_timerEnabled = enabled;
    notify(&SequencerObserver::timerChanged);
}

void Sequencer::setLastActiveStep(std::int16_t value)
{
    value = clampToBar(value);
    if (value == m_lastActiveStep)
        return;
    m_lastActiveStep = value;
    notify(&SequencerObserver::lastActiveStepChanged);
    onLastActiveStepChanged();
}

void Sequencer::onLastActiveStepChanged()
{
    if (m_firstActiveStep >= m_lastActiveStep)
        setLastActiveStep(toInt16(m_firstActiveStep + 1)); // runs this handler once more
    m_lastActiveStepText = std::to_string(m_lastActiveStep);
    notify(&SequencerObserver::lastActiveStepChanged);
}

void Sequencer::setFirstActiveStep(std::int16_t value)
{
    value = clampToBar(value);
    if (value == m_firstActiveStep)
        return;
    m_firstActiveStep = value;
    notify(&SequencerObserver::firstActiveStepChanged);
    onFirstActiveStepChanged();
}

void Sequencer::onFirstActiveStepChanged()
{
    if (m_firstActiveStep >= m_lastActiveStep)
        setFirstActiveStep(toInt16(m_lastActiveStep - 1));
    m_firstActiveStepText = std::to_string(m_firstActiveStep);
    notify(&SequencerObserver::firstActiveStepChanged);
}

void Sequencer::selectStepTime(std::int16_t position)
{
    pickTimeEntry(StepTimeTable, position, m_stepTimePosition, m_stepTimeMs,
                  &SequencerObserver::stepTimeSelectionChanged);
}

void Sequencer::selectCpuTime(std::int16_t position)
{
    pickTimeEntry(CpuTimeTable, position, m_cpuTimePosition, m_cpuTimeMs,
                  &SequencerObserver::cpuTimeSelectionChanged);
}

template<std::size_t N>
void Sequencer::pickTimeEntry(const std::array<TimeEntry, N> &table, std::int16_t position,
                              std::int16_t &selected, std::int16_t &storedMs, void (SequencerObserver::*changed)())
{
    // A position without an entry leaves the list without a selection.
    selected = entryText(table, position).empty() ? std::int16_t(-1) : position;
    notify(changed);
    // The list's text decides, matched exactly; no match keeps the value.
    if (auto ms = matchTimeEntry(table, entryText(table, selected)))
        storedMs = *ms;
    onTimeListPicked();
}

void Sequencer::onTimeListPicked()
{
    m_tickIntervalMs = toInt16(m_stepTimeMs - m_cpuTimeMs);
    m_intervalText = std::to_string(m_tickIntervalMs);
    notify(&SequencerObserver::intervalChanged);
    notify(&SequencerObserver::timerChanged);
}

} // namespace sequencer
