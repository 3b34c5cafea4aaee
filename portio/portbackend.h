#pragma once
// The contract every way of reaching a port fulfils.
//
// A backend holds whatever it needs to reach the port (a descriptor, a loaded
// library, a mapping) from its creation to its destruction. It is created
// once per process, at the first port call, and then serves every call.
//
// out32 sets the port to the low byte of value; inp32 returns what the port
// holds, 0 to 255. Only the LPT1 data register (port 888) is guaranteed to be
// served: a backend may ignore writes to other ports and answer 0 for them.
// Neither call reports failure. A backend whose device fails mid-run keeps
// answering (inp32 then returns 0), because its callers are timer ticks that
// must never block on an error or see an exception.

#include <cstdint>
#include <memory>
#include <string>

namespace portio {

class PortBackend
{
public:
    virtual ~PortBackend() = default;
    virtual void out32(std::int16_t port, std::int16_t value) = 0;
    virtual std::int16_t inp32(std::int16_t port) = 0;
};

// The platform's hardware backend, or null with a human-readable reason in
// whyNot (for example that the user needs to be in group lp).
std::unique_ptr<PortBackend> openHardwarePort(std::string &whyNot);

} // namespace portio
