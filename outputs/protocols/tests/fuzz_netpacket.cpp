// Fuzz target for the sACN and Art-Net parsers: any bytes as a datagram.
// Whatever arrives, a packet taken as data must describe itself
// consistently, and building it again must give a packet that parses to the
// same fields.

#include "artnetpacket.h"
#include "sacnpacket.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::span<const std::uint8_t> bytes(data, size);

    portio::sacn::DataPacket s;
    if (portio::sacn::parseDataPacket(bytes, s) == portio::sacn::ParseResult::Data) {
        require(s.levels.size() <= 512 && s.levels.size() + portio::sacn::HeaderSize == size);
        require(s.universe >= 1 && s.universe <= 63999 && s.priority <= 200 && s.sourceName.size() <= 64);
        portio::sacn::DataPacket again;
        const auto rebuilt = portio::sacn::buildDataPacket(s);
        require(portio::sacn::parseDataPacket(rebuilt, again) == portio::sacn::ParseResult::Data);
        require(again.levels == s.levels && again.universe == s.universe && again.cid == s.cid
                && again.sequence == s.sequence && again.options == s.options);
    }

    portio::artnet::DmxPacket a;
    if (portio::artnet::parseDmxPacket(bytes, a) == portio::artnet::ParseResult::Data) {
        require(!a.levels.empty() && a.levels.size() <= 512 && a.levels.size() + portio::artnet::HeaderSize <= size);
        require(a.portAddress <= portio::artnet::LastPortAddress);
        portio::artnet::DmxPacket again;
        const auto rebuilt = portio::artnet::buildDmxPacket(a);
        require(portio::artnet::parseDmxPacket(rebuilt, again) == portio::artnet::ParseResult::Data);
        require(again.portAddress == a.portAddress && again.sequence == a.sequence
                && std::equal(a.levels.begin(), a.levels.end(), again.levels.begin()));
    }
    return 0;
}
