#pragma once
// sACN (ANSI E1.31) as an output: the sequencer streams the byte as eight
// slots of a universe, the monitor listens to that universe. See netoutput.h
// for what both do.

#include "outputkind.h"

#include <memory>
#include <string>
#include <vector>

namespace portio {

class PortBackend;

// Opens the sACN output spec names for role; null and a reason in whyNot
// when this build has no network support.
std::unique_ptr<PortBackend> openSacnOutput(const OutputSpec &spec, OutputRole role, std::string &whyNot);
// Appends "sacn:1" when an interface other than loopback is up.
void listSacnOutputs(std::vector<OutputEntry> &entries);

} // namespace portio
