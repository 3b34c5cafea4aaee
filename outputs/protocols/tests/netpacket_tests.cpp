// The sACN and Art-Net packets byte by byte against the protocols' layouts,
// and the parsers against packets broken one field at a time.

#include "artnetpacket.h"
#include "sacnpacket.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<std::uint8_t>;

struct Field
{
    const char *name;
    std::size_t offset;
    Bytes expected;
};

void expectFields(const Bytes &packet, const std::vector<Field> &fields)
{
    for (const Field &f : fields) {
        ASSERT_LE(f.offset + f.expected.size(), packet.size()) << f.name;
        EXPECT_EQ(Bytes(packet.begin() + long(f.offset), packet.begin() + long(f.offset + f.expected.size())),
                  f.expected)
            << f.name << " at " << f.offset;
    }
}

portio::sacn::DataPacket sampleSacn()
{
    portio::sacn::DataPacket p;
    for (int i = 0; i < 16; ++i)
        p.cid[std::size_t(i)] = std::uint8_t(0xa0 + i);
    p.sourceName = "Blinkwerk";
    p.priority = 100;
    p.sequence = 0x2a;
    p.options = portio::sacn::OptionStreamTerminated;
    p.universe = 0x0102;
    p.levels.assign(512, 0);
    p.levels[4] = 255;
    p.levels[511] = 0x77;
    return p;
}

TEST(SacnPacket, DataPacketLayout)
{
    const Bytes b = portio::sacn::buildDataPacket(sampleSacn());
    ASSERT_EQ(b.size(), 638u);
    Bytes name(64, 0);
    std::copy_n("Blinkwerk", 9, name.begin());
    Bytes cid;
    for (int i = 0; i < 16; ++i)
        cid.push_back(std::uint8_t(0xa0 + i));
    expectFields(b, {
        {"preamble size", 0, {0x00, 0x10}},
        {"postamble size", 2, {0x00, 0x00}},
        {"ACN packet identifier", 4, {0x41, 0x53, 0x43, 0x2d, 0x45, 0x31, 0x2e, 0x31, 0x37, 0x00, 0x00, 0x00}},
        {"root flags and length (622)", 16, {0x72, 0x6e}},
        {"root vector E131_DATA", 18, {0x00, 0x00, 0x00, 0x04}},
        {"CID", 22, cid},
        {"framing flags and length (600)", 38, {0x72, 0x58}},
        {"framing vector DATA_PACKET", 40, {0x00, 0x00, 0x00, 0x02}},
        {"source name", 44, name},
        {"priority", 108, {100}},
        {"synchronization address", 109, {0x00, 0x00}},
        {"sequence number", 111, {0x2a}},
        {"options", 112, {0x40}},
        {"universe", 113, {0x01, 0x02}},
        {"DMP flags and length (523)", 115, {0x72, 0x0b}},
        {"DMP vector SET_PROPERTY", 117, {0x02}},
        {"address and data type", 118, {0xa1}},
        {"first property address", 119, {0x00, 0x00}},
        {"address increment", 121, {0x00, 0x01}},
        {"property value count (513)", 123, {0x02, 0x01}},
        {"start code", 125, {0x00}},
        {"slot 1 to 5", 126, {0, 0, 0, 0, 255}},
        {"slot 512", 637, {0x77}},
    });
}

TEST(SacnPacket, ParsesWhatItBuilds)
{
    const auto sent = sampleSacn();
    portio::sacn::DataPacket got;
    ASSERT_EQ(portio::sacn::parseDataPacket(portio::sacn::buildDataPacket(sent), got),
              portio::sacn::ParseResult::Data);
    EXPECT_EQ(got.cid, sent.cid);
    EXPECT_EQ(got.sourceName, sent.sourceName);
    EXPECT_EQ(got.sequence, sent.sequence);
    EXPECT_EQ(got.options, sent.options);
    EXPECT_EQ(got.universe, sent.universe);
    EXPECT_EQ(got.levels, sent.levels);

    // Fewer than 512 slots are a valid packet too.
    auto shortOne = sent;
    shortOne.levels.assign(8, 200);
    ASSERT_EQ(portio::sacn::parseDataPacket(portio::sacn::buildDataPacket(shortOne), got),
              portio::sacn::ParseResult::Data);
    EXPECT_EQ(got.levels, shortOne.levels);
}

TEST(SacnPacket, RejectsOrIgnoresBrokenPackets)
{
    using R = portio::sacn::ParseResult;
    const Bytes good = portio::sacn::buildDataPacket(sampleSacn());
    struct Case
    {
        const char *what;
        std::function<void(Bytes &)> change;
        R expected;
    };
    const std::vector<Case> cases = {
        {"empty", [](Bytes &b) { b.clear(); }, R::TooShort},
        {"cut in the root layer", [](Bytes &b) { b.resize(20); }, R::TooShort},
        {"preamble", [](Bytes &b) { b[1] = 0x11; }, R::BadPreamble},
        {"postamble", [](Bytes &b) { b[3] = 1; }, R::BadPreamble},
        {"identifier", [](Bytes &b) { b[8] = 'X'; }, R::BadIdentifier},
        {"root length", [](Bytes &b) { b[17] += 1; }, R::BadRootLength},
        {"root flags", [](Bytes &b) { b[16] = 0x02; }, R::BadRootLength},
        {"cut without fixing lengths", [](Bytes &b) { b.resize(300); }, R::BadRootLength},
        {"extended root vector", [](Bytes &b) { b[21] = 0x08; }, R::Ignored},
        {"framing length", [](Bytes &b) { b[39] -= 1; }, R::BadFramingLength},
        {"framing vector 4 (discovery)", [](Bytes &b) { b[43] = 0x04; }, R::Ignored},
        {"framing vector 1 (sync)", [](Bytes &b) { b[43] = 0x01; }, R::Ignored},
        {"priority 201", [](Bytes &b) { b[108] = 201; }, R::BadPriority},
        {"universe 0", [](Bytes &b) { b[113] = 0; b[114] = 0; }, R::BadUniverse},
        {"universe 64000", [](Bytes &b) { b[113] = 0xfa; b[114] = 0x00; }, R::BadUniverse},
        {"DMP length", [](Bytes &b) { b[116] += 2; }, R::BadDmpLength},
        {"DMP vector", [](Bytes &b) { b[117] = 0x01; }, R::BadDmpHeader},
        {"DMP type", [](Bytes &b) { b[118] = 0xa2; }, R::BadDmpHeader},
        {"first address", [](Bytes &b) { b[120] = 1; }, R::BadDmpHeader},
        {"increment", [](Bytes &b) { b[122] = 2; }, R::BadDmpHeader},
        {"property count", [](Bytes &b) { b[124] = 0x02; }, R::BadPropertyCount},
        {"slots past 512", [](Bytes &b) {
             b.push_back(0);
             b[17] += 1; b[39] += 1; b[116] += 1; b[124] += 1;
         }, R::TooLong},
    };
    for (const Case &c : cases) {
        Bytes b = good;
        c.change(b);
        portio::sacn::DataPacket out;
        EXPECT_EQ(portio::sacn::parseDataPacket(b, out), c.expected) << c.what;
    }
}

TEST(SacnPacket, MulticastGroupOfUniverse)
{
    EXPECT_EQ(portio::sacn::multicastGroup(1), (std::array<std::uint8_t, 4>{239, 255, 0, 1}));
    EXPECT_EQ(portio::sacn::multicastGroup(63999), (std::array<std::uint8_t, 4>{239, 255, 0xf9, 0xff}));
}

TEST(ArtNetPacket, DmxPacketLayout)
{
    struct Case
    {
        std::uint16_t portAddress;
        std::size_t levels;
        Bytes subUniNet;
        Bytes length;
    };
    // Port-address 0x1234: net 0x12, sub-net 3, universe 4.
    for (const Case &c : std::vector<Case>{{0x1234, 512, {0x34, 0x12}, {0x02, 0x00}},
                                           {0x7fff, 7, {0xff, 0x7f}, {0x00, 0x08}},
                                           {0, 0, {0x00, 0x00}, {0x00, 0x02}}}) {
        portio::artnet::DmxPacket p;
        p.sequence = 0x9c;
        p.portAddress = c.portAddress;
        p.levels.assign(c.levels, 0x11);
        const Bytes b = portio::artnet::buildDmxPacket(p);
        ASSERT_EQ(b.size(), 18 + std::size_t(b[16] << 8 | b[17])) << c.portAddress;
        expectFields(b, {
            {"ID", 0, {'A', 'r', 't', '-', 'N', 'e', 't', 0}},
            {"OpCode OpDmx, low byte first", 8, {0x00, 0x50}},
            {"ProtVer 14, high byte first", 10, {0x00, 0x0e}},
            {"Sequence", 12, {0x9c}},
            {"Physical", 13, {0x00}},
            {"SubUni and Net", 14, c.subUniNet},
            {"Length, even, high byte first", 16, c.length},
        });
        if (c.levels % 2) {
            EXPECT_EQ(b.back(), 0) << "padding";
        }
    }
}

TEST(ArtNetPacket, RejectsOrIgnoresBrokenPackets)
{
    using R = portio::artnet::ParseResult;
    portio::artnet::DmxPacket sample;
    sample.portAddress = 0x0105;
    sample.levels.assign(512, 0);
    sample.levels[0] = 255;
    const Bytes good = portio::artnet::buildDmxPacket(sample);
    struct Case
    {
        const char *what;
        std::function<void(Bytes &)> change;
        R expected;
    };
    const std::vector<Case> cases = {
        {"whole", [](Bytes &) {}, R::Data},
        {"empty", [](Bytes &b) { b.clear(); }, R::TooShort},
        {"identifier", [](Bytes &b) { b[3] = '_'; }, R::BadIdentifier},
        {"ArtPoll", [](Bytes &b) { b[9] = 0x20; b.resize(14); }, R::Ignored},
        {"OpCode big-endian", [](Bytes &b) { b[8] = 0x50; b[9] = 0x00; }, R::Ignored},
        {"cut header", [](Bytes &b) { b.resize(17); }, R::TooShort},
        {"old version", [](Bytes &b) { b[11] = 13; }, R::BadVersion},
        {"length 0", [](Bytes &b) { b[16] = 0; b[17] = 0; }, R::BadLength},
        {"length 514", [](Bytes &b) { b[17] = 2; b[16] = 2; b.resize(18 + 514); }, R::BadLength},
        {"length past the datagram", [](Bytes &b) { b.resize(300); }, R::BadLength},
        {"odd length", [](Bytes &b) { b[16] = 0; b[17] = 7; }, R::Data},
    };
    for (const Case &c : cases) {
        Bytes b = good;
        c.change(b);
        portio::artnet::DmxPacket out;
        EXPECT_EQ(portio::artnet::parseDmxPacket(b, out), c.expected) << c.what;
        if (c.expected == R::Data) {
            EXPECT_EQ(out.portAddress, 0x0105) << c.what;
            EXPECT_EQ(out.levels.at(0), 255) << c.what;
        }
    }
}

} // namespace
