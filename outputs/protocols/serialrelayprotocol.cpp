#include "serialrelayprotocol.h"

namespace portio {

LcusFrame lcusFrame(int channel, bool on)
{
    const auto ch = std::uint8_t(channel);
    const auto st = std::uint8_t(on ? 1 : 0);
    return {0xA0, ch, st, std::uint8_t(0xA0 + ch + st)};
}

std::optional<LcusFrame> LcusRelays::next()
{
    const std::uint8_t due = pending();
    if (due == 0)
        return std::nullopt;
    // Relays that switch on first: a lamp that lights is what the eye
    // catches, and in a running light the next lamp is lit before the last
    // one goes dark, so no step shows a moment with every lamp off.
    const std::uint8_t first = (due & m_wanted) ? std::uint8_t(due & m_wanted) : due;
    int bit = 0;
    while (!(first & (1u << bit)))
        ++bit;
    const auto mask = std::uint8_t(1u << bit);
    const bool on = (m_wanted & mask) != 0;
    m_sent = std::uint8_t(on ? m_sent | mask : m_sent & ~mask);
    m_unknown = std::uint8_t(m_unknown & ~mask);
    return lcusFrame(bit + 1, on);
}

} // namespace portio
