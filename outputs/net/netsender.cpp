// The network outputs' sender: streams the byte as eight slots of a
// universe (see netoutput.h for the contract).
#include "netoutput_p.h"

#include "artnetpacket.h"
#include "outputname.h"
#include "portbackend.h"
#include "portbackend.h"
#include "sacnpacket.h"

#include <QNetworkInterface>
#include <QVariant>
#include <QUdpSocket>

#include <chrono>
#include <optional>

namespace portio {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto RepeatAfter = std::chrono::milliseconds(800);
constexpr auto RescanAfter = std::chrono::seconds(5);
constexpr auto LookUpAgainAfter = std::chrono::seconds(10);
constexpr int LookupLimitMs = 2000;

class NetSender final : public PortBackend
{
public:
    NetSender(NetProtocol protocol, const OutputSpec &spec, const QByteArray &cid)
        : m_protocol(protocol), m_spec(spec), m_name(netSpecText(spec)), m_port(netPort(protocol)),
          m_lookupFault(m_name), m_networkFault(m_name), m_sendFault(m_name)
    {
        std::copy_n(cid.constData(), std::min<qsizetype>(cid.size(), 16), m_cid.begin());
        m_socket.bind(QHostAddress::AnyIPv4, 0);
        // A monitor on this machine hears the multicast stream too.
        m_socket.setSocketOption(QAbstractSocket::MulticastLoopbackOption, 1);
        if (!m_spec.host.empty()) {
            QHostAddress literal;
            if (literal.setAddress(QString::fromStdString(m_spec.host))) {
                m_destinations = {literal};
            } else {
                startLookup();
                m_lookup->wait(LookupLimitMs);
                takeLookup();
            }
        } else {
            findDestinations();
        }
    }

    ~NetSender() override
    {
        // The lamps off, then (sACN) the end of the stream, so receivers
        // let go at once instead of holding the last state.
        m_byte = 0;
        send(0);
        if (m_protocol == NetProtocol::Sacn)
            for (int i = 0; i < 3; ++i)
                send(sacn::OptionStreamTerminated);
    }

    void out32(std::int16_t port, std::int16_t value) override
    {
        if (port != Lpt1DataPort)
            return;
        const auto byte = std::uint8_t(value & 0xff);
        if (m_sentOnce && byte == m_byte)
            return;
        m_byte = byte;
        send(0);
    }

    std::int16_t inp32(std::int16_t port) override { return port == Lpt1DataPort ? m_byte : 0; }

    void service() override
    {
        const auto now = Clock::now();
        if (m_lookup)
            takeLookup();
        else if (!m_spec.host.empty() && m_destinations.isEmpty() && now - m_lookupStarted >= LookUpAgainAfter)
            startLookup();
        if (m_spec.host.empty() && now - m_scanned >= RescanAfter)
            findDestinations();
        if (m_sentOnce && now - m_lastSend >= RepeatAfter)
            send(0);
    }

    std::string status() const override
    {
        if (m_destinations.isEmpty())
            return "kein Ziel im Netzwerk";
        if (m_sendFault.active())
            return "Senden gestört";
        return {};
    }

private:
    void startLookup()
    {
        m_lookup.emplace(m_spec.host);
        m_lookupStarted = Clock::now();
    }

    // Takes the lookup's answer once it is in; says an unknown host once.
    void takeLookup()
    {
        if (!m_lookup->wait(0)) {
            if (Clock::now() - m_lookupStarted >= std::chrono::milliseconds(LookupLimitMs))
                m_lookupFault.report("looking up host " + m_spec.host + " takes too long", {});
            return;
        }
        const auto found = m_lookup->addresses();
        if (found.isEmpty()) {
            m_lookupFault.report("unknown host " + m_spec.host + " (" + m_lookup->error() + ")", {});
        } else {
            m_destinations = {found.first()};
            m_lookupFault.report({}, "host " + m_spec.host + " found at " + found.first().toString().toStdString());
        }
        m_lookup.reset();
    }

    // Without a host: the universe's group (sACN), or the broadcast address
    // of every IPv4 interface that is up (Art-Net). Directed broadcasts reach
    // every network this machine is on and need no default route, where
    // 255.255.255.255 leaves through one interface only.
    void findDestinations()
    {
        m_scanned = Clock::now();
        if (m_protocol == NetProtocol::Sacn) {
            m_destinations = {sacnGroup(m_spec.universe)};
            return;
        }
        QList<QHostAddress> found;
        const auto interfaces = QNetworkInterface::allInterfaces();
        for (const QNetworkInterface &i : interfaces) {
            const auto flags = i.flags();
            if (!(flags & QNetworkInterface::IsUp) || !(flags & QNetworkInterface::IsRunning)
                || !(flags & QNetworkInterface::CanBroadcast) || (flags & QNetworkInterface::IsLoopBack))
                continue;
            for (const QNetworkAddressEntry &e : i.addressEntries())
                if (e.ip().protocol() == QAbstractSocket::IPv4Protocol && !e.broadcast().isNull()
                    && !found.contains(e.broadcast()))
                    found.append(e.broadcast());
        }
        m_destinations = found;
        if (found.isEmpty())
            m_networkFault.report("no network interface is up to broadcast on", {});
        else
            m_networkFault.report({}, "broadcasting on the network again");
    }

    std::vector<std::uint8_t> packet(std::uint8_t options)
    {
        std::vector<std::uint8_t> levels(SlotsPerUniverse, 0);
        for (int k = 0; k < MaxChannels; ++k)
            if (m_byte & (1u << k))
                levels[std::size_t(m_spec.start - 1 + k)] = 255;
        if (m_protocol == NetProtocol::Sacn) {
            sacn::DataPacket p;
            p.cid = m_cid;
            p.sourceName = "Blinkwerk";
            p.priority = sacn::DefaultPriority;
            p.sequence = m_sequence++;
            p.options = options;
            p.universe = std::uint16_t(m_spec.universe);
            p.levels = std::move(levels);
            return sacn::buildDataPacket(p);
        }
        artnet::DmxPacket p;
        m_sequence = m_sequence == 255 ? 1 : m_sequence + 1;
        p.sequence = m_sequence;
        p.portAddress = std::uint16_t(m_spec.universe);
        p.levels = std::move(levels);
        return artnet::buildDmxPacket(p);
    }

    void send(std::uint8_t options)
    {
        m_sentOnce = true;
        m_lastSend = Clock::now();
        if (m_destinations.isEmpty())
            return;
        const auto bytes = packet(options);
        const QByteArray datagram(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size()));
        std::string failure;
        for (const QHostAddress &to : std::as_const(m_destinations))
            if (m_socket.writeDatagram(datagram, to, m_port) != datagram.size() && failure.empty())
                failure = "cannot send to " + to.toString().toStdString() + ": "
                          + m_socket.errorString().toStdString();
        m_sendFault.report(failure, "sending again");
    }

    NetProtocol m_protocol;
    OutputSpec m_spec;
    std::string m_name;
    std::uint16_t m_port;
    sacn::Cid m_cid{};
    QUdpSocket m_socket;
    QList<QHostAddress> m_destinations;
    std::optional<HostLookup> m_lookup;
    Clock::time_point m_lookupStarted = Clock::now();
    Clock::time_point m_scanned = Clock::now();
    Clock::time_point m_lastSend = Clock::now();
    FaultNotice m_lookupFault, m_networkFault, m_sendFault;
    std::uint8_t m_byte = 0;
    std::uint8_t m_sequence = 0;
    bool m_sentOnce = false;
};

} // namespace

std::unique_ptr<PortBackend> makeNetSender(NetProtocol protocol, const OutputSpec &spec, const QByteArray &cid)
{
    return std::make_unique<NetSender>(protocol, spec, cid);
}

} // namespace portio
