#include "hidaccess.h"

#include <cerrno>
#include <unistd.h>

namespace portio {

bool hidAccessDenied(const std::string &path)
{
    return access(path.c_str(), R_OK | W_OK) != 0 && (errno == EACCES || errno == EPERM);
}

} // namespace portio
