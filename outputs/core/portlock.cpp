#include "portlock.h"

#include <cstdio>

namespace portio {

std::string portLockTag(const std::string &device)
{
    // 64-bit FNV-1a: an identity may hold a path, too long and too free in
    // its characters to be part of a file or mutex name itself.
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : device) {
        hash ^= c;
        hash *= 1099511628211ull;
    }
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(hash));
    std::string kind = device.substr(0, device.find(':'));
    for (char &c : kind)
        if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')))
            c = '_';
    return kind.substr(0, 16) + "-" + hex;
}

} // namespace portio
