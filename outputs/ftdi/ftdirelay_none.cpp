// Builds without libftdi1 (the Windows cross-build): no board is listed, and
// naming or opening one says why.

#include "ftdikind.h"

#include "portbackend.h"

namespace portio {

namespace {

const char *const NoSupport = "this build has no FTDI support (built without libftdi1)";

} // namespace

void listFtdiOutputs(std::vector<OutputEntry> &)
{
}

std::optional<std::string> identifyFtdiOutput(const OutputSpec &, std::string &whyNot)
{
    whyNot = NoSupport;
    return std::nullopt;
}

std::unique_ptr<PortBackend> openFtdiOutput(const OutputSpec &, OutputRole, std::string &whyNot)
{
    whyNot = NoSupport;
    return nullptr;
}

} // namespace portio
