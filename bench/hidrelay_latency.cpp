// USB HID relay board through real hidapi and hidraw, the board emulated by
// uhid (needs /dev/uhid: bench/run starts it in tools/kernel-vm).
//   - time from out32 to the board holding the byte, for one relay, for all
//     eight changing one by one (0x55 <-> 0xaa, five reports) and for all
//     eight at once (0x00 <-> 0xff, one report);
//   - the CPU time of a loop that reads the board every 10 ms as the monitor
//     does, against the same loop without the read.
// Prints rows of bench/run's table.

#include "../outputs/hid/tests/uhidboard.h"
#include "hidrelay.h"
#include "portbackend.h"
#include "stats.h"

#include <ctime>
#include <thread>

using namespace portio;
using namespace std::chrono_literals;

namespace {

double threadCpuMs()
{
    timespec t {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// CPU time of the calling thread over seconds of a 100 Hz loop (absolute
// deadlines), with work at every tick.
template<typename Work>
double loopCpuPercent(int seconds, Work work)
{
    const double cpu = threadCpuMs();
    timespec next {};
    clock_gettime(CLOCK_MONOTONIC, &next);
    for (int i = 0; i < seconds * 100; ++i) {
        next.tv_nsec += 10'000'000;
        if (next.tv_nsec >= 1'000'000'000) {
            next.tv_nsec -= 1'000'000'000;
            ++next.tv_sec;
        }
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
        work();
    }
    return (threadCpuMs() - cpu) / (seconds * 10.0);
}

} // namespace

int main(int argc, char **argv)
{
    const int samples = argc > 1 ? std::atoi(argv[1]) : 400;
    const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 10;
    fakes::UhidBoard board("USBRelay8", "BENCH");
    std::string error;
    if (!board.plugIn(error)) {
        std::fprintf(stderr, "hidrelay_latency: %s\n", error.c_str());
        return 1;
    }
    OutputSpec spec;
    spec.kind = "hidrelay";
    std::unique_ptr<PortBackend> port;
    for (int i = 0; i < 100 && !port; ++i) {
        std::this_thread::sleep_for(50ms);
        port = openHidRelayOutput(spec, OutputRole::Sequencer, error);
    }
    if (!port) {
        std::fprintf(stderr, "hidrelay_latency: %s\n", error.c_str());
        return 1;
    }

    struct Case
    {
        const char *what;
        std::uint8_t a, b;
    };
    for (const Case &c : {Case {"HID: tick to board, 1 relay", 0x00, 0x01},
                          Case {"HID: tick to board, 8 relays, 5 reports", 0x55, 0xaa},
                          Case {"HID: tick to board, 8 relays, all on/off", 0x00, 0xff}}) {
        std::vector<double> ms;
        port->out32(888, c.a);
        for (int i = 0; i < samples; ++i) {
            const std::uint8_t byte = i % 2 ? c.a : c.b;
            const auto tick = std::chrono::steady_clock::now();
            port->out32(888, byte);
            if (!board.waitFor(byte, 5s)) {
                std::fprintf(stderr, "hidrelay_latency: the board did not take %02x\n", byte);
                return 1;
            }
            ms.push_back(std::chrono::duration<double, std::milli>(board.lastChange() - tick).count());
            std::this_thread::sleep_for(2ms);
        }
        bench::row(std::string(c.what) + ", median", bench::quantile(ms, 0.5), "ms");
        bench::row(std::string(c.what) + ", p99", bench::quantile(ms, 0.99), "ms");
    }
    port.reset();

    auto monitor = openHidRelayOutput(spec, OutputRole::Monitor, error);
    if (!monitor) {
        std::fprintf(stderr, "hidrelay_latency: %s\n", error.c_str());
        return 1;
    }
    volatile int sink = 0;
    const double bare = loopCpuPercent(idleSeconds, [&] { sink = sink + 1; });
    const double reading = loopCpuPercent(idleSeconds, [&] { sink = sink + monitor->inp32(888); });
    bench::row("HID: bare 100 Hz loop, CPU", bare, "%");
    bench::row("HID: 100 Hz loop reading the board, CPU", reading, "%");
    bench::row("HID: reading loop / bare loop", reading / bare, "x");
    return 0;
}
