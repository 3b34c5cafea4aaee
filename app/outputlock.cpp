#include "outputlock.h"

namespace blinkwerk {

OutputLock::OutputLock()
    : m_key(portio::portLockKey())
    , m_lock(std::make_unique<portio::PortLock>(m_key))
{
}

portio::OutputSelection OutputLock::select(const portio::OutputSpec &spec)
{
    const std::string key = portio::portLockKey(spec);
    if (key == m_key) // held already: a second lock of this process would find it busy
        return portio::selectOutput(spec);
    auto lock = std::make_unique<portio::PortLock>(key);
    if (lock->state() == portio::PortLock::State::Busy)
        return {portio::OutputSelection::Refused, {}};
    const portio::OutputSelection selection = portio::selectOutput(spec);
    m_lock = std::move(lock);
    m_key = key;
    return selection;
}

} // namespace blinkwerk
