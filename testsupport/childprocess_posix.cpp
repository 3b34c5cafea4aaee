// POSIX side of the child-process helper: posix_spawn of /proc/self/exe (or
// argv[0]'s path elsewhere) with an environment of its own, standard error
// into a scratch file, and a bounded wait.

#include "childprocess.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace testsupport {

std::string childArgument(const std::string &name);

namespace {

constexpr int WaitLimitMs = 60'000;

std::string selfPath()
{
    char buffer[4096];
    const ssize_t length = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    return length > 0 ? std::string(buffer, std::size_t(length)) : std::string();
}

// Waits for pid at most WaitLimitMs; kills it when it is still running.
int waitBounded(pid_t pid)
{
#ifdef SYS_pidfd_open
    const int pidfd = int(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd >= 0) {
        pollfd ready {pidfd, POLLIN, 0};
        const int got = ::poll(&ready, 1, WaitLimitMs);
        ::close(pidfd);
        if (got == 0)
            ::kill(pid, SIGKILL);
    }
#endif
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

} // namespace

ChildResult runChild(const std::string &name, const Environment &environment)
{
    ChildResult result;
    const std::string errPath = "/tmp/blinkwerk-child-" + std::to_string(::getpid()) + ".err";

    std::vector<std::string> variables;
    for (char **entry = environ; *entry; ++entry) {
        const std::string_view text = *entry;
        bool replaced = false;
        for (const auto &[key, value] : environment)
            replaced = replaced || text.substr(0, key.size() + 1) == key + "=";
        if (!replaced)
            variables.emplace_back(text);
    }
    for (const auto &[key, value] : environment)
        variables.push_back(key + "=" + value);
    std::vector<char *> envp;
    for (std::string &variable : variables)
        envp.push_back(variable.data());
    envp.push_back(nullptr);

    const std::string program = selfPath();
    std::string option = childArgument(name);
    char *argv[] = {const_cast<char *>(program.c_str()), option.data(), nullptr};

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    std::fflush(nullptr);
    pid_t pid = 0;
    const int spawned = ::posix_spawn(&pid, program.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (spawned != 0)
        return result;
    result.status = waitBounded(pid);
    std::ifstream err(errPath, std::ios::binary);
    result.standardError.assign(std::istreambuf_iterator<char>(err), {});
    ::unlink(errPath.c_str());
    return result;
}

void setEnvironment(const std::string &name, const std::string &value)
{
    ::setenv(name.c_str(), value.c_str(), 1);
}

std::string uniqueSuffix()
{
    return std::to_string(::getpid());
}

} // namespace testsupport
