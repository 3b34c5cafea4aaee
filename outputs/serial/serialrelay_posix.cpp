#include "serialrelay.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace portio {

std::optional<std::string> serialPortIdentity(const std::string &path, std::string &whyNot)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        whyNot = errno == ENOENT ? "no serial port " + path : "cannot open " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    if (!S_ISCHR(st.st_mode)) {
        whyNot = path + " is no serial port";
        return std::nullopt;
    }
    return "tty:" + std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
}

std::string serialAccessHint(const std::string &path)
{
    // Qt says "permission" also for a port another program holds
    // exclusively; whoever may read and write the node lacks no group.
    if (::access(path.c_str(), R_OK | W_OK) == 0)
        return "another program holds the port; close it";
    return "add the user to group dialout (sudo usermod -aG dialout $USER) and log in again";
}

} // namespace portio
