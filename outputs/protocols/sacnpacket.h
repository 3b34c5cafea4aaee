#pragma once
// sACN (ANSI E1.31) data packets as bytes: built for sending, parsed from
// whatever arrives on the port. Qt-free.
//
// The parser trusts nothing: every length field, vector and range is checked
// against the packet's real size before anything after it is read. Packets
// of other kinds (universe discovery, synchronisation, extended root vectors,
// framing vectors that are not data) are ignored, not treated as faults.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace portio::sacn {

inline constexpr std::uint16_t Port = 5568;
inline constexpr std::size_t HeaderSize = 126;     // everything before the first slot, start code included
inline constexpr std::size_t MaxPacketSize = 638;  // a header and 512 slots
inline constexpr std::uint8_t OptionPreview = 0x80;
inline constexpr std::uint8_t OptionStreamTerminated = 0x40;
inline constexpr std::uint8_t DefaultPriority = 100;
inline constexpr std::uint8_t MaxPriority = 200;
inline constexpr int FirstUniverse = 1;
inline constexpr int LastUniverse = 63999;

using Cid = std::array<std::uint8_t, 16>;

struct DataPacket
{
    Cid cid{};
    std::string sourceName;   // at most 63 bytes of UTF-8 on the wire
    std::uint8_t priority = DefaultPriority;
    std::uint16_t syncAddress = 0;
    std::uint8_t sequence = 0;
    std::uint8_t options = 0;
    std::uint16_t universe = 1;
    std::uint8_t startCode = 0;
    std::vector<std::uint8_t> levels; // the slots: 0 to 512 levels after the start code
};

// The packet's bytes: 126 + levels.size() (slots beyond 512 are not sent; a
// source name longer than 63 bytes is cut so that it stays terminated).
std::vector<std::uint8_t> buildDataPacket(const DataPacket &packet);

// Why a datagram gave no data: Data when it did; Ignored for a well-formed
// packet of another kind; every other value names the first check that failed.
enum class ParseResult {
    Data,
    Ignored,
    TooShort,
    TooLong,
    BadPreamble,
    BadIdentifier,
    BadRootLength,
    BadFramingLength,
    BadPriority,
    BadUniverse,
    BadDmpLength,
    BadDmpHeader,
    BadPropertyCount,
};

const char *parseResultName(ParseResult result);

ParseResult parseDataPacket(std::span<const std::uint8_t> bytes, DataPacket &packet);

// The multicast group of a universe as four bytes: 239.255.hi.lo.
std::array<std::uint8_t, 4> multicastGroup(int universe);

} // namespace portio::sacn
