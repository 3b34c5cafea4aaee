#pragma once
// What a serial relay board is sent, without a port: the bytes for a change
// of the byte, for each of the two board types.
//
// LCUS-type boards (1 to 8 relays behind a CH340) take one 4-byte frame per
// relay: A0 ch st sum, ch 1 to 8, st 0 (off) or 1 (on), sum the low byte of
// A0 + ch + st. They lose frames that follow each other too closely, so
// frames go out one per pause, and a change that arrives while frames are
// still due replaces the wanted state instead of queueing behind it.
//
// ICSE014A-type boards (8 relays) are woken by 0x50, answer 0xAC, and start
// on 0x51; from then on every byte sets all eight relays, a 0 bit switching
// its relay on.

#include <array>
#include <cstdint>
#include <optional>

namespace portio {

using LcusFrame = std::array<std::uint8_t, 4>;

// The frame that switches relay channel (1 to 8) on or off.
LcusFrame lcusFrame(int channel, bool on);

// Between the byte wanted and what an LCUS board was last sent. A relay
// whose state on the board is unknown (at the start, after the board was
// found again) counts as differing, so that it is sent whatever is wanted.
class LcusRelays
{
public:
    void want(std::uint8_t byte) { m_wanted = byte; }
    std::uint8_t wanted() const { return m_wanted; }
    // Every relay's state on the board becomes unknown.
    void forget() { m_unknown = 0xFF; }
    bool settled() const { return pending() == 0; }
    // The frame for the next relay that differs from the wanted byte,
    // counted as sent; nothing when the board holds the wanted byte. The
    // boards know no frame for several relays, so a step that changes n
    // relays takes n frames: those that switch a relay on go first, each
    // group lowest relay first.
    std::optional<LcusFrame> next();

private:
    std::uint8_t pending() const { return std::uint8_t((m_wanted ^ m_sent) | m_unknown); }

    std::uint8_t m_wanted = 0;
    std::uint8_t m_sent = 0;
    std::uint8_t m_unknown = 0xFF;
};

inline constexpr std::uint8_t IcseProbe = 0x50;
inline constexpr std::uint8_t IcseAnswer = 0xAC;
inline constexpr std::uint8_t IcseStart = 0x51;

// The byte that sets an ICSE board's relays to relays (bit k: relay k + 1 on).
inline std::uint8_t icseByte(std::uint8_t relays)
{
    return std::uint8_t(~relays);
}

// Relays of the same board switched too quickly one after the other drop
// commands; this is the least time from the start of one frame (or byte)
// to the start of the next.
inline constexpr int SerialRelayGapMs = 30;

} // namespace portio
