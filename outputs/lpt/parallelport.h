#pragma once
// The first parallel port of this machine, one file per platform.

#include "portbackend.h"

#include <memory>
#include <optional>
#include <string>

namespace portio {

// The port's device as people know it ("/dev/parport0"), or nothing when
// the platform shows none. Quick: opens nothing.
std::optional<std::string> parallelPortDevice();

// Which port that is, the same however its device is named ("parport:99:0"
// by the node's device number); nothing with the reason when there is none.
// Opens nothing.
std::optional<std::string> parallelPortIdentity(std::string &whyNot);

// The platform's hardware backend, or null with a human-readable reason in
// whyNot (for example that the user needs to be in group lp).
std::unique_ptr<PortBackend> openHardwarePort(std::string &whyNot);

} // namespace portio
