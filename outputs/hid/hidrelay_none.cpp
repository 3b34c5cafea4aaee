// Builds without hidapi: no board is listed, and the opener says why.

#include "hidrelay.h"

#include "portbackend.h"

namespace portio {

std::unique_ptr<PortBackend> openHidRelayOutput(const OutputSpec &, OutputRole, std::string &whyNot)
{
    whyNot = "this build has no support for USB HID relay boards (built without hidapi)";
    return nullptr;
}

std::optional<std::string> identifyHidRelayOutput(const OutputSpec &, std::string &whyNot)
{
    whyNot = "this build has no support for USB HID relay boards (built without hidapi)";
    return std::nullopt;
}

void listHidRelayOutputs(std::vector<OutputEntry> &)
{
}

} // namespace portio
