// The one-sequencer lock on POSIX: one holder per device, in one folder for
// the whole machine, and what another user may have left there.

#include "portlock.h"
#include "posixtestsupport.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>

using namespace testsupport;
using portio::PortLock;
using State = portio::PortLock::State;

TEST(PortLock, aSecondHolderOfTheSameDeviceFindsItBusy)
{
    ScratchDir folder("lock", fs::perms(01777));
    const std::string folderPath = folder.path().string();
    {
        PortLock first("file:1:2", folderPath);
        ASSERT_EQ(first.state(), State::Held) << first.error();
        EXPECT_EQ(PortLock("file:1:2", folderPath).state(), State::Busy);
        PortLock otherDevice("file:1:3", folderPath);
        EXPECT_EQ(otherDevice.state(), State::Held) << "another device is free";

        // Another process: what a second blinkwerk finds.
        const ChildResult second = inChild([&] { return int(PortLock("file:1:2", folderPath).state()); });
        EXPECT_EQ(second.exitCode, int(State::Busy)) << second;
    }
    EXPECT_EQ(PortLock("file:1:2", folderPath).state(), State::Held) << "free again once its holder ends";
    EXPECT_TRUE(fs::is_empty(folder.path())) << "an orderly end leaves no lock file behind";
}

TEST(PortLock, theHolderDyingFreesTheDevice)
{
    ScratchDir folder("lockdeath", fs::perms(01777));
    const std::string folderPath = folder.path().string();
    const ChildResult killed = inChild([&] {
        PortLock lock("hidrelay:ABCDE", folderPath);
        if (lock.state() != State::Held)
            return 1;
        ::raise(SIGKILL); // no destructor runs
        return 2;
    });
    EXPECT_EQ(killed.signal, SIGKILL) << killed;
    EXPECT_EQ(PortLock("hidrelay:ABCDE", folderPath).state(), State::Held);
}

TEST(PortLock, whatAnotherUserLeftInTheFolder)
{
    SKIP_UNLESS_ROOT();
    // The folder is the whole machine's: another user's sequencer may have
    // made the lock file, or someone may have planted something there.
    ScratchDir folder("lockplanted", fs::perms(01777));
    const std::string folderPath = folder.path().string();
    const std::string device = "tty:188:0";
    struct Case
    {
        const char *name;
        std::function<int(const std::string &path)> plant; // run as the other user
        State expected;
        const char *error;
    };
    const Case cases[] = {
        {"a lock file another user's sequencer left", [](const std::string &p) {
             const int fd = ::open(p.c_str(), O_RDONLY | O_CREAT | O_EXCL, 0644);
             return fd >= 0 ? 0 : 1;
         }, State::Held, ""},
        {"one that others may not read", [](const std::string &p) {
             const int fd = ::open(p.c_str(), O_RDONLY | O_CREAT | O_EXCL, 0600);
             return fd >= 0 ? 0 : 1;
         }, State::Failed, "Permission denied"},
        {"a symbolic link", [](const std::string &p) { return ::symlink("/etc/passwd", p.c_str()); },
         State::Failed, "symbolic link"},
        {"a FIFO, which must not hang the start", [](const std::string &p) { return ::mkfifo(p.c_str(), 0644); },
         State::Failed, "not a plain file"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = folderPath + "/blinkwerk-" + portio::portLockTag(device) + ".lock";
        const ChildResult planter = inChild([&] { return becomeUser(OtherUser) ? c.plant(path) : 10; });
        ASSERT_EQ(planter.exitCode, 0) << planter;
        // As a user other than the planter (root may read anything).
        const ChildResult sequencer = inChild([&] {
            if (!becomeUser(uid_t(200000 + ::getpid() % 100000)))
                return 10;
            PortLock lock(device, folderPath);
            std::fprintf(stderr, "%s", lock.error().c_str());
            return int(lock.state());
        });
        EXPECT_EQ(sequencer.exitCode, int(c.expected)) << sequencer;
        EXPECT_NE(sequencer.err.find(c.error), std::string::npos) << sequencer;
        ::unlink(path.c_str());
    }
}
