#pragma once
// The outside observer (register_observer, a process of its own) as the
// bench programs start and read it.

#include "stats.h"

#include <csignal>
#include <cstdio>
#include <fstream>
#include <string>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace bench {

// The outside observer (register_observer) on a set of register files:
// started before the writes, stopped after them; then times(i) holds the
// moment of every write to file i.
class Observer
{
public:
    explicit Observer(const std::vector<std::string> &registers)
        : m_out("/dev/shm/blinkwerk-observed-" + std::to_string(::getpid()))
    {
        int ready[2];
        if (::pipe(ready) != 0)
            return;
        const std::string program = programFolder() + "/register_observer";
        m_pid = ::fork();
        if (m_pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            ::dup2(ready[1], 1);
            std::vector<char *> args {const_cast<char *>(program.c_str()), const_cast<char *>(m_out.c_str())};
            for (const std::string &r : registers)
                args.push_back(const_cast<char *>(r.c_str()));
            args.push_back(nullptr);
            ::execv(program.c_str(), args.data());
            _exit(127);
        }
        ::close(ready[1]);
        char line[16] = {};
        const ssize_t got = ::read(ready[0], line, sizeof line - 1); // "ready", or nothing when it failed
        ::close(ready[0]);
        if (got <= 0) {
            std::fprintf(stderr, "register_observer did not start\n");
            m_pid = -1;
        }
    }
    ~Observer() { stop(); }

    bool running() const { return m_pid > 0; }

    void stop()
    {
        if (m_pid <= 0)
            return;
        ::kill(m_pid, SIGTERM);
        ::waitpid(m_pid, nullptr, 0);
        m_pid = -1;
        std::ifstream in(m_out);
        int index;
        long long ns;
        while (in >> index >> ns) {
            if (index >= int(m_times.size()))
                m_times.resize(std::size_t(index) + 1);
            m_times[std::size_t(index)].push_back(ns);
        }
        ::unlink(m_out.c_str());
    }

    std::vector<long long> times(std::size_t index) const
    {
        return index < m_times.size() ? m_times[index] : std::vector<long long> {};
    }

private:
    std::string m_out;
    pid_t m_pid = -1;
    std::vector<std::vector<long long>> m_times;
};

} // namespace bench
