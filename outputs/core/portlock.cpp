#include "portlock.h"

#include <cstdio>

namespace portio {

std::string portLockTag(const std::string &key)
{
    if (key == "lpt1")
        return key;
    // 64-bit FNV-1a: a path is too long and too free in its characters to
    // be part of a file or mutex name itself.
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : key) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    return (key.rfind("output:", 0) == 0 ? std::string("output-") : std::string("file-")) + hex;
}

} // namespace portio
