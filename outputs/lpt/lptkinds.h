#pragma once
// The two kinds of this folder: lpt1, the first parallel port, and
// register:FILE, a file as the register. The simulated register that stands
// in for an output that cannot be opened is a register file too.

#include "outputkind.h"

namespace portio {

extern const OutputKind lpt1Kind;
extern const OutputKind registerKind;

// The user's simulated register as an output: register:PATH.
OutputSpec simulatedRegisterSpec();

} // namespace portio
