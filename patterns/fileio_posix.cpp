#include "fileio.h"

#include <cerrno>
#include <cstdio>
#include <random>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace patterns::fileio {

int openRegularForReading(const std::filesystem::path &path)
{
    // O_NONBLOCK: opening a FIFO would otherwise wait for a writer, in a
    // call that no signal ends. It has no effect on reading a regular file.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return -1;
    struct stat status {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        ::close(fd);
        errno = EINVAL;
        return -1;
    }
    return fd;
}

long readSome(int fd, char *buffer, std::size_t size)
{
    for (;;) {
        const ssize_t got = ::read(fd, buffer, size);
        if (got >= 0 || errno != EINTR)
            return long(got);
    }
}

int createTemporary(const std::filesystem::path &folder, std::filesystem::path &path)
{
    std::random_device entropy;
    std::mt19937 random(entropy());
    const char alphabet[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    for (int attempt = 0; attempt < 64; ++attempt) {
        std::string name = ".bw2-save-";
        for (int i = 0; i < 8; ++i)
            name += alphabet[random() % (sizeof alphabet - 1)];
        path = folder / name;
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0 || errno != EEXIST)
            return fd;
    }
    return -1;
}

bool writeAllAndSync(int fd, std::string_view text)
{
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        text.remove_prefix(std::size_t(written));
    }
    return ::fsync(fd) == 0;
}

int closeFile(int fd)
{
    return ::close(fd);
}

bool isReadOnly(const std::filesystem::path &path)
{
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode))
        return false;
    if (::access(path.c_str(), W_OK) != 0)
        return errno != ENOENT;
    // access() grants root everything; the owner's own write bit (or, for a
    // file of someone else, any write bit) still says what the user meant.
    if (status.st_uid == ::geteuid())
        return (status.st_mode & S_IWUSR) == 0;
    return (status.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

int replaceFile(const std::filesystem::path &from, const std::filesystem::path &to)
{
    return std::rename(from.c_str(), to.c_str()) == 0 ? 0 : errno;
}

void syncFolder(const std::filesystem::path &folder)
{
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        ::fsync(fd);
        ::close(fd);
    }
}

} // namespace patterns::fileio
