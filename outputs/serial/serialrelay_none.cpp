// Builds without Qt have no serial port.
#include "serialrelay.h"

#include "portbackend.h"

namespace portio {

std::unique_ptr<PortBackend> openSerialRelayOutput(const OutputSpec &, OutputRole, std::string &whyNot)
{
    whyNot = "this build has no serial port support (built without Qt)";
    return nullptr;
}

void listSerialRelayOutputs(std::vector<OutputEntry> &) {}

} // namespace portio
