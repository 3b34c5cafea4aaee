// POSIX side of RegisterFile: the register is the first byte of a file,
// read with pread and written with pwrite. A mapping would turn a file
// emptied under the program, or a page the file system cannot supply, into
// SIGBUS; a single-byte pread/pwrite turns it into a failed call instead.

#include "registerfile.h"

#include "userfiles_posix.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace portio {

namespace {

std::string systemError(const std::string &what, int err)
{
    return what + ": " + std::strerror(err);
}

// Grows an empty file to one zero byte and makes the file system commit a
// block for it; a byte already there is left as it is, so a program that
// opens the register never overwrites what another one wrote. Returns 0 or
// the error.
int reserveFirstByte(int fd)
{
    return ::posix_fallocate(fd, 0, 1);
}

} // namespace

std::string RegisterFile::defaultSharedName()
{
    return posix::runtimeFile("blinkwerk-lpt1");
}

std::unique_ptr<RegisterFile> RegisterFile::openShared(const std::string &name, std::string &error)
{
    std::string why;
    const int fd = posix::openOwnFile(name, why);
    if (fd < 0) {
        error = "simulated register " + why;
        return nullptr;
    }
    std::unique_ptr<RegisterFile> reg(new RegisterFile(nullptr, 0, fd, name));
    if (const int err = reserveFirstByte(fd))
        reg->noteFailure(systemError("cannot store its byte", err));
    return reg;
}

std::unique_ptr<RegisterFile> RegisterFile::openFile(const std::string &path, std::string &error)
{
    // The same rule as for the simulated register: the name may lie in a
    // folder where another user can plant a link or a file of their own.
    const int fd = posix::openOwnFile(path, error);
    if (fd < 0)
        return nullptr;
    std::unique_ptr<RegisterFile> reg(new RegisterFile(nullptr, 0, fd, path));
    if (const int err = reserveFirstByte(fd))
        reg->noteFailure(systemError("cannot store its byte", err));
    return reg;
}

void RegisterFile::unlinkShared(const std::string &name)
{
    ::unlink(name.c_str());
}

std::optional<std::uint8_t> RegisterFile::tryRead()
{
    if (m_kept)
        writeKept();
    unsigned char byte = 0;
    ssize_t got;
    do
        got = ::pread(int(m_handle), &byte, 1, 0);
    while (got < 0 && errno == EINTR);
    if (got == 1) {
        noteWorking();
        return byte;
    }
    noteFailure(got == 0 ? std::string("holds no byte (was it emptied?) until the next write")
                         : systemError("cannot be read", errno));
    return std::nullopt;
}

void RegisterFile::write(std::uint8_t value)
{
    m_kept = value;
    writeKept();
}

void RegisterFile::service()
{
    if (m_kept && std::chrono::steady_clock::now() >= m_nextTry)
        writeKept();
}

bool RegisterFile::writeKept()
{
    const unsigned char byte = *m_kept;
    ssize_t put;
    do
        put = ::pwrite(int(m_handle), &byte, 1, 0);
    while (put < 0 && errno == EINTR);
    if (put == 1) {
        m_kept.reset();
        noteWorking();
        return true;
    }
    m_nextTry = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    noteFailure((put < 0 ? systemError("cannot be written", errno) : std::string("cannot be written")) +
                "; the byte is kept and tried again about once a second");
    return false;
}

RegisterFile::~RegisterFile()
{
    if (m_kept)
        writeKept(); // the last try of a closing 0
    ::close(int(m_handle));
}

} // namespace portio
