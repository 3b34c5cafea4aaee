#pragma once
// One sequencer per device. Two sequencers writing one device make the lamps
// flicker between their patterns, and the one that ends switches the other's
// lamps off. A sequencer therefore holds this lock for the device it drives
// (not for the text the user typed: see OutputKind::identify) before its
// first write, and lets go only after its last; a second one finds it held
// and leaves the device alone. The monitor only reads and takes no lock.
//
// The lock lives in one place for the whole machine, whatever the
// environment of the program says, so that two users (a desktop user and the
// player's service user) and two sessions of one user are kept apart alike.
// POSIX: flock on "blinkwerk-<tag>.lock" in lockFolder() (/run/lock where
// there is one). The kernel drops the lock when the process ends, however it
// ends; an orderly end also removes the file when it is the holder's own.
// The file may belong to another user (who locked the device before); it is
// only ever opened for reading, never followed through a link, and never
// waited on (a FIFO planted there is refused).
// Windows: a named mutex "Global\blinkwerk-<tag>", which exists as long as a
// process holds a handle to it.
// Neither blocks: a lock is tried once.

#include <cstdint>
#include <string>

namespace portio {

class PortLock final
{
public:
    enum class State {
        Held,   // this process holds the device
        Busy,   // another process holds it
        Failed, // the lock could not be set up; error says why
    };

    // Tries once, without waiting, to take the lock for the device (its
    // identity) in folder (POSIX; the machine's lock folder by default).
    explicit PortLock(const std::string &device, const std::string &folder = {});
    ~PortLock();
    PortLock(const PortLock &) = delete;
    PortLock &operator=(const PortLock &) = delete;

    State state() const { return m_state; }
    const std::string &error() const { return m_error; }

private:
    std::intptr_t m_handle = 0; // the lock file's descriptor (POSIX) or the mutex (Windows) while Held
    std::string m_path;         // the lock file (POSIX)
    bool m_ownFile = false;     // the lock file is this user's (POSIX): removed at the end
    State m_state = State::Failed;
    std::string m_error;
};

// The machine's folder for lock files (POSIX): /run/lock, else /var/lock,
// else /tmp.
std::string lockFolder();

// The name part that stands for a device in lock names: its kind, then 16 hex
// digits of a hash of its identity ("hidrelay-0123456789abcdef").
std::string portLockTag(const std::string &device);

} // namespace portio
