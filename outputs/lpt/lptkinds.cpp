#include "lptkinds.h"

#include "parallelport.h"
#include "registerfile.h"

namespace portio {

namespace {

bool parseLpt1(std::string_view rest, OutputSpec &, std::string &error)
{
    if (rest.empty())
        return true;
    error = "lpt1 takes no arguments";
    return false;
}

std::string formatNothing(const OutputSpec &)
{
    return {};
}

void listLpt1(std::vector<OutputEntry> &entries)
{
    if (const std::optional<std::string> device = parallelPortDevice())
        entries.push_back({"lpt1", "Parallelport LPT1 (" + *device + ")"});
}

std::optional<std::string> identifyLpt1(const OutputSpec &, std::string &whyNot)
{
    return parallelPortIdentity(whyNot);
}

std::unique_ptr<PortBackend> openLpt1(const OutputSpec &, OutputRole, std::string &whyNot)
{
    return openHardwarePort(whyNot);
}

bool parseRegister(std::string_view rest, OutputSpec &spec, std::string &error)
{
    if (rest.size() < 2) {
        error = "register needs a file, as register:/run/user/1000/lpt";
        return false;
    }
    spec.path = std::string(rest.substr(1));
    // A name with a line break or an escape would make files that no
    // listing shows plainly and forge lines wherever the name is echoed.
    if (!spectext::withoutControlCharacters(spec.path)) {
        error = "the register's file name holds a control character";
        return false;
    }
    return true;
}

std::string formatRegister(const OutputSpec &spec)
{
    return ":" + spec.path;
}

void listRegister(std::vector<OutputEntry> &entries)
{
    const std::string simulated = RegisterFile::defaultSharedName();
    entries.push_back({"register:" + simulated, "Simuliertes Register (" + simulated + ")"});
}

std::optional<std::string> identifyRegister(const OutputSpec &spec, std::string &whyNot)
{
    std::string error;
    if (std::optional<std::string> identity = RegisterFile::identity(spec.path, error))
        return identity;
    whyNot = "register file " + error;
    return std::nullopt;
}

std::unique_ptr<PortBackend> openRegister(const OutputSpec &spec, OutputRole, std::string &whyNot)
{
    std::string error;
    if (auto file = RegisterFile::openFile(spec.path, error))
        return file;
    whyNot = "register file " + error;
    return nullptr;
}

} // namespace

// Every ppdev call may wait for the kernel's port sharing: a worker drives it.
const OutputKind lpt1Kind {"lpt1", "lpt1", "the first parallel port, else the simulated register",
                           parseLpt1, formatNothing, listLpt1, identifyLpt1, openLpt1,
                           /*readBack=*/true, /*mayBlock=*/true};

// A single pread or pwrite of a local file: never waits on a device.
const OutputKind registerKind {"register", "register:FILE", "a file as the register (one this program made, "
                                                            "or an empty or one-byte file)",
                               parseRegister, formatRegister, listRegister, identifyRegister, openRegister,
                               /*readBack=*/true, /*mayBlock=*/false};

OutputSpec simulatedRegisterSpec()
{
    OutputSpec spec;
    spec.kind = std::string(registerKind.name);
    spec.path = RegisterFile::defaultSharedName();
    return spec;
}

} // namespace portio
