#pragma once
// A model of the ppdev driver behind a real regular file, for running the
// real backend against it, in one process or in several forked ones.
//
// open, close and flock are the real system calls on a temporary file that
// stands for the device node, so the locks between processes are the
// kernel's own. ioctl goes to the model, whose state lives in shared memory
// created before any fork, so every process sees one device. It models:
// - one global mutex around every ioctl on every descriptor (uninterruptible,
//   as ppdev's mutex_lock is);
// - PPCLAIM on a held port puts the descriptor on the port's wait list and
//   sleeps, still holding the global mutex, until the port is handed to it;
//   the sleep is interruptible: a pending signal that the caller had not
//   blocked ends it with EINTR, and the descriptor STAYS on the wait list
//   (the kernel's parport_claim_or_block does not take it off);
// - a release hands the port to the first descriptor on the wait list, even
//   one whose claim was interrupted; that one's next PPCLAIM then succeeds
//   at once, and a PPCLAIM it repeats while the port is still held is
//   counted as a corruption of the wait list;
// - PPCLAIM on a descriptor that has claimed fails with EINVAL; PPWDATA,
//   PPRDATA, PPDATADIR and PPRELEASE without a claim fail with EINVAL;
// - close releases a claim and leaves the wait list, without the global
//   mutex (ppdev's release does not take it);
// - a device that goes away: open fails with ENOENT, and every ioctl on a
//   descriptor opened before fails with ENODEV, even once it is back;
// - the node: a file named parport0, opened by that path or any other name
//   of the same file (a link); fstat of a descriptor of it says a character
//   device of ppdev's major 99 and the minor chosen by setMinor (0 unless
//   told), other descriptors are the real fstat;
// - the kernel's account of the holder: readFile of
//   /proc/sys/dev/parport/parportN/devices/active, N the minor, answers
//   "none\n" while nobody holds the port, else the holder's device name
//   ("ppdevN." and its slot) and a newline; ENOENT while the device is gone
//   and for any other file. claimAfterNextLook makes a program that takes
//   no lock claim the port just after the next such read said "none".
// timerSettime is the real call, except that an arming chosen by failArming
// fails with EAGAIN; which timer was set last is kept per process. sleepFor
// does not wait: it logs the duration asked for and runs what
// duringNextSleep left for it, as if that had happened meanwhile.
// Every call is logged with its process, descriptor, result and start and
// end time.

#include "ppdev.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <sys/stat.h>
#include <sys/types.h>
#include <vector>

namespace portio::fakes {

class FakePpdev final : public PpdevCalls
{
public:
    enum class Op : std::uint8_t {
        Open, Close, LockEx, LockUn, Look, Claim, Release, WData, RData, Excl, DataDir, Other, Sleep
    };

    struct Entry
    {
        pid_t pid;
        std::int16_t fd;
        Op op;
        bool slept;          // a PPCLAIM that had to wait
        std::int16_t value;  // byte written or read, milliseconds of a sleep, else -1
        std::int16_t error;  // errno of a failed call, else 0
        std::int64_t startNs; // CLOCK_MONOTONIC
        std::int64_t endNs;
    };

    // logCapacity: entries kept; later calls are counted in droppedEntries.
    explicit FakePpdev(std::size_t logCapacity = 4096);
    ~FakePpdev() override;
    FakePpdev(const FakePpdev &) = delete;
    FakePpdev &operator=(const FakePpdev &) = delete;

    // The "device node" to open.
    const std::string &path() const { return m_path; }

    int open(const char *path, int flags) override;
    int close(int fd) override;
    int flock(int fd, int operation) override;
    int ioctl(int fd, unsigned long request, void *argument) override;
    long readFile(const char *path, char *buffer, std::size_t size) override;
    int timerSettime(timer_t timer, const itimerspec &value) override;
    int fstat(int fd, struct stat &status) override;
    void sleepFor(std::chrono::milliseconds duration) override;

    // The node's minor number, the port's number; the file that names the
    // port's holder.
    void setMinor(int minor);
    std::string activeFile() const;
    // What happens, in this process, while the next sleepFor would wait.
    void duringNextSleep(std::function<void()> action) { m_duringSleep = std::move(action); }
    // fd (of this process) claims the port right after the next read of
    // activeFile(), as a program that ignores the lock may.
    void claimAfterNextLook(int fd);

    // The nth arming (a call with a non-zero time) from now on fails.
    void failArming(int nth) { m_armingsToFailure = nth; }
    // Whether the timer set last in this process is running.
    bool timerArmed() const;

    void setPresent(bool present);
    std::uint8_t dataRegister() const;
    // The descriptor of this process that holds the port, or -1 (also when
    // another process holds it).
    int holder() const;
    bool isWaiting(int fd) const;  // on the wait list
    int sleepingClaims() const;    // PPCLAIMs sleeping right now
    // Waits up to timeoutMs for a PPCLAIM to be sleeping; true when one is.
    bool waitForSleepingClaim(int timeoutMs) const;
    // Whether some PPCLAIM holds the global mutex at this moment.
    bool globalMutexBusy() const;
    // PPCLAIMs that started on a descriptor still on the wait list from an
    // interrupted claim. The kernel then links the descriptor into its wait
    // list a second time; the model only counts it.
    int claimsRepeatedWhileQueued() const;

    std::vector<Entry> log() const;
    std::size_t droppedEntries() const;
    void clearLog();

private:
    struct Shared;
    void append(const Entry &entry);
    int slotOf(int fd) const; // under the state lock

    std::string m_folder;
    std::string m_path;
    Shared *m_shared;
    std::size_t m_mappedBytes;
    pid_t m_creator;
    std::function<void()> m_duringSleep;
    int m_armingsToFailure = 0;
    bool m_haveTimer = false;
    timer_t m_lastTimer {};
};

const char *opName(FakePpdev::Op op);

} // namespace portio::fakes
