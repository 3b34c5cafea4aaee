// Stands in for libFuzzer where the compiler has none: feeds the fuzz
// target a bounded number of random inputs, mostly mutations of lines that
// look like pattern files, with a fixed seed so a failure repeats.

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

int main()
{
    std::mt19937 random(1);
    const std::string base = "\x05" + std::string(160, '1') + "|20|1|0\r\n";
    const char alphabet[] = "0123|- \t\r\n+.e9";
    for (int round = 0; round < 200000; ++round) {
        std::string input = round % 4 == 0 ? std::string() : base;
        const int edits = 1 + int(random() % 8);
        for (int e = 0; e < edits; ++e) {
            const std::size_t at = input.empty() ? 0 : random() % (input.size() + 1);
            switch (random() % 3) {
            case 0: input.insert(at, 1, alphabet[random() % (sizeof alphabet - 1)]); break;
            case 1: if (at < input.size()) input.erase(at, 1 + random() % 40); break;
            default: input.insert(at, 1, char(random() % 256)); break;
            }
        }
        LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t *>(input.data()), input.size());
    }
    std::puts("fuzz: 200000 inputs, no fault");
    return 0;
}
