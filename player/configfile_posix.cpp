#include "configfile.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace player {

namespace {
constexpr off_t MaxSize = 64 * 1024;
}

bool readConfigFile(const std::string &path, std::string &text, std::string &error)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error = path + ": " + std::strerror(errno) + (errno == ELOOP ? " (a symbolic link is not followed)" : "");
        return false;
    }
    struct stat st {};
    bool ok = false;
    if (::fstat(fd, &st) != 0)
        error = path + ": " + std::strerror(errno);
    else if (!S_ISREG(st.st_mode))
        error = path + ": not a regular file";
    else if (st.st_size > MaxSize)
        error = path + ": larger than " + std::to_string(MaxSize / 1024) + " KiB";
    else
        ok = true;
    text.clear();
    char block[4096];
    while (ok) {
        const ssize_t got = ::read(fd, block, sizeof block);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0) {
            error = path + ": " + std::strerror(errno);
            ok = false;
        }
        if (got <= 0)
            break;
        text.append(block, std::size_t(got));
        if (text.size() > std::size_t(MaxSize)) {
            error = path + ": larger than " + std::to_string(MaxSize / 1024) + " KiB";
            ok = false;
        }
    }
    ::close(fd);
    return ok;
}

} // namespace player
