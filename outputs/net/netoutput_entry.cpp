// The sACN and Art-Net entry points: both protocols share one implementation.
#include "artnetoutput.h"
#include "netoutput.h"
#include "sacnoutput.h"

#include "portbackend.h"

namespace portio {

std::unique_ptr<PortBackend> openSacnOutput(const OutputSpec &spec, OutputRole role, std::string &whyNot)
{
    return openNetOutput(NetProtocol::Sacn, spec, role, whyNot);
}

void listSacnOutputs(std::vector<OutputEntry> &entries) { listNetOutputs(NetProtocol::Sacn, entries); }

std::unique_ptr<PortBackend> openArtNetOutput(const OutputSpec &spec, OutputRole role, std::string &whyNot)
{
    return openNetOutput(NetProtocol::ArtNet, spec, role, whyNot);
}

void listArtNetOutputs(std::vector<OutputEntry> &entries) { listNetOutputs(NetProtocol::ArtNet, entries); }

} // namespace portio
