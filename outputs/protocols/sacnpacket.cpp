#include "sacnpacket.h"

#include <algorithm>
#include <cstring>

namespace portio::sacn {

namespace {

constexpr std::uint8_t AcnIdentifier[12] = {0x41, 0x53, 0x43, 0x2d, 0x45, 0x31, 0x2e, 0x31, 0x37, 0x00, 0x00, 0x00};
constexpr std::uint32_t VectorRootData = 0x00000004;
constexpr std::uint32_t VectorFramingData = 0x00000002;
constexpr std::uint8_t VectorDmpSetProperty = 0x02;
constexpr std::uint8_t DmpAddressAndDataType = 0xa1;
constexpr std::size_t SourceNameSize = 64;
constexpr std::size_t RootStart = 16, FramingStart = 38, DmpStart = 115;
constexpr std::size_t MaxSlots = 512;

void put16(std::uint8_t *at, std::uint16_t value)
{
    at[0] = std::uint8_t(value >> 8);
    at[1] = std::uint8_t(value);
}

void put32(std::uint8_t *at, std::uint32_t value)
{
    put16(at, std::uint16_t(value >> 16));
    put16(at + 2, std::uint16_t(value));
}

std::uint16_t get16(const std::uint8_t *at) { return std::uint16_t(at[0] << 8 | at[1]); }

std::uint32_t get32(const std::uint8_t *at) { return std::uint32_t(get16(at)) << 16 | get16(at + 2); }

// A PDU's flags and length: the top four bits 0x7, the low twelve the length
// from this field to the end of the packet.
bool flagsAndLengthFit(const std::uint8_t *at, std::size_t expected)
{
    const std::uint16_t word = get16(at);
    return (word & 0xf000) == 0x7000 && (word & 0x0fff) == expected;
}

} // namespace

std::vector<std::uint8_t> buildDataPacket(const DataPacket &packet)
{
    const std::size_t slotCount = std::min(packet.levels.size(), MaxSlots);
    const std::size_t size = HeaderSize + slotCount;
    std::vector<std::uint8_t> out(size, 0);
    std::uint8_t *p = out.data();

    put16(p + 0, 0x0010); // preamble size
    put16(p + 2, 0x0000); // postamble size
    std::memcpy(p + 4, AcnIdentifier, sizeof AcnIdentifier);
    put16(p + RootStart, std::uint16_t(0x7000 | (size - RootStart)));
    put32(p + 18, VectorRootData);
    std::copy(packet.cid.begin(), packet.cid.end(), p + 22);

    put16(p + FramingStart, std::uint16_t(0x7000 | (size - FramingStart)));
    put32(p + 40, VectorFramingData);
    std::memcpy(p + 44, packet.sourceName.data(), std::min(packet.sourceName.size(), SourceNameSize - 1));
    p[108] = packet.priority;
    put16(p + 109, packet.syncAddress);
    p[111] = packet.sequence;
    p[112] = packet.options;
    put16(p + 113, packet.universe);

    put16(p + DmpStart, std::uint16_t(0x7000 | (size - DmpStart)));
    p[117] = VectorDmpSetProperty;
    p[118] = DmpAddressAndDataType;
    put16(p + 119, 0x0000); // first property address
    put16(p + 121, 0x0001); // address increment
    put16(p + 123, std::uint16_t(1 + slotCount));
    p[125] = packet.startCode;
    std::copy_n(packet.levels.begin(), slotCount, p + HeaderSize);
    return out;
}

ParseResult parseDataPacket(std::span<const std::uint8_t> bytes, DataPacket &packet)
{
    const std::size_t size = bytes.size();
    const std::uint8_t *p = bytes.data();
    // The root layer first: other root vectors (extended: discovery and
    // synchronisation) may be shorter than a data packet.
    if (size < 22)
        return ParseResult::TooShort;
    if (get16(p) != 0x0010 || get16(p + 2) != 0x0000)
        return ParseResult::BadPreamble;
    if (std::memcmp(p + 4, AcnIdentifier, sizeof AcnIdentifier) != 0)
        return ParseResult::BadIdentifier;
    if (size > 0x0fff + RootStart || !flagsAndLengthFit(p + RootStart, size - RootStart))
        return ParseResult::BadRootLength;
    if (get32(p + 18) != VectorRootData)
        return ParseResult::Ignored;
    if (size < FramingStart + 6)
        return ParseResult::TooShort;
    if (!flagsAndLengthFit(p + FramingStart, size - FramingStart))
        return ParseResult::BadFramingLength;
    if (get32(p + 40) != VectorFramingData)
        return ParseResult::Ignored;
    if (size < HeaderSize)
        return ParseResult::TooShort;
    if (size > MaxPacketSize)
        return ParseResult::TooLong;
    if (p[108] > MaxPriority)
        return ParseResult::BadPriority;
    const std::uint16_t universe = get16(p + 113);
    if (universe < FirstUniverse || universe > LastUniverse)
        return ParseResult::BadUniverse;
    if (!flagsAndLengthFit(p + DmpStart, size - DmpStart))
        return ParseResult::BadDmpLength;
    if (p[117] != VectorDmpSetProperty || p[118] != DmpAddressAndDataType || get16(p + 119) != 0
        || get16(p + 121) != 1)
        return ParseResult::BadDmpHeader;
    if (get16(p + 123) != size - (HeaderSize - 1))
        return ParseResult::BadPropertyCount;

    std::copy(p + 22, p + 38, packet.cid.begin());
    const auto *name = p + 44;
    packet.sourceName.assign(reinterpret_cast<const char *>(name),
                             std::find(name, name + SourceNameSize, 0) - name);
    packet.priority = p[108];
    packet.syncAddress = get16(p + 109);
    packet.sequence = p[111];
    packet.options = p[112];
    packet.universe = universe;
    packet.startCode = p[125];
    packet.levels.assign(p + HeaderSize, p + size);
    return ParseResult::Data;
}

const char *parseResultName(ParseResult result)
{
    switch (result) {
    case ParseResult::Data: return "data";
    case ParseResult::Ignored: return "not a data packet";
    case ParseResult::TooShort: return "too short";
    case ParseResult::TooLong: return "too long";
    case ParseResult::BadPreamble: return "preamble";
    case ParseResult::BadIdentifier: return "ACN packet identifier";
    case ParseResult::BadRootLength: return "root layer length";
    case ParseResult::BadFramingLength: return "framing layer length";
    case ParseResult::BadPriority: return "priority";
    case ParseResult::BadUniverse: return "universe";
    case ParseResult::BadDmpLength: return "DMP layer length";
    case ParseResult::BadDmpHeader: return "DMP layer header";
    case ParseResult::BadPropertyCount: return "property value count";
    }
    return "?";
}

std::array<std::uint8_t, 4> multicastGroup(int universe)
{
    return {239, 255, std::uint8_t(universe >> 8), std::uint8_t(universe)};
}

} // namespace portio::sacn
