#pragma once
// Art-Net (ArtDmx) as an output: the sequencer streams the byte as eight
// slots of a universe, the monitor listens to that universe. See netoutput.h
// for what both do.

#include "outputkind.h"

#include <memory>
#include <string>
#include <vector>

namespace portio {

class PortBackend;

// Opens the Art-Net output spec names for role; null and a reason in whyNot
// when this build has no network support.
std::unique_ptr<PortBackend> openArtNetOutput(const OutputSpec &spec, OutputRole role, std::string &whyNot);
// Appends "artnet:0" when an interface other than loopback is up.
void listArtNetOutputs(std::vector<OutputEntry> &entries);

} // namespace portio
