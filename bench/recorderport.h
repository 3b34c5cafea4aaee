#pragma once
// The port of the step timing bench: every write is timestamped on the
// monotonic clock on the thread that writes (the step clock's), with what
// that thread had been through by then, and then goes on into a register
// file, where the outside observer sees it.

#include "portbackend.h"
#include "stats.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <pthread.h>
#include <sched.h>
#include <string>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <vector>

namespace bench {

// The port: timestamps each write on the writing thread, then puts the
// byte into the register file that the observer watches.
class RecorderPort final : public portio::PortBackend
{
public:
    RecorderPort(portio::PortBackend &reg, std::size_t capacity)
        : m_register(reg)
        , m_times(capacity)
        , m_threadState(capacity)
    {
    }

    // What the writing thread had been through by a write: the time it
    // waited for a CPU in all (schedstat), its voluntary switches (a sleep
    // to the due time is one; a wait for a lock or another thread adds
    // more) and the switches forced on it.
    struct ThreadState
    {
        long long runQueueNs = 0;
        long voluntary = 0, forced = 0;
    };
    static ThreadState threadState()
    {
        ThreadState state;
        if (std::FILE *f = std::fopen("/proc/thread-self/schedstat", "r")) {
            long long run = 0;
            if (std::fscanf(f, "%lld %lld", &run, &state.runQueueNs) != 2)
                state.runQueueNs = 0;
            std::fclose(f);
        }
        rusage usage {};
        ::getrusage(RUSAGE_THREAD, &usage);
        state.voluntary = usage.ru_nvcsw;
        state.forced = usage.ru_nivcsw;
        return state;
    }
    std::vector<ThreadState> threadStates() const
    {
        return {m_threadState.begin(), m_threadState.begin() + long(std::min(m_count.load(), m_times.size()))};
    }

    void out32(std::int16_t port, std::int16_t value) override
    {
        if (m_recording.load()) {
            const long long now = nowNs();
            const std::size_t n = m_count.load();
            if (n < m_times.size()) {
                m_times[n] = now;
                m_threadState[n] = threadState();
                m_count.store(n + 1);
            }
            if (!m_threadSeen.exchange(true))
                noteThread();
        }
        m_register.out32(port, value);
    }
    std::int16_t inp32(std::int16_t port) override { return m_register.inp32(port); }

    void record(bool on) { m_recording = on; }
    std::size_t count() const { return m_count.load(); }
    std::vector<long long> times() const
    {
        return {m_times.begin(), m_times.begin() + long(std::min(m_count.load(), m_times.size()))};
    }
    std::string thread() const
    {
        const std::lock_guard lock(m_mutex);
        return m_thread;
    }

private:
    void noteThread()
    {
        int policy = 0;
        sched_param param {};
        ::pthread_getschedparam(::pthread_self(), &policy, &param);
        policy &= ~SCHED_RESET_ON_FORK; // as RealtimeKit grants it
        const long slack = ::prctl(PR_GET_TIMERSLACK, 0, 0, 0, 0);
        const char *name = policy == SCHED_FIFO ? "FIFO" : policy == SCHED_RR ? "RR" : "OTHER";
        const std::lock_guard lock(m_mutex);
        m_thread = policy == SCHED_OTHER ? std::string(name) : std::string(name) + " " + std::to_string(param.sched_priority);
        if (slack > 0)
            m_thread += ", slack " + std::to_string(slack / 1000) + " us";
    }

    portio::PortBackend &m_register;
    std::vector<long long> m_times;
    std::vector<ThreadState> m_threadState;
    std::atomic<std::size_t> m_count {0};
    std::atomic<bool> m_recording {false};
    std::atomic<bool> m_threadSeen {false};
    mutable std::mutex m_mutex;
    std::string m_thread;
};

} // namespace bench
