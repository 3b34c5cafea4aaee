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
    return sharedName("blinkwerk-lpt1");
}

std::string RegisterFile::sharedName(const std::string &stem)
{
    return posix::runtimeFile(stem);
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

namespace {

// A register file by the rules of openFile: the descriptor, or -1 and why.
int openRegisterFile(const std::string &path, std::string &error)
{
    // The same rule as for the simulated register: the name may lie in a
    // folder where another user can plant a link or a file of their own.
    const int fd = posix::openOwnFile(path, error);
    if (fd < 0)
        return -1;
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        error = systemError(path, errno);
    } else if (st.st_size > 1) {
        error = path + ": holds " + std::to_string(st.st_size)
                + " bytes; a register file is one this program made, or an empty file or one of a single byte"
                  " (the file is left as it is)";
    } else {
        return fd;
    }
    ::close(fd);
    return -1;
}

} // namespace

std::optional<std::string> RegisterFile::identity(const std::string &path, std::string &error)
{
    const int fd = openRegisterFile(path, error);
    if (fd < 0)
        return std::nullopt;
    struct stat st {};
    const int result = ::fstat(fd, &st);
    const int err = errno;
    ::close(fd);
    if (result != 0) {
        error = systemError(path, err);
        return std::nullopt;
    }
    return "file:" + std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
}

std::unique_ptr<RegisterFile> RegisterFile::openFile(const std::string &path, std::string &error)
{
    const int fd = openRegisterFile(path, error);
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
