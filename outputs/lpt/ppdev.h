#pragma once
// The Linux hardware backend: the first parallel port through ppdev.
//
// Why it takes turns before claiming. ppdev runs every ioctl of every
// descriptor under one global kernel mutex, and a PPCLAIM that finds the port
// held sleeps WITH that mutex held until the holder releases. The holder's
// PPWDATA/PPRELEASE then wait for the mutex, uninterruptibly: both programs
// freeze for good, not even SIGKILL ends them. So a claim must never have to
// wait for another holder.
//
// Contract of the backend that openPpdevPort returns:
// - Holds: one descriptor of the device, opened O_RDWR|O_CLOEXEC, and a
//   per-thread POSIX timer that sends the watchdog signal (SIGRTMIN + 5 by
//   default; the backend installs a no-op handler for it without SA_RESTART
//   and unblocks it in the calling thread). Calls come from one thread at a
//   time.
// - Binds: at creation. It opens the device and claims and releases the port
//   once. A device that cannot be opened, or a port that refuses the claim
//   for any reason but another holder, makes the creation fail with a reason
//   (the caller falls back to the simulated register). A port that the
//   kernel says someone else holds, or a port or lock held by someone else
//   for longer than the bounds below, is reported on the message sink and
//   the backend is returned anyway: it then behaves as after a failure in
//   the middle of a run. Creation never takes longer than
//   lockTimeout + claimTimeout.
// - Each access of port 888 is exactly: flock(LOCK_EX), a read of the
//   kernel's active device of the port, PPCLAIM, PPWDATA or PPRDATA,
//   PPRELEASE, flock(LOCK_UN). The exclusive lock is taken on this
//   program's own open of the device, so it excludes every other program
//   that locks the same device node the same way, and PPCLAIM never has to
//   wait for one of them. The active device of /dev/parportN is read from
//   /proc/sys/dev/parport/parportN/devices/active, "none" when the port is
//   free; when it names a device, a program that does not lock holds the
//   port and the access fails as busy without claiming. When the file
//   cannot be read (no procfs, a node not named parportN) the claim is made
//   as it is. The port is never claimed exclusively (PPEXCL
//   would lock the other program out) and its data lines are never turned to
//   input (PPDATADIR would switch the relays off). In compatibility mode
//   PPRDATA reads back the byte last written. Other ports: writes are
//   ignored and reads answer 0, without a system call.
// - Each wait is bounded: the lock by lockTimeout, the claim by claimTimeout;
//   the watchdog signal interrupts it (both waits sleep interruptibly).
// - A failure (a bound exceeded, a refused claim, a device that went away)
//   closes the descriptor, which also takes this program out of the kernel's
//   queue of waiting claimers, so the port is never handed to it while it is
//   not looking. It is said once on the message sink, and the recovery once.
//   While failing, an access first reopens the device, at most once per
//   retryInterval; in between, accesses make no system call: a write keeps
//   its byte (the newest replaces an older one), a read answers 0. A kept
//   byte is written before any later access, by service() at most once per
//   retryInterval without one, and, at the latest, when the backend is
//   destroyed (finalWriteAttempts tries); if even that fails, the sink says
//   which byte the card was left with.
// - A third program that uses the port without taking this lock: while it
//   holds the port our accesses fail as busy without claiming, because the
//   kernel's hand-over from a releasing holder to a waiting claimer can
//   freeze the machine. Only if it claims between our look and our claim
//   does our claim wait, for at most claimTimeout. If it claims the port in
//   the few microseconds in which one of ours holds it, the kernel flaw
//   above freezes both; killing that program (its claim sleeps
//   interruptibly) frees ours. A program that takes flock(LOCK_EX) on the
//   device node around its claims shares the port safely.

#include "portbackend.h"

#include <chrono>
#include <cstddef>
#include <ctime>
#include <functional>
#include <memory>
#include <string>

namespace portio {

// The system calls the backend makes on the device, so that tests can put a
// model of the driver behind the real backend. Each behaves like the system
// call of the same name: -1 and errno on failure.
class PpdevCalls
{
public:
    virtual ~PpdevCalls() = default;
    virtual int open(const char *path, int flags) = 0;
    virtual int close(int fd) = 0;
    virtual int flock(int fd, int operation) = 0;
    virtual int ioctl(int fd, unsigned long request, void *argument) = 0;
    // Reads up to size bytes from the start of the file at path: the count,
    // or -1 and errno.
    virtual long readFile(const char *path, char *buffer, std::size_t size) = 0;
    // timer_settime(timer, 0, &value, nullptr) on the watchdog's timer.
    virtual int timerSettime(timer_t timer, const itimerspec &value) = 0;
};

// The real system calls.
PpdevCalls &systemPpdevCalls();

struct PpdevOptions
{
    std::string path = "/dev/parport0";
    std::chrono::milliseconds lockTimeout{300};
    std::chrono::milliseconds claimTimeout{100};
    std::chrono::milliseconds retryInterval{1000};
    int finalWriteAttempts = 3;
    int watchdogSignal = 0; // 0: SIGRTMIN + 5
    // Receives each message as one line without its newline; null: standard
    // error.
    std::function<void(const std::string &)> say;
};

// The backend described above, or null with a human-readable reason in whyNot.
std::unique_ptr<PortBackend> openPpdevPort(PpdevCalls &calls, const PpdevOptions &options, std::string &whyNot);

} // namespace portio
