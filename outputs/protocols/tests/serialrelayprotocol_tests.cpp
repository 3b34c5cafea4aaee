// The bytes for serial relay boards, without a port.
#include "serialrelayprotocol.h"

#include <gtest/gtest.h>

#include <vector>

using portio::LcusFrame;
using portio::LcusRelays;

namespace {

// Every frame an LcusRelays yields until settled.
std::vector<LcusFrame> drain(LcusRelays &relays)
{
    std::vector<LcusFrame> frames;
    while (auto frame = relays.next())
        frames.push_back(*frame);
    return frames;
}

LcusFrame on(int ch) { return portio::lcusFrame(ch, true); }
LcusFrame off(int ch) { return portio::lcusFrame(ch, false); }

TEST(SerialRelayProtocol, LcusFrameCarriesChannelStateAndSum)
{
    EXPECT_EQ(on(1), (LcusFrame{0xA0, 0x01, 0x01, 0xA2}));
    EXPECT_EQ(off(1), (LcusFrame{0xA0, 0x01, 0x00, 0xA1}));
    EXPECT_EQ(on(8), (LcusFrame{0xA0, 0x08, 0x01, 0xA9}));
    EXPECT_EQ(off(4), (LcusFrame{0xA0, 0x04, 0x00, 0xA4}));
}

// From a board at a known byte, a new byte sends exactly the relays that
// changed, lowest first.
TEST(SerialRelayProtocol, LcusSendsOnlyChangedRelaysThoseSwitchingOnFirst)
{
    const struct
    {
        std::uint8_t from, to;
        std::vector<LcusFrame> frames;
    } cases[] = {
        {0x00, 0x00, {}},
        {0x00, 0x01, {on(1)}},
        {0x01, 0x03, {on(2)}},
        {0x03, 0x02, {off(1)}},
        {0x00, 0xFF, {on(1), on(2), on(3), on(4), on(5), on(6), on(7), on(8)}},
        {0xAA, 0x55, {on(1), on(3), on(5), on(7), off(2), off(4), off(6), off(8)}},
        {0x01, 0x02, {on(2), off(1)}}, // a running light: the next lamp before the last goes dark
        {0x81, 0x80, {off(1)}},
        {0x80, 0x00, {off(8)}},
    };
    for (const auto &c : cases) {
        LcusRelays relays;
        relays.want(c.from);
        drain(relays);
        relays.want(c.to);
        EXPECT_EQ(drain(relays), c.frames) << int(c.from) << " -> " << int(c.to);
        EXPECT_TRUE(relays.settled());
    }
}

// Unknown relays (start, board found again) are all sent, whatever is wanted.
TEST(SerialRelayProtocol, LcusSendsEveryRelayWhileUnknown)
{
    LcusRelays relays;
    EXPECT_FALSE(relays.settled());
    EXPECT_EQ(drain(relays), (std::vector<LcusFrame>{off(1), off(2), off(3), off(4), off(5), off(6), off(7), off(8)}));
    relays.want(0x05);
    drain(relays);
    relays.forget();
    EXPECT_EQ(drain(relays), (std::vector<LcusFrame>{on(1), on(3), off(2), off(4), off(5), off(6), off(7), off(8)}));
}

// A new byte while frames are still due goes on towards the newest byte:
// nothing stale is sent, and relays already sent are set back only where
// the newest byte wants them back.
TEST(SerialRelayProtocol, LcusGoesOnTowardsTheNewestByte)
{
    const struct
    {
        std::uint8_t from, first;
        int sentOfFirst;
        std::uint8_t newest;
        std::vector<LcusFrame> rest;
    } cases[] = {
        // 0 -> FF interrupted after two frames by 03: relays 1 and 2 are there.
        {0x00, 0xFF, 2, 0x03, {}},
        // ... by 01: relay 2 goes off again, nothing for 3..8.
        {0x00, 0xFF, 2, 0x01, {off(2)}},
        // ... by F0: 5..8 on, 1 and 2 back off, never 3 or 4.
        {0x00, 0xFF, 2, 0xF0, {on(5), on(6), on(7), on(8), off(1), off(2)}},
        // Interrupted before any frame: only the newest counts.
        {0x0F, 0xF0, 0, 0x0F, {}},
    };
    for (const auto &c : cases) {
        LcusRelays relays;
        relays.want(c.from);
        drain(relays);
        relays.want(c.first);
        for (int i = 0; i < c.sentOfFirst; ++i)
            relays.next();
        relays.want(c.newest);
        EXPECT_EQ(drain(relays), c.rest) << int(c.first) << " then " << int(c.newest);
    }
}

TEST(SerialRelayProtocol, IcseHandshakeAndComplement)
{
    EXPECT_EQ(portio::IcseProbe, 0x50);
    EXPECT_EQ(portio::IcseAnswer, 0xAC);
    EXPECT_EQ(portio::IcseStart, 0x51);
    const std::pair<std::uint8_t, std::uint8_t> cases[] = {{0x00, 0xFF}, {0xFF, 0x00}, {0x01, 0xFE}, {0xA5, 0x5A}, {0x80, 0x7F}};
    for (const auto &[relays, byte] : cases)
        EXPECT_EQ(portio::icseByte(relays), byte) << int(relays);
}

} // namespace
