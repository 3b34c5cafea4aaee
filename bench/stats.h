#pragma once
// Small helpers shared by the benchmark programs.

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include <csignal>
#include <cstdlib>
#include <ctime>
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
    std::printf("| %-44s | %10.3f %-4s | %-10s | %-4s |\n", what.c_str(), value, unit, goal.c_str(),
                goal.empty() ? "" : met ? "met" : "MISS");
}

// Starts the monitor program offscreen on the register file registerPath,
// with one more variable when traceFile is given; returns its pid.
inline pid_t launchMonitor(const std::string &program, const std::string &registerPath,
                           const std::string &traceFile = {})
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        ::setenv("BLINKWERK_LPT_REGISTER", registerPath.c_str(), 1);
        if (!traceFile.empty())
            ::setenv("BLINKWERK_MONITOR_TRACE_FILE", traceFile.c_str(), 1);
        ::execl(program.c_str(), program.c_str(), static_cast<char *>(nullptr));
        _exit(127);
    }
    return pid;
}

// Starts a process that runs body until it is stopped; returns its pid.
template<typename Body>
pid_t startChild(Body body)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
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
// next 10 ms mark on the monotonic clock, and nothing else.
inline void sleepAt100HzForever()
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
    }
}

} // namespace bench
