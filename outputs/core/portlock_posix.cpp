// POSIX side of PortLock: flock on a lock file in the user's runtime folder.
// The holder removes the file when it lets go, so that lock files of
// register paths used once do not pile up. That is safe because a lock
// counts only while the name still leads to the locked file: whoever locks a
// file that was removed meanwhile lets go and tries the new one.

#include "portlock.h"

#include "userfiles_posix.h"

#include <cerrno>
#include <cstring>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace portio {

namespace {

bool stillNamedBy(int fd, const std::string &path)
{
    struct stat held {}, named {};
    return ::fstat(fd, &held) == 0 && ::lstat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev
           && held.st_ino == named.st_ino;
}

} // namespace

std::optional<std::string> registerFileIdentity(const std::string &path, bool create)
{
    struct stat st {};
    if (create) {
        std::string error;
        const int fd = posix::openOwnFile(path, error);
        if (fd < 0)
            return std::nullopt;
        const int result = ::fstat(fd, &st);
        ::close(fd);
        if (result != 0)
            return std::nullopt;
    } else if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        return std::nullopt;
    }
    return std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

PortLock::PortLock(const std::string &key)
    : m_path(posix::runtimeFile("blinkwerk-" + portLockTag(key)) + ".lock")
{
    for (int attempt = 0; attempt < 10; ++attempt) {
        const int fd = posix::openOwnFile(m_path, m_error);
        if (fd < 0) {
            m_state = State::Failed;
            return;
        }
        int result;
        do
            result = ::flock(fd, LOCK_EX | LOCK_NB);
        while (result != 0 && errno == EINTR);
        if (result != 0) {
            const int err = errno;
            ::close(fd);
            if (err == EWOULDBLOCK) {
                m_state = State::Busy;
            } else {
                m_state = State::Failed;
                m_error = m_path + ": " + std::strerror(err);
            }
            return;
        }
        if (stillNamedBy(fd, m_path)) {
            m_handle = fd;
            m_state = State::Held;
            return;
        }
        ::close(fd); // its holder removed it as we opened it
    }
    m_state = State::Failed;
    m_error = m_path + ": keeps being replaced";
}

PortLock::~PortLock()
{
    if (m_state != State::Held)
        return;
    ::unlink(m_path.c_str()); // while still held: see above
    ::close(int(m_handle));
}

} // namespace portio
