// The serial backend through real pseudo-terminals, with an emulated board
// of each type behind them.
#include "outputkind.h"
#include "portbackend.h"
#include "portbackend.h"
#include "serialboard.h"
#include "serialrelay.h"
#include "serialrelayprotocol.h"

#include "posixtestsupport.h"

#include <QCoreApplication>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>

using testsupport::SerialBoard;
using Bytes = std::vector<std::uint8_t>;

namespace {

constexpr std::uint8_t Steps[20] = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80, 0xFF, 0x00,
                                    0xAA, 0x55, 0x0F, 0xF0, 0x81, 0x42, 0x24, 0x18, 0x3C, 0xC3};

long long nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

long long nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Frames are paced: the FRAMES frames from command FIRST on, written in
// answer to one call made at CALLED, reach the board no sooner than FRAMES-1
// pauses after that call (1 ms of each spared for the timer's granularity).
// Load only makes that later, unlike the gap between two reads, which a late
// read of one frame narrows; the spread of the gaps is the bench's to measure.
void expectPaced(const SerialBoard &board, long long called, std::size_t first, std::size_t frames)
{
    const std::vector<long long> times = board.commandTimesNs();
    ASSERT_GE(times.size(), first + frames);
    EXPECT_GE(times[first + frames - 1] - called, (long long)(frames - 1) * (portio::SerialRelayGapMs - 1) * 1000000LL)
        << frames << " frames from command " << first << " on came faster than paced";
}

bool waitFor(const std::function<bool()> &done, int ms = 5000)
{
    const auto deadline = nowMs() + ms;
    while (!done()) {
        if (nowMs() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QThread::usleep(500);
    }
    return true;
}

// Everything this process writes on standard error while it lives.
class StderrCapture
{
public:
    explicit StderrCapture(const std::filesystem::path &file)
        : m_file(file)
    {
        std::fflush(stderr);
        m_saved = ::dup(2);
        const int fd = ::open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, 2);
        ::close(fd);
    }
    ~StderrCapture() { restore(); }
    std::string text()
    {
        restore();
        return testsupport::readFile(m_file);
    }

private:
    void restore()
    {
        if (m_saved < 0)
            return;
        std::fflush(stderr);
        ::dup2(m_saved, 2);
        ::close(m_saved);
        m_saved = -1;
    }
    std::filesystem::path m_file;
    int m_saved = -1;
};

int count(const std::string &text, const std::string &what)
{
    int n = 0;
    for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

struct Rig
{
    explicit Rig(SerialBoard::Kind kind)
        : dir(kind == SerialBoard::Kind::Lcus ? "serial-lcus" : "serial-icse")
        , board(kind)
        , link((dir / "ttyRELAY").string())
    {
        std::string error;
        EXPECT_TRUE(board.plugIn(link, error)) << error;
        spec.kind = "serial";
        spec.path = link;
        spec.protocol = kind == SerialBoard::Kind::Lcus ? portio::OutputSpec::SerialProtocol::Lcus
                                                        : portio::OutputSpec::SerialProtocol::Icse;
    }
    std::unique_ptr<portio::PortBackend> open()
    {
        std::string why;
        auto backend = portio::openSerialRelayOutput(spec, portio::OutputRole::Sequencer, why);
        EXPECT_TRUE(backend) << why;
        return backend;
    }
    Bytes since(std::size_t first) const
    {
        Bytes bytes;
        const auto commands = board.commands();
        for (std::size_t i = first; i < commands.size(); ++i)
            bytes.insert(bytes.end(), commands[i].begin(), commands[i].end());
        return bytes;
    }

    testsupport::ScratchDir dir;
    SerialBoard board;
    std::string link;
    portio::OutputSpec spec;
};

// The frames that take an LCUS board from one byte to the next.
// The frames from one byte to the next, in the order the protocol sends
// them (its own tests say which).
Bytes lcusFrames(std::uint8_t from, std::uint8_t to)
{
    portio::LcusRelays relays;
    relays.want(from);
    while (relays.next()) {
    }
    relays.want(to);
    Bytes bytes;
    while (const auto frame = relays.next())
        bytes.insert(bytes.end(), frame->begin(), frame->end());
    return bytes;
}

// Sets the byte and waits until the board holds it and the expected number
// of commands has arrived; returns what the board received for it.
Bytes step(Rig &rig, portio::PortBackend &backend, std::uint8_t byte, std::size_t commands)
{
    const std::size_t first = rig.board.commands().size();
    backend.out32(portio::Lpt1DataPort, byte);
    EXPECT_TRUE(waitFor([&] { return rig.board.relays() == byte && rig.board.commands().size() >= first + commands; }))
        << "board holds " << int(rig.board.relays()) << ", wanted " << int(byte);
    return rig.since(first);
}

TEST(SerialRelayPty, LcusTwentyStepsStopAndClose)
{
    Rig rig(SerialBoard::Kind::Lcus);
    const long long opening = nowNs();
    auto backend = rig.open();
    ASSERT_TRUE(backend);
    // Opened: every relay is switched off once, the board's state being unknown.
    ASSERT_TRUE(waitFor([&] { return rig.board.commands().size() == 8; }));
    EXPECT_EQ(rig.since(0), lcusFrames(0xFF, 0x00));
    expectPaced(rig.board, opening, 0, 8);

    std::uint8_t previous = 0;
    for (std::uint8_t byte : Steps) {
        const Bytes frames = lcusFrames(previous, byte);
        EXPECT_EQ(step(rig, *backend, byte, frames.size() / 4), frames) << "step to " << int(byte);
        EXPECT_EQ(backend->inp32(portio::Lpt1DataPort), byte);
        previous = byte;
        ASSERT_FALSE(HasFailure());
    }
    // Stop's 0: only the relays still on.
    const std::size_t stopped = rig.board.commands().size();
    const long long stopping = nowNs();
    EXPECT_EQ(step(rig, *backend, 0, 4), lcusFrames(0xC3, 0x00));
    expectPaced(rig.board, stopping, stopped, 4);

    // Steps faster than the frames: the board goes to the newest byte, and
    // no relay is switched for a byte already replaced.
    std::size_t first = rig.board.commands().size();
    backend->out32(portio::Lpt1DataPort, 0xFF);
    backend->out32(portio::Lpt1DataPort, 0x0F);
    backend->out32(portio::Lpt1DataPort, 0x03);
    ASSERT_TRUE(waitFor([&] { return rig.board.relays() == 0x03; }));
    QThread::msleep(200);
    QCoreApplication::processEvents();
    EXPECT_EQ(rig.since(first), lcusFrames(0x00, 0x03));
    EXPECT_EQ(rig.board.badFrames(), 0);

    // Closing sends the 0, paced, before the port is let go.
    step(rig, *backend, 0x3C, 4);
    first = rig.board.commands().size();
    const long long closing = nowNs();
    backend.reset();
    EXPECT_TRUE(waitFor([&] { return rig.board.relays() == 0; }, 2000));
    EXPECT_EQ(rig.since(first), lcusFrames(0x3C, 0x00));
    expectPaced(rig.board, closing, first, 4);
}

TEST(SerialRelayPty, IcseWakesTheBoardTwentyStepsStopAndClose)
{
    Rig rig(SerialBoard::Kind::Icse);
    auto backend = rig.open();
    ASSERT_TRUE(backend);
    ASSERT_TRUE(waitFor([&] { return rig.board.commands().size() == 3; }));
    EXPECT_EQ(rig.since(0), (Bytes{0x50, 0x51, 0xFF}));

    for (std::uint8_t byte : Steps) {
        EXPECT_EQ(step(rig, *backend, byte, 1), Bytes{portio::icseByte(byte)}) << "step to " << int(byte);
        ASSERT_FALSE(HasFailure());
    }
    EXPECT_EQ(step(rig, *backend, 0, 1), Bytes{0xFF});

    // A burst after a pause: its first byte at once, then only the newest
    // one, a pause later.
    QThread::msleep(2 * portio::SerialRelayGapMs);
    std::size_t first = rig.board.commands().size();
    backend->out32(portio::Lpt1DataPort, 0x01);
    backend->out32(portio::Lpt1DataPort, 0x02);
    backend->out32(portio::Lpt1DataPort, 0x03);
    ASSERT_TRUE(waitFor([&] { return rig.board.relays() == 0x03; }));
    EXPECT_EQ(rig.since(first), (Bytes{0xFE, 0xFC}));

    first = rig.board.commands().size();
    backend.reset();
    EXPECT_TRUE(waitFor([&] { return rig.board.relays() == 0; }, 2000));
    EXPECT_EQ(rig.since(first), Bytes{0xFF});
}

// A board that does not answer its wake-up is said once and driven anyway,
// within the bounded wait and without holding up the port calls.
TEST(SerialRelayPty, IcseWithoutAnswerIsSaidOnceAndDrivenAnyway)
{
    Rig rig(SerialBoard::Kind::Icse);
    rig.board.setMute(true);
    StderrCapture err(rig.dir / "stderr");
    auto backend = rig.open();
    ASSERT_TRUE(backend);
    // A call that waited for the answer would take the whole second it is
    // given; load may slow the call, but not by most of a second.
    const auto before = nowMs();
    backend->out32(portio::Lpt1DataPort, 0x81);
    EXPECT_LT(nowMs() - before, 900);
    EXPECT_TRUE(waitFor([&] { return rig.board.relays() == 0x81; }));
    backend.reset();
    const std::string text = err.text();
    EXPECT_EQ(count(text, "no answer to the wake-up"), 1) << text;
}

// Pulled out mid-run: said once, the newest byte kept; plugged in again it
// is found through service() and gets the newest byte, said once.
TEST(SerialRelayPty, UnplugAndReplug)
{
    for (auto kind : {SerialBoard::Kind::Lcus, SerialBoard::Kind::Icse}) {
        SCOPED_TRACE(kind == SerialBoard::Kind::Lcus ? "lcus" : "icse");
        Rig rig(kind);
        StderrCapture err(rig.dir / "stderr");
        auto backend = rig.open();
        ASSERT_TRUE(backend);
        QTimer service;
        QObject::connect(&service, &QTimer::timeout, [&] { backend->service(); });
        service.start(100);
        backend->out32(portio::Lpt1DataPort, 0x0F);
        ASSERT_TRUE(waitFor([&] { return rig.board.relays() == 0x0F; }));

        rig.board.unplug();
        backend->out32(portio::Lpt1DataPort, 0xF0);
        waitFor([] { return false; }, 1500);
        backend->out32(portio::Lpt1DataPort, 0xA5);
        EXPECT_EQ(backend->inp32(portio::Lpt1DataPort), 0xA5);
        EXPECT_NE(backend->status().find("getrennt"), std::string::npos);

        std::string error;
        ASSERT_TRUE(rig.board.plugIn(rig.link, error)) << error;
        EXPECT_TRUE(waitFor([&] { return rig.board.relays() == 0xA5; }, 4000));
        service.stop();
        backend.reset();
        const std::string text = err.text();
        EXPECT_EQ(count(text, "lost ("), 1) << text;
        EXPECT_EQ(count(text, "found again"), 1) << text;
    }
}

TEST(SerialRelayPty, OpenerRefusals)
{
    Rig rig(SerialBoard::Kind::Lcus);
    const struct
    {
        std::string path;
        portio::OutputRole role;
        std::string reason;
    } cases[] = {
        {rig.link, portio::OutputRole::Monitor, "cannot be read back"},
        {(rig.dir / "missing").string(), portio::OutputRole::Sequencer, "missing"},
    };
    for (const auto &c : cases) {
        portio::OutputSpec spec = rig.spec;
        spec.path = c.path;
        std::string why;
        EXPECT_FALSE(portio::openSerialRelayOutput(spec, c.role, why));
        EXPECT_NE(why.find(c.reason), std::string::npos) << why;
    }
    EXPECT_NE(portio::serialAccessHint("/nonexistent/tty").find("dialout"), std::string::npos);
}

TEST(SerialRelayList, OneEntryPerPortWithWhatItSaysOfItself)
{
    const struct
    {
        std::string location, name, description, manufacturer, spec, text;
    } cases[] = {
        {"/dev/ttyUSB0", "ttyUSB0", "USB-SERIAL CH340", "QinHeng Electronics", "serial:/dev/ttyUSB0,lcus",
         "Serielle Relaiskarte an /dev/ttyUSB0 (USB-SERIAL CH340, QinHeng Electronics)"},
        {"/dev/ttyUSB1", "ttyUSB1", "FT232R", "FT232R", "serial:/dev/ttyUSB1,lcus", "Serielle Relaiskarte an /dev/ttyUSB1 (FT232R)"},
        {"/dev/ttyS0", "ttyS0", "", "", "serial:/dev/ttyS0,lcus", "Serielle Relaiskarte an /dev/ttyS0"},
        {"\\\\.\\COM3", "COM3", "", "wch.cn", "serial:COM3,lcus", "Serielle Relaiskarte an COM3 (wch.cn)"},
    };
    for (const auto &c : cases) {
        const portio::OutputEntry entry = portio::serialRelayEntry(c.location, c.name, c.description, c.manufacturer);
        EXPECT_EQ(entry.spec, c.spec);
        EXPECT_EQ(entry.description, c.text);
    }
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
