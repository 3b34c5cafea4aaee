#pragma once
// The contract every way of reaching a port fulfils.
//
// A backend holds whatever it needs to reach the port (a descriptor, a loaded
// library, a socket, a device handle) from its creation to its destruction.
// The port layer creates it at the first port call (or when the user picks
// another output) and then sends it every call. Its destructor is the last
// chance to switch the lamps off: a byte it still keeps is tried there, and
// whatever it holds is released before it returns.
//
// out32 sets the port to the low byte of value; inp32 returns what the port
// holds, 0 to 255. Only the LPT1 data register (port 888) is guaranteed to be
// served: a backend may ignore writes to other ports and answer 0 for them.
// Neither call reports failure. A backend whose device fails mid-run keeps
// answering (inp32 then returns 0), because its callers are timer ticks that
// must never block on an error or see an exception.
//
// service is called from the program's event loop about every 100 ms
// whether or not the port is accessed: the place to retry a byte that could
// not be written, to find a device again, to repeat a network stream. It is
// bounded like every other call.
//
// readPort is how the monitor reads the port: what the device holds, or nothing
// when it cannot be read now (the caller then keeps the byte it knew and
// says that the port cannot be read, rather than showing every lamp off).
// By default the data register through inp32, for a backend whose reads
// cannot fail.
//
// status names, for the user, what inp32 shows (the device's own state, or
// only what was sent to it) and, where there is one, the present fault; an
// empty text says nothing beyond the output's name.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace portio {

// The LPT1 data register, the one port every output serves.
inline constexpr std::int16_t Lpt1DataPort = 888; // 0x378

class PortBackend
{
public:
    virtual ~PortBackend() = default;
    virtual void out32(std::int16_t port, std::int16_t value) = 0;
    virtual std::int16_t inp32(std::int16_t port) = 0;
    virtual std::optional<std::uint8_t> readPort() { return static_cast<std::uint8_t>(inp32(Lpt1DataPort) & 0xFF); }
    virtual void service() {}
    virtual std::string status() const { return {}; }
};

} // namespace portio
