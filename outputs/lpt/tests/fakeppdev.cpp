#include "fakeppdev.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <filesystem>
#include <linux/major.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <new>
#include <pthread.h>
#include <stdexcept>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/sysmacros.h>
#include <utility>
#include <unistd.h>

namespace portio::fakes {

namespace {

constexpr int MaxDescriptors = 32;

std::int64_t nowNs()
{
    timespec ts {};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return std::int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

timespec inNs(std::int64_t delta)
{
    const std::int64_t at = nowNs() + delta;
    return timespec {time_t(at / 1000000000), long(at % 1000000000)};
}

// The model's mutexes are robust: a process killed while holding one (a
// test that gave up on a hang) leaves it usable for the others.
void lock(pthread_mutex_t *mutex)
{
    if (pthread_mutex_lock(mutex) == EOWNERDEAD)
        pthread_mutex_consistent(mutex);
}

// Whether a signal is pending that the caller had not blocked: what wakes an
// interruptible sleep in the kernel.
bool signalPendingFor(const sigset_t &callersMask)
{
    sigset_t pending;
    if (::sigpending(&pending) != 0)
        return false;
    for (int signal = 1; signal < NSIG; ++signal)
        if (sigismember(&pending, signal) == 1 && sigismember(&callersMask, signal) == 0)
            return true;
    return false;
}

} // namespace

struct FakePpdev::Shared
{
    struct Descriptor
    {
        bool used;
        pid_t pid;
        int fd;
        unsigned generation; // the device's generation when it was opened
        bool claimed;        // PP_CLAIMED
        bool queued;         // on the port's wait list
    };

    pthread_mutex_t global; // ppdev's one mutex around every ioctl
    pthread_mutex_t state;  // the port's own locks; guards everything below
    pthread_cond_t changed; // a release, a hand-over, a claim starting to sleep
    Descriptor descriptors[MaxDescriptors];
    int holder;                 // slot of the port's owner, or -1
    int claimAfterLook;         // slot that claims after the next look, or -1
    int waitList[MaxDescriptors]; // slots, first to be served first
    int waiting;
    int sleeping;
    int repeatedWhileQueued;
    bool present;
    int minor;
    unsigned generation;
    std::uint8_t data;
    std::size_t logCapacity;
    std::size_t logCount;
    std::size_t dropped;
    Entry entries[1];
};

FakePpdev::FakePpdev(std::size_t logCapacity)
    : m_creator(::getpid())
{
    std::string pattern = (std::filesystem::temp_directory_path() / "fake-parport-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    m_folder = pattern;
    m_path = m_folder + "/parport0";
    const int fd = ::open(m_path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0)
        throw std::runtime_error("cannot create the device node");
    ::close(fd);

    if (logCapacity == 0)
        logCapacity = 1;
    m_mappedBytes = sizeof(Shared) + (logCapacity - 1) * sizeof(Entry);
    void *memory = ::mmap(nullptr, m_mappedBytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (memory == MAP_FAILED)
        throw std::runtime_error("mmap failed");
    m_shared = new (memory) Shared;

    pthread_mutexattr_t mutexAttributes;
    pthread_mutexattr_init(&mutexAttributes);
    pthread_mutexattr_setpshared(&mutexAttributes, PTHREAD_PROCESS_SHARED);
    pthread_mutexattr_setrobust(&mutexAttributes, PTHREAD_MUTEX_ROBUST);
    pthread_mutex_init(&m_shared->global, &mutexAttributes);
    pthread_mutex_init(&m_shared->state, &mutexAttributes);
    pthread_mutexattr_destroy(&mutexAttributes);
    pthread_condattr_t condAttributes;
    pthread_condattr_init(&condAttributes);
    pthread_condattr_setpshared(&condAttributes, PTHREAD_PROCESS_SHARED);
    pthread_condattr_setclock(&condAttributes, CLOCK_MONOTONIC);
    pthread_cond_init(&m_shared->changed, &condAttributes);
    pthread_condattr_destroy(&condAttributes);

    for (auto &descriptor : m_shared->descriptors)
        descriptor = {};
    m_shared->holder = -1;
    m_shared->claimAfterLook = -1;
    m_shared->waiting = 0;
    m_shared->sleeping = 0;
    m_shared->repeatedWhileQueued = 0;
    m_shared->present = true;
    m_shared->minor = 0;
    m_shared->generation = 1;
    m_shared->data = 0;
    m_shared->logCapacity = logCapacity;
    m_shared->logCount = 0;
    m_shared->dropped = 0;
}

FakePpdev::~FakePpdev()
{
    if (::getpid() != m_creator)
        return;
    ::munmap(m_shared, m_mappedBytes);
    ::unlink(m_path.c_str());
    ::rmdir(m_folder.c_str());
}

void FakePpdev::append(const Entry &entry)
{
    if (m_shared->logCount < m_shared->logCapacity)
        m_shared->entries[m_shared->logCount++] = entry;
    else
        ++m_shared->dropped;
}

int FakePpdev::slotOf(int fd) const
{
    const pid_t pid = ::getpid();
    for (int slot = 0; slot < MaxDescriptors; ++slot) {
        const auto &descriptor = m_shared->descriptors[slot];
        if (descriptor.used && descriptor.pid == pid && descriptor.fd == fd)
            return slot;
    }
    return -1;
}

int FakePpdev::open(const char *path, int flags)
{
    Entry entry {::getpid(), -1, Op::Open, false, -1, 0, nowNs(), 0};
    lock(&m_shared->state);
    int result = -1;
    int error = 0;
    struct stat node {}, named {};
    if (!m_shared->present || ::stat(m_path.c_str(), &node) != 0 || ::stat(path, &named) != 0
        || node.st_dev != named.st_dev || node.st_ino != named.st_ino) {
        error = ENOENT;
    } else {
        result = ::open(path, flags);
        error = result < 0 ? errno : 0;
        if (result >= 0) {
            int free = 0;
            while (free < MaxDescriptors && m_shared->descriptors[free].used)
                ++free;
            if (free == MaxDescriptors) {
                ::close(result);
                result = -1;
                error = EMFILE;
            } else {
                m_shared->descriptors[free] = {true, ::getpid(), result, m_shared->generation, false, false};
            }
        }
    }
    entry.fd = std::int16_t(result);
    entry.error = std::int16_t(error);
    entry.endNs = nowNs();
    append(entry);
    pthread_mutex_unlock(&m_shared->state);
    errno = error;
    return result;
}

int FakePpdev::close(int fd)
{
    Entry entry {::getpid(), std::int16_t(fd), Op::Close, false, -1, 0, nowNs(), 0};
    lock(&m_shared->state);
    const int slot = slotOf(fd);
    if (slot >= 0) {
        auto &descriptor = m_shared->descriptors[slot];
        if (descriptor.queued) {
            int *end = m_shared->waitList + m_shared->waiting;
            std::remove(m_shared->waitList, end, slot);
            --m_shared->waiting;
        }
        if (m_shared->holder == slot) {
            m_shared->holder = -1;
            if (m_shared->waiting > 0) {
                const int next = m_shared->waitList[0];
                std::memmove(m_shared->waitList, m_shared->waitList + 1, sizeof(int) * std::size_t(--m_shared->waiting));
                m_shared->descriptors[next].queued = false;
                m_shared->holder = next;
            }
            pthread_cond_broadcast(&m_shared->changed);
        }
        descriptor = {};
    }
    const int result = ::close(fd);
    entry.error = std::int16_t(result < 0 ? errno : 0);
    entry.endNs = nowNs();
    append(entry);
    pthread_mutex_unlock(&m_shared->state);
    errno = entry.error;
    return result;
}

int FakePpdev::flock(int fd, int operation)
{
    Entry entry {::getpid(), std::int16_t(fd), (operation & LOCK_UN) ? Op::LockUn : Op::LockEx, false, -1, 0,
                 nowNs(), 0};
    const int result = ::flock(fd, operation);
    const int error = result < 0 ? errno : 0;
    entry.error = std::int16_t(error);
    entry.endNs = nowNs();
    lock(&m_shared->state);
    append(entry);
    pthread_mutex_unlock(&m_shared->state);
    errno = error;
    return result;
}

int FakePpdev::ioctl(int fd, unsigned long request, void *argument)
{
    Entry entry {::getpid(), std::int16_t(fd), Op::Other, false, -1, 0, nowNs(), 0};
    switch (request) {
    case PPCLAIM: entry.op = Op::Claim; break;
    case PPRELEASE: entry.op = Op::Release; break;
    case PPWDATA: entry.op = Op::WData; break;
    case PPRDATA: entry.op = Op::RData; break;
    case PPEXCL: entry.op = Op::Excl; break;
    case PPDATADIR: entry.op = Op::DataDir; break;
    default: break;
    }

    lock(&m_shared->global);
    lock(&m_shared->state);
    int error = 0;
    const int slot = slotOf(fd);
    auto *descriptor = slot >= 0 ? &m_shared->descriptors[slot] : nullptr;
    if (!descriptor) {
        error = EBADF;
    } else if (descriptor->generation != m_shared->generation || !m_shared->present) {
        error = ENODEV;
    } else if (entry.op == Op::Claim) {
        if (descriptor->claimed) {
            error = EINVAL; // "you've already got it"
        } else if (m_shared->holder == -1 || m_shared->holder == slot) {
            m_shared->holder = slot;
            descriptor->claimed = true;
        } else {
            if (descriptor->queued) {
                ++m_shared->repeatedWhileQueued;
            } else {
                descriptor->queued = true;
                m_shared->waitList[m_shared->waiting++] = slot;
            }
            // Sleep until the port is handed over, holding the global mutex.
            sigset_t all, callers;
            sigfillset(&all);
            pthread_sigmask(SIG_BLOCK, &all, &callers);
            entry.slept = true;
            ++m_shared->sleeping;
            pthread_cond_broadcast(&m_shared->changed);
            while (m_shared->holder != slot) {
                if (signalPendingFor(callers)) {
                    error = EINTR; // still on the wait list
                    break;
                }
                const timespec slice = inNs(1000000);
                if (pthread_cond_timedwait(&m_shared->changed, &m_shared->state, &slice) == EOWNERDEAD)
                    pthread_mutex_consistent(&m_shared->state);
            }
            --m_shared->sleeping;
            if (!error)
                descriptor->claimed = true;
            pthread_mutex_unlock(&m_shared->state);
            pthread_sigmask(SIG_SETMASK, &callers, nullptr); // the signal is delivered here
            lock(&m_shared->state);
        }
    } else if (entry.op == Op::Excl) {
        if (descriptor->claimed)
            error = EINVAL;
    } else if (entry.op == Op::Other) {
        error = ENOTTY;
    } else if (!descriptor->claimed) {
        error = EINVAL; // everything else needs the claim
    } else if (entry.op == Op::WData) {
        m_shared->data = *static_cast<unsigned char *>(argument);
        entry.value = m_shared->data;
    } else if (entry.op == Op::RData) {
        *static_cast<unsigned char *>(argument) = m_shared->data;
        entry.value = m_shared->data;
    } else if (entry.op == Op::Release) {
        descriptor->claimed = false;
        m_shared->holder = -1;
        if (m_shared->waiting > 0) {
            const int next = m_shared->waitList[0];
            std::memmove(m_shared->waitList, m_shared->waitList + 1, sizeof(int) * std::size_t(--m_shared->waiting));
            m_shared->descriptors[next].queued = false;
            m_shared->holder = next; // handed over, even to an interrupted claimer
        }
        pthread_cond_broadcast(&m_shared->changed);
    }
    entry.error = std::int16_t(error);
    entry.endNs = nowNs();
    append(entry);
    pthread_mutex_unlock(&m_shared->state);
    pthread_mutex_unlock(&m_shared->global);
    errno = error;
    return error ? -1 : 0;
}

long FakePpdev::readFile(const char *path, char *buffer, std::size_t size)
{
    Entry entry {::getpid(), -1, Op::Look, false, -1, 0, nowNs(), 0};
    lock(&m_shared->state);
    std::string text;
    int error = 0;
    const std::string minor = std::to_string(m_shared->minor);
    if (path != "/proc/sys/dev/parport/parport" + minor + "/devices/active" || !m_shared->present)
        error = ENOENT;
    else if (m_shared->holder < 0)
        text = "none\n";
    else
        text = "ppdev" + minor + "." + std::to_string(m_shared->holder) + "\n";
    // The foreign claim that slips in between a look and a claim.
    const int late = m_shared->claimAfterLook;
    if (!error && late >= 0 && m_shared->holder < 0 && m_shared->descriptors[late].used) {
        m_shared->holder = late;
        m_shared->descriptors[late].claimed = true;
    }
    m_shared->claimAfterLook = -1;
    entry.error = std::int16_t(error);
    entry.endNs = nowNs();
    append(entry);
    pthread_mutex_unlock(&m_shared->state);
    if (error) {
        errno = error;
        return -1;
    }
    const std::size_t count = std::min(size, text.size());
    std::memcpy(buffer, text.data(), count);
    return long(count);
}

void FakePpdev::claimAfterNextLook(int fd)
{
    lock(&m_shared->state);
    m_shared->claimAfterLook = slotOf(fd);
    pthread_mutex_unlock(&m_shared->state);
}

int FakePpdev::timerSettime(timer_t timer, const itimerspec &value)
{
    m_haveTimer = true;
    m_lastTimer = timer;
    const bool arming = value.it_value.tv_sec != 0 || value.it_value.tv_nsec != 0;
    if (arming && m_armingsToFailure > 0 && --m_armingsToFailure == 0) {
        errno = EAGAIN;
        return -1;
    }
    return ::timer_settime(timer, 0, &value, nullptr);
}

int FakePpdev::fstat(int fd, struct stat &status)
{
    if (::fstat(fd, &status) != 0)
        return -1;
    lock(&m_shared->state);
    if (slotOf(fd) >= 0) {
        status.st_mode = S_IFCHR | (status.st_mode & 07777);
        status.st_rdev = makedev(PP_MAJOR, unsigned(m_shared->minor));
    }
    pthread_mutex_unlock(&m_shared->state);
    return 0;
}

void FakePpdev::sleepFor(std::chrono::milliseconds duration)
{
    const std::int64_t now = nowNs();
    const auto ms = std::min<std::int64_t>(duration.count(), INT16_MAX);
    lock(&m_shared->state);
    append(Entry {::getpid(), -1, Op::Sleep, false, std::int16_t(ms), 0, now, now});
    pthread_mutex_unlock(&m_shared->state);
    if (auto action = std::exchange(m_duringSleep, nullptr))
        action();
}

void FakePpdev::setMinor(int minor)
{
    lock(&m_shared->state);
    m_shared->minor = minor;
    pthread_mutex_unlock(&m_shared->state);
}

std::string FakePpdev::activeFile() const
{
    lock(&m_shared->state);
    const int minor = m_shared->minor;
    pthread_mutex_unlock(&m_shared->state);
    return "/proc/sys/dev/parport/parport" + std::to_string(minor) + "/devices/active";
}

bool FakePpdev::timerArmed() const
{
    itimerspec now {};
    return m_haveTimer && ::timer_gettime(m_lastTimer, &now) == 0
           && (now.it_value.tv_sec != 0 || now.it_value.tv_nsec != 0);
}

void FakePpdev::setPresent(bool present)
{
    lock(&m_shared->state);
    if (m_shared->present && !present)
        ++m_shared->generation;
    m_shared->present = present;
    pthread_mutex_unlock(&m_shared->state);
}

std::uint8_t FakePpdev::dataRegister() const
{
    lock(&m_shared->state);
    const std::uint8_t data = m_shared->data;
    pthread_mutex_unlock(&m_shared->state);
    return data;
}

int FakePpdev::holder() const
{
    lock(&m_shared->state);
    const int slot = m_shared->holder;
    const auto &descriptor = m_shared->descriptors[slot < 0 ? 0 : slot];
    const int fd = slot >= 0 && descriptor.pid == ::getpid() ? descriptor.fd : -1;
    pthread_mutex_unlock(&m_shared->state);
    return fd;
}

bool FakePpdev::isWaiting(int fd) const
{
    lock(&m_shared->state);
    const int slot = slotOf(fd);
    const bool queued = slot >= 0 && m_shared->descriptors[slot].queued;
    pthread_mutex_unlock(&m_shared->state);
    return queued;
}

int FakePpdev::sleepingClaims() const
{
    lock(&m_shared->state);
    const int sleeping = m_shared->sleeping;
    pthread_mutex_unlock(&m_shared->state);
    return sleeping;
}

bool FakePpdev::waitForSleepingClaim(int timeoutMs) const
{
    const timespec deadline = inNs(std::int64_t(timeoutMs) * 1000000);
    lock(&m_shared->state);
    int result = 0;
    while (m_shared->sleeping == 0 && result != ETIMEDOUT)
        if ((result = pthread_cond_timedwait(&m_shared->changed, &m_shared->state, &deadline)) == EOWNERDEAD)
            pthread_mutex_consistent(&m_shared->state);
    const bool sleeping = m_shared->sleeping > 0;
    pthread_mutex_unlock(&m_shared->state);
    return sleeping;
}

bool FakePpdev::globalMutexBusy() const
{
    const int result = pthread_mutex_trylock(&m_shared->global);
    if (result == EOWNERDEAD)
        pthread_mutex_consistent(&m_shared->global);
    else if (result != 0)
        return true;
    pthread_mutex_unlock(&m_shared->global);
    return false;
}

int FakePpdev::claimsRepeatedWhileQueued() const
{
    lock(&m_shared->state);
    const int count = m_shared->repeatedWhileQueued;
    pthread_mutex_unlock(&m_shared->state);
    return count;
}

std::vector<FakePpdev::Entry> FakePpdev::log() const
{
    lock(&m_shared->state);
    std::vector<Entry> entries(m_shared->entries, m_shared->entries + m_shared->logCount);
    pthread_mutex_unlock(&m_shared->state);
    return entries;
}

std::size_t FakePpdev::droppedEntries() const
{
    return m_shared->dropped;
}

void FakePpdev::clearLog()
{
    lock(&m_shared->state);
    m_shared->logCount = 0;
    m_shared->dropped = 0;
    pthread_mutex_unlock(&m_shared->state);
}

const char *opName(FakePpdev::Op op)
{
    switch (op) {
    case FakePpdev::Op::Open: return "open";
    case FakePpdev::Op::Close: return "close";
    case FakePpdev::Op::LockEx: return "flock(LOCK_EX)";
    case FakePpdev::Op::LockUn: return "flock(LOCK_UN)";
    case FakePpdev::Op::Look: return "read active";
    case FakePpdev::Op::Claim: return "PPCLAIM";
    case FakePpdev::Op::Release: return "PPRELEASE";
    case FakePpdev::Op::WData: return "PPWDATA";
    case FakePpdev::Op::RData: return "PPRDATA";
    case FakePpdev::Op::Excl: return "PPEXCL";
    case FakePpdev::Op::DataDir: return "PPDATADIR";
    case FakePpdev::Op::Other: return "other ioctl";
    case FakePpdev::Op::Sleep: return "sleep";
    }
    return "?";
}

} // namespace portio::fakes
