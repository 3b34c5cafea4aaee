// The cost of the monitor while nothing changes: CPU time (user + system,
// every thread) of the real schaltblick, offscreen, over a stretch of
// seconds, as a share of one core and as a ratio to a bare loop that sleeps
// to every 10 ms mark, measured over the same seconds beside it (the least
// that waking 100 times a second costs on this machine), and to a bare loop
// that also reads the same output at every mark, through the same backend
// (the least that reading it every 10 ms costs). The output is a register
// file that nobody writes, or a network universe that nobody sends (the
// monitor listens).
//
// usage: monitor_idle <schaltblick> <seconds> register|sacn

#include "stats.h"

#include "outputs.h"
#include "portbackend.h"
#include "registerfile.h"

#include <QCoreApplication>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace {

// Reads output at every 10 ms mark through its backend, and does nothing
// else; in a process of its own, until stopped.
void readAt100HzForever(int argc, char **argv, const std::string &output)
{
    QCoreApplication app(argc, argv); // the network listener's socket
    std::string error;
    const std::optional<portio::OutputSpec> spec = portio::parseOutputSpec(output, error);
    const portio::OutputKind *kind = spec ? portio::outputKinds().find(spec->kind) : nullptr;
    std::unique_ptr<portio::PortBackend> backend = kind ? kind->open(*spec, portio::OutputRole::Monitor, error) : nullptr;
    if (!backend) {
        std::fprintf(stderr, "monitor_idle: %s: %s\n", output.c_str(), error.c_str());
        return;
    }
    bench::sleepAt100HzForever([&] { (void)backend->readPort(); });
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 4) {
        std::fprintf(stderr, "usage: monitor_idle <schaltblick> <seconds> register|sacn\n");
        return 2;
    }
    const std::string program = argv[1], kind = argv[3];
    const int seconds = std::atoi(argv[2]);
    std::string output, registerPath;
    if (kind == "register") {
        registerPath = "/dev/shm/blinkwerk-idle-" + std::to_string(::getpid());
        std::string error;
        if (!portio::RegisterFile::openFile(registerPath, error)) {
            std::fprintf(stderr, "monitor_idle: %s\n", error.c_str());
            return 1;
        }
        output = "register:" + registerPath;
    } else {
        // A universe of its own, on loopback: nothing else sends to it.
        output = "sacn:" + std::to_string(40000 + ::getpid() % 20000) + "@127.0.0.1";
    }

    const pid_t monitor = bench::launchMonitor(program, output);
    const pid_t loop = bench::startChild([] { bench::sleepAt100HzForever(); });
    const pid_t reader = bench::startChild([&] { readAt100HzForever(argc, argv, output); });
    std::this_thread::sleep_for(std::chrono::seconds(2)); // the window is up and reading
    const double before = bench::cpuSeconds(monitor), loopBefore = bench::cpuSeconds(loop),
                 readerBefore = bench::cpuSeconds(reader);
    const long long start = bench::nowNs();
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    const double used = bench::cpuSeconds(monitor) - before, loopUsed = bench::cpuSeconds(loop) - loopBefore,
                 readerUsed = bench::cpuSeconds(reader) - readerBefore;
    const double elapsed = double(bench::nowNs() - start) / 1e9;
    bench::stopChild(reader);
    int status = 0;
    const bool alive = ::waitpid(monitor, &status, WNOHANG) == 0;
    ::kill(monitor, SIGTERM);
    ::waitpid(monitor, nullptr, 0);
    bench::stopChild(loop);
    if (!registerPath.empty())
        ::unlink(registerPath.c_str());
    if (!alive) {
        std::fprintf(stderr, "monitor_idle: schaltblick ended early\n");
        return 1;
    }
    const std::string what = "monitor idle, " + (kind == "register" ? std::string("register") : "network universe");
    bench::row(what + ": CPU over " + std::to_string(seconds) + " s", 100.0 * used / elapsed, "%");
    bench::row(what + ": bare 10 ms loop beside it", 100.0 * loopUsed / elapsed, "%");
    const double ratio = loopUsed > 0 ? used / loopUsed : NAN;
    bench::row(what + " / bare 10 ms loop", ratio, "x", "<= 1.3", ratio <= 1.3);
    bench::row(what + ": bare loop reading it, beside it", 100.0 * readerUsed / elapsed, "%");
    bench::row(what + " / bare loop reading it", readerUsed > 0 ? used / readerUsed : NAN, "x");
    return 0;
}
