// The ppdev backend against a model of the driver (fakeppdev.h): the model's
// own rules, the calls of one access, failures and their recovery, and two
// processes sharing the port.

#include "fakeppdev.h"
#include "ppdev.h"
#include "portbackend.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <map>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace portio;
using portio::fakes::FakePpdev;
using Op = FakePpdev::Op;
namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// Long enough for a loaded machine, short enough to keep the tests quick.
constexpr auto TestBound = 20ms;
// A test that expects "no hang" gives up after this and fails cleanly.
constexpr int HangTimeoutMs = 30000;

struct Messages
{
    std::vector<std::string> lines;
    std::function<void(const std::string &)> sink()
    {
        return [this](const std::string &line) { lines.push_back(line); };
    }
};

PpdevOptions testOptions(const FakePpdev &fake, Messages &messages)
{
    PpdevOptions options;
    options.path = fake.path();
    options.lockTimeout = TestBound;
    options.claimTimeout = TestBound;
    options.retryInterval = 0ms;
    options.say = messages.sink();
    return options;
}

std::vector<Op> opsOf(const std::vector<FakePpdev::Entry> &log)
{
    std::vector<Op> ops;
    for (const auto &entry : log)
        ops.push_back(entry.op);
    return ops;
}

std::string describe(const std::vector<Op> &ops)
{
    std::string text;
    for (Op op : ops)
        text += std::string(text.empty() ? "" : ", ") + fakes::opName(op);
    return text;
}

void noteSignal(int) {}

// Installs a handler without SA_RESTART, as the backend's watchdog does, so
// that the signal ends an interruptible wait.
void catchSignal(int signal)
{
    struct sigaction action {};
    action.sa_handler = noteSignal;
    sigemptyset(&action.sa_mask);
    ::sigaction(signal, &action, nullptr);
}

// Child processes that are killed if the test ends before they do.
class Children
{
public:
    ~Children() { killAll(); }

    pid_t spawn(const fs::path &errPath, const std::function<int()> &body)
    {
        std::fflush(nullptr);
        const pid_t pid = ::fork();
        if (pid == 0) {
            if (!errPath.empty())
                std::freopen(errPath.c_str(), "w", stderr);
            const int status = body();
            std::fflush(nullptr);
            _exit(status);
        }
        m_pids.push_back(pid);
        m_pidfds.push_back(int(::syscall(SYS_pidfd_open, pid, 0)));
        return pid;
    }

    // Waits for every child until the deadline. Their exit codes (-1 for a
    // death by signal), or empty when some child had not ended in time: then
    // all are killed.
    std::optional<std::vector<int>> waitAll(int timeoutMs)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
        std::vector<int> codes;
        for (std::size_t i = 0; i < m_pids.size(); ++i) {
            for (;;) {
                const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                    deadline - std::chrono::steady_clock::now());
                pollfd pfd {m_pidfds[i], POLLIN, 0};
                if (::poll(&pfd, 1, int(std::max<long long>(left.count(), 0))) > 0)
                    break;
                if (left.count() <= 0) {
                    killAll();
                    return std::nullopt;
                }
            }
            int status = 0;
            ::waitpid(m_pids[i], &status, 0);
            codes.push_back(WIFEXITED(status) ? WEXITSTATUS(status) : -1);
        }
        for (int fd : m_pidfds)
            ::close(fd);
        m_pids.clear();
        m_pidfds.clear();
        return codes;
    }

private:
    void killAll()
    {
        for (std::size_t i = 0; i < m_pids.size(); ++i) {
            ::kill(m_pids[i], SIGKILL);
            ::waitpid(m_pids[i], nullptr, 0);
            ::close(m_pidfds[i]);
        }
        m_pids.clear();
        m_pidfds.clear();
    }

    std::vector<pid_t> m_pids;
    std::vector<int> m_pidfds;
};

fs::path scratchDir()
{
    fs::path dir = fs::temp_directory_path() / ("ppdev-tests-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    return dir;
}

std::string readFile(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

int claim(FakePpdev &fake, int fd)
{
    return fake.ioctl(fd, PPCLAIM, nullptr) == 0 ? 0 : errno;
}

} // namespace

// ---- The model itself: the kernel's rules that the backend relies on ----

TEST(FakePpdev, refusesWhatTheDriverRefuses)
{
    FakePpdev fake;
    const int fd = fake.open(fake.path().c_str(), O_RDWR);
    ASSERT_GE(fd, 0);
    unsigned char byte = 1;
    int direction = 0;
    struct Case { const char *what; unsigned long request; void *argument; int expected; };
    const Case unclaimed[] = {
        {"PPWDATA", PPWDATA, &byte, EINVAL},   {"PPRDATA", PPRDATA, &byte, EINVAL},
        {"PPRELEASE", PPRELEASE, nullptr, EINVAL}, {"PPDATADIR", PPDATADIR, &direction, EINVAL},
        {"unknown", PPGETMODE, &direction, ENOTTY},
    };
    for (const Case &c : unclaimed) {
        EXPECT_EQ(fake.ioctl(fd, c.request, c.argument), -1) << c.what;
        EXPECT_EQ(errno, c.expected) << c.what << " without a claim";
    }
    ASSERT_EQ(claim(fake, fd), 0);
    EXPECT_EQ(claim(fake, fd), EINVAL) << "claiming twice";
    EXPECT_EQ(fake.ioctl(fd, PPEXCL, nullptr), -1) << "PPEXCL after the claim";
    EXPECT_EQ(fake.ioctl(fd, PPWDATA, &byte), 0);
    EXPECT_EQ(fake.dataRegister(), 1);

    // Closing releases: another descriptor claims without sleeping.
    const int other = fake.open(fake.path().c_str(), O_RDWR);
    fake.close(fd);
    EXPECT_EQ(claim(fake, other), 0);
    EXPECT_FALSE(fake.log().back().slept);
    fake.close(other);

    fake.setPresent(false);
    EXPECT_EQ(fake.open(fake.path().c_str(), O_RDWR), -1);
    EXPECT_EQ(errno, ENOENT);
}

TEST(FakePpdev, aSleepingClaimHoldsTheMutexEveryIoctlNeedsUntilTheHolderCloses)
{
    FakePpdev fake;
    const int holder = fake.open(fake.path().c_str(), O_RDWR);
    ASSERT_EQ(claim(fake, holder), 0);

    Children children;
    children.spawn({}, [&] {
        const int fd = fake.open(fake.path().c_str(), O_RDWR);
        if (claim(fake, fd) != 0)
            return 1;
        unsigned char byte = 7;
        return fake.ioctl(fd, PPWDATA, &byte) == 0 && fake.ioctl(fd, PPRELEASE, nullptr) == 0 ? 0 : 2;
    });
    ASSERT_TRUE(fake.waitForSleepingClaim(HangTimeoutMs));
    EXPECT_TRUE(fake.globalMutexBusy()) << "the holder's PPRELEASE would now wait for ever";
    fake.close(holder); // needs no mutex, hands the port over
    const auto codes = children.waitAll(HangTimeoutMs);
    ASSERT_TRUE(codes) << "the sleeping claim never got the port";
    EXPECT_EQ((*codes)[0], 0);
    EXPECT_EQ(fake.dataRegister(), 7);
    EXPECT_FALSE(fake.globalMutexBusy());
}

TEST(FakePpdev, anInterruptedClaimStaysQueuedAndIsHandedThePortLater)
{
    FakePpdev fake;
    const int holder = fake.open(fake.path().c_str(), O_RDWR);
    const int late = fake.open(fake.path().c_str(), O_RDWR);
    ASSERT_EQ(claim(fake, holder), 0);

    catchSignal(SIGALRM);
    itimerval once {};
    once.it_value.tv_usec = 20000;
    ::setitimer(ITIMER_REAL, &once, nullptr);
    EXPECT_EQ(claim(fake, late), EINTR);
    EXPECT_TRUE(fake.log().back().slept);
    EXPECT_FALSE(fake.globalMutexBusy());
    EXPECT_TRUE(fake.isWaiting(late));
    EXPECT_EQ(fake.claimsRepeatedWhileQueued(), 0);
    ::setitimer(ITIMER_REAL, &once, nullptr);
    EXPECT_EQ(claim(fake, late), EINTR);
    EXPECT_EQ(fake.claimsRepeatedWhileQueued(), 1) << "the kernel would have queued it twice";

    ASSERT_EQ(fake.ioctl(holder, PPRELEASE, nullptr), 0);
    EXPECT_EQ(fake.holder(), late) << "released to the interrupted claimer";
    EXPECT_EQ(claim(fake, late), 0);
    EXPECT_FALSE(fake.log().back().slept);
    fake.close(late);
    fake.close(holder);
    ::signal(SIGALRM, SIG_DFL);
}

// ---- The backend ----

namespace {

// Ends the test program with a failure if a test blocks for longer than
// HangTimeoutMs (a wait the backend should have bounded), instead of
// leaving it to CTest's timeout.
class PpdevPort : public ::testing::Test
{
protected:
    PpdevPort()
        : m_guard(withoutSignals([this] {
            std::unique_lock lock(m_mutex);
            if (!m_ended.wait_for(lock, std::chrono::milliseconds(HangTimeoutMs), [this] { return m_done; })) {
                std::fprintf(stderr, "%s hung\n", ::testing::UnitTest::GetInstance()->current_test_info()->name());
                std::_Exit(1);
            }
        }))
    {
    }
    ~PpdevPort() override
    {
        {
            std::lock_guard lock(m_mutex);
            m_done = true;
        }
        m_ended.notify_one();
        m_guard.join();
    }

private:
    // A thread that takes none of the process's signals: the tests' timers
    // must reach the thread that waits.
    template<typename Body>
    static std::thread withoutSignals(Body body)
    {
        sigset_t all, previous;
        sigfillset(&all);
        ::pthread_sigmask(SIG_BLOCK, &all, &previous);
        std::thread thread(std::move(body));
        ::pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        return thread;
    }

    std::mutex m_mutex;
    std::condition_variable m_ended;
    bool m_done = false;
    std::thread m_guard;
};

} // namespace

TEST_F(PpdevPort, bindingAWriteAndAReadMakeExactlyTheseCalls)
{
    FakePpdev fake;
    Messages messages;
    std::string why;
    auto port = openPpdevPort(fake, testOptions(fake, messages), why);
    ASSERT_TRUE(port) << why;
    const std::vector<Op> binding = {Op::Open, Op::LockEx, Op::Look, Op::Claim, Op::Release, Op::LockUn};
    EXPECT_EQ(describe(opsOf(fake.log())), describe(binding));

    fake.clearLog();
    port->out32(Lpt1DataPort, 0x5A);
    const auto write = fake.log();
    EXPECT_EQ(describe(opsOf(write)), describe({Op::LockEx, Op::Look, Op::Claim, Op::WData, Op::Release, Op::LockUn}));
    EXPECT_EQ(fake.dataRegister(), 0x5A);

    fake.clearLog();
    EXPECT_EQ(port->inp32(Lpt1DataPort), 0x5A);
    const auto read = fake.log();
    EXPECT_EQ(describe(opsOf(read)), describe({Op::LockEx, Op::Look, Op::Claim, Op::RData, Op::Release, Op::LockUn}));

    for (const auto &entry : write)
        if (entry.op != Op::Look)
            EXPECT_EQ(entry.fd, write.front().fd) << "one descriptor for the whole run";
    for (const auto &entry : write)
        EXPECT_EQ(entry.error, 0) << fakes::opName(entry.op);

    fake.clearLog();
    port->out32(889, 1); // not the data register
    EXPECT_EQ(port->inp32(889), 0);
    EXPECT_TRUE(fake.log().empty());

    port.reset();
    EXPECT_EQ(describe(opsOf(fake.log())), describe({Op::Close}));
    EXPECT_TRUE(messages.lines.empty());
}

TEST_F(PpdevPort, aPortThatCannotBeOpenedIsRefusedWithTheReason)
{
    FakePpdev fake;
    Messages messages;
    PpdevOptions options = testOptions(fake, messages);
    fake.setPresent(false);
    std::string why;
    EXPECT_FALSE(openPpdevPort(fake, options, why));
    EXPECT_NE(why.find(fake.path() + ": No such file or directory (no parallel port, or the ppdev module"),
              std::string::npos)
        << why;
    EXPECT_TRUE(messages.lines.empty());
}

// A failure, before binding or in the middle of a run, is said once; while it
// lasts writes are kept, inp32 answers 0 and readPort nothing (a busy port is
// not every lamp off); the backend leaves no claim
// queued behind, and a port the kernel says is held is not claimed at all;
// after the cause goes away the kept byte is written first and the recovery
// is said once.
TEST_F(PpdevPort, failuresAreSaidOnceAndTheKeptByteIsWrittenOnRecovery)
{
    struct Scenario
    {
        const char *name;
        bool beforeBinding;
        bool foreignHoldsThePort;
        bool claimWaits; // a claim of ours had to wait
        std::function<void(FakePpdev &, int foreign)> cause;
        std::function<void(FakePpdev &, int foreign)> remedy;
        std::string reason;
    };
    const auto holds = [](FakePpdev &fake, int fd) { ASSERT_EQ(claim(fake, fd), 0); };
    const auto claimsAfterTheLook = [](FakePpdev &fake, int fd) { fake.claimAfterNextLook(fd); };
    const auto releases = [](FakePpdev &fake, int fd) { ASSERT_EQ(fake.ioctl(fd, PPRELEASE, nullptr), 0); };
    const std::string held = "the port is held by another user of it, named ppdev0.0 by the kernel";
    const std::string waited = "the port has been held by another program for more than 20 ms";
    const Scenario scenarios[] = {
        {"a foreign program holds the port", false, true, false, holds, releases, held},
        {"a foreign program holds the port at start-up", true, true, false, holds, releases, held},
        {"a foreign program claims between the look and the claim", false, true, true, claimsAfterTheLook,
         releases, waited},
        {"... at start-up", true, true, true, claimsAfterTheLook, releases, waited},
        {"a stuck program holds the lock", false, false, false,
         [](FakePpdev &fake, int fd) { ASSERT_EQ(fake.flock(fd, LOCK_EX), 0); },
         [](FakePpdev &fake, int fd) { ASSERT_EQ(fake.flock(fd, LOCK_UN), 0); },
         "another program has held its lock for more than 20 ms"},
        {"the device goes away", false, false, false, [](FakePpdev &fake, int) { fake.setPresent(false); },
         [](FakePpdev &fake, int) { fake.setPresent(true); }, "cannot claim the port: No such device"},
    };
    for (const Scenario &s : scenarios) {
        SCOPED_TRACE(s.name);
        FakePpdev fake;
        Messages messages;
        const int foreign = fake.open(fake.path().c_str(), O_RDWR);
        std::string why;
        if (s.beforeBinding)
            s.cause(fake, foreign);
        auto port = openPpdevPort(fake, testOptions(fake, messages), why);
        ASSERT_TRUE(port) << why;
        if (!s.beforeBinding) {
            port->out32(Lpt1DataPort, 1);
            EXPECT_EQ(port->inp32(Lpt1DataPort), 1);
            s.cause(fake, foreign);
        }

        port->out32(Lpt1DataPort, 2);
        port->out32(Lpt1DataPort, 0); // Stop: this zero must not be lost
        EXPECT_EQ(port->inp32(Lpt1DataPort), 0);
        EXPECT_EQ(port->readPort(), std::nullopt);
        ASSERT_EQ(messages.lines.size(), 1u);
        EXPECT_EQ(messages.lines[0], "LPT1: " + fake.path() + ": " + s.reason +
                                         "; trying again at the next port access, a byte to write is kept until then");
        EXPECT_EQ(fake.holder(), s.foreignHoldsThePort ? foreign : -1);
        const auto log = fake.log();
        EXPECT_EQ(std::any_of(log.begin(), log.end(), [](const auto &e) { return e.slept; }), s.claimWaits);

        s.remedy(fake, foreign);
        EXPECT_EQ(fake.holder(), -1) << "the port was handed to a claim the backend gave up";
        fake.clearLog();
        port->out32(Lpt1DataPort, 0x81); // a Stop-zero is kept only until a newer byte
        EXPECT_EQ(fake.dataRegister(), 0x81);
        EXPECT_EQ(opsOf(fake.log()).front(), Op::Open) << "the device is opened afresh";
        ASSERT_EQ(messages.lines.size(), 2u);
        EXPECT_EQ(messages.lines[1], "LPT1: " + fake.path() + ": the port works again");
        EXPECT_EQ(port->readPort(), 0x81);
        port->out32(Lpt1DataPort, 0x42);
        EXPECT_EQ(messages.lines.size(), 2u);

        // A kept zero is written by the next access of either kind.
        s.cause(fake, foreign);
        port->out32(Lpt1DataPort, 0);
        EXPECT_EQ(fake.dataRegister(), 0x42);
        s.remedy(fake, foreign);
        EXPECT_EQ(port->inp32(Lpt1DataPort), 0);
        EXPECT_EQ(fake.dataRegister(), 0);
        EXPECT_EQ(messages.lines.size(), 4u);
        EXPECT_EQ(fake.claimsRepeatedWhileQueued(), 0);
        fake.close(foreign);
    }
}

TEST_F(PpdevPort, aForeignSignalDuringTheClaimGivesUpTheClaimInsteadOfRepeatingIt)
{
    FakePpdev fake;
    Messages messages;
    PpdevOptions options = testOptions(fake, messages);
    options.claimTimeout = 1s; // the signal comes well before the bound
    std::string why;
    auto port = openPpdevPort(fake, options, why);
    ASSERT_TRUE(port) << why;
    const int foreign = fake.open(fake.path().c_str(), O_RDWR);
    fake.claimAfterNextLook(foreign); // the look finds the port free, the claim must wait

    catchSignal(SIGALRM);
    itimerval once {};
    once.it_value.tv_usec = 20000;
    ::setitimer(ITIMER_REAL, &once, nullptr);
    port->out32(Lpt1DataPort, 3);
    ::signal(SIGALRM, SIG_DFL);
    EXPECT_EQ(fake.claimsRepeatedWhileQueued(), 0);
    ASSERT_EQ(messages.lines.size(), 1u);
    EXPECT_NE(messages.lines[0].find("a signal interrupted the wait for the port"), std::string::npos)
        << messages.lines[0];

    ASSERT_EQ(fake.ioctl(foreign, PPRELEASE, nullptr), 0);
    EXPECT_EQ(fake.holder(), -1);
    EXPECT_EQ(port->inp32(Lpt1DataPort), 3) << "the kept byte, written first";
    EXPECT_EQ(messages.lines.size(), 2u);
    fake.close(foreign);
}

// A Stop whose 0 met a held port: the program makes no further access, only
// its timer calls service() every 100 ms; the 0 reaches the card within about
// a second of the port coming free.
TEST_F(PpdevPort, aKeptByteIsWrittenByTheServiceAloneOnceThePortIsFree)
{
    FakePpdev fake;
    Messages messages;
    PpdevOptions options = testOptions(fake, messages);
    options.retryInterval = PpdevOptions {}.retryInterval;
    const int foreign = fake.open(fake.path().c_str(), O_RDWR);
    std::string why;
    auto port = openPpdevPort(fake, options, why);
    ASSERT_TRUE(port) << why;
    port->out32(Lpt1DataPort, 0x81);
    ASSERT_EQ(claim(fake, foreign), 0);
    port->out32(Lpt1DataPort, 0); // Stop
    port->service();
    EXPECT_EQ(fake.dataRegister(), 0x81);
    ASSERT_EQ(fake.ioctl(foreign, PPRELEASE, nullptr), 0);
    const auto released = std::chrono::steady_clock::now();
    while (fake.dataRegister() != 0 && std::chrono::steady_clock::now() - released < 1500ms) {
        port->service();
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_EQ(fake.dataRegister(), 0) << "the card stays lit";
    fake.clearLog();
    port->service();
    EXPECT_TRUE(fake.log().empty()) << "nothing kept, nothing done";
    fake.close(foreign);
}

// A bound that cannot be armed fails the access like any other failure and
// leaves no timer running, whose signal would interrupt later system calls.
TEST_F(PpdevPort, aWatchdogThatCannotBeArmedIsNeverLeftRunning)
{
    for (int failing : {1, 2}) {
        SCOPED_TRACE(failing == 1 ? "the lock's bound" : "the claim's bound");
        FakePpdev fake;
        Messages messages;
        std::string why;
        auto port = openPpdevPort(fake, testOptions(fake, messages), why);
        ASSERT_TRUE(port) << why;
        fake.failArming(failing);
        port->out32(Lpt1DataPort, 7);
        EXPECT_FALSE(fake.timerArmed());
        ASSERT_EQ(messages.lines.size(), 1u);
        EXPECT_NE(messages.lines[0].find("cannot start the watchdog timer: Resource temporarily unavailable"),
                  std::string::npos)
            << messages.lines[0];
        EXPECT_EQ(fake.dataRegister(), 0);
        port->out32(Lpt1DataPort, 8);
        EXPECT_EQ(fake.dataRegister(), 8);
        EXPECT_FALSE(fake.timerArmed());
    }
}

// The closing 0 that met a busy port: three tries at the end, spread over at
// least 300 ms, so that a port busy for a moment does not take all of them.
TEST_F(PpdevPort, theLastByteIsWrittenWhenTheBackendEndsOrReportedAsNotWritten)
{
    struct Case
    {
        const char *name;
        int releasedAfterTry; // the foreign program lets go after this many of the last tries; -1: never
        int tries;
        std::string lastLine;
    };
    const Case cases[] = {
        {"released before the end", 0, 1, "the port works again"},
        {"released while the backend waits between its tries", 1, 2, "the port works again"},
        {"held to the end", -1, 3,
         "the last byte, 0, was not written (the port is held by another user of it, named ppdev0.0 by the "
         "kernel); the card still shows 5"},
    };
    const std::vector<Op> busyTry = {Op::Open, Op::LockEx, Op::Look, Op::LockUn, Op::Close};
    const std::vector<Op> writingTry = {Op::Open, Op::LockEx, Op::Look, Op::Claim, Op::WData, Op::Release, Op::LockUn};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FakePpdev fake;
        Messages messages;
        PpdevOptions options = testOptions(fake, messages);
        options.retryInterval = 1h; // no access of the run tries again
        options.finalWriteAttempts = PpdevOptions {}.finalWriteAttempts;
        options.finalWriteSpread = PpdevOptions {}.finalWriteSpread;
        const int foreign = fake.open(fake.path().c_str(), O_RDWR);
        std::string why;
        auto port = openPpdevPort(fake, options, why);
        ASSERT_TRUE(port) << why;
        port->out32(Lpt1DataPort, 5);
        ASSERT_EQ(claim(fake, foreign), 0);
        port->out32(Lpt1DataPort, 6); // fails
        fake.clearLog();
        port->out32(Lpt1DataPort, 0); // closing: kept, within the retry interval not tried
        EXPECT_EQ(port->inp32(Lpt1DataPort), 0);
        EXPECT_EQ(port->readPort(), std::nullopt);
        EXPECT_TRUE(fake.log().empty()) << describe(opsOf(fake.log()));
        const auto release = [&] { ASSERT_EQ(fake.ioctl(foreign, PPRELEASE, nullptr), 0); };
        if (c.releasedAfterTry == 0)
            release();
        else if (c.releasedAfterTry > 0)
            fake.duringNextSleep(release);
        port.reset();

        const bool written = c.releasedAfterTry >= 0;
        std::vector<Op> expected;
        for (int i = 0; i < c.tries; ++i) {
            if (i > 0)
                expected.push_back(Op::Sleep);
            const auto &attempt = written && i == c.tries - 1 ? writingTry : busyTry;
            expected.insert(expected.end(), attempt.begin(), attempt.end());
        }
        if (written)
            expected.push_back(Op::Close);
        std::vector<FakePpdev::Entry> log;
        for (const auto &entry : fake.log())
            if (entry.fd != foreign)
                log.push_back(entry);
        EXPECT_EQ(describe(opsOf(log)), describe(expected));
        int sleptMs = 0;
        for (const auto &entry : log)
            sleptMs += entry.op == Op::Sleep ? entry.value : 0;
        EXPECT_GE(sleptMs, 300 * (c.tries - 1) / 2) << "the three tries lie at least 300 ms apart";
        EXPECT_EQ(fake.dataRegister(), written ? 0 : 5);
        ASSERT_EQ(messages.lines.size(), 2u);
        EXPECT_EQ(messages.lines[1], "LPT1: " + fake.path() + ": " + c.lastLine);
        if (!written)
            release();
        EXPECT_EQ(fake.holder(), -1);
        fake.close(foreign);
    }
}

// The kernel's account of the holder is read for the port behind the node,
// known by the node's minor number, however the node is named or reached: a
// port held by a program that does not lock is then never claimed.
TEST_F(PpdevPort, theHolderIsLookedUpByTheNodesMinorNumberNotItsName)
{
    struct Case
    {
        const char *name;
        const char *otherName; // a symbolic link or a second name of the node in a folder of ours; "": the node
        bool symbolic;
        int minor;
    };
    const Case cases[] = {
        {"the node parport0 of minor 0", "", false, 0},
        {"a link to it", "lpt", true, 0},
        {"the node under another name", "relays", false, 0},
        {"a node named parport0 of minor 1", "", false, 1},
    };
    const fs::path dir = scratchDir();
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        FakePpdev fake;
        fake.setMinor(c.minor);
        std::string path = fake.path();
        if (*c.otherName) {
            path = (dir / c.otherName).string();
            fs::remove(path);
            c.symbolic ? fs::create_symlink(fake.path(), path) : fs::create_hard_link(fake.path(), path);
        }
        const int foreign = fake.open(fake.path().c_str(), O_RDWR);
        ASSERT_EQ(claim(fake, foreign), 0);
        Messages messages;
        PpdevOptions options = testOptions(fake, messages);
        options.path = path;
        std::string why;
        auto port = openPpdevPort(fake, options, why);
        ASSERT_TRUE(port) << why;
        EXPECT_EQ(port->readPort(), std::nullopt);
        const auto log = fake.log();
        EXPECT_FALSE(std::any_of(log.begin(), log.end(), [](const auto &e) { return e.slept; }))
            << "a claim waited for the foreign holder";
        ASSERT_EQ(messages.lines.size(), 1u);
        EXPECT_EQ(messages.lines[0], "LPT1: " + path + ": the port is held by another user of it, named ppdev" +
                                         std::to_string(c.minor) +
                                         ".0 by the kernel; trying again at the next port access, a byte to "
                                         "write is kept until then");
        port.reset();
        fake.close(foreign);
        if (*c.otherName)
            fs::remove(path);
    }
    fs::remove_all(dir);
}

// ---- Two programs on one port ----

namespace {

constexpr auto SharingRun = 60s;
constexpr auto SharingPeriod = 1ms;

// One program of the pair: an access every period for the run, through the
// real backend with its real bounds; messages go to standard error.
int runProgram(FakePpdev &fake, bool writer)
{
    PpdevOptions options;
    options.path = fake.path();
    std::string why;
    auto port = openPpdevPort(fake, options, why);
    if (!port) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return 2;
    }
    timespec next {};
    ::clock_gettime(CLOCK_MONOTONIC, &next);
    const auto accesses = SharingRun / SharingPeriod;
    for (long i = 0; i < accesses; ++i) {
        if (writer)
            port->out32(Lpt1DataPort, std::int16_t(i & 0xFF));
        else
            (void)port->inp32(Lpt1DataPort);
        next.tv_nsec += std::chrono::nanoseconds(SharingPeriod).count();
        if (next.tv_nsec >= 1000000000) {
            next.tv_nsec -= 1000000000;
            ++next.tv_sec;
        }
        while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr) == EINTR) {
        }
    }
    return 0;
}

struct WaitFigures
{
    std::size_t count = 0, overOneMs = 0;
    double medianUs = 0, p99Us = 0, maxUs = 0;
};

// From each flock(LOCK_EX) of pid to the end of its PPCLAIM.
WaitFigures lockAndClaimWaits(const std::vector<FakePpdev::Entry> &log, pid_t pid)
{
    std::vector<std::int64_t> waits;
    std::int64_t lockStart = -1;
    for (const auto &entry : log) {
        if (entry.pid != pid)
            continue;
        if (entry.op == Op::LockEx)
            lockStart = entry.startNs;
        else if (entry.op == Op::Claim && lockStart >= 0)
            waits.push_back(entry.endNs - lockStart);
    }
    WaitFigures figures;
    figures.count = waits.size();
    figures.overOneMs = std::size_t(std::count_if(waits.begin(), waits.end(), [](auto w) { return w > 1000000; }));
    if (waits.empty())
        return figures;
    std::sort(waits.begin(), waits.end());
    figures.medianUs = waits[waits.size() / 2] / 1e3;
    figures.p99Us = waits[waits.size() * 99 / 100] / 1e3;
    figures.maxUs = waits.back() / 1e3;
    return figures;
}

} // namespace

TEST(PpdevSharing, aWriterAndAReaderShareThePortForAMinuteWithoutAHang)
{
    const auto perProgram = SharingRun / SharingPeriod;
    FakePpdev fake(std::size_t(perProgram) * 2 * 6 + 1000);
    const fs::path dir = scratchDir();
    Children children;
    const pid_t writer = children.spawn(dir / "writer.err", [&] { return runProgram(fake, true); });
    const pid_t reader = children.spawn(dir / "reader.err", [&] { return runProgram(fake, false); });
    const auto codes = children.waitAll(int(std::chrono::milliseconds(SharingRun).count()) + 60000);
    if (!codes) {
        const auto log = fake.log();
        const double lastCall = log.empty() ? 0 : (log.back().endNs - log.front().startNs) / 1e9;
        FAIL() << "the programs hung " << lastCall << " s into the run, with " << fake.sleepingClaims()
               << " claim(s) asleep";
    }
    EXPECT_EQ(*codes, (std::vector<int> {0, 0}));
    EXPECT_EQ(readFile(dir / "writer.err"), "");
    EXPECT_EQ(readFile(dir / "reader.err"), "");
    fs::remove_all(dir);

    const auto log = fake.log();
    EXPECT_EQ(fake.droppedEntries(), 0u);
    int lastWritten = 0;
    std::size_t failedCalls = 0, sleptClaims = 0, staleReads = 0;
    std::map<pid_t, std::vector<Op>> opsByPid;
    for (const auto &entry : log) {
        failedCalls += entry.error != 0;
        sleptClaims += entry.slept;
        if (entry.op == Op::WData)
            lastWritten = entry.value;
        if (entry.op == Op::RData)
            staleReads += entry.value != lastWritten;
        opsByPid[entry.pid].push_back(entry.op);
    }
    EXPECT_EQ(failedCalls, 0u);
    EXPECT_EQ(sleptClaims, 0u) << "claims that had to wait for the other program";
    EXPECT_EQ(staleReads, 0u) << "reads that did not return the byte last written";
    // Each program: open, the start-up claim, then whole accesses only, close.
    for (const auto &[pid, ops] : opsByPid) {
        const Op data = pid == writer ? Op::WData : Op::RData;
        std::vector<Op> expected = {Op::Open, Op::LockEx, Op::Look, Op::Claim, Op::Release, Op::LockUn};
        for (long i = 0; i < perProgram; ++i)
            expected.insert(expected.end(), {Op::LockEx, Op::Look, Op::Claim, data, Op::Release, Op::LockUn});
        expected.push_back(Op::Close);
        EXPECT_TRUE(ops == expected) << (pid == writer ? "writer" : "reader") << " made " << ops.size()
                                     << " calls, expected " << expected.size();
    }
    EXPECT_EQ(opsByPid.size(), 2u);
    EXPECT_TRUE(opsByPid.count(reader));

    for (const auto &[who, pid] : {std::pair {"writer", writer}, std::pair {"reader", reader}}) {
        const WaitFigures w = lockAndClaimWaits(log, pid);
        std::cout << who << ": " << w.count << " lock-and-claim waits, median " << w.medianUs << " us, 99th percentile "
                  << w.p99Us << " us, maximum " << w.maxUs << " us, " << w.overOneMs << " over 1 ms\n";
        ::testing::Test::RecordProperty(std::string(who) + "_wait_max_us", std::to_string(w.maxUs));
    }
}
