#pragma once
// The port layer: the only way either program reaches the LPT1 data register.
//
// Out32/Inp32 mirror the inpout32 interface (16-bit port address, 16-bit
// value). LptOut/LptIn are the two routines the programs call; they address
// the data register of LPT1 and nothing else.
//
// The programs name their output (see outputname.h) with configureOutput
// before the first port call. The backend is bound lazily, on the first
// call of any of these functions, and then serves until closePort or
// selectOutput:
//   1. The configured output; unconfigured (tests, benchmarks), the file
//      that BLINKWERK_LPT_REGISTER names, else lpt1.
//   2. lpt1 is the platform's hardware backend (ppdev on Linux, see
//      ppdev.h; inpoutx64.dll beside the program on Windows), when it can
//      be opened; configured as automatic (nobody chose), the only USB HID
//      relay board when exactly one is listed.
//   3. Otherwise, and for any output that cannot be opened, the simulated
//      register, one byte shared by every program of the same user on this
//      machine (see registerfile.h for where it lives and what is
//      refused); when it is refused, a byte private to this process.
// When a choice falls through, one line on standard error says why; a
// configured process also says, in one line, which output it bound.
// No function here reports failure to its caller; a port call never throws
// and never ends the program: a register or a real port that fails mid-run
// says so once on standard error, says so again when it works again, and
// keeps answering meanwhile (see registerfile.h and ppdev.h).

#include "outputs.h"
#include "portbackend.h"

#include <cstdint>
#include <optional>
#include <string>

namespace portio {

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

// Names this process's output and its role, before the first port call
// (nothing is opened here). automatic: no one chose, the default rule of
// lpt1 applies. A configured process says on standard error, once per
// binding, "Output: " and what serves.
void configureOutput(const OutputSpec &spec, OutputRole role, bool automatic = false);

// The output configured or selected last; nothing before configureOutput.
std::optional<OutputSpec> configuredOutput();

struct OutputSelection
{
    enum Outcome {
        Opened,   // spec serves now
        FellBack, // spec could not be opened: the fallback serves (why says why)
        Refused,  // not tried (the program's one-sequencer lock): the old output serves on
    } outcome;
    std::string why;
};

// Switches to spec at once: the sequencer's old output gets 0 first and is
// closed (its last tries of the 0 are made), then spec is opened and, for
// the sequencer, gets 0 too; when it cannot be opened, the fallback serves,
// as at start, and standard error says why.
OutputSelection selectOutput(const OutputSpec &spec);

// The output in use (binding it when none is bound): its canonical spec
// (the fallback's when the choice could not be opened), and a German
// description for tooltips. While a ScopedPortBackend lives: an empty spec
// and its description, nothing is bound.
std::string outputSpecInUse();
std::string outputDescription();
// What the bound backend says for the user (see portbackend.h); empty when
// none is bound.
std::string outputStatus();

// Test and benchmark seam: while an instance lives, every port call of this
// process goes to the given backend instead of the bound one. Instances nest;
// the newest wins. The backend must outlive the instance.
class ScopedPortBackend
{
public:
    explicit ScopedPortBackend(PortBackend &backend, std::string description = "Testausgang");
    ~ScopedPortBackend();
    ScopedPortBackend(const ScopedPortBackend &) = delete;
    ScopedPortBackend &operator=(const ScopedPortBackend &) = delete;

private:
    PortBackend *m_previous;
    std::string m_previousDescription;
};

} // namespace portio
