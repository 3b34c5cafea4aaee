#pragma once
// Whether this machine shows a first parallel port, for the list of outputs:
// quick, opens nothing. One file per platform.

#include <optional>
#include <string>

namespace portio {

// The port's device as people know it ("/dev/parport0"), or nothing when
// the platform shows none.
std::optional<std::string> parallelPortDevice();

} // namespace portio
