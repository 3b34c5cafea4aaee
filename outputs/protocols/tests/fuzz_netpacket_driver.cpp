// Stands in for libFuzzer where the compiler has none: feeds the packet fuzz
// target a bounded number of mutations of well-formed sACN and Art-Net
// packets, with a fixed seed so a failure repeats.

#include "artnetpacket.h"
#include "sacnpacket.h"

#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

int main()
{
    portio::sacn::DataPacket s;
    s.levels.assign(512, 255);
    portio::artnet::DmxPacket a;
    a.levels.assign(512, 255);
    const std::vector<std::vector<std::uint8_t>> bases = {portio::sacn::buildDataPacket(s),
                                                          portio::artnet::buildDmxPacket(a)};
    std::mt19937 random(1);
    constexpr int Rounds = 200000;
    for (int round = 0; round < Rounds; ++round) {
        std::vector<std::uint8_t> input = bases[std::size_t(round) % bases.size()];
        const int edits = 1 + int(random() % 6);
        for (int e = 0; e < edits; ++e) {
            const std::size_t at = random() % (input.size() + 1);
            switch (random() % 3) {
            case 0: if (at < input.size()) input[at] = std::uint8_t(random()); break;
            case 1: input.resize(at); break;
            default: input.insert(input.begin() + long(at), std::uint8_t(random())); break;
            }
        }
        LLVMFuzzerTestOneInput(input.data(), input.size());
    }
    std::printf("fuzz: %d inputs, no fault\n", Rounds);
    return 0;
}
