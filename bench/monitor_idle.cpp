// The cost of the monitor while nothing changes: CPU time (user + system)
// of schaltblick over a stretch of seconds, as a share of one core, and as
// a ratio to a bare loop that sleeps to every 10 ms mark, measured over the
// same seconds beside it (the least that waking 100 times a second costs on
// this machine); and the cost of one LptOut and one LptIn on the simulated
// register.
//
// usage: monitor_idle <schaltblick> [seconds]

#include "stats.h"

#include "registerfile.h"
#include "portio.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

// CPU time (user + system) of a process, in seconds: from schedstat, which
// the scheduler keeps in nanoseconds, else from the tick-sampled stat.
double cpuSeconds(pid_t pid)
{
    std::ifstream schedstat("/proc/" + std::to_string(pid) + "/schedstat");
    long long runNs = 0;
    if (schedstat >> runNs)
        return double(runNs) / 1e9;
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), {});
    std::istringstream fields(text.substr(text.rfind(')') + 2));
    std::string field;
    double utime = 0, stime = 0;
    for (int i = 3; i <= 15 && fields >> field; ++i) {
        if (i == 14)
            utime = std::atof(field.c_str());
        if (i == 15)
            stime = std::atof(field.c_str());
    }
    return (utime + stime) / double(::sysconf(_SC_CLK_TCK));
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: monitor_idle <schaltblick> [seconds]\n");
        return 2;
    }
    const std::string program = argv[1];
    const int seconds = argc > 2 ? std::atoi(argv[2]) : 20;
    const std::string registerPath = "/dev/shm/blinkwerk-idle-" + std::to_string(::getpid());

    const pid_t monitor = bench::launchMonitor(program, registerPath);
    const pid_t loop = bench::startChild(bench::sleepAt100HzForever);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const double before = cpuSeconds(monitor), loopBefore = cpuSeconds(loop);
    const long long start = bench::nowNs();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double used = cpuSeconds(monitor) - before, loopUsed = cpuSeconds(loop) - loopBefore;
    const double elapsed = double(bench::nowNs() - start) / 1e9;
    ::kill(monitor, SIGTERM);
    ::waitpid(monitor, nullptr, 0);
    bench::stopChild(loop);
    ::unlink(registerPath.c_str());
    const double share = 100.0 * used / elapsed, loopShare = 100.0 * loopUsed / elapsed;
    bench::row("monitor idle: CPU over " + std::to_string(seconds) + " s", share, "%", "<= 0.5", share <= 0.5);
    bench::row("bare 100 Hz sleep loop beside it: CPU", loopShare, "%");
    const double ratio = loopUsed > 0 ? used / loopUsed : NAN;
    bench::row("monitor idle / bare 100 Hz sleep loop", ratio, "x", "<= 1.3", ratio <= 1.3);

    // The whole layer, LptOut -> Out32 -> register, on a private register.
    const std::string name = "/dev/shm/blinkwerk-bench-" + std::to_string(::getpid());
    std::string error;
    auto reg = portio::RegisterFile::openShared(name, error);
    if (!reg) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    portio::ScopedPortBackend scope(*reg);
    constexpr int Calls = 1000000;
    long long t0 = bench::nowNs();
    for (int i = 0; i < Calls; ++i)
        portio::LptOut(std::uint8_t(i));
    const double outNs = double(bench::nowNs() - t0) / Calls;
    unsigned sum = 0;
    t0 = bench::nowNs();
    for (int i = 0; i < Calls; ++i)
        sum += portio::LptIn();
    const double inNs = double(bench::nowNs() - t0) / Calls;
    portio::RegisterFile::unlinkShared(name);
    bench::row("LptOut on the simulated register", outNs, "ns");
    bench::row("LptIn on the simulated register", inNs, "ns");
    return sum == 1234567890u; // keeps the loop
}
