#pragma once
// Art-Net 4 ArtDmx packets as bytes: built for sending, parsed from whatever
// arrives on the port. Qt-free.
//
// The parser checks the identifier, the OpCode, the protocol version and the
// data length against the datagram's real size before reading a slot. Other
// Art-Net packets (ArtPoll, ArtPollReply, ArtSync, ...) are ignored.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace portio::artnet {

inline constexpr std::uint16_t Port = 6454;
inline constexpr std::size_t HeaderSize = 18;
inline constexpr std::uint16_t OpDmx = 0x5000;
inline constexpr std::uint16_t ProtocolVersion = 14;
inline constexpr int LastPortAddress = 32767;

struct DmxPacket
{
    std::uint8_t sequence = 0;  // 1 to 255 in order; 0 when the source does not count
    std::uint8_t physical = 0;
    std::uint16_t portAddress = 0; // net (7 bits) << 8 | sub-net (4 bits) << 4 | universe (4 bits)
    std::vector<std::uint8_t> levels; // the slots: 1 to 512 levels
};

// The packet's bytes. The data is padded with a 0 to an even length of at
// least 2 and cut at 512 slots, as the protocol asks of a sender.
std::vector<std::uint8_t> buildDmxPacket(const DmxPacket &packet);

enum class ParseResult {
    Data,
    Ignored,      // an Art-Net packet that is not ArtDmx
    TooShort,
    BadIdentifier,
    BadVersion,
    BadLength,    // a data length of 0 or above 512, or more than the datagram holds
};

const char *parseResultName(ParseResult result);

ParseResult parseDmxPacket(std::span<const std::uint8_t> bytes, DmxPacket &packet);

} // namespace portio::artnet
