#pragma once
// The Linux hardware backend: the first parallel port through ppdev.
//
// What the kernel allows, and so all this backend can promise (Debian's 6.1
// drivers, tried in a virtual machine; outputs/lpt/README.md for the user):
// - ppdev runs every ioctl of every descriptor under one global mutex, taken
//   uninterruptibly, and a PPCLAIM that finds the port held sleeps WITH that
//   mutex held until the port is handed to it. Every other ppdev ioctl of
//   every program, our PPWDATA/PPRDATA/PPRELEASE included, then waits in
//   state D in pp_ioctl; no signal, not even SIGKILL, and no timer of ours
//   ends that wait. It ends when the sleeping claim ends: when the holder
//   releases the port (impossible when the holder is the one waiting for the
//   mutex) or when the claiming program is ended (its claim sleeps
//   interruptibly).
// - When the port's interrupt is on, the kernel's hand-over of the port from
//   a releasing holder to a sleeping claimer can hard-lock the whole machine
//   (it re-enables interrupts inside the port's lock, and the interrupt
//   handler then spins on that lock). parport_pc loaded with
//   "io=0x378 irq=none" turns the interrupt off
//   (/proc/sys/dev/parport/parport0/irq then reads -1); "irq=none" alone is
//   ignored for a port the firmware describes.
// So a claim must never have to wait. Programs that take flock(LOCK_EX) on
// the device node around each claim never make each other wait: ours do, and
// share the port without either hazard. Against a user of the port that
// claims without that lock the backend only narrows the window: it does not
// claim a port the kernel says is held, and its claim waits at most
// claimTimeout for one that came first after its look. Such a user can still
// claim while one of our accesses holds the port. The printer driver lp (and
// CUPS' parallel backend through it) then waits inside the kernel, and the
// hand-over to it is the hazard above unless the interrupt is off. Another
// ppdev program's claim then holds ppdev's mutex, and our next ioctl sits in
// state D for as long as that claim waits: until that program is ended, as
// our holder cannot release meanwhile. No bound of ours holds then; the
// caller must run the backend where such a wait freezes nothing else.
//
// Contract of the backend that openPpdevPort returns:
// - Holds: one descriptor of the device, opened O_RDWR|O_CLOEXEC, and a
//   per-thread POSIX timer that sends the watchdog signal (SIGRTMIN + 5 by
//   default; the backend installs a no-op handler for it without SA_RESTART
//   and unblocks it in the calling thread). Calls come from one thread at a
//   time; every call may block as said here.
// - Binds: at creation. It opens the device and claims and releases the port
//   once. A device that cannot be opened, or a port that refuses the claim
//   for any reason but another holder, makes the creation fail with a reason
//   (the caller falls back to the simulated register). A port that the
//   kernel says someone else holds, or a port or lock held by someone else
//   for longer than the bounds below, is reported on the message sink and
//   the backend is returned anyway: it then behaves as after a failure in
//   the middle of a run. Creation takes no longer than
//   lockTimeout + claimTimeout (but see the state D wait above).
// - Each access of port 888 is exactly: flock(LOCK_EX), a read of the
//   kernel's active device of the port, PPCLAIM, PPWDATA or PPRDATA,
//   PPRELEASE, flock(LOCK_UN). The exclusive lock is taken on this
//   program's own open of the device, so it excludes every other program
//   that locks the same device node the same way, and PPCLAIM never has to
//   wait for one of them. The port is the one of the node's minor number N
//   (ppdev's node of minor N is parportN, whatever the node is called or
//   however it is reached), and its active device is read from
//   /proc/sys/dev/parport/parportN/devices/active, "none" when the port is
//   free; when it names a device, a program that does not lock holds the
//   port and the access fails as busy without claiming. When the file
//   cannot be read (no procfs, a node that is not ppdev's) the claim is made
//   as it is. The port is never claimed exclusively (PPEXCL would lock the
//   other program out) and its data lines are never turned to input
//   (PPDATADIR would switch the relays off). In compatibility mode PPRDATA
//   reads back the byte last written. Other ports: writes are ignored and
//   reads answer 0, without a system call.
// - Each wait is bounded: the lock by lockTimeout, the claim by claimTimeout;
//   the watchdog signal interrupts it (both waits sleep interruptibly). The
//   one wait no bound reaches is the state D wait above.
// - A failure (a bound exceeded, a refused claim, a busy port, a device that
//   went away) closes the descriptor, which also takes this program out of
//   the kernel's queue of waiting claimers, so the port is never handed to
//   it while it is not looking. It is said once on the message sink when it
//   starts, and the recovery once when it ends. While failing, an access
//   first reopens the device, at most once per retryInterval; in between,
//   accesses make no system call. A write keeps its byte (the newest
//   replaces an older one); readPort gives nothing and inp32 answers 0. A
//   kept byte is written before any later access (a read that cannot write
//   it first gives nothing), by service() at most once per retryInterval
//   without one, and, at the latest, when the backend is destroyed:
//   finalWriteAttempts tries spread evenly over finalWriteSpread, so that a
//   port busy for a moment does not take all of them (destruction may then
//   take finalWriteSpread plus each try's bounds); if even that fails, the
//   sink says which byte the card was left with.

#include "portbackend.h"

#include <chrono>
#include <cstddef>
#include <ctime>
#include <functional>
#include <memory>
#include <string>
#include <sys/stat.h>

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
    // fstat(fd, &status): which node the descriptor is open on.
    virtual int fstat(int fd, struct stat &status) = 0;
    // Sleeps for the whole of duration, whatever signals arrive meanwhile.
    virtual void sleepFor(std::chrono::milliseconds duration) = 0;
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
    // The first and the last of those tries lie at least this far apart.
    std::chrono::milliseconds finalWriteSpread{300};
    int watchdogSignal = 0; // 0: SIGRTMIN + 5
    // Receives each message as one line without its newline; null: standard
    // error.
    std::function<void(const std::string &)> say;
};

// The backend described above, or null with a human-readable reason in whyNot.
std::unique_ptr<PortBackend> openPpdevPort(PpdevCalls &calls, const PpdevOptions &options, std::string &whyNot);

} // namespace portio
