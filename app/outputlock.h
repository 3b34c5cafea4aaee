#pragma once
// blinkwerk's one-sequencer lock (see portlock.h) for an output that the
// user may switch while the program runs: a switch takes the new output's
// lock first, is refused when another blinkwerk holds it, and lets go of the
// old output's lock only after the old output got its 0.

#include "portio.h"
#include "lockkey.h"
#include "portlock.h"

#include <memory>
#include <string>

namespace blinkwerk {

class OutputLock
{
public:
    // Takes the lock of the configured output (portio::portLockKey()).
    OutputLock();

    portio::PortLock::State state() const { return m_lock->state(); }
    const std::string &error() const { return m_lock->error(); }

    // portio::selectOutput under the lock of spec's output.
    portio::OutputSelection select(const portio::OutputSpec &spec);

private:
    std::string m_key;
    std::unique_ptr<portio::PortLock> m_lock;
};

} // namespace blinkwerk
