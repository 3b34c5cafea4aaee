// Linux hardware backend: the first parallel port through ppdev. The
// contract, and why every claim is preceded by a lock, is in ppdev.h.

#include "ppdev.h"
#include "parallelport.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <linux/major.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <optional>
#include <pthread.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#ifndef sigev_notify_thread_id
#define sigev_notify_thread_id _sigev_un._tid
#endif

namespace portio {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

class SystemCalls final : public PpdevCalls
{
public:
    int open(const char *path, int flags) override { return ::open(path, flags); }
    int close(int fd) override { return ::close(fd); }
    int flock(int fd, int operation) override { return ::flock(fd, operation); }
    int ioctl(int fd, unsigned long request, void *argument) override { return ::ioctl(fd, request, argument); }
    long readFile(const char *path, char *buffer, std::size_t size) override
    {
        const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
        if (fd < 0)
            return -1;
        const ssize_t got = ::read(fd, buffer, size);
        const int error = errno;
        ::close(fd);
        errno = error;
        return long(got);
    }
    int timerSettime(timer_t timer, const itimerspec &value) override
    {
        return ::timer_settime(timer, 0, &value, nullptr);
    }
    int fstat(int fd, struct stat &status) override { return ::fstat(fd, &status); }
    void sleepFor(milliseconds duration) override
    {
        timespec until {};
        ::clock_gettime(CLOCK_MONOTONIC, &until);
        const long long ns = until.tv_nsec + (duration.count() % 1000) * 1000000LL;
        until.tv_sec += time_t(duration.count() / 1000 + ns / 1000000000);
        until.tv_nsec = long(ns % 1000000000);
        while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, nullptr) == EINTR) {
        }
    }
};

// The kernel's account of who holds the port behind the descriptor: ppdev's
// node of minor number N is the port parportN, whatever the node is called
// and however it was reached (/dev/parport0, a link to it, a node made with
// mknod), so /proc/sys/dev/parport/parportN/devices/active, which names the
// device of the holder, or "none". Empty for a node that is not ppdev's.
std::string activeDeviceFile(PpdevCalls &calls, int fd)
{
    struct stat status {};
    if (calls.fstat(fd, status) != 0 || !S_ISCHR(status.st_mode) || major(status.st_rdev) != PP_MAJOR)
        return {};
    return "/proc/sys/dev/parport/parport" + std::to_string(minor(status.st_rdev)) + "/devices/active";
}

void ignoreWatchdogSignal(int) {}

// Interrupts a blocking system call of the calling thread once a bound has
// passed: a per-thread POSIX timer whose signal has a handler without
// SA_RESTART, so a waiting flock or PPCLAIM returns EINTR. After the first
// expiry it keeps firing every tenth of the bound until disarmed, so a signal
// that lands just before the wait begins cannot leave the wait unbounded.
// It is never left running by a failure: a stray signal would make a later
// system call of the thread fail with EINTR.
class Watchdog
{
public:
    Watchdog(PpdevCalls &calls, int signal)
        : m_calls(calls)
        , m_signal(signal)
    {
    }
    ~Watchdog()
    {
        if (m_haveTimer && m_pid == ::getpid())
            ::timer_delete(m_timer);
    }
    Watchdog(const Watchdog &) = delete;
    Watchdog &operator=(const Watchdog &) = delete;

    // Empty on success, else why the bound cannot be kept; the timer is
    // then stopped.
    std::optional<std::string> arm(milliseconds bound)
    {
        if (auto error = bindToThisThread())
            return error;
        const auto first = std::max(bound, milliseconds(1));
        const auto repeat = std::max(first / 10, milliseconds(1));
        itimerspec spec {};
        spec.it_value = toTimespec(first);
        spec.it_interval = toTimespec(repeat);
        if (m_calls.timerSettime(m_timer, spec) != 0) {
            const int error = errno;
            disarm();
            return std::string("cannot start the watchdog timer: ") + std::strerror(error);
        }
        return std::nullopt;
    }

    void disarm()
    {
        if (!m_haveTimer)
            return;
        const itimerspec stop {};
        m_calls.timerSettime(m_timer, stop);
    }

private:
    static timespec toTimespec(milliseconds value)
    {
        return timespec {time_t(value.count() / 1000), long(value.count() % 1000) * 1000000L};
    }

    // The timer signals one thread; a call from another thread (or from a
    // forked child, which inherits no timers) gets a timer of its own.
    std::optional<std::string> bindToThisThread()
    {
        const pid_t pid = ::getpid();
        const pid_t tid = ::gettid();
        if (m_haveTimer && m_pid == pid && m_tid == tid)
            return std::nullopt;
        if (m_haveTimer && m_pid == pid)
            ::timer_delete(m_timer);
        m_haveTimer = false;

        struct sigaction action {};
        action.sa_handler = ignoreWatchdogSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = 0; // no SA_RESTART: the wait must end with EINTR
        sigset_t own;
        sigemptyset(&own);
        sigaddset(&own, m_signal);
        if (::sigaction(m_signal, &action, nullptr) != 0 || ::pthread_sigmask(SIG_UNBLOCK, &own, nullptr) != 0)
            return std::string("cannot install the watchdog signal: ") + std::strerror(errno);

        sigevent event {};
        event.sigev_notify = SIGEV_THREAD_ID;
        event.sigev_signo = m_signal;
        event.sigev_notify_thread_id = tid;
        if (::timer_create(CLOCK_MONOTONIC, &event, &m_timer) != 0)
            return std::string("cannot create the watchdog timer: ") + std::strerror(errno);
        m_haveTimer = true;
        m_pid = pid;
        m_tid = tid;
        return std::nullopt;
    }

    PpdevCalls &m_calls;
    int m_signal;
    timer_t m_timer {};
    bool m_haveTimer = false;
    pid_t m_pid = 0;
    pid_t m_tid = 0;
};

class PpdevPort final : public PortBackend
{
public:
    enum class CheckResult { Usable, Refused };

    PpdevPort(PpdevCalls &calls, const PpdevOptions &options, int fd)
        : m_calls(calls)
        , m_options(options)
        , m_fd(fd)
        , m_activeFile(activeDeviceFile(calls, fd))
        , m_watchdog(calls, options.watchdogSignal ? options.watchdogSignal : SIGRTMIN + 5)
    {
    }

    // The last tries of a kept byte (a Stop's 0) are spread out: a port busy
    // for a moment (another of our programs in its access, a foreign claim)
    // would fail every try made at once.
    ~PpdevPort() override
    {
        const int gaps = std::max(m_options.finalWriteAttempts - 1, 1);
        const milliseconds gap = (m_options.finalWriteSpread + milliseconds(gaps - 1)) / gaps;
        for (int attempt = 0; m_pending && attempt < m_options.finalWriteAttempts; ++attempt) {
            if (attempt > 0)
                m_calls.sleepFor(gap);
            writePending(/*waitForRetry=*/false);
        }
        if (m_pending) {
            std::string left = m_lastWritten ? "still shows " + std::to_string(*m_lastWritten)
                                             : "shows what it held before";
            say(m_options.path + ": the last byte, " + std::to_string(*m_pending) + ", was not written (" +
                m_lastReason + "); the card " + left);
        }
        closeDevice();
    }

    // The start-up claim. Refused: the port cannot be used at all, reason in
    // whyNot. Usable: it works, or it is held by someone else, which has been
    // reported and is treated as a failure in the middle of the run.
    CheckResult check(std::string &whyNot)
    {
        int error = 0;
        if (auto failure = lockAndClaim(error)) {
            if (error != EINTR && error != EBUSY) {
                whyNot = m_options.path + ": " + *failure;
                return CheckResult::Refused;
            }
            fail(*failure);
            return CheckResult::Usable;
        }
        m_calls.ioctl(m_fd, PPRELEASE, nullptr);
        m_calls.flock(m_fd, LOCK_UN);
        return CheckResult::Usable;
    }

    void out32(std::int16_t port, std::int16_t value) override
    {
        if (port != Lpt1DataPort)
            return;
        m_pending = static_cast<std::uint8_t>(value & 0xFF);
        writePending(/*waitForRetry=*/true);
    }

    // A kept byte goes out on its own, once per retryInterval, whether or not
    // the program accesses the port again: a Stop's 0 that met a busy port.
    void service() override
    {
        if (m_pending)
            writePending(/*waitForRetry=*/true);
    }

    std::int16_t inp32(std::int16_t port) override
    {
        return port == Lpt1DataPort ? std::int16_t(readPort().value_or(0)) : std::int16_t(0);
    }

    // The data register, or nothing while the port is busy or failing: a
    // kept byte goes out first, so a read never shows an older one.
    std::optional<std::uint8_t> readPort() override
    {
        if (m_pending && !writePending(/*waitForRetry=*/true))
            return std::nullopt;
        if (!deviceReady(/*waitForRetry=*/true))
            return std::nullopt;
        unsigned char byte = 0;
        if (auto failure = transfer(PPRDATA, byte)) {
            fail(*failure);
            return std::nullopt;
        }
        recovered();
        return byte;
    }

private:
    // Writes the kept byte; true when it reached the port.
    bool writePending(bool waitForRetry)
    {
        if (!deviceReady(waitForRetry))
            return false;
        unsigned char byte = *m_pending;
        if (auto failure = transfer(PPWDATA, byte)) {
            fail(*failure);
            return false;
        }
        m_lastWritten = *m_pending;
        m_pending.reset();
        recovered();
        return true;
    }

    // Whether an access may go to the device now, reopening it if a failure
    // closed it.
    bool deviceReady(bool waitForRetry)
    {
        if (m_fd >= 0)
            return true;
        if (waitForRetry && Clock::now() < m_nextTry)
            return false;
        m_fd = m_calls.open(m_options.path.c_str(), O_RDWR | O_CLOEXEC);
        if (m_fd < 0) {
            fail(std::string("cannot open it: ") + std::strerror(errno));
            return false;
        }
        m_activeFile = activeDeviceFile(m_calls, m_fd); // the path may name another node now
        return true;
    }

    // One access: lock, claim, the data ioctl, release, unlock. Empty when
    // it succeeded, else what failed.
    std::optional<std::string> transfer(unsigned long request, unsigned char &byte)
    {
        int error = 0;
        if (auto failure = lockAndClaim(error))
            return failure;
        std::optional<std::string> failure;
        if (m_calls.ioctl(m_fd, request, &byte) != 0)
            failure = std::string(request == PPWDATA ? "writing" : "reading") + " the data register failed: " +
                      std::strerror(errno);
        if (m_calls.ioctl(m_fd, PPRELEASE, nullptr) != 0 && !failure)
            failure = std::string("releasing the port failed: ") + std::strerror(errno);
        m_calls.flock(m_fd, LOCK_UN);
        return failure;
    }

    // Takes the lock, then the claim, each within its bound; between the two
    // it asks the kernel who holds the port and claims only a free one. On
    // failure neither is held, error is the errno (EINTR for a bound
    // exceeded, EBUSY for a port held by someone else) and the result says
    // what failed.
    std::optional<std::string> lockAndClaim(int &error)
    {
        if (auto failure = m_watchdog.arm(m_options.lockTimeout)) {
            error = EAGAIN;
            return failure;
        }
        error = bounded(m_options.lockTimeout, [this] { return m_calls.flock(m_fd, LOCK_EX); });
        m_watchdog.disarm();
        if (error) {
            if (error == EINTR)
                return "another program has held its lock for more than " + text(m_options.lockTimeout);
            return std::string("locking it failed: ") + std::strerror(error);
        }
        // Every program that takes the lock has released the port before
        // letting go of it, so a holder now is one that does not lock: a
        // claim would have to wait for it, and a claimer waiting when a
        // holder releases can freeze the kernel's port sharing.
        if (const std::optional<std::string> holder = heldBy()) {
            m_calls.flock(m_fd, LOCK_UN);
            error = EBUSY;
            return "the port is held by another user of it, named " + *holder + " by the kernel";
        }
        if (auto failure = m_watchdog.arm(m_options.claimTimeout)) {
            m_calls.flock(m_fd, LOCK_UN);
            error = EAGAIN;
            return failure;
        }
        // An interrupted PPCLAIM is never repeated on the same descriptor:
        // the kernel leaves the descriptor on the port's wait list, and a
        // second sleeping claim would link it into that list twice. Giving up
        // closes the descriptor, which takes it off the list.
        const auto claimStart = Clock::now();
        error = m_calls.ioctl(m_fd, PPCLAIM, nullptr) == 0 ? 0 : errno;
        const bool boundPassed = Clock::now() - claimStart >= m_options.claimTimeout;
        m_watchdog.disarm();
        if (error) {
            m_calls.flock(m_fd, LOCK_UN);
            if (error == EINTR && boundPassed)
                return "the port has been held by another program for more than " + text(m_options.claimTimeout);
            if (error == EINTR)
                return std::string("a signal interrupted the wait for the port, which another program holds");
            return std::string("cannot claim the port: ") + std::strerror(error);
        }
        return std::nullopt;
    }

    // The kernel's name for the port's holder; empty when the port is free
    // or the kernel does not say (no such file: the claim then finds out).
    std::optional<std::string> heldBy()
    {
        if (m_activeFile.empty())
            return std::nullopt;
        char buffer[256];
        const long got = m_calls.readFile(m_activeFile.c_str(), buffer, sizeof buffer);
        if (got <= 0)
            return std::nullopt;
        std::string name(buffer, std::size_t(got));
        while (!name.empty() && (name.back() == '\n' || name.back() == ' '))
            name.pop_back();
        if (name.empty() || name == "none")
            return std::nullopt;
        return name;
    }

    // Runs call until it succeeds, fails other than by EINTR, or is
    // interrupted after the bound; a foreign signal before the bound only
    // restarts it. Returns 0 or the errno.
    template<typename Call>
    static int bounded(milliseconds bound, Call call)
    {
        const auto start = Clock::now();
        for (;;) {
            if (call() == 0)
                return 0;
            const int error = errno;
            if (error != EINTR || Clock::now() - start >= bound)
                return error;
        }
    }

    void fail(const std::string &reason)
    {
        closeDevice();
        m_nextTry = Clock::now() + m_options.retryInterval;
        m_lastReason = reason;
        if (m_failing)
            return;
        m_failing = true;
        const std::string when = m_options.retryInterval.count() > 0 ? "after " + text(m_options.retryInterval)
                                                                     : "at the next port access";
        say(m_options.path + ": " + reason + "; trying again " + when + ", a byte to write is kept until then");
    }

    void recovered()
    {
        if (!m_failing)
            return;
        m_failing = false;
        say(m_options.path + ": the port works again");
    }

    void closeDevice()
    {
        if (m_fd >= 0)
            m_calls.close(m_fd);
        m_fd = -1;
    }

    void say(const std::string &line) const
    {
        if (m_options.say) {
            m_options.say("LPT1: " + line);
        } else {
            std::fprintf(stderr, "LPT1: %s\n", line.c_str());
            std::fflush(stderr);
        }
    }

    static std::string text(milliseconds value) { return std::to_string(value.count()) + " ms"; }

    PpdevCalls &m_calls;
    const PpdevOptions m_options;
    int m_fd;
    std::string m_activeFile;
    Watchdog m_watchdog;
    bool m_failing = false;
    Clock::time_point m_nextTry {};
    std::optional<std::uint8_t> m_pending;
    std::optional<std::uint8_t> m_lastWritten;
    std::string m_lastReason;
};

} // namespace

PpdevCalls &systemPpdevCalls()
{
    static SystemCalls calls;
    return calls;
}

std::unique_ptr<PortBackend> openPpdevPort(PpdevCalls &calls, const PpdevOptions &options, std::string &whyNot)
{
    const int fd = calls.open(options.path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        whyNot = options.path + ": " + std::strerror(err);
        if (err == EACCES || err == EPERM)
            whyNot += " (the user needs to be in group lp)";
        else if (err == ENOENT || err == ENODEV || err == ENXIO)
            whyNot += " (no parallel port, or the ppdev module is not loaded)";
        return nullptr;
    }
    auto port = std::make_unique<PpdevPort>(calls, options, fd);
    if (port->check(whyNot) == PpdevPort::CheckResult::Refused)
        return nullptr;
    return port;
}

std::unique_ptr<PortBackend> openHardwarePort(std::string &whyNot)
{
    return openPpdevPort(systemPpdevCalls(), PpdevOptions {}, whyNot);
}

} // namespace portio
