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

#include "outputkind.h"
#include "outputname.h"

#include <memory>
#include <string>
#include <vector>

namespace portio {

class PortBackend;

// Every output found on this machine, each kind's entries together.
std::vector<OutputEntry> listOutputs();

// The backend for spec in that role, or null with a reason in whyNot.
// Outputs that cannot be read back (serial boards, GPIO lines) are mirrored:
// for the sequencer every byte also goes to the user's simulated register,
// and the monitor gets that register, whose status() says that it shows
// what blinkwerk last sent.
std::unique_ptr<PortBackend> openOutput(const OutputSpec &spec, OutputRole role, std::string &whyNot);

// The port layer's binding of an output: spec opened for role, or, when it
// cannot be opened, the fallback (the user's simulated register, else a byte
// private to this process), with one line on standard error that says why.
// With automatic (no output chosen by anyone) lpt1 is the only USB HID relay
// board when the real port cannot be used and exactly one board is listed.
// Never returns without a backend.
struct BoundOutput
{
    std::unique_ptr<PortBackend> backend;
    std::string spec;        // the canonical spec of what serves (lpt1 stays lpt1 when it falls back)
    std::string inUse;       // English, for standard error: "lpt1, the simulated register /run/user/1000/blinkwerk-lpt1"
    std::string description; // German, for tooltips: "LPT1 (simuliertes Register /run/user/1000/blinkwerk-lpt1)"
    std::string failure;     // why spec could not be opened; empty when it was
};
BoundOutput bindOutput(const OutputSpec &spec, OutputRole role, bool automatic);

// The mirror of a write-only output as openOutput builds it, with the
// simulated register of that name (tests use private names): for the
// sequencer, device with every byte also written into the register (device
// alone, said once, when the register cannot be opened); for the monitor
// (device unused, may be null), the register, with a status that says it
// shows what blinkwerk last sent; null and the reason when it cannot be
// opened.
std::unique_ptr<PortBackend> mirroredOutput(std::unique_ptr<PortBackend> device, OutputRole role,
                                            const std::string &source, const std::string &registerName,
                                            std::string &whyNot);

// The entries of the kinds this build has, of that kind only.
std::vector<OutputEntry> listOutputs(OutputSpec::Kind kind);

} // namespace portio
