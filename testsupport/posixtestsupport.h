#pragma once
// Process-level helpers for the port layer's POSIX tests: a child process
// per case (a fresh, unbound port layer; a crash that cannot take the test
// runner down), scratch folders, and a second user for tests run as root.

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <set>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace testsupport {

namespace fs = std::filesystem;

// The user that plants foreign files: "nobody" on Debian.
inline constexpr uid_t OtherUser = 65534;

inline std::string readFile(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

inline void writeFile(const fs::path &path, const std::string &content)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

// Waits (bounded) until the register file has held every byte of wanted at
// least once, counting those already seen; whether it did.
inline bool heldEveryByte(const fs::path &file, const std::set<int> &wanted,
                          std::chrono::seconds timeout = std::chrono::seconds(20), std::set<int> seen = {})
{
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < until) {
        const std::string byte = readFile(file);
        if (byte.size() == 1)
            seen.insert(static_cast<unsigned char>(byte[0]));
        if (std::includes(seen.begin(), seen.end(), wanted.begin(), wanted.end()))
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

// A fresh folder of this test, removed by the destructor. mode 0700 makes
// it a private runtime folder, 01777 a shared one like /dev/shm.
class ScratchDir
{
public:
    explicit ScratchDir(const std::string &tag, fs::perms mode = fs::perms(0700))
        : m_path(fs::temp_directory_path() / ("portio-" + tag + "-" + std::to_string(::getpid())))
    {
        fs::remove_all(m_path);
        fs::create_directories(m_path);
        ::chmod(m_path.c_str(), static_cast<mode_t>(mode));
    }
    ~ScratchDir() { fs::remove_all(m_path); }
    const fs::path &path() const { return m_path; }
    fs::path operator/(const std::string &name) const { return m_path / name; }

private:
    fs::path m_path;
};

struct ChildResult
{
    int exitCode = -1; // -1 when the child did not exit normally
    int signal = 0;    // the signal that ended it, 0 when it exited
    std::string err;   // what it wrote to standard error
};

inline std::ostream &operator<<(std::ostream &out, const ChildResult &r)
{
    return out << "exit " << r.exitCode << ", signal " << r.signal << ", stderr:\n" << r.err;
}

// Runs body (returning an exit code) in a child process and collects its
// standard error. The child starts with no port backend bound.
template<typename Body>
ChildResult inChild(Body body)
{
    char errPath[] = "/tmp/portio-child-err-XXXXXX";
    const int errFd = ::mkstemp(errPath);
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(errFd, STDERR_FILENO);
        const int code = body();
        std::fflush(nullptr);
        _exit(code);
    }
    ::close(errFd);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ChildResult result;
    if (WIFEXITED(status))
        result.exitCode = WEXITSTATUS(status);
    if (WIFSIGNALED(status))
        result.signal = WTERMSIG(status);
    result.err = readFile(errPath);
    ::unlink(errPath);
    return result;
}

// Makes the calling (child) process another user for good. False on failure.
inline bool becomeUser(uid_t uid)
{
    return ::setgroups(0, nullptr) == 0 && ::setresgid(uid, uid, uid) == 0 && ::setresuid(uid, uid, uid) == 0;
}

// Creates path as OtherUser with mode 0666 (anybody may write it) and the
// given content, as another user could in a shared folder. Needs root.
inline ChildResult plantAsOtherUser(const fs::path &path, const std::string &content)
{
    return inChild([&] {
        ::umask(0);
        if (!becomeUser(OtherUser))
            return 1;
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
        return fd >= 0 && ::write(fd, content.data(), content.size()) == ssize_t(content.size()) ? 0 : 2;
    });
}

} // namespace testsupport

// Ends the current test as skipped unless it runs as root, which it needs to
// act as a second user.
#define SKIP_UNLESS_ROOT()                                                                            \
    do {                                                                                              \
        if (::geteuid() != 0)                                                                         \
            GTEST_SKIP() << "needs root to act as a second user (uid " << testsupport::OtherUser << ")"; \
    } while (0)
