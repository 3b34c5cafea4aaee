#include "artnetpacket.h"

#include <algorithm>
#include <cstring>

namespace portio::artnet {

namespace {

constexpr char Identifier[8] = {'A', 'r', 't', '-', 'N', 'e', 't', '\0'};
constexpr std::size_t MaxSlots = 512;

} // namespace

std::vector<std::uint8_t> buildDmxPacket(const DmxPacket &packet)
{
    const std::size_t slotCount = std::min(packet.levels.size(), MaxSlots);
    const std::size_t length = std::max<std::size_t>(2, slotCount + slotCount % 2);
    std::vector<std::uint8_t> out(HeaderSize + length, 0);
    std::uint8_t *p = out.data();
    std::memcpy(p, Identifier, sizeof Identifier);
    p[8] = std::uint8_t(OpDmx & 0xff); // the OpCode alone is little-endian
    p[9] = std::uint8_t(OpDmx >> 8);
    p[10] = 0;
    p[11] = ProtocolVersion;
    p[12] = packet.sequence;
    p[13] = packet.physical;
    p[14] = std::uint8_t(packet.portAddress & 0xff);
    p[15] = std::uint8_t((packet.portAddress >> 8) & 0x7f);
    p[16] = std::uint8_t(length >> 8);
    p[17] = std::uint8_t(length);
    std::copy_n(packet.levels.begin(), slotCount, p + HeaderSize);
    return out;
}

ParseResult parseDmxPacket(std::span<const std::uint8_t> bytes, DmxPacket &packet)
{
    const std::size_t size = bytes.size();
    const std::uint8_t *p = bytes.data();
    if (size < 10)
        return ParseResult::TooShort;
    if (std::memcmp(p, Identifier, sizeof Identifier) != 0)
        return ParseResult::BadIdentifier;
    if ((p[8] | p[9] << 8) != OpDmx)
        return ParseResult::Ignored;
    if (size < HeaderSize)
        return ParseResult::TooShort;
    if ((p[10] << 8 | p[11]) < ProtocolVersion)
        return ParseResult::BadVersion;
    // An odd length is outside the protocol but harmless; some senders use it.
    const std::size_t length = std::size_t(p[16]) << 8 | p[17];
    if (length < 1 || length > MaxSlots || length > size - HeaderSize)
        return ParseResult::BadLength;

    packet.sequence = p[12];
    packet.physical = p[13];
    packet.portAddress = std::uint16_t((p[15] & 0x7f) << 8 | p[14]);
    packet.levels.assign(p + HeaderSize, p + HeaderSize + length);
    return ParseResult::Data;
}

const char *parseResultName(ParseResult result)
{
    switch (result) {
    case ParseResult::Data: return "data";
    case ParseResult::Ignored: return "not ArtDmx";
    case ParseResult::TooShort: return "too short";
    case ParseResult::BadIdentifier: return "identifier";
    case ParseResult::BadVersion: return "protocol version";
    case ParseResult::BadLength: return "data length";
    }
    return "?";
}

} // namespace portio::artnet
