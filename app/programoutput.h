#pragma once
// A program's output: its output session bound to the output chosen at
// start (see outputstartup.h), with the port routines (LptOut, LptIn) routed
// to it for as long as the object lives.

#include "commandline.h"
#include "outputs.h"
#include "portio.h"

#include <optional>

namespace blinkwerk {

class ProgramOutput
{
public:
    // Binds choice for role and waits for it (before any window opens: the
    // kind's identify and open may take a moment).
    ProgramOutput(portio::OutputRole role, const OutputChoice &choice);
    ~ProgramOutput(); // close()

    portio::OutputSession &session() { return m_session; }
    // What came of the binding: Refused when another sequencer drives the
    // device (nothing was touched; the program ends).
    const portio::OutputSelection &bound() const { return m_bound; }

    // The last byte goes out and the device is let go, then its lock: call
    // it after the window that writes the last 0 is gone. Final.
    void close();

private:
    portio::OutputSession m_session;
    portio::OutputSelection m_bound;
    std::optional<portio::ScopedPortBackend> m_route;
};

} // namespace blinkwerk
