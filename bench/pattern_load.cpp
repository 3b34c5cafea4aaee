// The load of pattern files that are huge in their first line: 500 MB
// without a line end, in the shapes that cost the reader most. Reports the
// wall time of each load (the file in the page cache, as after a copy) and
// how much the process's resident memory grew at its peak.
//
// usage: pattern_load [megabytes] [folder]   (default 500 MB in /tmp)

#include "stats.h"

#include "patternfile.h"
#include "portbackend.h"
#include "portio.h"
#include "sequencer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

struct NullPort final : portio::PortBackend
{
    void out32(std::int16_t, std::int16_t) override {}
    std::int16_t inp32(std::int16_t) override { return 0; }
};

// A field of /proc/self/status in KiB (VmRSS, VmHWM).
long statusKiB(const std::string &field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind(field + ":", 0) == 0)
            return std::atol(line.c_str() + field.size() + 1);
    return -1;
}

// Makes VmHWM start again from the present resident size.
void resetPeak()
{
    std::ofstream("/proc/self/clear_refs") << "5";
}

// Writes head, then bytes of body repeated to reach size bytes in all.
void writeFile(const fs::path &path, const std::string &head, char body, long long size)
{
    std::ofstream out(path, std::ios::binary);
    out << head;
    const std::string block(1 << 20, body);
    const auto blockSize = static_cast<long long>(block.size());
    for (long long left = size - static_cast<long long>(head.size()); left > 0; left -= blockSize)
        out.write(block.data(), std::streamsize(std::min(left, blockSize)));
}

} // namespace

int main(int argc, char **argv)
{
    const long long megabytes = argc > 1 ? std::atoll(argv[1]) : 500;
    const fs::path folder = fs::path(argc > 2 ? argv[2] : fs::temp_directory_path().string()) / "pattern_load";
    const long long size = megabytes << 20;
    fs::create_directories(folder);

    NullPort port;
    portio::ScopedPortBackend scope(port);

    struct Shape
    {
        const char *what;
        std::string head;
        char body;
    };
    const std::string cells(160, '1');
    const Shape shapes[] = {
        {"cell digits", "", '1'},
        {"blanks in field 2", cells + "|", ' '},
        {"zeros in field 3", cells + "|20|", '0'},
        {"tabs in field 3", cells + "|20|", '\t'},
        {"digits in field 4", cells + "|20|1|", '7'},
    };
    for (const Shape &shape : shapes) {
        const fs::path file = folder / "gross.bw2";
        writeFile(file, shape.head, shape.body, size);
        std::vector<double> times;
        long peakKiB = 0;
        for (int run = 0; run < 5; ++run) {
            sequencer::Sequencer seq;
            seq.startUp();
            resetPeak();
            const long before = statusKiB("VmRSS");
            const long long start = bench::nowNs();
            patterns::loadPatternFile(seq, folder, "gross.bw2");
            times.push_back(double(bench::nowNs() - start) / 1e6);
            peakKiB = std::max(peakKiB, statusKiB("VmHWM") - before);
        }
        fs::remove(file);
        const std::string name = "load " + std::to_string(megabytes) + " MB, " + shape.what;
        const double median = bench::quantile(times, 0.5);
        bench::row(name + ": median", median, "ms", "< 1000", median < 1000);
        bench::row(name + ": memory", double(peakKiB) / 1024.0, "MB", "< 2", peakKiB < 2048);
    }
    fs::remove_all(folder);
    return 0;
}
