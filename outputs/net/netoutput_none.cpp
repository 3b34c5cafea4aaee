// Builds without Qt have no network outputs: the opener says so, the lister
// finds nothing.
#include "netoutput.h"

#include "portbackend.h"

namespace portio {

std::unique_ptr<PortBackend> openNetOutput(NetProtocol, const OutputSpec &, OutputRole, std::string &whyNot)
{
    whyNot = "this build of the program has no network support";
    return nullptr;
}

void listNetOutputs(NetProtocol, std::vector<OutputEntry> &) {}

std::optional<std::string> identifyNetOutput(NetProtocol, const OutputSpec &, std::string &whyNot)
{
    whyNot = "this build of the program has no network support";
    return std::nullopt;
}

void setNetPortForTesting(NetProtocol, std::uint16_t) {}

} // namespace portio
