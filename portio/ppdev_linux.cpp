// Linux hardware backend: the first parallel port through ppdev.
//
// The descriptor stays open for the whole run, but the port is claimed only
// around each single access and released at once. That way blinkwerk and
// schaltblick share one real port: while one holds its claim the other's
// PPCLAIM waits, for the few microseconds of one register access.
// The port is never claimed exclusively (PPEXCL would lock the other program
// out) and its data lines are never turned to input (PPDATADIR would switch
// the relays off). In compatibility mode PPRDATA reads back the byte last
// written, which is what the monitor shows.

#include "portbackend.h"
#include "portio.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <linux/parport.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace portio {

namespace {

constexpr const char *DevicePath = "/dev/parport0";

class PpdevPort final : public PortBackend
{
public:
    explicit PpdevPort(int fd)
        : m_fd(fd)
    {
    }
    ~PpdevPort() override { ::close(m_fd); }

    void out32(std::int16_t port, std::int16_t value) override
    {
        if (port != Lpt1DataPort)
            return;
        unsigned char byte = static_cast<unsigned char>(value & 0xFF);
        if (::ioctl(m_fd, PPCLAIM) != 0)
            return;
        ::ioctl(m_fd, PPWDATA, &byte);
        ::ioctl(m_fd, PPRELEASE);
    }

    std::int16_t inp32(std::int16_t port) override
    {
        if (port != Lpt1DataPort)
            return 0;
        unsigned char byte = 0;
        if (::ioctl(m_fd, PPCLAIM) != 0)
            return 0;
        if (::ioctl(m_fd, PPRDATA, &byte) != 0)
            byte = 0;
        ::ioctl(m_fd, PPRELEASE);
        return byte;
    }

private:
    int m_fd;
};

} // namespace

std::unique_ptr<PortBackend> openHardwarePort(std::string &whyNot)
{
    const int fd = ::open(DevicePath, O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        whyNot = std::string(DevicePath) + ": " + std::strerror(err);
        if (err == EACCES || err == EPERM)
            whyNot += " (the user needs to be in group lp)";
        else if (err == ENOENT || err == ENODEV || err == ENXIO)
            whyNot += " (no parallel port, or the ppdev module is not loaded)";
        return nullptr;
    }
    // One claim up front tells a usable port from a device node without one.
    if (::ioctl(fd, PPCLAIM) != 0) {
        whyNot = std::string(DevicePath) + ": cannot claim the port: " + std::strerror(errno);
        ::close(fd);
        return nullptr;
    }
    ::ioctl(fd, PPRELEASE);
    return std::make_unique<PpdevPort>(fd);
}

} // namespace portio
