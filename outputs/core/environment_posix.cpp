#include "environment.h"

#include <cstdlib>

namespace portio {

std::optional<std::string> environmentVariable(const char *name)
{
    const char *value = std::getenv(name);
    if (!value)
        return std::nullopt;
    return std::string(value);
}

} // namespace portio
