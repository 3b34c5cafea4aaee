// The network outputs' listener: what a universe's sources send, shown as
// the byte (see netoutput.h for the contract).
#include "netoutput_p.h"
#include "printable.h"

#include "notice.h"

#include "artnetpacket.h"
#include "outputname.h"
#include "portbackend.h"
#include "portbackend.h"
#include "sacnpacket.h"

#include <QNetworkInterface>
#include <QSet>
#include <QUdpSocket>

#include <array>
#include <chrono>

namespace portio {

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto SourceTimeout = std::chrono::milliseconds(2500);
constexpr auto RetryAfter = std::chrono::seconds(2);
constexpr int MaxDatagramsPerCall = 256; // bounds a call under a flood

struct Source
{
    QByteArray key; // sACN: the component id; Art-Net: address and port
    std::string name;
    int priority = 0;
    Clock::time_point heard;
    std::uint8_t byte = 0;
    std::uint8_t sequence = 0;
};

class NetListener final : public PortBackend
{
public:
    NetListener(NetProtocol protocol, const OutputSpec &spec)
        : m_protocol(protocol), m_spec(spec), m_name(netSpecText(spec)), m_port(netPort(protocol)),
          m_bindFault(m_name)
    {
        bind();
    }

    void out32(std::int16_t, std::int16_t) override {}

    std::int16_t inp32(std::int16_t port) override
    {
        if (port != Lpt1DataPort)
            return 0;
        drain();
        forgetSilent();
        const Source *s = current();
        return s ? s->byte : 0;
    }

    void service() override
    {
        const auto now = Clock::now();
        if (now - m_tried >= RetryAfter && (!m_bound || m_protocol == NetProtocol::Sacn))
            bind();
        drain();
        forgetSilent();
    }

    std::string status() const override
    {
        if (!m_bound)
            return "kein Empfang";
        const Source *s = current();
        if (!s)
            return "kein Sender";
        // The name comes from the packets: shown as it is, but on one short line.
        return "Sender: " + printable(s->name, 128);
    }

private:
    // Binds the port once and joins the group on every interface that has
    // come up since the last try.
    void bind()
    {
        m_tried = Clock::now();
        if (!m_bound) {
            m_bound = m_socket.bind(QHostAddress::AnyIPv4, m_port,
                                    QAbstractSocket::ShareAddress | QAbstractSocket::ReuseAddressHint);
            m_bindFault.report(m_bound ? std::string()
                                       : "cannot listen on UDP port " + std::to_string(m_port) + ": "
                                             + m_socket.errorString().toStdString(),
                               "listening on UDP port " + std::to_string(m_port));
            if (!m_bound)
                return;
        }
        if (m_protocol != NetProtocol::Sacn)
            return;
        const QHostAddress group = sacnGroup(m_spec.universe);
        const auto interfaces = QNetworkInterface::allInterfaces();
        for (const QNetworkInterface &i : interfaces) {
            const auto flags = i.flags();
            if ((flags & QNetworkInterface::IsUp) && (flags & QNetworkInterface::CanMulticast)
                && !m_joined.contains(i.index()) && m_socket.joinMulticastGroup(group, i))
                m_joined.insert(i.index());
        }
        if (m_joined.isEmpty() && !m_joinedDefault)
            m_joinedDefault = m_socket.joinMulticastGroup(group);
    }

    void drain()
    {
        if (!m_bound)
            return;
        QHostAddress from;
        quint16 fromPort = 0;
        for (int i = 0; i < MaxDatagramsPerCall && m_socket.hasPendingDatagrams(); ++i) {
            const qint64 n = m_socket.readDatagram(reinterpret_cast<char *>(m_buffer.data()), qint64(m_buffer.size()),
                                                   &from, &fromPort);
            if (n < 0)
                break;
            const std::span<const std::uint8_t> bytes(m_buffer.data(), std::size_t(n));
            if (m_protocol == NetProtocol::Sacn)
                takeSacn(bytes, from);
            else
                takeArtNet(bytes, from, fromPort);
        }
    }

    void dropped(const char *reason, const QHostAddress &from)
    {
        // Said for the first one only: a stream of them must not flood the terminal.
        if (m_dropped++ == 0)
            notice(m_name, "dropped a malformed packet from " + from.toString().toStdString() + " (" + reason
                               + "); further ones are dropped without a word");
    }

    void takeSacn(std::span<const std::uint8_t> bytes, const QHostAddress &from)
    {
        const auto result = sacn::parseDataPacket(bytes, m_sacn);
        if (result != sacn::ParseResult::Data) {
            if (result != sacn::ParseResult::Ignored)
                dropped(sacn::parseResultName(result), from);
            return;
        }
        if (m_sacn.universe != m_spec.universe || (m_sacn.options & sacn::OptionPreview))
            return;
        const QByteArray key(reinterpret_cast<const char *>(m_sacn.cid.data()), qsizetype(m_sacn.cid.size()));
        if (m_sacn.options & sacn::OptionStreamTerminated) {
            forget(key);
            return;
        }
        if (m_sacn.startCode != 0)
            return;
        take(key, m_sacn.sourceName + " (" + from.toString().toStdString() + ")", m_sacn.priority, m_sacn.sequence,
             m_sacn.levels);
    }

    void takeArtNet(std::span<const std::uint8_t> bytes, const QHostAddress &from, quint16 fromPort)
    {
        const auto result = artnet::parseDmxPacket(bytes, m_artnet);
        if (result != artnet::ParseResult::Data) {
            if (result != artnet::ParseResult::Ignored)
                dropped(artnet::parseResultName(result), from);
            return;
        }
        if (m_artnet.portAddress != m_spec.universe)
            return;
        const std::string address = from.toString().toStdString();
        take(QByteArray::fromStdString(address + ":" + std::to_string(fromPort)), address, sacn::DefaultPriority,
             m_artnet.sequence, m_artnet.levels);
    }

    void take(const QByteArray &key, const std::string &name, int priority, std::uint8_t sequence,
              const std::vector<std::uint8_t> &levels)
    {
        Source *s = find(key);
        // Art-Net's sequence 0 means the source does not count.
        if (s && (m_protocol == NetProtocol::Sacn || (sequence != 0 && s->sequence != 0))) {
            // A packet up to 20 behind the last one came late: the newer one stands.
            const auto behind = std::int8_t(std::uint8_t(sequence - s->sequence));
            if (behind <= 0 && behind > -20)
                return;
        }
        if (!s) {
            m_sources.push_back({key, {}, 0, {}, 0, 0});
            s = &m_sources.back();
        }
        s->name = name;
        s->priority = priority;
        s->heard = Clock::now();
        s->sequence = sequence;
        std::uint8_t byte = 0;
        for (int k = 0; k < MaxChannels; ++k) {
            const std::size_t slot = std::size_t(m_spec.start - 1 + k);
            if (slot < levels.size() && levels[slot] >= 128)
                byte |= std::uint8_t(1u << k);
        }
        s->byte = byte;
    }

    Source *find(const QByteArray &key)
    {
        for (Source &s : m_sources)
            if (s.key == key)
                return &s;
        return nullptr;
    }

    void forget(const QByteArray &key)
    {
        std::erase_if(m_sources, [&](const Source &s) { return s.key == key; });
    }

    void forgetSilent()
    {
        const auto now = Clock::now();
        std::erase_if(m_sources, [&](const Source &s) { return now - s.heard > SourceTimeout; });
    }

    // The source shown: the highest priority, among equals the one heard
    // last; one silent too long counts no more.
    const Source *current() const
    {
        const auto now = Clock::now();
        const Source *best = nullptr;
        for (const Source &s : m_sources)
            if (now - s.heard <= SourceTimeout
                && (!best || s.priority > best->priority || (s.priority == best->priority && s.heard > best->heard)))
                best = &s;
        return best;
    }

    NetProtocol m_protocol;
    OutputSpec m_spec;
    std::string m_name;
    std::uint16_t m_port;
    QUdpSocket m_socket;
    bool m_bound = false;
    QSet<int> m_joined;
    bool m_joinedDefault = false;
    Clock::time_point m_tried;
    FaultNotice m_bindFault;
    std::array<std::uint8_t, 2048> m_buffer{};
    sacn::DataPacket m_sacn;
    artnet::DmxPacket m_artnet;
    std::vector<Source> m_sources;
    std::uint64_t m_dropped = 0;
};

} // namespace

std::unique_ptr<PortBackend> makeNetListener(NetProtocol protocol, const OutputSpec &spec)
{
    return std::make_unique<NetListener>(protocol, spec);
}

} // namespace portio
