#include "follower.h"

#include "outputs.h"
#include "portio.h"

#include <QMetaObject>

namespace player {

Follower::Follower(const portio::OutputSpec &network, QObject *parent)
    : QObject(parent)
    , m_listener(portio::sessionSetup(portio::OutputRole::Monitor))
{
    m_listener.setChangeHandler([this] { received(); });
    m_listener.bind(network, false);
    portio::LptOut(m_listener.read().byte);
}

Follower::~Follower()
{
    m_listener.setChangeHandler({});
    m_listener.close();
}

std::string Follower::source() const
{
    return m_listener.specInUse();
}

std::uint8_t Follower::lamps() const
{
    return m_listener.read().byte;
}

std::string Follower::sender() const
{
    return m_listener.status();
}

void Follower::received()
{
    // On the listener's thread: the byte goes out at once, the face is told
    // once for any number of changes it has not got to yet.
    portio::LptOut(m_listener.read().byte);
    if (!m_changePending.exchange(true))
        QMetaObject::invokeMethod(this, [this] {
            m_changePending = false;
            emit changed();
        }, Qt::QueuedConnection);
}

} // namespace player
