#pragma once
// One sequencer per port. Two sequencers writing one register make the lamps
// flicker between their patterns, and the one that ends switches the other's
// lamps off. A sequencer therefore takes this lock before its first port
// access and holds it for the rest of its life; a second one finds it held
// and ends without writing. The monitor only reads and takes no lock.
//
// The lock names the output the port layer would bind (see portio.h): a
// register file by the file itself (its device and inode on POSIX, its
// volume and file index on Windows) when the port layer would accept the
// file; lpt1 as the LPT1 of this user (the real port or this user's
// simulated register, also when a register names the simulated register's
// own file); any other output by its canonical spec.
// POSIX: flock on "blinkwerk-<port>.lock" in the user's runtime folder (see
// userfiles_posix.h; in a shared folder the name carries the user id, and a
// lock file there that another user holds is refused). The kernel drops the
// lock when the process ends, however it ends; an orderly end also removes
// the file.
// Windows: a named mutex "Local\blinkwerk-sequencer-<port>" of the logon
// session, which exists as long as a process holds a handle to it.

#include <cstdint>
#include <optional>
#include <string>

namespace portio {

// What stays the same for a file however it is named: empty when the file
// cannot be opened as the port layer opens a register file. create: make a
// missing file the way the port layer would. One file per platform.
std::optional<std::string> registerFileIdentity(const std::string &path, bool create);

class PortLock final
{
public:
    enum class State {
        Held,   // this process holds the port
        Busy,   // another process holds it
        Failed, // the lock could not be set up; error says why
    };

    // Tries once, without waiting, to take the lock for key.
    explicit PortLock(const std::string &key);
    ~PortLock();
    PortLock(const PortLock &) = delete;
    PortLock &operator=(const PortLock &) = delete;

    State state() const { return m_state; }
    const std::string &error() const { return m_error; }

private:
    std::intptr_t m_handle = 0; // the lock file's descriptor (POSIX) or the mutex (Windows) while Held
    std::string m_path;         // the lock file (POSIX)
    State m_state = State::Failed;
    std::string m_error;
};

// The name part that stands for key in lock names: "lpt1" for this user's
// LPT1, "file-<16 hex digits of a hash of the key>" for a register file,
// "output-<16 hex digits of a hash of the key>" for any other output.
std::string portLockTag(const std::string &key);

} // namespace portio
