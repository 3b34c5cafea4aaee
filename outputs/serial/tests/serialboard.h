#pragma once
// An emulated serial relay board behind a real pseudo-terminal (POSIX), for
// the serial backend's tests and benchmark. Its own thread reads the pty's
// master side the way a board reads its serial line: an LCUS-type board
// decodes A0 ch st sum frames (a bad sum or field drops the frame), an
// ICSE014A-type board answers 0x50 with 0xAC, starts on 0x51, and then takes
// each byte as the complement of its relays. A board plugged in anew starts
// with every relay off (and an ICSE board asleep), as a real one powered up.

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

class SerialBoard
{
public:
    enum class Kind { Lcus, Icse };

    explicit SerialBoard(Kind kind);
    ~SerialBoard();
    SerialBoard(const SerialBoard &) = delete;
    SerialBoard &operator=(const SerialBoard &) = delete;

    // A new pseudo-terminal whose port side linkPath then names (the link
    // is replaced); false with the reason in error.
    bool plugIn(const std::string &linkPath, std::string &error);
    // Closes the master side: the port side sees a hang-up.
    void unplug();

    // An ICSE board that never answers its wake-up.
    void setMute(bool mute) { m_mute = mute; }

    std::uint8_t relays() const;
    // Every command taken since plugged in: LCUS frames (4 bytes each) or
    // ICSE bytes, as received.
    std::vector<std::vector<std::uint8_t>> commands() const;
    // Steady-clock nanoseconds at which each of those commands was taken.
    std::vector<long long> commandTimesNs() const;
    int badFrames() const;
    // Steady-clock nanoseconds of the last change of the relays.
    long long changedAtNs() const;

    // Called from the board's thread after every change of the relays.
    std::function<void(std::uint8_t relays)> onChange;

private:
    void run();
    void take(const std::uint8_t *bytes, long count);
    void setRelays(std::uint8_t relays);

    const Kind m_kind;
    int m_master = -1;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_mute{false};
    mutable std::mutex m_mutex;
    std::uint8_t m_relays = 0;
    bool m_awake = false;
    std::vector<std::uint8_t> m_pending;
    std::vector<std::vector<std::uint8_t>> m_commands;
    std::vector<long long> m_commandTimesNs;
    int m_badFrames = 0;
    long long m_changedAtNs = 0;
};

} // namespace testsupport
