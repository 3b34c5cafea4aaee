#pragma once
// A program of this project started by a test the way a user or a service
// starts it: its arguments, extra environment variables, its standard error
// kept in a file the test reads. POSIX.

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace testsupport {

class ProgramProcess
{
public:
    // environment: "NAME=value" each, added to the test's own.
    ProgramProcess(const std::string &program, std::vector<std::string> arguments,
                   std::vector<std::string> environment = {})
    {
        char name[] = "/tmp/program-err-XXXXXX";
        const int log = ::mkstemp(name);
        m_log = name;
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(log, STDERR_FILENO);
            for (std::string &variable : environment)
                ::putenv(variable.data());
            std::vector<char *> argv {const_cast<char *>(program.c_str())};
            for (std::string &argument : arguments)
                argv.push_back(argument.data());
            argv.push_back(nullptr);
            ::execv(program.c_str(), argv.data());
            _exit(127);
        }
        ::close(log);
    }
    ~ProgramProcess()
    {
        if (m_pid > 0) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        std::filesystem::remove(m_log);
    }
    ProgramProcess(const ProgramProcess &) = delete;
    ProgramProcess &operator=(const ProgramProcess &) = delete;

    pid_t pid() const { return m_pid; }
    std::string err() const
    {
        std::ifstream in(m_log, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    bool running() const { return m_pid > 0 && ::waitpid(m_pid, nullptr, WNOHANG) == 0; }

    // Sends signal (0: none, it is waited for as it is) and waits at most
    // timeout for the end, then kills it; its exit status, 128 + the signal
    // that ended it, or -1 when it had to be killed.
    int end(int signal = SIGTERM, std::chrono::milliseconds timeout = std::chrono::seconds(10))
    {
        if (m_pid <= 0)
            return m_status;
        if (signal)
            ::kill(m_pid, signal);
        const auto until = std::chrono::steady_clock::now() + timeout;
        int status = 0;
        while (::waitpid(m_pid, &status, WNOHANG) != m_pid) {
            if (std::chrono::steady_clock::now() > until) {
                ::kill(m_pid, SIGKILL);
                ::waitpid(m_pid, nullptr, 0);
                m_pid = -1;
                return m_status = -1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        m_pid = -1;
        return m_status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    std::filesystem::path m_log;
    pid_t m_pid = -1;
    int m_status = -1;
};

} // namespace testsupport
