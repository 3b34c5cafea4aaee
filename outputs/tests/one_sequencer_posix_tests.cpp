// One sequencer per port, seen from outside: a second blinkwerk on the same
// register says that the port is driven already and ends without writing,
// while the first runs on. Runs the real program, offscreen.

#include "posixtestsupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>

using namespace testsupport;

namespace {

constexpr int TimeoutMs = 30000; // generous: a slow machine starting Qt

// The second one names the output it found taken.
const std::string Message = " wird bereits von einem anderen laufenden Blinkwerk angesteuert.";

class Program
{
public:
    Program(const fs::path &registerFile, const fs::path &runtime)
    {
        int pipe[2];
        if (::pipe2(pipe, O_CLOEXEC) != 0)
            return;
        std::fflush(nullptr);
        m_pid = ::fork();
        if (m_pid == 0) {
            ::dup2(pipe[1], STDERR_FILENO);
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
            ::setenv("BLINKWERK_LPT_REGISTER", registerFile.c_str(), 1);
            ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
            ::execl(BLINKWERK_PROGRAM, "blinkwerk", static_cast<char *>(nullptr));
            _exit(127);
        }
        ::close(pipe[1]);
        m_err = pipe[0];
    }
    ~Program()
    {
        if (m_pid > 0 && !m_ended) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
        if (m_err >= 0)
            ::close(m_err);
    }

    int errFd() const { return m_err; }
    const std::string &err() const { return m_text; }

    // Reads what is there on standard error; false at its end.
    bool readErr()
    {
        char buffer[4096];
        const ssize_t got = ::read(m_err, buffer, sizeof buffer);
        if (got > 0)
            m_text.append(buffer, std::size_t(got));
        return got > 0;
    }

    bool running() const { return !m_ended && ::waitpid(m_pid, nullptr, WNOHANG) == 0; }

    // Asks the program to end the way a desktop does and waits for it: its
    // standard error closes when it exits. -1 when it did not end in time.
    int terminate()
    {
        ::kill(m_pid, SIGTERM);
        pollfd p{m_err, POLLIN, 0};
        bool closed = false;
        while (!closed && ::poll(&p, 1, TimeoutMs) > 0)
            closed = !readErr();
        if (!closed)
            return -1;
        // Its descriptors are closed: it is exiting, so this wait is short.
        int status = 0;
        if (::waitpid(m_pid, &status, 0) != m_pid)
            return -1;
        m_ended = true;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }

private:
    pid_t m_pid = -1;
    int m_err = -1;
    bool m_ended = false;
    std::string m_text;
};

// Waits for the next modification of the watched file; false on time-out.
bool waitForModification(int inotifyFd)
{
    pollfd p{inotifyFd, POLLIN, 0};
    if (::poll(&p, 1, TimeoutMs) <= 0)
        return false;
    char buffer[4096];
    return ::read(inotifyFd, buffer, sizeof buffer) > 0;
}

// Takes every event queued so far off the queue.
void drain(int inotifyFd)
{
    pollfd p{inotifyFd, POLLIN, 0};
    char buffer[4096];
    while (::poll(&p, 1, 0) > 0 && ::read(inotifyFd, buffer, sizeof buffer) > 0) {
    }
}

} // namespace

TEST(OneSequencer, aSecondBlinkwerkOnTheSamePortEndsWithoutWriting)
{
    ScratchDir dir("one-sequencer");
    const fs::path reg = dir / "lpt", runtime = dir / "run";
    fs::create_directory(runtime);
    fs::permissions(runtime, fs::perms(0700));
    writeFile(reg, "\xff");
    const int watch = ::inotify_init1(IN_CLOEXEC);
    ASSERT_GE(::inotify_add_watch(watch, reg.c_str(), IN_MODIFY), 0);

    Program first(reg, runtime);
    // Its start-up writes 0; the lock was taken before the register was opened.
    while (readFile(reg) != std::string(1, '\0'))
        ASSERT_TRUE(waitForModification(watch)) << "the first blinkwerk did not start:\n" << first.err();
    writeFile(reg, "\xa5"); // a marker no blinkwerk writes at start
    drain(watch);            // events so far, our own write's included

    Program second(reg, runtime);
    // Until it says so, or writes the register, or ends.
    bool touched = false;
    while (second.err().find(Message) == std::string::npos && !touched) {
        pollfd p[2] = {{second.errFd(), POLLIN, 0}, {watch, POLLIN, 0}};
        ASSERT_GT(::poll(p, 2, TimeoutMs), 0) << "the second blinkwerk neither wrote nor said anything";
        if (p[1].revents)
            touched = true;
        if (p[0].revents && !second.readErr())
            break;
    }
    EXPECT_FALSE(touched) << "the second blinkwerk opened the register";
    EXPECT_NE(second.err().find("Der Ausgang register:" + reg.string() + Message + "\nDieses Blinkwerk wird beendet."),
              std::string::npos)
        << second.err();
    EXPECT_EQ(second.terminate(), 1) << second.err();
    EXPECT_EQ(readFile(reg), "\xa5") << "the second blinkwerk wrote the register";
    EXPECT_TRUE(first.running()) << first.err();

    // The first ends as always: its close switches the lamps off.
    EXPECT_EQ(first.terminate(), 0) << first.err();
    EXPECT_EQ(readFile(reg), std::string(1, '\0'));
    ::close(watch);
}
