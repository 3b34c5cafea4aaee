#pragma once
// Small helpers shared by the benchmark programs.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include <climits>
#include <csignal>
#include <cstdlib>
#include <ctime>
#include <dirent.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace bench {

inline long long nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The q-quantile (0 to 1) of values, by the nearest-rank method.
inline double quantile(std::vector<double> values, double q)
{
    if (values.empty())
        return NAN;
    std::sort(values.begin(), values.end());
    const std::size_t rank = std::size_t(std::ceil(q * double(values.size())));
    return values[std::min(values.size() - 1, rank == 0 ? 0 : rank - 1)];
}

inline double mean(const std::vector<double> &values)
{
    double sum = 0;
    for (double v : values)
        sum += v;
    return values.empty() ? NAN : sum / double(values.size());
}

// One row of the table bench/run prints: what, figure, goal, verdict.
inline void row(const std::string &what, double value, const char *unit, const std::string &goal = "",
                bool met = true)
{
    std::printf("| %-58s | %10.3f %-4s | %-10s | %-4s |\n", what.c_str(), value, unit, goal.c_str(),
                goal.empty() ? "" : met ? "met" : "MISS");
    std::fflush(stdout);
}

// A row whose figure is words, or several figures ("0.08 / 0.12 ms").
inline void textRow(const std::string &what, const std::string &text, const std::string &goal = "",
                    bool met = true)
{
    std::printf("| %-58s | %15s | %-10s | %-4s |\n", what.c_str(), text.c_str(), goal.c_str(),
                goal.empty() ? "" : met ? "met" : "MISS");
    std::fflush(stdout);
}

// A figure in a textRow: "0.083", "nan".
inline std::string fixed(double value, int decimals = 3)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// The time the hypervisor kept this machine's CPUs from running it, over
// all of them, in ms so far (the steal column of /proc/stat, in ticks of
// USER_HZ).
inline double stolenMs()
{
    std::ifstream stat("/proc/stat");
    std::string cpu;
    long long user, nice, system, idle, iowait, irq, softirq, steal = 0;
    stat >> cpu >> user >> nice >> system >> idle >> iowait >> irq >> softirq >> steal;
    return double(steal) * 1000.0 / double(::sysconf(_SC_CLK_TCK));
}

// The timing of a run of steps from the moments of their writes (ns on the
// monotonic clock): the period error |period - interval| and the drift, the
// time the last write lies beside its place in an exact schedule that starts
// at the first.
struct StepFigures
{
    int steps = 0;
    double median = NAN, p99 = NAN, max = NAN, drift = NAN; // ms
    std::vector<double> periods;                            // ms
};

inline StepFigures stepFigures(const std::vector<long long> &times, int intervalMs)
{
    StepFigures f;
    f.steps = int(times.size());
    if (times.size() < 2)
        return f;
    std::vector<double> errors;
    for (std::size_t i = 1; i < times.size(); ++i) {
        const double period = double(times[i] - times[i - 1]) / 1e6;
        f.periods.push_back(period);
        errors.push_back(std::abs(period - intervalMs));
    }
    f.median = quantile(errors, 0.5);
    f.p99 = quantile(errors, 0.99);
    f.max = quantile(errors, 1.0);
    f.drift = double(times.back() - times.front()) / 1e6 - double(times.size() - 1) * intervalMs;
    return f;
}

// The folder this program lies in: the other bench programs lie beside it.
inline std::string programFolder()
{
    char path[PATH_MAX] = {};
    const ssize_t n = ::readlink("/proc/self/exe", path, sizeof path - 1);
    std::string self(path, n > 0 ? std::size_t(n) : 0);
    return self.substr(0, self.rfind('/'));
}

// CPU time (user + system) of a process, all its threads, in seconds: from
// each thread's schedstat, which the scheduler keeps in nanoseconds (the
// process's own schedstat is its main thread's alone), else from the
// tick-sampled stat of the whole process.
inline double cpuSeconds(pid_t pid)
{
    const std::string base = "/proc/" + std::to_string(pid);
    if (DIR *tasks = ::opendir((base + "/task").c_str())) {
        long long runNs = 0;
        bool any = false;
        while (const dirent *entry = ::readdir(tasks)) {
            if (entry->d_name[0] == '.')
                continue;
            std::ifstream schedstat(base + "/task/" + entry->d_name + "/schedstat");
            long long ns = 0;
            if (schedstat >> ns) {
                runNs += ns;
                any = true;
            }
        }
        ::closedir(tasks);
        if (any)
            return double(runNs) / 1e9;
    }
    std::ifstream stat(base + "/stat");
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

// A field of /proc/<pid>/status in kB ("VmHWM", "VmRSS"); -1 when absent.
inline long statusKb(pid_t pid, const std::string &field)
{
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field + ":", 0) == 0)
            return std::atol(line.c_str() + field.size() + 1);
    return -1;
}

// Starts the monitor program offscreen on output (a SPEC, as
// BLINKWERK_OUTPUT takes it: "register:/dev/shm/...", "sacn:7"), with the
// trace file named when traceFile is given; returns its pid.
inline pid_t launchMonitor(const std::string &program, const std::string &output,
                           const std::string &traceFile = {})
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::setenv("BLINKWERK_OUTPUT", output.c_str(), 1);
        if (!traceFile.empty())
            ::setenv("BLINKWERK_MONITOR_TRACE_FILE", traceFile.c_str(), 1);
        ::execl(program.c_str(), program.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    return pid;
}

// Starts a process that runs body until it is stopped, or until this
// process ends, however it ends; returns its pid.
template<typename Body>
pid_t startChild(Body body)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
        body();
        _exit(0);
    }
    return pid;
}

inline void stopChild(pid_t pid)
{
    if (pid > 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
}

// A core kept busy: spins without a system call.
inline void spinForever()
{
    for (volatile unsigned long long n = 0;; n = n + 1) {
    }
}

// The least a program that wakes 100 times a second costs: sleeps to the
// next 10 ms mark on the monotonic clock, and nothing else; with a read, it
// also makes that one call at every mark (the least a reading costs).
template<typename Read>
void sleepAt100HzForever(Read read)
{
    timespec next {};
    ::clock_gettime(CLOCK_MONOTONIC, &next);
    for (;;) {
        next.tv_nsec += 10'000'000;
        if (next.tv_nsec >= 1'000'000'000) {
            next.tv_nsec -= 1'000'000'000;
            ++next.tv_sec;
        }
        while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr) != 0) {
        }
        read();
    }
}

inline void sleepAt100HzForever()
{
    sleepAt100HzForever([] {});
}

} // namespace bench
