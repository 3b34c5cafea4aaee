#pragma once
// The outputs of this machine: what each kind of device offers the port
// layer. Every kind lives in its own file behind this header and gives
//   - a lister, which appends one entry for every device of that kind it
//     finds now (quickly: no device is opened for writing and nothing is
//     switched), and
//   - an opener, which returns the backend for a spec of its kind (see
//     portbackend.h for the contract) or null with a reason for the user.
// A kind that this build or platform lacks answers its opener with a reason
// that says so and lists nothing.

#include "outputspec.h"

#include <memory>
#include <string>
#include <vector>

namespace portio {

class PortBackend;

// Who opens the output: the sequencer drives it, the monitor watches it.
// The monitor never switches anything: it reads the device's own state where
// the device can tell it, and otherwise what the sequencer last sent.
enum class OutputRole { Sequencer, Monitor };

struct OutputEntry
{
    std::string spec;        // formatOutputSpec of the output
    std::string description; // for people: "USB-Relaiskarte mit 8 Relais (Seriennummer ABCDE)"
};

// Every output found on this machine, each kind's entries together.
std::vector<OutputEntry> listOutputs();

// The backend for spec in that role, or null with a reason in whyNot.
std::unique_ptr<PortBackend> openOutput(const OutputSpec &spec, OutputRole role, std::string &whyNot);

} // namespace portio
