// The one-sequencer lock: which port it names, and that a second holder of
// the same port is told so while other ports stay free.

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

TEST(PortLockKey, namesTheRegisterFileByItsCanonicalPath)
{
    ScratchDir dir("lockkey");
    fs::create_directories(dir / "sub");
    writeFile(dir / "reg", std::string(1, '\0'));
    fs::create_symlink(dir / "reg", dir / "alias");
    const std::string canonical = "file:" + fs::canonical(dir / "reg").string();
    const std::string folder = fs::canonical(dir.path()).string();
    struct Case
    {
        std::optional<std::string> variable;
        std::string expected;
    };
    const Case cases[] = {
        {std::nullopt, "lpt1"},
        {"", "lpt1"},
        {(dir / "reg").string(), canonical},
        {(dir / "sub/../reg").string(), canonical},
        {(dir / "alias").string(), canonical},
        {(dir / "not-yet").string(), "file:" + folder + "/not-yet"}, // created at the first write
    };
    for (const Case &c : cases) {
        ScopedEnv env("BLINKWERK_LPT_REGISTER", c.variable);
        EXPECT_EQ(portio::portLockKey(), c.expected) << c.variable.value_or("(unset)");
    }
    // A relative name is taken from the working folder.
    const fs::path before = fs::current_path();
    fs::current_path(dir.path());
    {
        ScopedEnv env("BLINKWERK_LPT_REGISTER", std::string("reg"));
        EXPECT_EQ(portio::portLockKey(), canonical);
    }
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
