// POSIX side of PortLock: flock on a lock file in the machine's lock folder.
// The holder removes its own file when it lets go, so that lock files of
// devices used once do not pile up. That is safe because a lock counts only
// while the name still leads to the locked file: whoever locks a file that
// was removed meanwhile lets go and tries the new one.

#include "portlock.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
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

// Opens the lock file for reading, creating it readable by everyone (so
// that every user's sequencer can lock it) when it is missing; -1 and why.
int openLockFile(const std::string &path, bool &own, std::string &error)
{
    constexpr int Flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    int fd = ::open(path.c_str(), Flags);
    if (fd < 0 && errno == ENOENT) {
        fd = ::open(path.c_str(), Flags | O_CREAT | O_EXCL, 0644);
        if (fd >= 0)
            ::fchmod(fd, 0644); // whatever the umask: others must be able to open it
        else if (errno == EEXIST)
            fd = ::open(path.c_str(), Flags);
    }
    if (fd < 0) {
        error = path + ": " + std::strerror(errno) + (errno == ELOOP ? " (a symbolic link is not followed)" : "");
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1) {
        error = path + ": not a plain file";
        ::close(fd);
        return -1;
    }
    own = st.st_uid == ::geteuid();
    return fd;
}

} // namespace

std::string lockFolder()
{
    for (const char *folder : {"/run/lock", "/var/lock"}) {
        struct stat st {};
        if (::stat(folder, &st) == 0 && S_ISDIR(st.st_mode) && ::access(folder, W_OK | X_OK) == 0)
            return folder;
    }
    return "/tmp";
}

PortLock::PortLock(const std::string &device, const std::string &folder)
    : m_path((folder.empty() ? lockFolder() : folder) + "/blinkwerk-" + portLockTag(device) + ".lock")
{
    for (int attempt = 0; attempt < 10; ++attempt) {
        bool own = false;
        const int fd = openLockFile(m_path, own, m_error);
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
            m_ownFile = own;
            m_state = State::Held;
            m_error.clear();
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
    if (m_ownFile)
        ::unlink(m_path.c_str()); // while still held: see above
    ::close(int(m_handle));
}

} // namespace portio
