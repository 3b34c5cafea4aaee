#include "parallelport.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace portio {

namespace {
const char *const Device = "/dev/parport0";
}

std::optional<std::string> parallelPortDevice()
{
    struct stat st {};
    if (::stat(Device, &st) == 0)
        return std::string(Device);
    return std::nullopt;
}

std::optional<std::string> parallelPortIdentity(std::string &whyNot)
{
    struct stat st {};
    if (::stat(Device, &st) != 0) {
        whyNot = std::string(Device) + ": " + std::strerror(errno)
                 + (errno == ENOENT ? " (no parallel port, or the ppdev module is not loaded)" : "");
        return std::nullopt;
    }
    if (!S_ISCHR(st.st_mode)) {
        whyNot = std::string(Device) + ": not a device";
        return std::nullopt;
    }
    return "parport:" + std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
}

} // namespace portio
