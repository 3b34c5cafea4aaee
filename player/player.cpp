#include "player.h"

#include "patternfile.h"
#include "stepclock.h"
#include "steptime.h"

#include <QMetaObject>

#include <algorithm>

namespace player {

using sequencer::ChannelCount;
using sequencer::LiveColumn;
using sequencer::StepCount;

Player::Player(Setup setup, QObject *parent)
    : QObject(parent)
    , m_folder(std::move(setup.folder))
    , m_panel(m_engine)
{
    m_panel.setEngineLock(&m_engineLock);
    m_clock = std::make_unique<sequencer::StepClock>(m_engine, m_engineLock, std::move(setup.clockPriority));
    m_clock->stepped = [this] { stepped(); };
    const std::lock_guard lock(m_engineLock);
    m_engine.startUp([this] { m_panel.pointAt(m_folder); });
    m_clock->set(m_engine.timerActive(), m_engine.tickIntervalMs());
}

Player::~Player()
{
    m_clock.reset(); // no step after this
    const std::lock_guard lock(m_engineLock);
    m_engine.shutDown();
}

std::vector<std::string> Player::stepTimes()
{
    std::vector<std::string> texts;
    for (const sequencer::TimeEntry &entry : sequencer::StepTimeTable)
        texts.emplace_back(entry.text);
    return texts;
}

Player::State Player::state() const
{
    State state;
    {
        const std::lock_guard lock(m_engineLock);
        for (int channel = 1; channel <= ChannelCount; ++channel) {
            for (int index = 0; index < StepCount; ++index)
                state.cells[std::size_t(channel - 1)][std::size_t(index)] = m_engine.cell(channel, index);
            if (m_engine.cell(channel, LiveColumn) == 1)
                state.lamps = std::uint8_t(state.lamps | 1u << (channel - 1));
        }
        state.firstStep = m_engine.firstActiveStep();
        state.lastStep = m_engine.lastActiveStep();
        state.stepTimePosition = m_engine.stepTimePosition();
        state.intervalMs = m_engine.tickIntervalMs();
        state.running = m_engine.timerEnabled();
        state.progress = m_engine.progress();
        state.pattern = m_pattern;
        state.patterns = m_panel.entries();
    }
    state.version = m_version.load();
    return state;
}

void Player::start()
{
    {
        const std::lock_guard lock(m_engineLock);
        if (m_engine.startEnabled()) { // only the button that leads out of the state is there
            m_engine.start();
            m_clock->set(m_engine.timerActive(), m_engine.tickIntervalMs());
        }
    }
    notifyChanged();
}

void Player::stop()
{
    {
        const std::lock_guard lock(m_engineLock);
        if (m_engine.stopEnabled()) {
            m_engine.stop();
            m_clock->set(m_engine.timerActive(), m_engine.tickIntervalMs());
        }
    }
    notifyChanged();
}

bool Player::clickCell(int channel, int step)
{
    if (channel < 1 || channel > ChannelCount || step < 1 || step > StepCount)
        return false;
    {
        const std::lock_guard lock(m_engineLock);
        m_engine.clickCell(channel, step - 1);
    }
    notifyChanged();
    return true;
}

bool Player::setFirstStep(int step)
{
    if (step < 1 || step > StepCount)
        return false;
    {
        const std::lock_guard lock(m_engineLock);
        m_engine.setFirstActiveStep(std::int16_t(step));
    }
    notifyChanged();
    return true;
}

bool Player::setLastStep(int step)
{
    if (step < 1 || step > StepCount)
        return false;
    {
        const std::lock_guard lock(m_engineLock);
        m_engine.setLastActiveStep(std::int16_t(step));
    }
    notifyChanged();
    return true;
}

bool Player::setStepTime(int position)
{
    if (position < 0 || std::size_t(position) >= sequencer::StepTimeTable.size())
        return false;
    {
        const std::lock_guard lock(m_engineLock);
        m_engine.selectStepTime(std::int16_t(position));
        // A pick while running changes the pace at once; the pattern goes on.
        m_clock->set(m_engine.timerActive(), m_engine.tickIntervalMs());
    }
    notifyChanged();
    return true;
}

bool Player::load(const std::string &name, std::string &error)
{
    m_panel.pointAt(m_folder); // files put there since the last look count too
    const std::vector<std::string> &entries = m_panel.entries();
    const auto found = std::find(entries.begin(), entries.end(), name);
    if (found == entries.end()) {
        error = patterns::loadErrorText(name);
        return false;
    }
    m_panel.pick(int(found - entries.begin()));
    const std::optional<patterns::ErrorMessage> failed = m_panel.load();
    {
        const std::lock_guard lock(m_engineLock);
        m_pattern = name;
        m_clock->set(m_engine.timerActive(), m_engine.tickIntervalMs());
    }
    notifyChanged();
    if (failed)
        error = failed->text;
    return !failed;
}

bool Player::loadFile(const std::string &path, std::string &error)
{
    const std::filesystem::path file = patterns::pathFromUtf8(path);
    const patterns::FirstLine line = patterns::readPatternFile(file.parent_path(), patterns::utf8FromPath(file.filename()));
    bool failed;
    {
        const std::lock_guard lock(m_engineLock);
        failed = patterns::applyFirstLine(m_engine, line);
        m_pattern = patterns::utf8FromPath(file.filename());
        m_clock->set(m_engine.timerActive(), m_engine.tickIntervalMs());
    }
    notifyChanged();
    if (failed)
        error = patterns::loadErrorText(patterns::utf8FromPath(file.filename()));
    return !failed;
}

std::optional<std::string> Player::save(const std::string &name)
{
    m_panel.setNameText(name);
    const std::optional<patterns::ErrorMessage> failed = m_panel.save();
    if (!failed) {
        const std::lock_guard lock(m_engineLock);
        m_pattern = name + std::string(patterns::Extension);
    }
    m_panel.setNameText({});
    notifyChanged();
    if (failed)
        return failed->text;
    return std::nullopt;
}

void Player::notifyChanged()
{
    ++m_version;
    emit changed();
}

void Player::stepped()
{
    // On the clock's thread: the player's thread is told once for any
    // number of steps it has not got to yet.
    ++m_version;
    if (!m_changePending.exchange(true))
        QMetaObject::invokeMethod(this, [this] {
            m_changePending = false;
            emit changed();
        }, Qt::QueuedConnection);
}

} // namespace player
