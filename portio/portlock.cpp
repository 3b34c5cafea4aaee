#include "portlock.h"

#include "environment.h"
#include "registerfile.h"

#include <cstdio>

namespace portio {

std::string portLockKey()
{
    const std::optional<std::string> registerFile = environmentVariable("BLINKWERK_LPT_REGISTER");
    if (registerFile && !registerFile->empty()) {
        // Keyed by the file itself, so that a hard link or another spelling
        // of its name is the same port. A file the port layer would refuse
        // leaves the program on the simulated register, which is LPT1's.
        const std::optional<std::string> file = registerFileIdentity(*registerFile, /*create=*/true);
        if (file && file != registerFileIdentity(RegisterFile::defaultSharedName(), /*create=*/false))
            return "file:" + *file;
    }
    return "lpt1";
}

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
    return std::string("file-") + hex;
}

} // namespace portio
