// The sACN and Art-Net sender and listener over loopback: what the sender
// puts on the wire, and what the listener makes of it and of other sources.

#include "artnetpacket.h"
#include "netoutput.h"
#include "outputname.h"
#include "portbackend.h"
#include "portbackend.h"
#include "sacnpacket.h"
#include "usersettings.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <QUdpSocket>

#include <gtest/gtest.h>

#include <vector>

namespace {

using portio::NetProtocol;
using Bytes = std::vector<std::uint8_t>;

struct Protocol
{
    NetProtocol protocol;
    const char *spec; // unicast to this machine
};

const Protocol Protocols[] = {{NetProtocol::Sacn, "sacn:7/3@127.0.0.1"}, {NetProtocol::ArtNet, "artnet:291/3@127.0.0.1"}};

portio::OutputSpec spec(const char *text)
{
    std::string error;
    const auto s = portio::OutputRegistry({&portio::sacnKind, &portio::artNetKind}).parse(text, error);
    EXPECT_TRUE(s) << error;
    return *s;
}

// A port free on loopback now, made the protocol's port for this process.
std::uint16_t usePrivatePort(NetProtocol protocol)
{
    QUdpSocket probe;
    probe.bind(QHostAddress::LocalHost, 0);
    const auto port = probe.localPort();
    portio::setNetPortForTesting(protocol, port);
    return port;
}

// What a receiver of our own sees: every datagram, in order.
struct Capture
{
    explicit Capture(std::uint16_t port) { EXPECT_TRUE(socket.bind(QHostAddress::LocalHost, port)); }

    // Waits (generously) for the next datagram; empty when none came.
    Bytes next(int timeoutMs = 5000)
    {
        QElapsedTimer t;
        t.start();
        while (!socket.hasPendingDatagrams() && t.elapsed() < timeoutMs)
            QThread::msleep(2);
        if (!socket.hasPendingDatagrams())
            return {};
        Bytes b(size_t(socket.pendingDatagramSize()));
        socket.readDatagram(reinterpret_cast<char *>(b.data()), qint64(b.size()));
        return b;
    }

    QUdpSocket socket;
};

struct Decoded
{
    std::uint8_t sequence = 0, options = 0;
    int universe = -1;
    Bytes levels;
};

Decoded decode(NetProtocol protocol, const Bytes &b)
{
    Decoded d;
    if (protocol == NetProtocol::Sacn) {
        portio::sacn::DataPacket p;
        EXPECT_EQ(portio::sacn::parseDataPacket(b, p), portio::sacn::ParseResult::Data);
        EXPECT_EQ(p.sourceName, "Blinkwerk");
        EXPECT_EQ(p.priority, 100);
        d = {p.sequence, p.options, p.universe, p.levels};
    } else {
        portio::artnet::DmxPacket p;
        EXPECT_EQ(portio::artnet::parseDmxPacket(b, p), portio::artnet::ParseResult::Data);
        d = {p.sequence, 0, p.portAddress, p.levels};
    }
    return d;
}

class NetOutput : public ::testing::TestWithParam<Protocol>
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(settingsDir.isValid());
        portio::setUserSettingsFolderForTests(settingsDir.path().toStdString());
        port = usePrivatePort(GetParam().protocol);
    }

    std::unique_ptr<portio::PortBackend> open(portio::OutputRole role, const char *text = nullptr)
    {
        std::string why;
        auto b = portio::openNetOutput(GetParam().protocol, spec(text ? text : GetParam().spec), role, why);
        EXPECT_TRUE(b) << why;
        return b;
    }

    QTemporaryDir settingsDir;
    std::uint16_t port = 0;
};

TEST_P(NetOutput, SenderStreamsChangesRepeatsAndEnds)
{
    const NetProtocol protocol = GetParam().protocol;
    Capture wire(port);
    auto sender = open(portio::OutputRole::Sequencer);
    sender->out32(portio::Lpt1DataPort, 0x81);
    EXPECT_EQ(sender->inp32(portio::Lpt1DataPort), 0x81);

    Decoded first = decode(protocol, wire.next());
    ASSERT_EQ(first.levels.size(), 512u);
    Bytes expected(512, 0);
    expected[2] = 255; // channel 1 at slot 3
    expected[9] = 255; // channel 8 at slot 10
    EXPECT_EQ(first.levels, expected);
    EXPECT_EQ(first.universe, protocol == NetProtocol::Sacn ? 7 : 291);

    // The same byte again sends nothing; nothing new for a while repeats it.
    sender->out32(portio::Lpt1DataPort, 0x81);
    EXPECT_TRUE(wire.next(300).empty());
    QElapsedTimer t;
    t.start();
    Bytes repeat;
    while (repeat.empty() && t.elapsed() < 3000) {
        sender->service();
        repeat = wire.next(100);
    }
    EXPECT_LE(t.elapsed(), 1100);
    const Decoded again = decode(protocol, repeat);
    EXPECT_EQ(again.levels, expected);

    sender->out32(portio::Lpt1DataPort, 0x02);
    const Decoded changed = decode(protocol, wire.next());
    EXPECT_EQ(changed.levels[3], 255);
    EXPECT_EQ(std::uint8_t(changed.sequence - again.sequence), 1) << "counts every packet";

    // Art-Net's sequence skips 0 when it wraps.
    if (protocol == NetProtocol::ArtNet) {
        for (int i = 0; i < 300; ++i) {
            sender->out32(portio::Lpt1DataPort, std::int16_t(i % 2 ? 0x10 : 0x20));
            EXPECT_NE(decode(protocol, wire.next()).sequence, 0);
        }
    }

    sender.reset();
    const Decoded off = decode(protocol, wire.next());
    EXPECT_EQ(off.levels, Bytes(512, 0));
    EXPECT_EQ(off.options, 0);
    if (protocol == NetProtocol::Sacn) {
        for (int i = 0; i < 3; ++i)
            EXPECT_EQ(decode(protocol, wire.next()).options, portio::sacn::OptionStreamTerminated);
    }
    EXPECT_TRUE(wire.next(200).empty());
}

TEST_P(NetOutput, SacnComponentIdStaysAcrossRuns)
{
    if (GetParam().protocol != NetProtocol::Sacn)
        GTEST_SKIP() << "Art-Net has no component id";
    Capture wire(port);
    portio::sacn::Cid cids[2];
    for (auto &cid : cids) {
        auto sender = open(portio::OutputRole::Sequencer);
        sender->out32(portio::Lpt1DataPort, 1);
        portio::sacn::DataPacket p;
        ASSERT_EQ(portio::sacn::parseDataPacket(wire.next(), p), portio::sacn::ParseResult::Data);
        cid = p.cid;
        sender.reset();
        while (!wire.next(200).empty()) {
        }
    }
    EXPECT_EQ(cids[0], cids[1]);
    EXPECT_NE(cids[0], portio::sacn::Cid{});
    EXPECT_FALSE(portio::userSetting("sacn/cid").value_or("").empty());
}

// Waits until the listener shows want; what it showed last.
int awaitByte(portio::PortBackend &listener, int want, int timeoutMs = 5000)
{
    QElapsedTimer t;
    t.start();
    int got = listener.inp32(portio::Lpt1DataPort);
    while (got != want && t.elapsed() < timeoutMs) {
        QThread::msleep(5);
        got = listener.inp32(portio::Lpt1DataPort);
    }
    return got;
}

TEST_P(NetOutput, ListenerShowsOurSenderAndForgetsIt)
{
    auto listener = open(portio::OutputRole::Monitor);
    EXPECT_EQ(listener->inp32(portio::Lpt1DataPort), 0);
    EXPECT_EQ(listener->status(), "kein Sender");
    auto sender = open(portio::OutputRole::Sequencer);
    for (int byte : {0x01, 0x80, 0x5a, 0xff, 0x00, 0xa5}) {
        sender->out32(portio::Lpt1DataPort, std::int16_t(byte));
        EXPECT_EQ(awaitByte(*listener, byte), byte);
    }
    EXPECT_NE(listener->status(), "kein Sender");

    if (GetParam().protocol == NetProtocol::Sacn) {
        // Stream terminated: dark at once.
        sender.reset();
        EXPECT_EQ(awaitByte(*listener, 0, 1000), 0);
    } else {
        // Silent for 2.5 s: dark, and not much sooner.
        QElapsedTimer t;
        t.start();
        QThread::msleep(1500);
        EXPECT_EQ(listener->inp32(portio::Lpt1DataPort), 0xa5);
        EXPECT_EQ(awaitByte(*listener, 0, 5000), 0);
        EXPECT_GE(t.elapsed(), 2400);
        sender.release(); // its last packet would bring the lamps back
    }
    EXPECT_EQ(listener->status(), "kein Sender");
}

INSTANTIATE_TEST_SUITE_P(Protocols, NetOutput, ::testing::ValuesIn(Protocols),
                         [](const auto &info) { return info.param.protocol == NetProtocol::Sacn ? "Sacn" : "ArtNet"; });

// Packets of sources we make up ourselves, sent to the sACN listener.
struct SacnSource
{
    std::uint8_t id;
    std::uint8_t priority;
    std::uint8_t sequence = 0;

    void send(QUdpSocket &socket, std::uint16_t port, std::uint8_t level1, std::uint8_t options = 0,
              int universe = 9)
    {
        portio::sacn::DataPacket p;
        p.cid.fill(id);
        p.sourceName = "Quelle " + std::to_string(id);
        p.priority = priority;
        p.sequence = sequence++;
        p.options = options;
        p.universe = std::uint16_t(universe);
        p.levels.assign(512, 0);
        p.levels[0] = level1;
        const auto b = portio::sacn::buildDataPacket(p);
        socket.writeDatagram(reinterpret_cast<const char *>(b.data()), qint64(b.size()), QHostAddress::LocalHost,
                             port);
    }
};

TEST(NetListener, HigherPriorityWinsThenNewestAndBrokenPacketsAreDropped)
{
    const auto port = usePrivatePort(NetProtocol::Sacn);
    std::string why;
    auto listener = portio::openNetOutput(NetProtocol::Sacn, spec("sacn:9"), portio::OutputRole::Monitor, why);
    ASSERT_TRUE(listener) << why;
    QUdpSocket socket;
    SacnSource low{1, 100}, high{2, 150}, other{3, 100};

    high.send(socket, port, 0);    // dark but present
    low.send(socket, port, 200);   // newer, lower priority: not shown
    QThread::msleep(50);
    EXPECT_EQ(listener->inp32(portio::Lpt1DataPort), 0);
    high.send(socket, port, 255, portio::sacn::OptionStreamTerminated);
    EXPECT_EQ(awaitByte(*listener, 1), 1) << "the lower one, once the higher one ended";

    other.send(socket, port, 0);
    EXPECT_EQ(awaitByte(*listener, 0), 0) << "equal priority: the newest";
    low.send(socket, port, 128);
    EXPECT_EQ(awaitByte(*listener, 1), 1);
    low.sequence -= 2;
    low.send(socket, port, 0); // late: behind the last one of its source
    other.sequence -= 1;       // keeps other's sequence in order but older than low's last packet
    QThread::msleep(50);
    EXPECT_EQ(listener->inp32(portio::Lpt1DataPort), 1);

    // Other universes, preview data and malformed packets change nothing.
    low.sequence += 2;
    low.send(socket, port, 0, 0, 10);
    low.send(socket, port, 0, portio::sacn::OptionPreview);
    Bytes broken = portio::sacn::buildDataPacket({});
    broken[43] = 4; // framing vector: discovery
    socket.writeDatagram(reinterpret_cast<const char *>(broken.data()), qint64(broken.size()),
                         QHostAddress::LocalHost, port);
    broken.resize(100);
    socket.writeDatagram(reinterpret_cast<const char *>(broken.data()), qint64(broken.size()),
                         QHostAddress::LocalHost, port);
    QThread::msleep(50);
    EXPECT_EQ(listener->inp32(portio::Lpt1DataPort), 1);
}

TEST(NetOutputs, ListerNamesOneEntryPerProtocolWhenANetworkIsUp)
{
    std::vector<portio::OutputEntry> entries;
    portio::listNetOutputs(NetProtocol::Sacn, entries);
    portio::listNetOutputs(NetProtocol::ArtNet, entries);
    // Without an interface besides loopback both list nothing.
    ASSERT_TRUE(entries.empty() || entries.size() == 2);
    if (entries.size() == 2) {
        EXPECT_EQ(entries[0].spec, "sacn:1");
        EXPECT_EQ(entries[1].spec, "artnet:0");
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
