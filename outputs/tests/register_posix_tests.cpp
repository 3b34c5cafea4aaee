// The register as the programs meet it on POSIX: emptied or starved of space
// under a running program, planted by another user, shared by the programs
// of one user. Each case runs in a child process that binds its output as a
// program does: a bus error must show up as a failed case, not as a dead
// test runner.

#include "outputkind.h"
#include "portio.h"
#include "posixtestsupport.h"
#include "registerfile.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <functional>
#include <thread>
#include <optional>
#include <sched.h>
#include <sstream>
#include <sys/mount.h>
#include <vector>

using namespace testsupport;
using portio::LptIn;
using portio::LptOut;
using portio::OutputRole;
using portio::RegisterFile;

// From portio_tests.cpp: binds as a program does, and what a child said.
namespace portio {
class OutputSession;
}
portio::OutputSession *bindLikeAProgram(portio::OutputRole role);
std::vector<std::string> saidLines(const std::string &text);

namespace {

std::vector<std::string> lines(const std::string &text)
{
    return saidLines(text);
}

// The lines a child wrote about its register, without the one that says why
// the hardware was passed over.
std::vector<std::string> registerLines(const std::string &err)
{
    std::vector<std::string> result;
    for (const std::string &line : lines(err))
        if (line.find("; using ") == std::string::npos)
            result.push_back(line);
    return result;
}

bool hardwarePortPresent()
{
    return fs::exists("/dev/parport0");
}

// Where the simulated register of uid lives when the user has no runtime folder.
std::string sharedFallback(uid_t uid)
{
    const std::string folder = fs::is_directory("/dev/shm") ? "/dev/shm" : "/tmp";
    return folder + "/blinkwerk-lpt1-" + std::to_string(uid);
}

// Makes the child use the register kind under test: the file at path, or the
// simulated register in a private runtime folder (path is then where it lies).
struct RegisterKind
{
    const char *name;
    bool simulated;
    std::string fileIn(const ScratchDir &dir) const
    {
        return (dir / (simulated ? "blinkwerk-lpt1" : "lpt")).string();
    }
    void select(const ScratchDir &dir) const
    {
        if (simulated) {
            ::unsetenv("BLINKWERK_LPT_REGISTER");
            ::setenv("XDG_RUNTIME_DIR", dir.path().c_str(), 1);
        } else {
            ::setenv("BLINKWERK_LPT_REGISTER", fileIn(dir).c_str(), 1);
        }
    }
};

const RegisterKind Kinds[] = {{"register file", false}, {"simulated register", true}};

} // namespace

TEST(RegisterFailure, anEmptiedRegisterNeverStopsTheProgram)
{
    // The file is emptied (truncate -s 0, or a shell's > redirection) while
    // a program runs. A reader then finds no byte: 0 and one line; the next
    // write puts the byte back, and the first read that finds it says so.
    // A writer does not even notice: its write extends the file again.
    struct Case
    {
        const char *scenario;
        bool reads;
    };
    const Case cases[] = {{"a monitor reads", true}, {"a sequencer writes", false}};
    for (const RegisterKind &kind : Kinds) {
        if (kind.simulated && hardwarePortPresent()) {
            std::cout << "[ SKIPPED  ] simulated register: this machine has a parallel port\n";
            continue;
        }
        for (const Case &c : cases) {
            SCOPED_TRACE(std::string(kind.name) + ", " + c.scenario);
            ScratchDir dir("emptied");
            const std::string path = kind.fileIn(dir);
            const ChildResult child = inChild([&] {
                kind.select(dir);
                bindLikeAProgram(OutputRole::Sequencer);
                LptOut(0x5A);
                if (::truncate(path.c_str(), 0) != 0)
                    return 10;
                if (c.reads) {
                    if (LptIn() != 0 || LptIn() != 0)
                        return 11;
                    LptOut(0x3C);
                    return LptIn() == 0x3C ? 0 : 12;
                }
                LptOut(0x3C);
                // The other way to empty it: what a shell's > does.
                ::close(::open(path.c_str(), O_WRONLY | O_TRUNC));
                LptOut(0x3D);
                return 0;
            });
            EXPECT_EQ(child.signal, 0) << child;
            EXPECT_EQ(child.exitCode, 0) << child;
            EXPECT_EQ(readFile(path), std::string(1, char(c.reads ? 0x3C : 0x3D)));
            const std::vector<std::string> said = registerLines(child.err);
            if (c.reads) {
                ASSERT_EQ(said.size(), 2u) << child;
                EXPECT_NE(said[0].find(path + " holds no byte"), std::string::npos) << said[0];
                EXPECT_NE(said[1].find(path + " works again"), std::string::npos) << said[1];
            } else {
                EXPECT_TRUE(said.empty()) << child;
            }
        }
    }
}

TEST(RegisterFailure, aFullFileSystemNeverStopsTheProgram)
{
    ScratchDir dir("full");
    const std::string path = (dir / "lpt").string();
    const ChildResult child = inChild([&] {
        // A file system of one page, private to this child, filled up.
        if (::unshare(CLONE_NEWNS) != 0 || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
            || ::mount("tmpfs", dir.path().c_str(), "tmpfs", 0, "size=4k") != 0)
            return 77;
        const std::string fill = (dir / "fill").string();
        const int fd = ::open(fill.c_str(), O_WRONLY | O_CREAT, 0600);
        const std::string block(4096, 'x');
        while (::write(fd, block.data(), block.size()) > 0) {
        }
        ::close(fd);
        ::setenv("BLINKWERK_LPT_REGISTER", path.c_str(), 1);
        bindLikeAProgram(OutputRole::Sequencer);
        LptOut(0x11);
        LptOut(0x22); // kept
        if (LptIn() != 0)
            return 10;
        ::unlink(fill.c_str()); // space again
        // No further access: the session's service alone writes the kept byte.
        const auto freed = std::chrono::steady_clock::now();
        while (readFile(path) != "\x22" && std::chrono::steady_clock::now() - freed < std::chrono::seconds(10))
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (readFile(path) != "\x22")
            return 12;
        LptOut(0x33);
        if (LptIn() != 0x33)
            return 11;
        return 0;
    });
    if (child.exitCode == 77)
        GTEST_SKIP() << "cannot mount a small file system here (needs root with CAP_SYS_ADMIN)";
    EXPECT_EQ(child.signal, 0) << child;
    EXPECT_EQ(child.exitCode, 0) << child;
    const std::vector<std::string> said = lines(child.err);
    ASSERT_EQ(said.size(), 2u) << child;
    EXPECT_NE(said[0].find(path), std::string::npos) << said[0];
    EXPECT_NE(said[0].find("No space left on device"), std::string::npos) << said[0];
    EXPECT_NE(said[1].find(path + " works again"), std::string::npos) << said[1];
}

TEST(RegisterFile, aFilePlantedByAnotherUserIsNeverAdopted)
{
    SKIP_UNLESS_ROOT();
    // BLINKWERK_LPT_REGISTER names a file in a folder everybody may write
    // into, and another user was there first.
    ScratchDir shared("planted-file", fs::perms(01777));
    ScratchDir own("planted-file-own");
    const fs::path mine = own / "notes", path = shared / "lpt";
    struct Case
    {
        const char *name;
        std::string expected; // part of the reason
        std::function<int()> plant; // run as the other user
    };
    const Case cases[] = {
        {"a symbolic link to a file of this user", "a symbolic link is not followed",
         [&] { return ::symlink(mine.c_str(), path.c_str()); }},
        {"a file of the other user, mode 0666", "belongs to user 65534", [&] {
             ::umask(0);
             const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL, 0666);
             return fd >= 0 && ::write(fd, "\x11", 1) == 1 ? 0 : 1;
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        writeFile(mine, "\x11");
        const ChildResult planter = inChild([&] { return becomeUser(OtherUser) ? c.plant() : 10; });
        ASSERT_EQ(planter.exitCode, 0) << planter;
        const ChildResult program = inChild([&] {
            ::setenv("BLINKWERK_LPT_REGISTER", path.c_str(), 1);
            ::setenv("XDG_RUNTIME_DIR", own.path().c_str(), 1);
            bindLikeAProgram(OutputRole::Sequencer);
            LptOut(0x5A);
            return LptIn() == 0x5A ? 0 : 1;
        });
        EXPECT_EQ(program.exitCode, 0) << program;
        EXPECT_EQ(readFile(mine), "\x11") << "written through the link";
        EXPECT_EQ(readFile(path), "\x11") << "the other user's file is neither written nor kept in use";
        EXPECT_EQ(readFile(own / "blinkwerk-lpt1"), "\x5A") << "the user's own register serves instead";
        const std::vector<std::string> said = lines(program.err);
        ASSERT_EQ(said.size(), 1u) << program;
        EXPECT_NE(said[0].find(path.string() + ": "), std::string::npos) << said[0];
        EXPECT_NE(said[0].find(c.expected), std::string::npos) << said[0];
        EXPECT_NE(said[0].find("using the simulated register"), std::string::npos) << said[0];
        fs::remove(path);
        fs::remove(own / "blinkwerk-lpt1");
    }
}

TEST(SimulatedRegister, livesInTheUsersOwnRuntimeFolderOnly)
{
    const std::string fallback = sharedFallback(::geteuid());
    ScratchDir own("xdg-own");
    ScratchDir open("xdg-open", fs::perms(0777));
    ScratchDir foreign("xdg-foreign");
    const bool root = ::geteuid() == 0;
    if (root) {
        EXPECT_EQ(::chown(foreign.path().c_str(), OtherUser, OtherUser), 0);
    }
    struct Case
    {
        std::optional<std::string> xdg; // none: unset
        std::string expected;
        bool onlyAsRoot;
    };
    const std::string ownPath = own.path().string(), openPath = open.path().string(),
                      foreignPath = foreign.path().string();
    const Case cases[] = {
        {std::nullopt, fallback, false},
        {ownPath, ownPath + "/blinkwerk-lpt1", false},
        {openPath, fallback, false},          // others may write into it
        {"relative/run", fallback, false},    // not an absolute path
        {ownPath + "/missing", fallback, false},
        {foreignPath, fallback, true},        // another user's, kept across su
    };
    const char *saved = std::getenv("XDG_RUNTIME_DIR");
    const std::string savedValue = saved ? saved : "";
    for (const Case &c : cases) {
        if (c.onlyAsRoot && !root)
            continue;
        if (c.xdg)
            ::setenv("XDG_RUNTIME_DIR", c.xdg->c_str(), 1);
        else
            ::unsetenv("XDG_RUNTIME_DIR");
        EXPECT_EQ(RegisterFile::defaultSharedName(), c.expected)
            << "XDG_RUNTIME_DIR=" << c.xdg.value_or("(unset)");
    }
    if (saved)
        ::setenv("XDG_RUNTIME_DIR", savedValue.c_str(), 1);
    else
        ::unsetenv("XDG_RUNTIME_DIR");
}

TEST(SimulatedRegister, refusesWhatAnotherUserMayHold)
{
    // A shared folder like /dev/shm, where anybody may plant a file under
    // the register's name before its owner's first run.
    ScratchDir shared("planted", fs::perms(01777));
    struct Case
    {
        const char *name;
        std::string expected; // part of the reason
        bool onlyAsRoot;
        std::function<void(const fs::path &)> plant;
    };
    auto ownFile = [](mode_t mode) {
        return [mode](const fs::path &p) {
            writeFile(p, "\x11");
            ::chmod(p.c_str(), mode);
        };
    };
    const Case cases[] = {
        {"another user's, mode 0666", "belongs to user 65534", true,
         [](const fs::path &p) { ASSERT_EQ(plantAsOtherUser(p, "\x11").exitCode, 0); }},
        {"own, mode 0666", "others may write it (mode 0666)", false, ownFile(0666)},
        {"own, mode 0620", "others may write it (mode 0620)", false, ownFile(0620)},
        {"own, a second hard link", "2 hard links", false,
         [&](const fs::path &p) {
             ownFile(0600)(p);
             fs::create_hard_link(p, shared / "second-name");
         }},
        {"a symbolic link to an own file", "symbolic link", false,
         [&](const fs::path &p) {
             ownFile(0600)(shared / "target");
             fs::create_symlink(shared / "target", p);
         }},
        {"a FIFO", "not a regular file", false, [](const fs::path &p) { ::mkfifo(p.c_str(), 0600); }},
    };
    const bool root = ::geteuid() == 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.onlyAsRoot && !root) {
            std::cout << "[ SKIPPED  ] " << c.name << ": needs root to act as a second user\n";
            continue;
        }
        const fs::path path = shared / "blinkwerk-lpt1-test";
        c.plant(path);
        std::string error;
        EXPECT_FALSE(RegisterFile::openShared(path.string(), error));
        EXPECT_NE(error.find(path.string()), std::string::npos) << error;
        EXPECT_NE(error.find(c.expected), std::string::npos) << error;
        if (fs::is_regular_file(path)) {
            EXPECT_EQ(readFile(path), "\x11") << "a refused register is left as it was";
        }
        for (const auto &entry : fs::directory_iterator(shared.path()))
            fs::remove(entry.path());
    }

    // What its owner created, it opens again; a fresh one is private to it.
    const fs::path path = shared / "blinkwerk-lpt1-test";
    std::string error;
    {
        auto fresh = RegisterFile::openShared(path.string(), error);
        ASSERT_TRUE(fresh) << error;
        EXPECT_EQ(fs::status(path).permissions(), fs::perms(0600));
        EXPECT_EQ(readFile(path), std::string(1, '\0'));
        fresh->write(0x77);
    }
    auto again = RegisterFile::openShared(path.string(), error);
    ASSERT_TRUE(again) << error;
    EXPECT_EQ(again->read(), 0x77);
}

TEST(SimulatedRegister, aRegisterPlantedByAnotherUserIsNeverAdopted)
{
    SKIP_UNLESS_ROOT();
    if (hardwarePortPresent())
        GTEST_SKIP() << "this machine has a parallel port: the simulated register is not chosen";
    // A user of its own for this run, so that no real user's register is touched.
    const uid_t victim = 200000 + uid_t(::getpid() % 100000);
    const std::string path = sharedFallback(victim);
    ::unlink(path.c_str());
    const ChildResult planter = plantAsOtherUser(path, "\x11");
    ASSERT_EQ(planter.exitCode, 0) << planter;

    const ChildResult program = inChild([&] {
        if (!becomeUser(victim))
            return 1;
        ::unsetenv("BLINKWERK_LPT_REGISTER");
        ::unsetenv("XDG_RUNTIME_DIR");
        bindLikeAProgram(OutputRole::Sequencer);
        LptOut(0x5A);
        return LptIn() == 0x5A ? 0 : 2;
    });
    EXPECT_EQ(program.exitCode, 0) << program;
    EXPECT_EQ(readFile(path), "\x11") << "the other user's file is neither written nor kept in use";
    const std::vector<std::string> said = lines(program.err);
    ASSERT_EQ(said.size(), 1u) << program;
    EXPECT_NE(said[0].find(path + ": belongs to user 65534"), std::string::npos) << said[0];
    EXPECT_NE(said[0].find("a register private to this program"), std::string::npos) << said[0];
    ::unlink(path.c_str());
}

TEST(SimulatedRegister, theProgramsOfOneUserShareItsByte)
{
    if (hardwarePortPresent())
        GTEST_SKIP() << "this machine has a parallel port: the simulated register is not chosen";
    ScratchDir runtime("shared-byte");
    auto program = [&](auto body) {
        return inChild([&] {
            ::unsetenv("BLINKWERK_LPT_REGISTER");
            ::setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
            return body();
        });
    };
    const ChildResult writer = program([] {
        bindLikeAProgram(OutputRole::Sequencer);
        LptOut(0x42);
        return 0;
    });
    const ChildResult reader = program([] {
        bindLikeAProgram(OutputRole::Monitor);
        return int(LptIn());
    });
    EXPECT_EQ(writer.exitCode, 0) << writer;
    EXPECT_EQ(reader.exitCode, 0x42) << reader << "\nthe byte the other program left";
    EXPECT_EQ(fs::status(runtime / "blinkwerk-lpt1").permissions(), fs::perms(0600));
}
