#pragma once
// Which one-sequencer lock an output takes (see portlock.h).

#include <string>

namespace portio {

// The port this process would drive: "lpt1", "file:<identity of the
// file>" or "output:<canonical spec>", for the configured output (see
// portio.h), else for the file BLINKWERK_LPT_REGISTER names, else "lpt1".
// A register file that is missing is created (empty, as the port layer
// would create it) so that it has an identity before it is locked.
std::string portLockKey();
// The same for an output about to be selected.
struct OutputSpec;
std::string portLockKey(const OutputSpec &output);

} // namespace portio
