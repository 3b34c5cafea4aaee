#pragma once
// The port routines: the only way either program reaches its output.
//
// Out32/Inp32 mirror the inpout32 interface (16-bit port address, 16-bit
// value). LptOut/LptIn are the two routines the programs call; they address
// the data register of LPT1 and nothing else. Where the byte goes is the
// business of the program's output session (outputsession.h), which routes
// these routines to the output it bound; a test routes them to a backend of
// its own. Nothing routed, writes go nowhere and reads answer 0.
//
// No routine reports failure to its caller, throws, ends the program or
// waits on a device: the session behind them keeps those promises.

#include "portbackend.h"

#include <cstdint>
#include <string>

namespace portio {

void Out32(std::int16_t port, std::int16_t value);
std::int16_t Inp32(std::int16_t port);

// Writes one byte to the LPT1 data register. The byte reaches Out32 widened
// with its high bits zero: 255 is passed as 255, never as -1.
void LptOut(std::uint8_t value);

// Reads the LPT1 data register: the low byte of what Inp32 returns, 0 to 255.
std::uint8_t LptIn();

// While an instance lives, every port routine of this process goes to the
// given backend. Instances nest; the newest wins. The backend must outlive
// the instance, and the routines must not race its construction or end:
// route before the first call and unroute after the last.
class ScopedPortBackend
{
public:
    explicit ScopedPortBackend(PortBackend &backend);
    ~ScopedPortBackend();
    ScopedPortBackend(const ScopedPortBackend &) = delete;
    ScopedPortBackend &operator=(const ScopedPortBackend &) = delete;

private:
    PortBackend *m_previous;
};

} // namespace portio
