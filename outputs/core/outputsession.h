#pragma once
// The output session: what a program (blinkwerk, schaltblick, the player)
// holds of its output from the moment it binds it to the moment it lets go.
//
// What it holds: one bound output (see outputbinding.h: the device of what
// serves, its lock for the sequencer, its mirror), the newest byte asked
// for, the last byte read, and a worker thread of its own on which every
// call of a device that may block (OutputKind::mayBlock) is made: opening,
// writing, reading, the regular service, switching and closing. Nothing the
// session offers waits on a device, except bind() and close(), which a
// program calls before its window opens and after it has gone.
//
// Writing: write() hands the byte over and returns. A device that may block
// gets it from the worker, which always goes to the newest byte (bytes that
// came while the device was busy are skipped, never queued); a register file
// is written at once by the caller. A device call that has not returned
// after a second is said once on standard error, and status() says that the
// output is blocked until it returns.
// Reading (the monitor): the worker reads the output every readEvery and
// keeps the byte; read() returns it without waiting. A read that fails keeps
// the last byte known and says, once, that the output cannot be read; the
// change handler learns of every change of either.
// The service: every serviceEvery the worker lets the output do the work of
// its own that no call asks for (retry a byte, find a board again, repeat a
// network stream).
// Switching (select): the new output's lock is taken first (another
// sequencer holding it refuses the switch and the old output stays); then
// the old output gets 0 and is closed, the new one opened and given 0; when
// it cannot be opened the fallback serves, as at start.
// Closing: the sequencer's output gets 0, its last tries are made and its
// device released, then its lock is let go: a blinkwerk started next never
// has its lamps switched by one that is ending. Bounded by closeWithin: a
// device that holds its last call longer is left to it, said on standard
// error, and its lock is kept until the process ends. Final: afterwards the
// session binds nothing and writes nothing.
//
// Needs Qt Core and an application object (QCoreApplication or more): the
// sequencer's worker runs an event loop, which the serial and network
// outputs use for their pacing and repeats; the monitor's sleeps to every
// reading's mark and handles what is posted to it (binding, switching,
// closing) as it wakes, so an idle monitor costs little more than the
// reading itself. The session must outlive every thread that calls it.

#include "outputbinding.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace portio {

struct SessionSetup : BindingSetup
{
    std::chrono::milliseconds serviceEvery {100};
    std::chrono::milliseconds readEvery {10};       // the monitor's reading
    std::chrono::milliseconds sayBlockedAfter {1000};
    std::chrono::milliseconds closeWithin {5000};
};

class OutputSession
{
public:
    explicit OutputSession(SessionSetup setup);
    ~OutputSession(); // closes
    OutputSession(const OutputSession &) = delete;
    OutputSession &operator=(const OutputSession &) = delete;

    // Binds spec (automatic: nobody chose it) and waits for it: as long as
    // the kind's identify and open take (a host lookup: two seconds). Says
    // "Output: ..." on standard error. Nothing is written here: the
    // program's first byte is its own. Refused: another sequencer drives the
    // device; nothing was opened or written, and the session stays unbound.
    OutputSelection bind(const OutputSpec &spec, bool automatic);

    // Switches to spec without waiting; done is called on the worker thread
    // with what came of it.
    void select(const OutputSpec &spec, std::function<void(const OutputSelection &)> done);

    void write(std::uint8_t byte);

    struct Reading
    {
        std::uint8_t byte = 0;
        bool readable = true; // false: the last read failed; byte is the last one known
    };
    Reading read() const;
    // Called on the worker thread when the reading (byte or readable) or
    // the output's status changed. It may be set at any time.
    void setChangeHandler(std::function<void()> handler);

    // Every output found on this machine; the listing may block, so it runs
    // on a thread of its own and done receives it there.
    void list(std::function<void(std::vector<OutputEntry>)> done) const;

    void close();

    // What serves, as bind or the last select left it.
    std::string specInUse() const;
    std::string inUse() const;       // English
    std::string description() const; // German
    std::string device() const;      // the identity whose lock is held
    // What the output says for the user (German), "blockiert" while a
    // device call hangs; empty when there is nothing to say.
    std::string status() const;

    // Routes the port routines (portio.h) here: LptOut writes, LptIn reads.
    PortBackend &port();

private:
    struct Worker;
    std::unique_ptr<Worker> m_worker;
};

} // namespace portio
