// The one-sequencer lock: which port it names, and that a second holder of
// the same port is told so while other ports stay free.

#include "lockkey.h"
#include "portlock.h"
#include "posixtestsupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <optional>

using namespace testsupport;
using portio::PortLock;
using State = portio::PortLock::State;

namespace {

// Sets an environment variable for the life of the object.
class ScopedEnv
{
public:
    ScopedEnv(const char *name, std::optional<std::string> value)
        : m_name(name)
    {
        if (const char *old = std::getenv(name))
            m_old = old;
        set(value);
    }
    ~ScopedEnv() { set(m_old); }

private:
    void set(const std::optional<std::string> &value)
    {
        if (value)
            ::setenv(m_name, value->c_str(), 1);
        else
            ::unsetenv(m_name);
    }
    const char *m_name;
    std::optional<std::string> m_old;
};

} // namespace

TEST(PortLockKey, namesTheRegisterFileItselfHoweverItIsNamed)
{
    ScratchDir dir("lockkey");
    const fs::path runtime = dir / "run";
    fs::create_directories(dir / "sub");
    fs::create_directories(runtime);
    fs::permissions(runtime, fs::perms(0700));
    ScopedEnv xdg("XDG_RUNTIME_DIR", runtime.string());
    writeFile(dir / "reg", std::string(1, '\0'));
    writeFile(dir / "other", std::string(1, '\0'));
    writeFile(dir / "linked", std::string(1, '\0'));
    writeFile(runtime / "blinkwerk-lpt1", std::string(1, '\0')); // the simulated register
    fs::create_hard_link(dir / "linked", dir / "second-name");
    fs::create_symlink(dir / "other", dir / "alias");
    auto keyFor = [](std::optional<std::string> variable) {
        ScopedEnv env("BLINKWERK_LPT_REGISTER", variable);
        return portio::portLockKey();
    };
    const std::string reg = keyFor((dir / "reg").string());
    EXPECT_NE(reg, "lpt1");
    struct Case
    {
        std::optional<std::string> variable;
        std::string expected;
    };
    const Case cases[] = {
        {std::nullopt, "lpt1"},
        {"", "lpt1"},
        {(dir / "sub/../reg").string(), reg},
        // Refused by the port layer, which then uses the simulated register:
        {(dir / "second-name").string(), "lpt1"}, // a file with two names
        {(dir / "linked").string(), "lpt1"},
        {(dir / "alias").string(), "lpt1"}, // a symbolic link
        {(runtime / "blinkwerk-lpt1").string(), "lpt1"}, // the simulated register by its path
    };
    for (const Case &c : cases)
        EXPECT_EQ(keyFor(c.variable), c.expected) << c.variable.value_or("(unset)");
    EXPECT_NE(keyFor((dir / "other").string()), reg) << "another file is another port";
    // A file still to be created is created, so that it can be named.
    const std::string fresh = keyFor((dir / "not-yet").string());
    EXPECT_TRUE(fs::is_regular_file(dir / "not-yet"));
    EXPECT_EQ(keyFor((dir / "sub/../not-yet").string()), fresh);
    EXPECT_NE(fresh, reg);
    // A relative name is taken from the working folder.
    const fs::path before = fs::current_path();
    fs::current_path(dir.path());
    EXPECT_EQ(keyFor(std::string("reg")), reg);
    fs::current_path(before);
}

TEST(PortLock, aSecondHolderOfTheSamePortFindsItBusy)
{
    ScratchDir runtime("lock");
    ScopedEnv env("XDG_RUNTIME_DIR", runtime.path().string());
    const std::string fileKey = "file:/somewhere/lpt";
    {
        PortLock first("lpt1");
        ASSERT_EQ(first.state(), State::Held) << first.error();
        EXPECT_TRUE(fs::exists(runtime / "blinkwerk-lpt1.lock"));
        EXPECT_EQ(PortLock("lpt1").state(), State::Busy);
        PortLock otherPort(fileKey);
        EXPECT_EQ(otherPort.state(), State::Held) << "another register is another port";
        EXPECT_EQ(PortLock(fileKey).state(), State::Busy);

        // Another process: what a second blinkwerk finds.
        const ChildResult second = inChild([] { return int(PortLock("lpt1").state()); });
        EXPECT_EQ(second.exitCode, int(State::Busy)) << second;
    }
    EXPECT_EQ(PortLock("lpt1").state(), State::Held) << "the port is free again once its holder ends";
    EXPECT_TRUE(fs::is_empty(runtime.path())) << "an orderly end leaves no lock file behind";
}

TEST(PortLock, theHolderDyingFreesThePort)
{
    ScratchDir runtime("lockdeath");
    ScopedEnv env("XDG_RUNTIME_DIR", runtime.path().string());
    const ChildResult killed = inChild([] {
        PortLock lock("lpt1");
        if (lock.state() != State::Held)
            return 1;
        ::raise(SIGKILL); // no destructor runs
        return 2;
    });
    EXPECT_EQ(killed.signal, SIGKILL) << killed;
    EXPECT_EQ(PortLock("lpt1").state(), State::Held);
}

TEST(PortLock, anotherUsersLockFileCannotBlockThePort)
{
    SKIP_UNLESS_ROOT();
    // In a shared folder another user can create the lock file first; the
    // sequencer then runs without the lock rather than being locked out.
    // A user of its own for this run, so that no real user's lock is touched.
    const uid_t victim = 200000 + uid_t(::getpid() % 100000);
    const std::string path = (fs::is_directory("/dev/shm") ? std::string("/dev/shm") : std::string("/tmp"))
                             + "/blinkwerk-lpt1-" + std::to_string(victim) + ".lock";
    ::unlink(path.c_str());
    const ChildResult planter = plantAsOtherUser(path, "");
    ASSERT_EQ(planter.exitCode, 0) << planter;
    const ChildResult sequencer = inChild([&] {
        if (!becomeUser(victim))
            return 10;
        ::unsetenv("XDG_RUNTIME_DIR");
        PortLock lock("lpt1");
        std::fprintf(stderr, "%s", lock.error().c_str());
        return int(lock.state());
    });
    EXPECT_EQ(sequencer.exitCode, int(State::Failed)) << sequencer;
    EXPECT_NE(sequencer.err.find(path + ": belongs to user 65534"), std::string::npos) << sequencer;
    ::unlink(path.c_str());
}
