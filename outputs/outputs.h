#pragma once
// The outputs this program knows: the table of kinds (one line per kind in
// kinds.cpp) and what the programs need to name, list and bind them.

#include "outputkind.h"
#include "outputsession.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace portio {

// Every kind this build has, in the order --help and --list-outputs show
// them. A kind this build or platform lacks is still there: it says so when
// asked to open and lists nothing.
const OutputRegistry &outputKinds();

// Shorthands over outputKinds().
std::optional<OutputSpec> parseOutputSpec(std::string_view text, std::string &error);
std::string formatOutputSpec(const OutputSpec &spec);
std::vector<OutputEntry> listOutputs(); // may block

// How a program in role binds its output: this build's kinds, the user's
// simulated register as the fallback, the mirrors of write-only devices
// beside it, the machine's lock folder.
SessionSetup sessionSetup(OutputRole role);

// The user's simulated register as an output.
OutputSpec simulatedRegister();

} // namespace portio
