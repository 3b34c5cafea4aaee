// POSIX side of MappedRegister: shm_open for the simulated register, a plain
// file for BLINKWERK_LPT_REGISTER, both mapped MAP_SHARED so that every
// process mapping the same object shares the byte.

#include "mappedregister.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace portio {

namespace {

std::string systemError(const std::string &what)
{
    return what + ": " + std::strerror(errno);
}

// Maps the first byte of fd, growing an empty object to one zero byte.
// Takes ownership of fd in every case.
unsigned char *mapFirstByte(int fd, const std::string &what, std::string &error)
{
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        error = systemError(what);
        ::close(fd);
        return nullptr;
    }
    if (st.st_size < 1 && ::ftruncate(fd, 1) != 0) {
        error = systemError(what);
        ::close(fd);
        return nullptr;
    }
    void *base = ::mmap(nullptr, 1, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    const int mapErrno = errno;
    ::close(fd); // the mapping keeps the object alive
    if (base == MAP_FAILED) {
        errno = mapErrno;
        error = systemError(what);
        return nullptr;
    }
    return static_cast<unsigned char *>(base);
}

} // namespace

std::string MappedRegister::defaultSharedName()
{
    return "/blinkwerk-lpt1-" + std::to_string(::getuid());
}

std::unique_ptr<MappedRegister> MappedRegister::openShared(const std::string &name, std::string &error)
{
    const int fd = ::shm_open(name.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = systemError("shared memory " + name);
        return nullptr;
    }
    unsigned char *byte = mapFirstByte(fd, "shared memory " + name, error);
    if (!byte)
        return nullptr;
    return std::unique_ptr<MappedRegister>(new MappedRegister(byte, 1, 0));
}

std::unique_ptr<MappedRegister> MappedRegister::openFile(const std::string &path, std::string &error)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = systemError(path);
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && !S_ISREG(st.st_mode)) {
        ::close(fd);
        error = path + ": not a regular file";
        return nullptr;
    }
    unsigned char *byte = mapFirstByte(fd, path, error);
    if (!byte)
        return nullptr;
    return std::unique_ptr<MappedRegister>(new MappedRegister(byte, 1, 0));
}

void MappedRegister::unlinkShared(const std::string &name)
{
    ::shm_unlink(name.c_str());
}

MappedRegister::~MappedRegister()
{
    ::munmap(m_byte, m_mappedLength);
}

} // namespace portio
