// The outputs as the programs use them: how outputs are named, which device
// an output is, and the output session: one lock per device actually bound,
// the mirror of a write-only output, a switch at run time.

#include "outputs.h"
#include "portlock.h"
#include "posixtestsupport.h"
#include "serialboard.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <fstream>
#include <future>
#include <thread>

using namespace portio;
using testsupport::ScratchDir;
namespace fs = std::filesystem;

namespace {

int byteOf(const fs::path &file)
{
    std::ifstream in(file, std::ios::binary);
    const int c = in.get();
    return in ? c : -1;
}

OutputSpec spec(const std::string &text)
{
    std::string error;
    const auto parsed = parseOutputSpec(text, error);
    EXPECT_TRUE(parsed) << text << ": " << error;
    return parsed.value_or(OutputSpec {});
}

std::optional<std::string> deviceOf(const std::string &text)
{
    const OutputSpec s = spec(text);
    std::string why;
    return outputKinds().find(s.kind)->identify(s, why);
}

OutputSelection selectNow(OutputSession &session, const OutputSpec &next)
{
    std::promise<OutputSelection> done;
    session.select(next, [&done](const OutputSelection &selection) { done.set_value(selection); });
    return done.get_future().get();
}

// The user's runtime folder of this test, where the simulated register and
// the mirrors live.
class Runtime
{
public:
    Runtime()
        : m_dir("outputs-run")
    {
        ::setenv("XDG_RUNTIME_DIR", m_dir.path().c_str(), 1);
    }
    ~Runtime() { ::unsetenv("XDG_RUNTIME_DIR"); }
    fs::path operator/(const std::string &name) const { return m_dir / name; }

private:
    ScratchDir m_dir;
};

} // namespace

TEST(OutputDevice, oneDeviceHoweverItIsNamed)
{
    ScratchDir dir("device");
    fs::create_directory(dir / "sub");
    testsupport::writeFile(dir / "reg", std::string(1, '\0'));
    testsupport::writeFile(dir / "other", std::string(1, '\0'));
    const std::string reg = (dir / "reg").string();
    struct Case
    {
        std::string one, other;
        bool same;
    };
    const Case cases[] = {
        {"sacn:1", "sacn:1/9", true}, // the slots do not make another universe
        {"sacn:1", "SACN:1/505", true},
        {"sacn:1", "sacn:2", false},
        {"sacn:1", "artnet:1", false},
        {"sacn:1@127.0.0.1", "sacn:1@localhost", true}, // one destination
        {"sacn:1@127.0.0.1", "sacn:1", false},
        {"artnet:0", "artnet:0/5", true},
        {"register:" + reg, "register:" + (dir / "sub" / ".." / "reg").string(), true},
        {"register:" + reg, "register:" + (dir / "other").string(), false},
        {"gpio:/dev/null:1,2", "gpio:/dev/null:2,1", true},
        {"gpio:/dev/null:1,2", "gpio:/dev/null:1,3", false},
        {"serial:/dev/null", "serial:/dev/../dev/null,icse", true},
    };
    for (const Case &c : cases) {
        const auto one = deviceOf(c.one), other = deviceOf(c.other);
        ASSERT_TRUE(one && other) << c.one << " / " << c.other;
        EXPECT_EQ(*one == *other, c.same) << c.one << " is " << *one << ", " << c.other << " is " << *other;
    }
}

TEST(OutputSession, oneSequencerPerDeviceActuallyBound)
{
    Runtime runtime;
    ScratchDir dir("session-lock");
    const std::string reg = (dir / "reg").string();
    const OutputSpec simulated = simulatedRegister();
    struct Case
    {
        const char *name;
        std::string first, second; // the second is refused while the first is bound
        bool firstAutomatic = false;
    };
    const Case cases[] = {
        {"one universe under two SPECs", "sacn:5", "sacn:5/9"},
        {"one file under two names", "register:" + reg, "register:" + (dir / "." / "reg").string()},
        // The lock follows what serves, not what was asked for.
        {"a fallback takes the fallback's lock", "register:" + (dir / "no" / "such").string(),
         "register:" + simulated.path},
        {"lpt1 falling back takes the simulated register's lock", "lpt1", "register:" + simulated.path, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        OutputSession first(sessionSetup(OutputRole::Sequencer));
        const OutputSelection bound = first.bind(spec(c.first), c.firstAutomatic);
        ASSERT_NE(bound.outcome, OutputSelection::Refused);
        {
            OutputSession second(sessionSetup(OutputRole::Sequencer));
            const OutputSelection refused = second.bind(spec(c.second), false);
            EXPECT_EQ(refused.outcome, OutputSelection::Refused);
            EXPECT_FALSE(refused.busy.empty());
        }
        first.close();
        OutputSession next(sessionSetup(OutputRole::Sequencer));
        EXPECT_NE(next.bind(spec(c.second), false).outcome, OutputSelection::Refused) << "free once the first let go";
    }
}

TEST(OutputSession, theLockDoesNotDependOnTheEnvironment)
{
    ScratchDir dir("session-env");
    ScratchDir runtime("session-env-run");
    const OutputSpec reg = spec("register:" + (dir / "reg").string());
    ::setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    OutputSession first(sessionSetup(OutputRole::Sequencer));
    ASSERT_EQ(first.bind(reg, false).outcome, OutputSelection::Opened);
    ::unsetenv("XDG_RUNTIME_DIR");
    OutputSession second(sessionSetup(OutputRole::Sequencer));
    EXPECT_EQ(second.bind(reg, false).outcome, OutputSelection::Refused);
}

TEST(OutputSession, aFileOfTheUsersIsNeverTakenForARegister)
{
    Runtime runtime;
    ScratchDir dir("session-userfile");
    const std::string thesis(17000, 'T');
    struct Case
    {
        const char *name;
        std::string content;
        OutputSelection::Outcome outcome;
    };
    const Case cases[] = {
        {"a document", thesis, OutputSelection::FellBack},
        {"two bytes", "ab", OutputSelection::FellBack},
        {"one byte", "\x05", OutputSelection::Opened},
        {"an empty file", "", OutputSelection::Opened},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path file = dir / "file";
        testsupport::writeFile(file, c.content);
        OutputSession session(sessionSetup(OutputRole::Sequencer));
        const OutputSelection bound = session.bind(spec("register:" + file.string()), false);
        EXPECT_EQ(bound.outcome, c.outcome) << bound.why;
        session.write(0x42);
        session.close();
        if (c.outcome == OutputSelection::FellBack) {
            EXPECT_EQ(testsupport::readFile(file), c.content) << "left as it was";
            EXPECT_NE(bound.why.find("bytes"), std::string::npos) << bound.why;
        } else {
            EXPECT_EQ(testsupport::readFile(file), std::string(1, '\0')) << "the register's last 0";
        }
    }
}

TEST(OutputSession, lpt1FallingBackIsAFailureOnlyWhenSomeoneChoseIt)
{
    if (fs::exists("/dev/parport0"))
        GTEST_SKIP() << "this machine has a parallel port";
    Runtime runtime;
    for (const bool automatic : {false, true}) {
        OutputSession session(sessionSetup(OutputRole::Sequencer));
        const OutputSelection bound = session.bind(spec("lpt1"), automatic);
        EXPECT_EQ(bound.outcome, automatic ? OutputSelection::Opened : OutputSelection::FellBack) << automatic;
        EXPECT_EQ(session.specInUse(), formatOutputSpec(simulatedRegister()));
        EXPECT_EQ(session.description().rfind("LPT1 (simuliertes Register ", 0), 0u) << session.description();
    }
}

TEST(OutputSession, aSwitchMovesTheLockAndTheOldOutputGetsZero)
{
    Runtime runtime;
    ScratchDir dir("session-switch");
    const fs::path a = dir / "a", b = dir / "b";
    const OutputSpec specA = spec("register:" + a.string()), specB = spec("register:" + b.string());
    OutputSession session(sessionSetup(OutputRole::Sequencer));
    ASSERT_EQ(session.bind(specA, false).outcome, OutputSelection::Opened);
    session.write(0x11);
    {
        OutputSession other(sessionSetup(OutputRole::Sequencer)); // another blinkwerk on b
        ASSERT_EQ(other.bind(specB, false).outcome, OutputSelection::Opened);
        EXPECT_EQ(selectNow(session, specB).outcome, OutputSelection::Refused);
        EXPECT_EQ(session.specInUse(), formatOutputSpec(specA)) << "the old output stays";
        EXPECT_EQ(byteOf(a), 0x11) << "and keeps its byte";
    }
    EXPECT_EQ(selectNow(session, specB).outcome, OutputSelection::Opened);
    EXPECT_EQ(byteOf(a), 0) << "the old output is switched off";
    EXPECT_EQ(byteOf(b), 0) << "the new one starts dark";
    session.write(0x22);
    EXPECT_EQ(byteOf(b), 0x22);
    EXPECT_EQ(PortLock(*deviceOf("register:" + a.string())).state(), PortLock::State::Held) << "a is free again";
    EXPECT_EQ(PortLock(*deviceOf("register:" + b.string())).state(), PortLock::State::Busy) << "b is held";
    EXPECT_EQ(selectNow(session, specB).outcome, OutputSelection::Opened) << "the output held already";

    const OutputSelection failed = selectNow(session, spec("register:" + (dir / "no" / "such").string()));
    EXPECT_EQ(failed.outcome, OutputSelection::FellBack);
    EXPECT_NE(failed.why.find((dir / "no" / "such").string()), std::string::npos) << failed.why;
    EXPECT_EQ(session.specInUse(), formatOutputSpec(simulatedRegister()));
    EXPECT_EQ(byteOf(b), 0);
}

TEST(OutputSession, aWriteOnlyDeviceHasAMirrorOfItsOwn)
{
    Runtime runtime;
    ScratchDir dir("session-mirror");
    testsupport::SerialBoard board(testsupport::SerialBoard::Kind::Icse);
    std::string error;
    ASSERT_TRUE(board.plugIn((dir / "ttyRELAY").string(), error)) << error;
    const OutputSpec serial = spec("serial:" + (dir / "ttyRELAY").string() + ",icse");
    OutputSession sequencer(sessionSetup(OutputRole::Sequencer));
    ASSERT_EQ(sequencer.bind(serial, false).outcome, OutputSelection::Opened);
    OutputSession monitor(sessionSetup(OutputRole::Monitor));
    ASSERT_EQ(monitor.bind(serial, false).outcome, OutputSelection::Opened);
    EXPECT_EQ(monitor.status(), "zeigt, was Blinkwerk zuletzt gesendet hat");
    for (const std::uint8_t byte : {0x5A, 0xFF, 0x81}) {
        sequencer.write(byte);
        const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while ((board.relays() != byte || monitor.read().byte != byte) && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        EXPECT_EQ(board.relays(), byte);
        EXPECT_EQ(monitor.read().byte, byte) << "the monitor reads what was sent";
    }
    EXPECT_EQ(byteOf(runtime / "blinkwerk-lpt1"), -1) << "the simulated register is left out of it";
    sequencer.close();
    EXPECT_EQ(board.relays(), 0);
}

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
