#include "lockkey.h"

#include "environment.h"
#include "outputname.h"
#include "portio.h"
#include "portlock.h"
#include "registerfile.h"

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

} // namespace portio
