#include "parallelport.h"

#include <filesystem>
#include <system_error>

namespace portio {

std::optional<std::string> parallelPortDevice()
{
    const char *const device = "/dev/parport0";
    std::error_code ec;
    if (std::filesystem::exists(device, ec))
        return std::string(device);
    return std::nullopt;
}

} // namespace portio
