// The output a user names, and what the port layer makes of it: how
// outputs are named, the mirror of write-only outputs, switching outputs at run time.

#include "childprocess.h"
#include "registerfile.h"
#include "outputs.h"
#include "outputname.h"
#include "portio.h"
#include "lockkey.h"
#include "portlock.h"
#include "recordingport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>

using namespace portio;
namespace fs = std::filesystem;

namespace {

fs::path scratch()
{
    fs::path dir = fs::temp_directory_path() / ("portio-outputs-" + testsupport::uniqueSuffix());
    fs::create_directories(dir);
    return dir;
}

std::string utf8(const fs::path &path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

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
    return parsed.value_or(OutputSpec{});
}

std::string env(const char *name)
{
    const char *value = std::getenv(name);
    return value ? value : "";
}

// In a fresh process: register A configured, a byte, a switch to B, a byte,
// a switch to an output that cannot be opened.
const testsupport::ChildBody switchOutputs("switchOutputs", [] {
    configureOutput(spec("register:" + env("TEST_REGISTER_A")), OutputRole::Sequencer);
    LptOut(0x11);
    if (selectOutput(spec("register:" + env("TEST_REGISTER_B"))).outcome != OutputSelection::Opened)
        return 10;
    if (outputSpecInUse() != "register:" + env("TEST_REGISTER_B"))
        return 11;
    LptOut(0x22);
    if (LptIn() != 0x22)
        return 14;
    const OutputSelection failed = selectOutput(spec("register:" + env("TEST_REGISTER_MISSING")));
    if (failed.outcome != OutputSelection::FellBack || failed.why.find(env("TEST_REGISTER_MISSING")) == std::string::npos)
        return 12;
    return outputSpecInUse().rfind("register:", 0) == 0 ? 0 : 13;
});

} // namespace

TEST(OutputSpec, parsesAndFormatsEveryKindAndRefusesEveryFault)
{
    struct Case
    {
        const char *text;
        const char *canonical; // null: refused
        const char *error;     // part of the reason when refused
    };
    const Case cases[] = {
        {"lpt1", "lpt1", nullptr},
        {"LPT1", "lpt1", nullptr},
        {"register:/tmp/a b:c", "register:/tmp/a b:c", nullptr},
        {"hidrelay", "hidrelay", nullptr},
        {"HidRelay:ABCDE", "hidrelay:ABCDE", nullptr},
        {"serial:/dev/ttyUSB0", "serial:/dev/ttyUSB0,lcus", nullptr},
        {"serial:COM3,ICSE", "serial:COM3,icse", nullptr},
        {"gpio:gpiochip0:17,27,22", "gpio:gpiochip0:17,27,22", nullptr},
        {"gpio:/dev/gpiochip1:0,1,2,3,4,5,6,7,Active-Low", "gpio:/dev/gpiochip1:0,1,2,3,4,5,6,7,active-low", nullptr},
        {"sacn:1", "sacn:1", nullptr},
        {"sacn:7/1", "sacn:7", nullptr},
        {"sacn:63999/505@node.local", "sacn:63999/505@node.local", nullptr},
        {"artnet:0", "artnet:0", nullptr},
        {"ARTNET:32767/2@127.0.0.1", "artnet:32767/2@127.0.0.1", nullptr},

        {"", nullptr, "unknown output"},
        {"lpt2", nullptr, "unknown output \"lpt2\""},
        {"lpt1:x", nullptr, "lpt1 takes no arguments"},
        {"register", nullptr, "register needs a file"},
        {"register:", nullptr, "register needs a file"},
        {"hidrelay:", nullptr, "1 to 16 printable"},
        {"hidrelay:12345678901234567", nullptr, "1 to 16 printable"},
        {"hidrelay:AB CD", nullptr, "1 to 16 printable"},
        {"serial", nullptr, "serial needs a port"},
        {"serial:,lcus", nullptr, "serial needs a port"},
        {"serial:a,lcus,icse", nullptr, "serial needs a port"},
        {"serial:a,modbus", nullptr, "unknown serial protocol \"modbus\""},
        {"gpio:17", nullptr, "gpio needs a chip"},
        {"gpio::17", nullptr, "gpio needs a chip"},
        {"gpio:c:active-low", nullptr, "one to eight"},
        {"gpio:c:0,1,2,3,4,5,6,7,8", nullptr, "one to eight"},
        {"gpio:c:", nullptr, "\"\" is no number"},
        {"gpio:c:1,x", nullptr, "\"x\" is no number"},
        {"gpio:c:65536", nullptr, "is no number from 0 to 65535"},
        {"gpio:c:-1", nullptr, "is no number"},
        {"gpio:c:4,4", nullptr, "line 4 is named twice"},
        {"sacn:", nullptr, "universe must be a number from 1 to 63999"},
        {"sacn:0", nullptr, "universe must be a number from 1 to 63999"},
        {"sacn:64000", nullptr, "universe must be a number from 1 to 63999"},
        {"sacn:+1", nullptr, "universe must be"},
        {"sacn:1x", nullptr, "universe must be"},
        {"artnet:32768", nullptr, "universe must be a number from 0 to 32767"},
        {"sacn:1/0", nullptr, "first slot must be a number from 1 to 505"},
        {"sacn:1/506", nullptr, "first slot"},
        {"artnet:1/2/3", nullptr, "first slot"},
        {"sacn:1@", nullptr, "host after @"},
        {"artnet:1@a b", nullptr, "host after @"},
        {"register:/tmp/a\nb", nullptr, "the path in register: holds a control character"},
        {"Register:/tmp/\x7f", nullptr, "the path in register: holds a control character"},
        {"serial:/dev/tty\x1b[2J", nullptr, "the path in serial: holds a control character"},
        {"gpio:chip\xc2\x85:1", nullptr, "the path in gpio: holds a control character"},
        {"register:/tmp/J\xc3\xbcrgen", "register:/tmp/J\xc3\xbcrgen", nullptr},
    };
    for (const Case &c : cases) {
        std::string error;
        const std::optional<OutputSpec> parsed = parseOutputSpec(c.text, error);
        if (!c.canonical) {
            EXPECT_FALSE(parsed) << c.text;
            EXPECT_NE(error.find(c.error), std::string::npos) << c.text << " said: " << error;
            continue;
        }
        ASSERT_TRUE(parsed) << c.text << ": " << error;
        EXPECT_EQ(formatOutputSpec(*parsed), c.canonical) << c.text;
        const std::optional<OutputSpec> again = parseOutputSpec(formatOutputSpec(*parsed), error);
        EXPECT_TRUE(again && *again == *parsed) << c.text << " does not survive its own text";
    }
}

TEST(OutputLock, otherOutputsAreLockedByTheirCanonicalSpec)
{
    EXPECT_EQ(portLockKey(spec("LPT1")), "lpt1");
    EXPECT_EQ(portLockKey(spec("register:relative-name")).rfind("file:", 0), 0u);
    EXPECT_EQ(portLockKey(spec("serial:/dev/ttyUSB0")), "output:serial:/dev/ttyUSB0,lcus");
    EXPECT_EQ(portLockKey(spec("SACN:1/1")), "output:sacn:1");
    EXPECT_NE(portLockTag("output:sacn:1"), portLockTag("output:sacn:2"));
    EXPECT_EQ(portLockTag("output:sacn:1").rfind("output-", 0), 0u);
}

TEST(Mirror, theSequencerWritesBothAndTheMonitorReadsWhatWasSent)
{
    const fs::path dir = scratch();
    const std::string name = utf8(dir / "mirror");
    std::string why;
    auto owned = std::make_unique<RecordingPort>();
    RecordingPort &device = *owned;
    auto sequencer = mirroredOutput(std::move(owned), OutputRole::Sequencer, "serial:x,lcus", name, why);
    ASSERT_TRUE(sequencer) << why;
    auto monitor = mirroredOutput(nullptr, OutputRole::Monitor, "serial:x,lcus", name, why);
    ASSERT_TRUE(monitor) << why;
    for (const int byte : {0x5A, 0xFF, 0x00, 0x81}) {
        sequencer->out32(Lpt1DataPort, std::int16_t(byte));
        EXPECT_EQ(device.writtenBytes().back(), byte);
        EXPECT_EQ(monitor->inp32(Lpt1DataPort), byte);
        EXPECT_EQ(byteOf(name), byte);
    }
    EXPECT_EQ(sequencer->inp32(Lpt1DataPort), 0x81) << "the device answers for itself";
    monitor->out32(Lpt1DataPort, 0x42);
    EXPECT_EQ(byteOf(name), 0x81) << "the monitor never writes";
    EXPECT_EQ(monitor->status(), "zeigt, was Blinkwerk zuletzt gesendet hat");

    EXPECT_FALSE(mirroredOutput(nullptr, OutputRole::Monitor, "gpio:c:1", utf8(dir / "no" / "such"), why));
    EXPECT_NE(why.find("cannot be read back"), std::string::npos) << why;
    sequencer.reset();
    monitor.reset();
    fs::remove_all(dir);
}

TEST(OutputSwitch, theOldOutputGetsZeroAndTheNewOneTheNextByte)
{
    const fs::path dir = scratch();
    const fs::path a = dir / "a", b = dir / "b", missing = dir / "no" / "such" / "c", runtime = dir / "run";
    // The fallback's simulated register is one of this test (POSIX).
    fs::create_directory(runtime);
    fs::permissions(runtime, fs::perms::owner_all, fs::perm_options::replace);
    const auto child = testsupport::runChild("switchOutputs", {{"TEST_REGISTER_A", utf8(a)},
                                                               {"TEST_REGISTER_B", utf8(b)},
                                                               {"TEST_REGISTER_MISSING", utf8(missing)},
                                                               {"XDG_RUNTIME_DIR", utf8(runtime)}});
    EXPECT_EQ(child.status, 0) << child.standardError;
    EXPECT_EQ(byteOf(a), 0) << "the old output was switched off";
    EXPECT_EQ(byteOf(b), 0) << "the output left for one that failed was switched off";
    std::string err = child.standardError;
    err.erase(std::remove(err.begin(), err.end(), '\r'), err.end());
    EXPECT_NE(err.find("Output: register:" + utf8(a) + "\n"), std::string::npos) << err;
    EXPECT_NE(err.find("Output: register:" + utf8(b) + "\n"), std::string::npos) << err;
    EXPECT_NE(err.find(utf8(missing)), std::string::npos) << err;
    EXPECT_NE(err.find("Output: the simulated register"), std::string::npos) << err;
    fs::remove_all(dir);
}

int main(int argc, char **argv)
{
    if (const auto status = testsupport::runAsChildIfAsked(argc, argv))
        return *status;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
