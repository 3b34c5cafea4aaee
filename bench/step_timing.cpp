// Step timing of blinkwerk's real main window (offscreen) with its step
// clock, for one interval, one load and one priority per run:
//   - every port write is timestamped on the monotonic clock by a recorder
//     on the thread that writes (the clock's), which then writes the byte
//     into a register file; a separate process (register_observer) times
//     every change of that file from outside, as a probe on the wires would;
//   - the period error |period - interval| (median, p99, max) and the drift
//     of the last step against an exact schedule, by both;
//   - what priority the clock's thread got (policy and timer slack seen on
//     the thread that writes);
//   - the window's response: how long an event posted to the window's
//     thread every 20 ms waits before it is handled;
//   - with --busy-window, a handler on the window's thread that sleeps
//     200 ms every second: the steps must not care;
//   - with --player, blinkwerk-player plays the same pattern on a register
//     of its own beside the window, timed by the same observer; its peak
//     memory (VmHWM) is read before it ends.
// Load: none, one spinning process (one core busy) or one per core (every
// core busy). Realtime: yes asks as blinkwerk does (SCHED_FIFO, else
// RealtimeKit), no asks nothing (the thread runs SCHED_OTHER with the
// default timer slack). Prints rows of bench/run's table and appends the
// per-step samples to <out>/steps.csv.
//
// usage: step_timing --out DIR --interval MS --steps N [--load none|one|all]
//                    [--realtime yes|no] [--busy-window] [--player PROGRAM]

#include "recorderport.h"
#include "observer.h"
#include "responsesampler.h"
#include "stats.h"

#include "buttoncheckbox.h"
#include "patternfile.h"
#include "portbackend.h"
#include "portio.h"
#include "precisetimers.h"
#include "programm.h"
#include "realtime.h"
#include "realtimekit.h"
#include "registerfile.h"
#include "steptime.h"

#include <QApplication>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iomanip>
#include <map>
#include <mutex>
#include <pthread.h>
#include <sched.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <thread>

using namespace std::chrono_literals;

namespace {

struct Options
{
    std::string out;
    int interval = 50;
    int steps = 1000;
    std::string load = "none";
    bool realtime = true;
    bool busyWindow = false;
    std::string player;
};

std::optional<Options> parse(int argc, char **argv)
{
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char *next = i + 1 < argc ? argv[i + 1] : nullptr;
        if (a == "--busy-window")
            o.busyWindow = true;
        else if (!next)
            return std::nullopt;
        else if (a == "--out")
            o.out = argv[++i];
        else if (a == "--interval")
            o.interval = std::atoi(argv[++i]);
        else if (a == "--steps")
            o.steps = std::atoi(argv[++i]);
        else if (a == "--load")
            o.load = argv[++i];
        else if (a == "--realtime")
            o.realtime = std::string(argv[++i]) == "yes";
        else if (a == "--player")
            o.player = argv[++i];
        else
            return std::nullopt;
    }
    if (o.out.empty() || o.steps < 3 || (o.load != "none" && o.load != "one" && o.load != "all"))
        return std::nullopt;
    return o;
}

std::int16_t stepTimePosition(int intervalMs)
{
    for (std::size_t i = 0; i < sequencer::StepTimeTable.size(); ++i)
        if (sequencer::StepTimeTable[i].ms == intervalMs)
            return std::int16_t(i);
    return -1;
}

// The writes of one register that fall in [from, to].
std::vector<long long> within(const std::vector<long long> &times, long long from, long long to)
{
    std::vector<long long> kept;
    for (long long t : times)
        if (t >= from && t <= to)
            kept.push_back(t);
    return kept;
}

} // namespace

int main(int argc, char **argv)
{
    const std::optional<Options> options = parse(argc, argv);
    if (!options || stepTimePosition(options->interval) < 0) {
        std::fprintf(stderr, "usage: step_timing --out DIR --interval MS --steps N [--load none|one|all] "
                             "[--realtime yes|no] [--busy-window] [--player PROGRAM]\n");
        return 2;
    }
    const Options &o = *options;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    blinkwerk::preferPreciseEventLoop(); // as blinkwerk itself does
    QApplication app(argc, argv);

    const std::string tag = std::to_string(::getpid());
    const std::string registerPath = "/dev/shm/blinkwerk-steps-" + tag;
    std::string error;
    auto reg = portio::RegisterFile::openFile(registerPath, error);
    if (!reg) {
        std::fprintf(stderr, "step_timing: %s\n", error.c_str());
        return 1;
    }
    bench::RecorderPort port(*reg, std::size_t(o.steps) + 64);
    portio::ScopedPortBackend scope(port);

    QTemporaryDir folder;
    Programm window(std::filesystem::path(folder.path().toStdString()));
    std::string priorityGot = "not asked";
    std::mutex priorityMutex;
    if (o.realtime)
        window.clockPriority = [&] {
            const sequencer::Priority got = sequencer::raiseThisThread(&blinkwerk::askRealtimeKit);
            const std::lock_guard lock(priorityMutex);
            priorityGot = got.said;
        };
    window.show();
    QApplication::processEvents();
    // Each step a byte other than the one before: channel 1 + step % 8.
    for (int step = 0; step < 20; ++step)
        window.checkArray(1 + step % 8)[std::size_t(step)]->click();
    {
        const std::lock_guard lock(window.engineLock());
        window.engine().selectStepTime(stepTimePosition(o.interval));
        window.engine().selectCpuTime(0);
    }

    // The player, on a register of its own, with the same pattern.
    const std::string playerRegister = "/dev/shm/blinkwerk-player-" + tag;
    pid_t player = -1;
    if (!o.player.empty()) {
        {
            const std::lock_guard lock(window.engineLock());
            patterns::savePatternFile(window.engine(), folder.path().toStdString(), "bench");
        }
        auto playerReg = portio::RegisterFile::openFile(playerRegister, error); // made by this user, 0600
        playerReg.reset();
        const std::string pattern = folder.path().toStdString() + "/bench.bw2";
        const std::string output = "register:" + playerRegister;
        const std::string stepTime = std::to_string(o.interval);
        // A page address of its own: the default port may be taken on this machine.
        const std::string listen = "127.0.0.1:" + std::to_string(20000 + ::getpid() % 20000);
        player = ::fork();
        if (player == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            ::setenv("XDG_RUNTIME_DIR", folder.path().toUtf8().constData(), 1);
            ::execl(o.player.c_str(), o.player.c_str(), "--output", output.c_str(), "--step-time",
                    stepTime.c_str(), "--listen", listen.c_str(), pattern.c_str(), static_cast<char *>(nullptr));
            _exit(127);
        }
        std::this_thread::sleep_for(1s);
    }

    std::vector<pid_t> spinners;
    const int spinning = o.load == "one" ? 1 : o.load == "all" ? int(std::thread::hardware_concurrency()) : 0;
    for (int i = 0; i < spinning; ++i)
        spinners.push_back(bench::startChild(bench::spinForever));

    QTimer busy;
    if (o.busyWindow) {
        QObject::connect(&busy, &QTimer::timeout, [] { std::this_thread::sleep_for(200ms); });
        busy.start(1000);
    }

    // The window's response, sampled every 20 ms from a thread of its own.
    bench::ResponseSampler sampler(&window);

    std::vector<std::string> watched {registerPath};
    if (player > 0)
        watched.push_back(playerRegister);
    bench::Observer observer(watched);
    const double stolenBefore = bench::stolenMs();
    port.record(true);
    window.Command1->click();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (int(port.count()) >= o.steps)
            QCoreApplication::exit(0);
    });
    poll.start(o.interval);
    QApplication::exec();
    port.record(false);
    const double stolen = bench::stolenMs() - stolenBefore;
    // The last write counted may still be on its way to the file.
    std::this_thread::sleep_for(20ms);
    observer.stop();
    window.Command2->click();
    sampler.stop();
    QApplication::processEvents();
    const std::vector<double> &responses = sampler.samples();
    for (pid_t s : spinners)
        bench::stopChild(s);
    long playerPeakKb = -1;
    if (player > 0) {
        playerPeakKb = bench::statusKb(player, "VmHWM");
        ::kill(player, SIGTERM);
        ::waitpid(player, nullptr, 0);
        ::unlink(playerRegister.c_str());
    }
    window.close();
    ::unlink(registerPath.c_str());

    std::vector<long long> recorded = port.times();
    std::vector<long long> observed = observer.times(0);
    // The observer started before the first write counted and ended after
    // the last: it saw the same writes, and maybe one more.
    if (observed.size() > recorded.size())
        observed.resize(recorded.size());
    const bench::StepFigures inside = bench::stepFigures(recorded, o.interval);
    const bench::StepFigures outside = bench::stepFigures(observed, o.interval);

    const std::string loadText = o.load == "none" ? "quiet" : o.load == "one" ? "one core busy" : "every core busy";
    const std::string name = "step " + std::to_string(o.interval) + " ms, " + loadText + ", "
                             + (o.realtime ? "rt" : "no rt") + (o.busyWindow ? ", window busy" : "") + " ("
                             + port.thread() + ")";
    if (o.realtime && o.load == "none" && !o.busyWindow && o.player.empty()) {
        const std::lock_guard lock(priorityMutex);
        bench::textRow("step clock: priority asked for and got", priorityGot);
    }
    // The goals: at 50 ms quiet and with one core busy (the window busy
    // counts as quiet), p99 and max; with every core busy and realtime
    // priority, p99; the drift over 1000 steps at 50 ms.
    const bool fifty = o.interval == 50;
    std::string goal;
    bool met = true;
    if (fifty && o.load != "all") {
        goal = "<= 1 / <= 5";
        met = inside.p99 <= 1.0 && inside.max <= 5.0;
    } else if (fifty && o.realtime) {
        goal = "p99 <= 2";
        met = inside.p99 <= 2.0;
    }
    bench::textRow(name + ": p99 / max error", bench::fixed(inside.p99) + " / " + bench::fixed(inside.max) + " ms",
                   goal, met);
    const bool driftGoal = fifty && inside.steps >= 1000 && o.load != "all";
    bench::textRow(name + ": median error, drift over " + std::to_string(inside.steps) + " steps",
                   bench::fixed(inside.median) + ", " + bench::fixed(inside.drift) + " ms",
                   driftGoal ? "within ±1" : "", std::abs(inside.drift) <= 1.0);
    // What the late steps (more than 1 ms late) had been through, from
    // the clock thread's own accounts: a wait for a CPU (another task, or
    // a kernel that would not let go of the core), a block on a lock or
    // another thread (more than one voluntary switch), or neither: the
    // thread was woken late (the timer, or the hypervisor had the core).
    const std::vector<bench::RecorderPort::ThreadState> states = port.threadStates();
    int late = 0, waited = 0, blocked = 0;
    for (std::size_t i = 2; i < states.size(); ++i) {
        const double lateness = inside.periods[i - 1] - o.interval;
        if (lateness <= 1.0)
            continue;
        ++late;
        if (states[i].voluntary - states[i - 1].voluntary > 1)
            ++blocked;
        else if (double(states[i].runQueueNs - states[i - 1].runQueueNs) / 1e6 >= lateness / 2)
            ++waited;
    }
    bench::textRow(name + ": steps > 1 ms late: waited for CPU / blocked / woken late",
                   std::to_string(late) + ": " + std::to_string(waited) + " / " + std::to_string(blocked) + " / "
                       + std::to_string(late - waited - blocked));
    std::string outsideText = "saw " + std::to_string(outside.steps) + " writes";
    if (outside.steps == inside.steps) {
        std::vector<double> lag;
        for (std::size_t i = 0; i < recorded.size(); ++i)
            lag.push_back(double(observed[i] - recorded[i]) / 1e6);
        outsideText = bench::fixed(outside.p99) + " / " + bench::fixed(outside.max) + " ms; "
                      + bench::fixed(bench::quantile(lag, 0.5)) + " / " + bench::fixed(bench::quantile(lag, 1.0))
                      + " ms";
    }
    bench::textRow(name + ": observer p99 / max error; lag median / max", outsideText);
    if (o.busyWindow)
        bench::textRow(name + ": window response max (it sleeps)", bench::fixed(bench::quantile(responses, 1.0)) + " ms");
    else
        bench::textRow(name + ": window response p99; host took", bench::fixed(bench::quantile(responses, 0.99))
                                                                      + " ms; " + bench::fixed(stolen, 0) + " ms");

    if (player > 0) {
        const std::vector<long long> playerTimes =
            within(observer.times(1), recorded.front(), recorded.back());
        const bench::StepFigures played = bench::stepFigures(playerTimes, o.interval);
        bench::textRow("player beside it (observer): p99 / max error",
                       bench::fixed(played.p99) + " / " + bench::fixed(played.max) + " ms", "<= 1 / <= 5",
                       played.p99 <= 1.0 && played.max <= 5.0);
        bench::textRow("player beside it: steps, median error",
                       std::to_string(played.steps) + ", " + bench::fixed(played.median) + " ms");
        bench::row("player: peak memory (VmHWM)", double(playerPeakKb) / 1024.0, "MiB");
    }

    const std::string csvPath = o.out + "/steps.csv";
    struct stat st {};
    const bool fresh = ::stat(csvPath.c_str(), &st) != 0;
    std::ofstream csv(csvPath, std::ios::app);
    csv << std::fixed << std::setprecision(4);
    if (fresh)
        csv << "run,step,t_ms,period_ms,error_ms,observer_period_ms,runqueue_ms,voluntary_switches,forced_switches\n";
    for (std::size_t i = 1; i < recorded.size(); ++i) {
        csv << '"' << name << "\"," << i << ',' << double(recorded[i] - recorded.front()) / 1e6 << ','
            << inside.periods[i - 1] << ',' << inside.periods[i - 1] - o.interval << ',';
        if (outside.steps == inside.steps)
            csv << outside.periods[i - 1];
        // The first write may come from another thread (Start's own).
        if (i >= 2)
            csv << ',' << double(states[i].runQueueNs - states[i - 1].runQueueNs) / 1e6 << ','
                << states[i].voluntary - states[i - 1].voluntary << ',' << states[i].forced - states[i - 1].forced;
        else
            csv << ",,,";
        csv << '\n';
    }
    return 0;
}
