#include "childprocess.h"
#include "environment.h"
#include "outputs.h"
#include "portio.h"
#include "portio_tests.h"
#include "recordingport.h"
#include "registerfile.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

using namespace portio;
namespace fs = std::filesystem;

fs::path scratchDir()
{
    fs::path dir = fs::temp_directory_path() / ("portio-tests-" + testsupport::uniqueSuffix());
    fs::create_directories(dir);
    return dir;
}

std::string readFile(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string utf8(const fs::path &path)
{
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// The session's worker runs an event loop, which wants an application
// object, as every program has one.
void ensureApplication()
{
    static int argc = 1;
    static char name[] = "portio_tests";
    static char *argv[] = {name, nullptr};
    if (!QCoreApplication::instance())
        new QCoreApplication(argc, argv);
}

OutputSession *bindLikeAProgram(OutputRole role)
{
    ensureApplication();
    // As the programs read it: UTF-8 on every platform.
    const std::string file = environmentVariable("BLINKWERK_LPT_REGISTER").value_or("");
    std::string error;
    const std::optional<OutputSpec> spec = !file.empty() ? parseOutputSpec("register:" + file, error) : OutputSpec {};
    // For the rest of the process, as a program's session lives.
    auto *session = new OutputSession(sessionSetup(role));
    session->bind(spec.value_or(OutputSpec {}), file.empty());
    new ScopedPortBackend(session->port());
    return session;
}

std::vector<std::string> saidLines(const std::string &text)
{
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (line.rfind("Output: ", 0) != 0)
            result.push_back(line);
    return result;
}

namespace {

// Bodies of the process-level tests, each run in a fresh child process.

// After the session is closed nothing reaches the register, however the
// port routines are called; the session's last act was the 0.
const testsupport::ChildBody closeForGood("closeForGood", [] {
    ensureApplication();
    auto session = std::make_unique<OutputSession>(sessionSetup(OutputRole::Sequencer));
    std::string error;
    session->bind(*parseOutputSpec("register:" + environmentVariable("BLINKWERK_LPT_REGISTER").value_or(""), error),
                  false);
    ScopedPortBackend route(session->port());
    LptOut(0x5A);
    session->close();
    LptOut(0x3C);
    session->write(0x3D);
    return 0;
});

const testsupport::ChildBody readPort("readPort", [] {
    bindLikeAProgram(OutputRole::Monitor);
    return int(LptIn());
});

const testsupport::ChildBody writeA5("writeA5", [] {
    bindLikeAProgram(OutputRole::Sequencer);
    LptOut(0xA5);
    return 0;
});

// Reads only: the user's simulated register is not disturbed.
const testsupport::ChildBody readTwice("readTwice", [] {
    bindLikeAProgram(OutputRole::Monitor);
    (void)LptIn();
    (void)LptIn();
    return 0;
});

} // namespace

TEST(LptOut, widensTheByteWithHighBitsZero)
{
    RecordingPort port;
    ScopedPortBackend scope(port);
    for (int value : {0, 1, 5, 127, 128, 254, 255})
        LptOut(static_cast<std::uint8_t>(value));
    const std::vector<RecordingPort::Call> expected = {
        {RecordingPort::Call::Out, 888, 0},   {RecordingPort::Call::Out, 888, 1},
        {RecordingPort::Call::Out, 888, 5},   {RecordingPort::Call::Out, 888, 127},
        {RecordingPort::Call::Out, 888, 128}, {RecordingPort::Call::Out, 888, 254},
        {RecordingPort::Call::Out, 888, 255},
    };
    EXPECT_EQ(port.calls(), expected);
}

TEST(LptIn, takesTheLowByteOfWhatInp32Returns)
{
    struct Case { std::int16_t raw; int expected; };
    const Case cases[] = {{0, 0}, {42, 42}, {255, 255}, {256, 0}, {0x1FF, 255}, {-1, 255}, {-256, 0}};
    RecordingPort port;
    ScopedPortBackend scope(port);
    for (const Case &c : cases) {
        port.queueReads({c.raw});
        EXPECT_EQ(LptIn(), c.expected) << "Inp32 returned " << c.raw;
    }
    for (const auto &call : port.calls())
        EXPECT_EQ(call.port, 888);
}

TEST(ScopedPortBackend, nestsAndRestores)
{
    RecordingPort outer, inner;
    ScopedPortBackend a(outer);
    {
        ScopedPortBackend b(inner);
        LptOut(1);
    }
    LptOut(2);
    EXPECT_EQ(inner.writtenBytes(), std::vector<int>{1});
    EXPECT_EQ(outer.writtenBytes(), std::vector<int>{2});
}

TEST(RegisterFile, twoOpeningsShareOneByteThatOutlivesThem)
{
    const fs::path dir = scratchDir() / "shared";
    fs::create_directories(dir);
    const std::string name = utf8(dir / "blinkwerk-lpt1");
    std::string error;
    {
        auto writer = RegisterFile::openShared(name, error);
        auto reader = RegisterFile::openShared(name, error);
        ASSERT_TRUE(writer && reader) << error;
        EXPECT_EQ(reader->inp32(888), 0) << "a new register starts at 0";
        writer->out32(888, 0xA5);
        EXPECT_EQ(reader->inp32(888), 0xA5);
        writer->out32(889, 0x11); // not the data register: ignored
        EXPECT_EQ(reader->inp32(888), 0xA5);
        EXPECT_EQ(reader->inp32(889), 0);
    }
    expectOnlyThisUserMayOpen(name);
    {
        auto secondRun = RegisterFile::openShared(name, error);
        ASSERT_TRUE(secondRun) << error;
        EXPECT_EQ(secondRun->read(), 0xA5) << "the byte left by the first run";
    }
    RegisterFile::unlinkShared(name);
    EXPECT_FALSE(fs::exists(dir / "blinkwerk-lpt1"));
    fs::remove_all(dir);
}

TEST(RegisterFile, fileRegisterIsCreatedWithOneZeroByte)
{
    const fs::path path = scratchDir() / "register";
    fs::remove(path);
    std::string error;
    auto reg = RegisterFile::openFile(path.string(), error);
    ASSERT_TRUE(reg) << error;
    EXPECT_EQ(readFile(path), std::string(1, '\0'));
    reg->write(200);
    EXPECT_EQ(readFile(path), std::string(1, char(200)));
    reg.reset();

    const fs::path missing = scratchDir() / "no" / "such" / "reg";
    EXPECT_FALSE(RegisterFile::openFile(missing.string(), error));
    EXPECT_NE(error.find(missing.string()), std::string::npos) << error;
    EXPECT_NE(error.find(MissingFolderReason), std::string::npos) << error;
    EXPECT_FALSE(RegisterFile::openFile(scratchDir().string(), error)) << "a folder is no register";
    fs::remove_all(scratchDir());
}

TEST(PortBinding, aRegisterFileIsChosenSilentlyAndKeepsItsByte)
{
    const fs::path dir = scratchDir();
    const fs::path first = dir / "first";
    fs::remove(first);
    const auto writer = testsupport::runChild("writeA5", {{"BLINKWERK_LPT_REGISTER", utf8(first)}});
    EXPECT_EQ(writer.status, 0);
    EXPECT_EQ(readFile(first), std::string(1, char(0xA5)));
    EXPECT_TRUE(saidLines(writer.standardError).empty()) << "a usable register file is chosen silently";

    // A second process sees the byte the first one left.
    const auto reader = testsupport::runChild("readPort", {{"BLINKWERK_LPT_REGISTER", utf8(first)}});
    EXPECT_EQ(reader.status, 0xA5);
    fs::remove_all(dir);
}

TEST(PortBinding, aClosedPortIsNeitherBoundAgainNorWritten)
{
    const fs::path dir = scratchDir();
    const fs::path file = dir / "reg";
    const auto child = testsupport::runChild("closeForGood", {{"BLINKWERK_LPT_REGISTER", utf8(file)}});
    EXPECT_EQ(child.status, 0) << child.standardError;
    EXPECT_EQ(readFile(file), std::string(1, '\0')) << "the session's last 0, and nothing after it";
    fs::remove_all(dir);
}

TEST(PortBinding, registerPathsOutsideAsciiNameTheirFile)
{
    const fs::path dir = scratchDir();
    for (const fs::path &name : {fs::path(u8"Relais-\u00e4\u00f6\u00fc\u00df"), fs::path(u8"\u20ac-\u03a9-\u5b57")}) {
        const fs::path file = dir / name;
        fs::remove(file);
        const auto writer = testsupport::runChild("writeA5", {{"BLINKWERK_LPT_REGISTER", utf8(file)}});
        EXPECT_EQ(writer.status, 0) << writer.standardError;
        EXPECT_TRUE(saidLines(writer.standardError).empty()) << writer.standardError;
        EXPECT_EQ(readFile(file), std::string(1, char(0xA5))) << utf8(file);
        std::vector<std::string> names;
        for (const auto &entry : fs::directory_iterator(dir))
            names.push_back(utf8(entry.path().filename()));
        EXPECT_EQ(names, std::vector<std::string>{utf8(name)});
        fs::remove(file);
    }
    fs::remove_all(dir);
}

TEST(PortBinding, saysOnceWhyItFellBackToTheSimulatedRegister)
{
    const fs::path dir = scratchDir();
    const fs::path missing = dir / "missing" / "dir" / "reg";
    const fs::path runtime = privateFolder(dir / "run");
    const auto child = testsupport::runChild(
        "readTwice", {{"BLINKWERK_LPT_REGISTER", utf8(missing)}, {"XDG_RUNTIME_DIR", utf8(runtime)}});
    EXPECT_EQ(child.status, 0);
    const std::string &err = child.standardError;
    EXPECT_NE(err.find(utf8(missing)), std::string::npos) << err;
    EXPECT_NE(err.find("simulated register " + simulatedRegisterWithRuntimeFolder(runtime)), std::string::npos)
        << err;
    EXPECT_EQ(saidLines(err).size(), 1u) << err;
    fs::remove_all(dir);
}

int main(int argc, char **argv)
{
    if (const auto status = testsupport::runAsChildIfAsked(argc, argv))
        return *status;
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
