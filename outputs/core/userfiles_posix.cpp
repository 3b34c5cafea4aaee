#include "userfiles_posix.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace portio::posix {

RuntimeFolder runtimeFolder()
{
    const char *xdg = std::getenv("XDG_RUNTIME_DIR");
    struct stat st {};
    if (xdg && xdg[0] == '/' && ::stat(xdg, &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::geteuid()
        && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0)
        return {xdg, true};
    if (::stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode))
        return {"/dev/shm", false};
    return {"/tmp", false};
}

std::string runtimeFile(const std::string &stem)
{
    const RuntimeFolder folder = runtimeFolder();
    if (folder.isPrivate)
        return folder.path + "/" + stem;
    return folder.path + "/" + stem + "-" + std::to_string(::geteuid());
}

int openOwnFile(const std::string &path, std::string &error)
{
    // Open what is there, or create it exclusively: creation never adopts a
    // file that appeared meanwhile, and an existing file is judged below by
    // what it is, not by whether the system let an O_CREAT open through.
    // O_NONBLOCK: a FIFO planted under this name must not hang the open; it
    // is refused below like anything else that is not a regular file.
    constexpr int Flags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 3; ++attempt) {
        fd = ::open(path.c_str(), Flags);
        if (fd < 0 && errno == ENOENT)
            fd = ::open(path.c_str(), Flags | O_CREAT | O_EXCL, 0600);
        if (fd < 0 && errno != ENOENT && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        const int err = errno;
        error = path + ": " + std::strerror(err);
        if (err == ELOOP)
            error += " (a symbolic link is not followed)";
        return -1;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        error = path + ": " + std::strerror(errno);
    } else if (!S_ISREG(st.st_mode)) {
        error = path + ": not a regular file";
    } else if (st.st_uid != ::geteuid()) {
        error = path + ": belongs to user " + std::to_string(st.st_uid) + ", not to this user";
    } else if (st.st_mode & (S_IWGRP | S_IWOTH)) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", unsigned(st.st_mode & 07777));
        error = path + ": others may write it (mode " + mode + ")";
    } else if (st.st_nlink != 1) {
        error = path + ": has " + std::to_string(st.st_nlink) + " hard links, only a file with one is accepted";
    } else {
        ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
        return fd;
    }
    ::close(fd);
    return -1;
}

} // namespace portio::posix
