// Platforms without a supported way to reach a parallel port.

#include "parallelport.h"

namespace portio {

std::unique_ptr<PortBackend> openHardwarePort(std::string &whyNot)
{
    whyNot = "no parallel-port backend for this platform";
    return nullptr;
}

} // namespace portio
