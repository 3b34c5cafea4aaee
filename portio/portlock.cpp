#include "portlock.h"

#include "environment.h"
#include "portio.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

namespace portio {

namespace {

// The key of a register file: its canonical path.
std::string registerFileKey(const std::string &file)
{
    // The name is UTF-8 on every platform; a path made from a plain string
    // would be read in the ANSI code page on Windows.
    const std::filesystem::path given(std::u8string(reinterpret_cast<const char8_t *>(file.data()), file.size()));
    // weakly_canonical resolves what exists of the path, so a register file
    // that is still to be created and one reached through another spelling
    // or a link name the same port.
    std::error_code ec;
    std::filesystem::path path = std::filesystem::absolute(given, ec);
    if (ec)
        path = given;
    const std::filesystem::path canonical = std::filesystem::weakly_canonical(path, ec);
    const std::u8string text = (ec ? path : canonical).u8string();
    return "file:" + std::string(reinterpret_cast<const char *>(text.data()), text.size());
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
