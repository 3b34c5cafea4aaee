#include "mappedregister.h"
#include "portio.h"
#include "recordingport.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace portio;
namespace fs = std::filesystem;

namespace {

std::string readFile(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

fs::path scratchDir()
{
    fs::path dir = fs::temp_directory_path() / ("portio-tests-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    return dir;
}

// Runs body in a child process whose standard error goes to errPath and
// returns the child's exit status. The child starts with no backend bound.
template<typename Body>
int inChild(const fs::path &errPath, Body body)
{
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::freopen(errPath.c_str(), "w", stderr);
        const int status = body();
        std::fflush(nullptr);
        _exit(status);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

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

TEST(MappedRegister, twoOpeningsShareOneByteThatOutlivesThem)
{
    const fs::path dir = scratchDir();
    const std::string name = (dir / "blinkwerk-lpt1").string();
    std::string error;
    {
        auto writer = MappedRegister::openShared(name, error);
        auto reader = MappedRegister::openShared(name, error);
        ASSERT_TRUE(writer && reader) << error;
        EXPECT_EQ(reader->inp32(888), 0) << "a new register starts at 0";
        writer->out32(888, 0xA5);
        EXPECT_EQ(reader->inp32(888), 0xA5);
        writer->out32(889, 0x11); // not the data register: ignored
        EXPECT_EQ(reader->inp32(888), 0xA5);
        EXPECT_EQ(reader->inp32(889), 0);
    }
    struct stat st {};
    ASSERT_EQ(::stat(name.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    {
        auto secondRun = MappedRegister::openShared(name, error);
        ASSERT_TRUE(secondRun) << error;
        EXPECT_EQ(secondRun->read(), 0xA5) << "the byte left by the first run";
    }
    MappedRegister::unlinkShared(name);
    EXPECT_FALSE(fs::exists(name));
    fs::remove_all(dir);
}

TEST(MappedRegister, fileRegisterIsCreatedWithOneZeroByte)
{
    const fs::path path = scratchDir() / "register";
    fs::remove(path);
    std::string error;
    auto reg = MappedRegister::openFile(path.string(), error);
    ASSERT_TRUE(reg) << error;
    EXPECT_EQ(readFile(path), std::string(1, '\0'));
    reg->write(200);
    EXPECT_EQ(readFile(path), std::string(1, char(200)));

    EXPECT_FALSE(MappedRegister::openFile((scratchDir() / "no/such/dir/reg").string(), error));
    EXPECT_NE(error.find("No such file"), std::string::npos) << error;
    EXPECT_FALSE(MappedRegister::openFile(scratchDir().string(), error)) << "a folder is no register";
    fs::remove_all(scratchDir());
}

TEST(PortBinding, bindsAtTheFirstCallAndKeepsThatBackend)
{
    const fs::path dir = scratchDir();
    const fs::path first = dir / "first", second = dir / "second";
    fs::remove(first);
    fs::remove(second);
    const int status = inChild(dir / "err", [&] {
        // The variable is set after the process started: only the first
        // call decides which backend serves.
        ::setenv("BLINKWERK_LPT_REGISTER", first.c_str(), 1);
        LptOut(0x5A);
        ::setenv("BLINKWERK_LPT_REGISTER", second.c_str(), 1);
        LptOut(0x3C);
        return LptIn() == 0x3C ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(readFile(first), std::string(1, char(0x3C)));
    EXPECT_FALSE(fs::exists(second));
    EXPECT_EQ(readFile(dir / "err"), "") << "a usable register file is chosen silently";

    // A second process sees the byte the first one left.
    const int reader = inChild(dir / "err", [&] {
        ::setenv("BLINKWERK_LPT_REGISTER", first.c_str(), 1);
        return LptIn();
    });
    EXPECT_EQ(reader, 0x3C);
    fs::remove_all(dir);
}

TEST(PortBinding, saysOnceWhyItFellBackToTheSimulatedRegister)
{
    const fs::path dir = scratchDir();
    fs::create_directory(dir / "run");
    fs::permissions(dir / "run", fs::perms(0700)); // the user's own runtime folder
    const int status = inChild(dir / "err", [&] {
        ::setenv("BLINKWERK_LPT_REGISTER", (dir / "missing/dir/reg").c_str(), 1);
        ::setenv("XDG_RUNTIME_DIR", (dir / "run").c_str(), 1);
        (void)LptIn();
        (void)LptIn();
        return 0;
    });
    EXPECT_EQ(status, 0);
    const std::string err = readFile(dir / "err");
    EXPECT_NE(err.find("missing/dir/reg"), std::string::npos) << err;
    EXPECT_NE(err.find("simulated register " + (dir / "run/blinkwerk-lpt1").string()), std::string::npos) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    fs::remove_all(dir);
}
