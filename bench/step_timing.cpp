// Plays a pattern on the real main window (offscreen) and timestamps every
// port write on the monotonic clock, for several step intervals. Reports
// the period error and the drift per interval, and once more at 50 ms while
// another process keeps one core busy; writes the periods as CSV.
//
// usage: step_timing <out-dir> [scale]   (scale < 1 shortens every run)

#include "stats.h"

#include "buttoncheckbox.h"
#include "portbackend.h"
#include "portio.h"
#include "precisetimers.h"
#include "programm.h"

#include <QApplication>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace {

class TimestampPort final : public portio::PortBackend
{
public:
    void out32(std::int16_t, std::int16_t) override
    {
        if (m_recording)
            m_times.push_back(bench::nowNs());
    }
    std::int16_t inp32(std::int16_t) override { return 0; }

    void record(bool on) { m_recording = on; }
    std::vector<long long> m_times;

private:
    bool m_recording = false;
};

} // namespace

int main(int argc, char **argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: step_timing <out-dir> [scale]\n");
        return 2;
    }
    const std::string outDir = argv[1];
    const double scale = argc > 2 ? std::atof(argv[2]) : 1.0;
    qputenv("QT_QPA_PLATFORM", "offscreen");
    blinkwerk::preferPreciseEventLoop(); // as blinkwerk itself does
    QApplication app(argc, argv);

    TimestampPort port;
    portio::ScopedPortBackend scope(port);
    QTemporaryDir folder;
    Programm window(std::filesystem::path(folder.path().toStdString()));
    window.show();
    for (int step = 0; step < 20; ++step)
        window.checkArray(1 + step % 8)[std::size_t(step)]->click();

    struct Run { int interval; std::int16_t stepPosition, cpuPosition; int steps; bool busyCore = false; };
    const Run runs[] = {
        {45, 0, 5, 1000}, {50, 0, 0, 1000}, {100, 2, 0, 300}, {500, 10, 0, 40}, {50, 0, 0, 1000, true},
    };
    std::ofstream csv(outDir + "/step_periods.csv");
    csv << "interval_ms,step,period_ms,error_ms,other_load\n";
    for (const Run &run : runs) {
        const int steps = std::max(10, int(run.steps * scale));
        const pid_t spinner = run.busyCore ? bench::startChild(bench::spinForever) : -1;
        window.engine().selectStepTime(run.stepPosition);
        window.engine().selectCpuTime(run.cpuPosition);
        port.m_times.clear();
        port.record(true);
        window.Command1->click();
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            if (int(port.m_times.size()) >= steps)
                QCoreApplication::exit(0);
        });
        poll.start(run.interval);
        QApplication::exec();
        port.record(false);
        window.Command2->click();
        bench::stopChild(spinner);

        const std::vector<long long> times(port.m_times.begin(), port.m_times.begin() + steps);
        std::vector<double> errors, periods;
        for (std::size_t i = 1; i < times.size(); ++i) {
            const double period = double(times[i] - times[i - 1]) / 1e6;
            periods.push_back(period);
            errors.push_back(std::abs(period - run.interval));
            csv << run.interval << ',' << i << ',' << period << ',' << period - run.interval << ','
                << (run.busyCore ? "one core busy" : "none") << '\n';
        }
        const double drift = double(times.back() - times.front()) / 1e6 - double(steps - 1) * run.interval;
        const std::string name =
            "step " + std::to_string(run.interval) + " ms" + (run.busyCore ? ", core busy" : "");
        bench::row(name + ": steps measured", steps, "");
        bench::row(name + ": mean period", bench::mean(periods), "ms");
        const double median = bench::quantile(errors, 0.5), p99 = bench::quantile(errors, 0.99);
        bench::row(name + ": median |error|", median, "ms", "<= 0.2", median <= 0.2);
        bench::row(name + ": p99 |error|", p99, "ms", "<= 1", p99 <= 1.0);
        bench::row(name + ": max |error|", bench::quantile(errors, 1.0), "ms");
        bench::row(name + ": drift over all steps", drift, "ms", run.interval == 50 ? "|x| <= 1" : "",
                   std::abs(drift) <= 1.0);
    }
    window.close();
    return 0;
}
