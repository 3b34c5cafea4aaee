// POSIX side of PortLock: flock on a lock file in the user's runtime folder.
// The file is never removed: removing a lock file lets a third process lock
// a new file of the same name while the old one is still held.

#include "portlock.h"

#include "userfiles_posix.h"

#include <cerrno>
#include <cstring>
#include <sys/file.h>
#include <unistd.h>

namespace portio {

PortLock::PortLock(const std::string &key)
{
    const std::string path = posix::runtimeFile("blinkwerk-" + portLockTag(key)) + ".lock";
    const int fd = posix::openOwnFile(path, m_error);
    if (fd < 0) {
        m_state = State::Failed;
        return;
    }
    int result;
    do
        result = ::flock(fd, LOCK_EX | LOCK_NB);
    while (result != 0 && errno == EINTR);
    if (result == 0) {
        m_handle = fd;
        m_state = State::Held;
        return;
    }
    const int err = errno;
    ::close(fd);
    if (err == EWOULDBLOCK) {
        m_state = State::Busy;
    } else {
        m_state = State::Failed;
        m_error = path + ": " + std::strerror(err);
    }
}

PortLock::~PortLock()
{
    if (m_state == State::Held)
        ::close(int(m_handle));
}

} // namespace portio
