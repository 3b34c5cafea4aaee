#include "portlock.h"

#include "environment.h"
#include "portio.h"
#include "registerfile.h"

#include <cstdio>

namespace portio {

namespace {

// The key of a register file: the file itself, so that a hard link or
// another spelling of its name is the same port. A file the port layer would
// refuse leaves the program on the simulated register, which is LPT1's.
std::string registerFileKey(const std::string &path)
{
    const std::optional<std::string> file = registerFileIdentity(path, /*create=*/true);
    if (file && file != registerFileIdentity(RegisterFile::defaultSharedName(), /*create=*/false))
        return "file:" + *file;
    return "lpt1";
}

} // namespace

std::string portLockKey(const OutputSpec &output)
{
    switch (output.kind) {
    case OutputSpec::Kind::Lpt1: return "lpt1";
    case OutputSpec::Kind::Register: return registerFileKey(output.path);
    default: return "output:" + formatOutputSpec(output);
    }
}

std::string portLockKey()
{
    if (const std::optional<OutputSpec> output = configuredOutput())
        return portLockKey(*output);
    const std::optional<std::string> registerFile = environmentVariable("BLINKWERK_LPT_REGISTER");
    if (!registerFile || registerFile->empty())
        return "lpt1";
    return registerFileKey(*registerFile);
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
    return (key.rfind("output:", 0) == 0 ? std::string("output-") : std::string("file-")) + hex;
}

} // namespace portio
