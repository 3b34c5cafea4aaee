#pragma once
// The port layer: the only way either program reaches the LPT1 data register.
//
// Out32/Inp32 mirror the inpout32 interface (16-bit port address, 16-bit
// value). LptOut/LptIn are the two routines the programs call; they address
// the data register of LPT1 and nothing else.
//
// The backend is bound lazily, on the first call of any of these functions,
// and then serves the rest of the process:
//   1. BLINKWERK_LPT_REGISTER names a file: that file is the register.
//   2. Otherwise the platform's hardware backend (ppdev on Linux, see
//      ppdev.h; inpoutx64.dll beside the program on Windows), when it can
//      be opened.
//   3. Otherwise the simulated register, one byte shared by every program
//      of the same user on this machine (see registerfile.h for where it
//      lives and what is refused); when it is refused, a byte private to
//      this process.
// When a choice falls through, one line on standard error says why.
// No function here reports failure to its caller; a port call never throws
// and never ends the program: a register or a real port that fails mid-run
// says so once on standard error, says so again when it works again, and
// keeps answering meanwhile (see registerfile.h and ppdev.h).

#include <cstdint>

namespace portio {

inline constexpr std::int16_t Lpt1DataPort = 888; // 0x378

class PortBackend;

void Out32(std::int16_t port, std::int16_t value);
std::int16_t Inp32(std::int16_t port);

// Writes one byte to the LPT1 data register. The byte reaches Out32 widened
// with its high bits zero: 255 is passed as 255, never as -1.
void LptOut(std::uint8_t value);

// Reads the LPT1 data register: the low byte of what Inp32 returns, 0 to 255.
std::uint8_t LptIn();

// Lets the bound backend do the work of its own that no port call asks for:
// retry a byte it could not write, find a device again, repeat a network
// stream (see portbackend.h). The programs call it about every 100 ms from
// their event loop. Before the first port call it binds nothing and does
// nothing.
void servicePort();

// Ends the bound backend: its last tries of a byte it keeps are made and its
// device is released before this returns. For good: later port calls of
// this process bind nothing and write nothing (Inp32 answers 0). blinkwerk
// calls it after its window is destroyed and before it lets go of its
// one-sequencer lock, so that no later blinkwerk can take the port while
// this one may still write to it.
void closePort();

// Test and benchmark seam: while an instance lives, every port call of this
// process goes to the given backend instead of the bound one. Instances nest;
// the newest wins. The backend must outlive the instance.
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
