// The network outputs' opener and lister, the user's sACN component id, and
// the helpers the sender and listener share.
#include "netoutput_p.h"

#include "notice.h"
#include "outputname.h"
#include "portbackend.h"
#include "sacnpacket.h"
#include "usersettings.h"

#include <QHostInfo>
#include <QNetworkInterface>
#include <QUuid>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace portio {

namespace {

std::atomic<std::uint16_t> testPorts[2] = {0, 0};

// The user's component id: made once, then the same in every run, so that
// receivers see one source across restarts of the program.
QByteArray userCid()
{
    const std::optional<std::string> kept = userSetting("sacn/cid");
    QUuid cid = QUuid::fromString(QString::fromStdString(kept.value_or(std::string())));
    if (cid.isNull()) {
        cid = QUuid::createUuid();
        setUserSetting("sacn/cid", cid.toString(QUuid::WithoutBraces).toStdString());
    }
    return cid.toRfc4122();
}

bool someInterfaceUp()
{
    const auto interfaces = QNetworkInterface::allInterfaces();
    for (const QNetworkInterface &i : interfaces) {
        const auto flags = i.flags();
        if ((flags & QNetworkInterface::IsUp) && (flags & QNetworkInterface::IsRunning)
            && !(flags & QNetworkInterface::IsLoopBack))
            return true;
    }
    return false;
}

} // namespace

QHostAddress sacnGroup(int universe)
{
    const auto g = sacn::multicastGroup(universe);
    return QHostAddress{quint32(g[0]) << 24 | quint32(g[1]) << 16 | quint32(g[2]) << 8 | g[3]};
}

std::uint16_t netPort(NetProtocol protocol)
{
    const std::uint16_t chosen = testPorts[protocol == NetProtocol::Sacn ? 0 : 1];
    if (chosen)
        return chosen;
    return protocol == NetProtocol::Sacn ? 5568 : 6454;
}

void setNetPortForTesting(NetProtocol protocol, std::uint16_t port)
{
    testPorts[protocol == NetProtocol::Sacn ? 0 : 1] = port;
}

void FaultNotice::report(const std::string &fault, const std::string &recovered)
{
    if (fault == m_fault)
        return;
    if (fault.empty())
        notice(m_source, recovered);
    else
        notice(m_source, fault + "; the program goes on and says when it works again");
    m_fault = fault;
}

struct HostLookup::State
{
    std::mutex mutex;
    std::condition_variable done;
    bool answered = false;
    QList<QHostAddress> addresses;
    std::string error;
};

HostLookup::HostLookup(std::string host) : m_state(std::make_shared<State>())
{
    std::thread([state = m_state, host = std::move(host)] {
        const QHostInfo info = QHostInfo::fromName(QString::fromStdString(host));
        QList<QHostAddress> found;
        for (const QHostAddress &a : info.addresses())
            if (a.protocol() == QAbstractSocket::IPv4Protocol)
                found.append(a);
        const std::lock_guard lock(state->mutex);
        state->addresses = found;
        state->error = info.error() == QHostInfo::NoError ? "it has no IPv4 address"
                                                          : info.errorString().toStdString();
        state->answered = true;
        state->done.notify_all();
    }).detach();
}

bool HostLookup::wait(int timeoutMs)
{
    std::unique_lock lock(m_state->mutex);
    return m_state->done.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return m_state->answered; });
}

QList<QHostAddress> HostLookup::addresses() const
{
    const std::lock_guard lock(m_state->mutex);
    return m_state->addresses;
}

std::string HostLookup::error() const
{
    const std::lock_guard lock(m_state->mutex);
    return m_state->error;
}

std::unique_ptr<PortBackend> openNetOutput(NetProtocol protocol, const OutputSpec &spec, OutputRole role,
                                           std::string &)
{
    if (role == OutputRole::Monitor)
        return makeNetListener(protocol, spec);
    return makeNetSender(protocol, spec, protocol == NetProtocol::Sacn ? userCid() : QByteArray());
}

void listNetOutputs(NetProtocol protocol, std::vector<OutputEntry> &entries)
{
    if (!someInterfaceUp())
        return;
    if (protocol == NetProtocol::Sacn)
        entries.push_back({"sacn:1", "sACN (E1.31) im Netzwerk, Universum 1, Kanäle ab 1"});
    else
        entries.push_back({"artnet:0", "Art-Net im Netzwerk, Universum 0, Kanäle ab 1"});
}

std::optional<std::string> identifyNetOutput(NetProtocol protocol, const OutputSpec &spec, std::string &)
{
    std::string destination;
    if (spec.host.empty()) {
        destination = protocol == NetProtocol::Sacn ? sacnGroup(spec.universe).toString().toStdString()
                                                    : std::string("broadcast");
    } else {
        HostLookup lookup(spec.host);
        const QList<QHostAddress> found = lookup.wait(2000) ? lookup.addresses() : QList<QHostAddress>();
        destination = found.isEmpty() ? QString::fromStdString(spec.host).toLower().toStdString()
                                      : found.front().toString().toStdString();
    }
    return spec.kind + ":" + std::to_string(spec.universe) + "@" + destination;
}

} // namespace portio
