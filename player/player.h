#pragma once
// The player: the sequencer without a window. It holds the engine (the
// same rules as blinkwerk's window presents), the step clock that plays it
// on a thread of its own, and the folder of its patterns; the faces (the
// program's options and configuration, the phone page) drive it through
// the operations below, on the thread that made the player.
//
// Every operation goes through the engine's own handlers, as a click in the
// window does, so the player never shows or keeps a state the window could
// not: cells toggle as clicked, the range bars give way as they do,
// patterns load and save through the same loader, names and limits. The
// byte of each step goes through LptOut to whatever output the program
// routed the port routines to (its output session). The player has no
// "Simulation": it always writes; and no CPU-time correction (0 ms).
//
// changed() is emitted on the player's thread after any operation and after
// the steps (coalesced: once for any number of steps the thread has not got
// to yet); state() then says what is.

#include "filepanel.h"
#include "patternfolder.h"
#include "sequencer.h"

#include <QObject>

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace sequencer {
class StepClock;
}

namespace player {

class Player : public QObject
{
    Q_OBJECT
public:
    struct Setup
    {
        patterns::PatternFolder folder;
        // Asks for the step clock's priority (see the sequencer's
        // realtime.h); run on the clock's thread when it first runs.
        std::function<void()> clockPriority;
    };

    // Starts up as the window's load does: 0 to the output, the folder
    // listed, the first step time picked (50 ms). Stopped.
    explicit Player(Setup setup, QObject *parent = nullptr);
    // Stops the clock and writes 0, as the window's close does.
    ~Player() override;

    struct State
    {
        std::array<std::array<std::int16_t, 20>, 8> cells {}; // [channel - 1][step - 1]: 0 off, 1 on, 2 greyed
        int firstStep = 1;
        int lastStep = 20;
        int stepTimePosition = 0; // in stepTimes(); -1: none picked (a file said so)
        int intervalMs = 50;
        bool running = false;
        int progress = 1;          // the step last output, 1 to 20
        std::uint8_t lamps = 0;    // the byte last output (the LiveColumn)
        std::string pattern;       // the file last loaded or saved, as listed ("show.bw2"); empty: none
        std::vector<std::string> patterns; // the folder's pattern files
        std::uint64_t version = 0; // grows with every change
    };
    State state() const;

    // The step times offered, as the window's list shows them ("50ms").
    static std::vector<std::string> stepTimes();

    void start();
    void stop();
    // A click on a cell (channel 1 to 8, step 1 to 20): on becomes off, off
    // or greyed becomes on. Out of range: false, nothing changed.
    bool clickCell(int channel, int step);
    // The range bars, each with its rule: the bar moved gives way. Out of
    // 1 to 20: false, nothing changed.
    bool setFirstStep(int step);
    bool setLastStep(int step);
    // A pick in the step time list; out of range: false.
    bool setStepTime(int position);

    // Loads name (as listed) from the folder, as "Laden" does: a file with
    // faults loads what it can; the German load error text in error and
    // false then. A name that is not a listed pattern file loads nothing.
    bool load(const std::string &name, std::string &error);
    // Loads a file anywhere (the program's FILE.bw2).
    bool loadFile(const std::string &path, std::string &error);
    // Saves under name (".bw2" appended, as the window does); the German
    // error text, or nothing when it was written.
    std::optional<std::string> save(const std::string &name);

    // The folder the patterns live in.
    const patterns::PatternFolder &folder() const { return m_folder; }

signals:
    void changed();

private:
    void notifyChanged();
    void stepped();

    patterns::PatternFolder m_folder;
    sequencer::Sequencer m_engine;
    mutable std::mutex m_engineLock;
    patterns::FilePanel m_panel;
    std::string m_pattern;
    std::atomic<std::uint64_t> m_version {0};
    std::atomic<bool> m_changePending {false};
    std::unique_ptr<sequencer::StepClock> m_clock; // last: ends before what it touches
};

} // namespace player
