// The USB HID relay board through real hidapi and hidraw, the board emulated
// by uhid (needs /dev/uhid: bench/run starts it in tools/kernel-vm, a TCG
// machine with one CPU, where every figure is slower than on the host):
//   - time from out32 to the board holding the byte (one relay; all eight);
//   - the monitor's idle cost: a process whose output session (the
//     monitor's role) reads the board every 10 ms, against a bare loop that
//     sleeps to every 10 ms mark, over the same seconds beside it; the
//     board answers from a third process;
//   - blinkwerk's real window (offscreen) with its step clock and an output
//     session, on the simulated register and then on the board while the
//     board is mute (it holds every request unanswered, as a hung one
//     does): the step period error, timed where the clock writes, and the
//     window's response (how long an event posted to the window's thread
//     every 20 ms waits before it is handled).
// Prints rows of bench/run's table.
//
// usage: hid_bench <samples> <idle seconds> <steps>

#include "../outputs/hid/tests/uhidboard.h"
#include "buttoncheckbox.h"
#include "clockpriority.h"
#include "hidrelay.h"
#include "outputs.h"
#include "portbackend.h"
#include "portio.h"
#include "precisetimers.h"
#include "programm.h"
#include "responsesampler.h"
#include "stats.h"

#include <QApplication>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <atomic>
#include <ctime>
#include <sys/stat.h>
#include <thread>

using namespace portio;
using namespace std::chrono_literals;

namespace {

OutputSpec hidSpec()
{
    OutputSpec spec;
    spec.kind = "hidrelay";
    return spec;
}

// out32 to the board holding the byte, for two kinds of change.
bool boardLatency(fakes::UhidBoard &board, int samples)
{
    std::string error;
    std::unique_ptr<PortBackend> port;
    for (int i = 0; i < 100 && !port; ++i) {
        std::this_thread::sleep_for(50ms);
        port = openHidRelayOutput(hidSpec(), OutputRole::Sequencer, error);
    }
    if (!port) {
        std::fprintf(stderr, "hid_bench: %s\n", error.c_str());
        return false;
    }
    struct Case
    {
        const char *what;
        std::uint8_t a, b;
    };
    for (const Case &c : {Case {"HID: write to board, 1 relay", 0x00, 0x01},
                          Case {"HID: write to board, 8 relays", 0x00, 0xff}}) {
        std::vector<double> ms;
        port->out32(888, c.a);
        for (int i = 0; i < samples; ++i) {
            const std::uint8_t byte = i % 2 ? c.a : c.b;
            const auto tick = std::chrono::steady_clock::now();
            port->out32(888, byte);
            if (!board.waitFor(byte, 5s)) {
                std::fprintf(stderr, "hid_bench: the board did not take %02x\n", byte);
                return false;
            }
            ms.push_back(std::chrono::duration<double, std::milli>(board.lastChange() - tick).count());
            std::this_thread::sleep_for(2ms);
        }
        bench::row(std::string(c.what) + ", median", bench::quantile(ms, 0.5), "ms");
        bench::row(std::string(c.what) + ", p99", bench::quantile(ms, 0.99), "ms");
    }
    port->out32(888, 0);
    return true;
}

// A child that waits for a byte on ready, then runs body.
template<typename Body>
pid_t childAfter(int ready, Body body)
{
    return bench::startChild([ready, body] {
        char go = 0;
        if (::read(ready, &go, 1) == 1)
            body();
    });
}

// The board read through its backend at every 10 ms mark, and nothing else.
void readBoardAt100HzForever()
{
    std::string error;
    std::unique_ptr<PortBackend> board = openHidRelayOutput(hidSpec(), OutputRole::Monitor, error);
    if (!board) {
        std::fprintf(stderr, "hid_bench: %s\n", error.c_str());
        return;
    }
    bench::sleepAt100HzForever([&] { (void)board->readPort(); });
}

// The monitor's session reading the board, in a process of its own.
void monitorSessionForever(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    OutputSession session(sessionSetup(OutputRole::Monitor));
    session.bind(hidSpec(), false);
    session.setChangeHandler([] {});
    QCoreApplication::exec();
}

// The port as the program routes it, with each write timed on the thread
// that writes (the step clock's).
class TimedPort final : public PortBackend
{
public:
    TimedPort(PortBackend &next, std::size_t capacity)
        : m_next(next)
        , m_times(capacity)
    {
    }
    void out32(std::int16_t port, std::int16_t value) override
    {
        if (m_recording.load() && m_count.load() < m_times.size()) {
            m_times[m_count.load()] = bench::nowNs();
            m_count.fetch_add(1);
        }
        m_next.out32(port, value);
    }
    std::int16_t inp32(std::int16_t port) override { return m_next.inp32(port); }
    void record(bool on) { m_recording = on; }
    std::size_t count() const { return m_count.load(); }
    std::vector<long long> times() const { return {m_times.begin(), m_times.begin() + long(count())}; }

private:
    PortBackend &m_next;
    std::vector<long long> m_times;
    std::atomic<std::size_t> m_count {0};
    std::atomic<bool> m_recording {false};
};

// blinkwerk's window playing steps at 50 ms on session's output.
void windowRun(const std::string &what, OutputSession &session, int steps)
{
    TimedPort port(session.port(), std::size_t(steps) + 16);
    ScopedPortBackend route(port);
    QTemporaryDir folder;
    std::vector<double> responses;
    std::vector<long long> times;
    {
        Programm window(std::filesystem::path(folder.path().toStdString()));
        window.clockPriority = blinkwerk::clockPriority(); // as blinkwerk asks
        window.show();
        QApplication::processEvents();
        for (int step = 0; step < 20; ++step)
            window.checkArray(1 + step % 8)[std::size_t(step)]->click();
        bench::ResponseSampler sampler(&window);
        // A second of steps before the count starts: the first paints of a
        // window in this machine take long.
        window.Command1->click();
        QTimer::singleShot(1000, [&port] { port.record(true); });
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (int(port.count()) >= steps)
                QCoreApplication::exit(0);
        });
        poll.start(50);
        QApplication::exec();
        port.record(false);
        window.Command2->click();
        sampler.stop();
        QApplication::processEvents();
        responses = sampler.samples();
        times = port.times();
        window.close();
    }
    const bench::StepFigures f = bench::stepFigures(times, 50);
    bench::row(what + ": steps", f.steps, "");
    bench::row(what + ": step p99 error", f.p99, "ms");
    bench::row(what + ": step max error", f.max, "ms");
    bench::row(what + ": window response p99", bench::quantile(responses, 0.99), "ms");
    bench::row(what + ": window response max", bench::quantile(responses, 1.0), "ms");
    std::fflush(stdout);
}

} // namespace

int main(int argc, char **argv)
{
    const int samples = argc > 1 ? std::atoi(argv[1]) : 400;
    const int idleSeconds = argc > 2 ? std::atoi(argv[2]) : 10;
    const int steps = argc > 3 ? std::atoi(argv[3]) : 300;
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("XDG_RUNTIME_DIR", "/run", 1);
    ::chmod("/run", 0700); // the machine's tmpfs: the user's runtime folder here

    // The children first, while this process has one thread.
    int ready[2];
    if (::pipe(ready) != 0)
        return 1;
    const pid_t loop = childAfter(ready[0], [] { bench::sleepAt100HzForever(); });
    const pid_t reader = childAfter(ready[0], readBoardAt100HzForever);
    const pid_t monitor = childAfter(ready[0], [argc, argv] { monitorSessionForever(argc, argv); });

    fakes::UhidBoard board("USBRelay8", "BENCH");
    std::string error;
    if (!board.plugIn(error)) {
        std::fprintf(stderr, "hid_bench: %s\n", error.c_str());
        return 1;
    }
    if (!boardLatency(board, samples))
        return 1;

    // The monitor's idle cost.
    const char go[3] = {1, 1, 1};
    if (::write(ready[1], go, 3) != 3)
        return 1;
    std::this_thread::sleep_for(3s); // bound and reading
    const double before = bench::cpuSeconds(monitor), loopBefore = bench::cpuSeconds(loop),
                 readerBefore = bench::cpuSeconds(reader);
    const long long start = bench::nowNs();
    std::this_thread::sleep_for(std::chrono::seconds(idleSeconds));
    const double used = bench::cpuSeconds(monitor) - before, loopUsed = bench::cpuSeconds(loop) - loopBefore,
                 readerUsed = bench::cpuSeconds(reader) - readerBefore;
    const double elapsed = double(bench::nowNs() - start) / 1e9;
    bench::stopChild(monitor);
    bench::stopChild(reader);
    bench::stopChild(loop);
    bench::row("monitor idle, HID board: CPU", 100.0 * used / elapsed, "%");
    bench::row("monitor idle, HID board: bare 10 ms loop beside it", 100.0 * loopUsed / elapsed, "%");
    const double ratio = loopUsed > 0 ? used / loopUsed : NAN;
    bench::row("monitor idle, HID board / bare 10 ms loop", ratio, "x", "<= 1.3", ratio <= 1.3);
    bench::row("monitor idle, HID board: bare loop reading it, beside it", 100.0 * readerUsed / elapsed, "%");
    bench::row("monitor idle, HID board / bare loop reading it", readerUsed > 0 ? used / readerUsed : NAN, "x");

    // The window on the simulated register, then on the mute board.
    blinkwerk::preferPreciseEventLoop();
    QApplication app(argc, argv);
    {
        OutputSession session(sessionSetup(OutputRole::Sequencer));
        OutputSpec reg = simulatedRegister();
        session.bind(reg, false);
        windowRun("window on the simulated register (VM)", session, steps);
        session.close();
    }
    {
        OutputSession session(sessionSetup(OutputRole::Sequencer));
        session.bind(hidSpec(), false);
        board.setMute(true);
        windowRun("window on the HID board, mute (VM)", session, steps);
        bench::textRow("window on the HID board, mute (VM): status", session.status());
        board.setMute(false);
        session.close();
    }
    return 0;
}
