// Measures how soon schaltblick's lamps follow a change of the register.
// This process writes a new byte into a shared register at random moments,
// never faster than 30 ms apart, and notes when; a schaltblick built with
// BLINKWERK_MONITOR_TRACE runs offscreen on the same register and notes
// when its lamps took each value. Both use the same monotonic clock.
//
// usage: monitor_latency <traced schaltblick> <out-dir> [changes]

#include "stats.h"

#include "registerfile.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

int main(int argc, char **argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: monitor_latency <traced schaltblick> <out-dir> [changes]\n");
        return 2;
    }
    const std::string program = argv[1], outDir = argv[2];
    const int changes = argc > 3 ? std::atoi(argv[3]) : 320;
    // A register file on memory-backed storage: mapped exactly as the
    // simulated register is, but private to this run.
    const std::string registerPath = "/dev/shm/blinkwerk-bench-" + std::to_string(::getpid());
    const std::string tracePath = outDir + "/monitor_trace.csv";
    std::string error;
    auto reg = portio::RegisterFile::openFile(registerPath, error);
    if (!reg) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    reg->write(0);

    const pid_t monitor = bench::launchMonitor(program, "register:" + registerPath, tracePath);
    std::this_thread::sleep_for(std::chrono::seconds(2)); // the window is up and polling

    std::mt19937 random(7);
    std::vector<std::pair<long long, int>> writes;
    int previous = 0;
    for (int i = 0; i < changes; ++i) {
        std::this_thread::sleep_for(std::chrono::microseconds(30000 + random() % 40000));
        int byte;
        do
            byte = int(random() % 256);
        while (byte == previous);
        reg->write(std::uint8_t(byte));
        writes.emplace_back(bench::nowNs(), byte);
        previous = byte;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    ::kill(monitor, SIGTERM);
    int status = 0;
    ::waitpid(monitor, &status, 0);
    ::unlink(registerPath.c_str());

    std::vector<std::pair<long long, int>> shown;
    std::ifstream trace(tracePath);
    for (std::string line; std::getline(trace, line);) {
        std::istringstream fields(line);
        long long t;
        char comma;
        int byte;
        if (fields >> t >> comma >> byte)
            shown.emplace_back(t, byte);
    }
    std::ofstream csv(outDir + "/monitor_latency.csv");
    csv << "change,byte,latency_ms\n";
    std::vector<double> latencies;
    int missed = 0;
    std::size_t from = 0;
    for (std::size_t i = 0; i < writes.size(); ++i) {
        const auto [written, byte] = writes[i];
        const long long next = i + 1 < writes.size() ? writes[i + 1].first : written + 1000000000LL;
        while (from < shown.size() && shown[from].first < written)
            ++from;
        std::size_t j = from;
        while (j < shown.size() && shown[j].first < next && shown[j].second != byte)
            ++j;
        if (j < shown.size() && shown[j].first < next && shown[j].second == byte) {
            const double latency = double(shown[j].first - written) / 1e6;
            latencies.push_back(latency);
            csv << i << ',' << byte << ',' << latency << '\n';
        } else {
            ++missed;
        }
    }
    const double p99 = bench::quantile(latencies, 0.99);
    bench::row("monitor: changes measured", double(latencies.size()), "");
    bench::row("monitor: changes never shown", missed, "", "0", missed == 0);
    bench::row("monitor: median latency", bench::quantile(latencies, 0.5), "ms");
    bench::row("monitor: p99 latency", p99, "ms", "<= 11", p99 <= 11.0);
    bench::row("monitor: max latency", bench::quantile(latencies, 1.0), "ms");
    return latencies.empty() ? 1 : 0;
}
