// The one-sequencer lock on every platform, between processes: what a second
// blinkwerk finds while the first runs, and after the first ended, however
// it ended.

#include "childprocess.h"
#include "portlock.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

using portio::PortLock;
using State = PortLock::State;

namespace {

// The port the children lock: private to this test process.
const std::string KeyVariable = "BLINKWERK_TEST_LOCK_KEY";

std::string childKey()
{
    const char *key = std::getenv(KeyVariable.c_str());
    return key ? key : "";
}

const testsupport::ChildBody tryLock("tryLock", [] { return int(PortLock(childKey()).state()); });

// Takes the lock and ends at once, without running a destructor, as a killed
// or crashed sequencer ends.
const testsupport::ChildBody holdAndVanish("holdAndVanish", [] {
    PortLock lock(childKey());
    std::_Exit(lock.state() == State::Held ? 7 : 1);
    return 1;
});

} // namespace

TEST(PortLock, oneHolderPerPortAcrossProcesses)
{
    const std::string key = "file:blinkwerk-lock-test-" + testsupport::uniqueSuffix();
    const std::string other = key + "-other";
    {
        PortLock first(key);
        ASSERT_EQ(first.state(), State::Held) << first.error();
        EXPECT_EQ(PortLock(key).state(), State::Busy) << "within this process";
        EXPECT_EQ(testsupport::runChild("tryLock", {{KeyVariable, key}}).status, int(State::Busy))
            << "what a second sequencer finds";
        EXPECT_EQ(testsupport::runChild("tryLock", {{KeyVariable, other}}).status, int(State::Held))
            << "another port is free";
    }
    EXPECT_EQ(testsupport::runChild("tryLock", {{KeyVariable, key}}).status, int(State::Held))
        << "free once its holder ended";
}

TEST(PortLock, aHolderThatVanishesFreesThePort)
{
    const std::string key = "file:blinkwerk-lock-vanish-" + testsupport::uniqueSuffix();
    ASSERT_EQ(testsupport::runChild("holdAndVanish", {{KeyVariable, key}}).status, 7);
    PortLock next(key);
    EXPECT_EQ(next.state(), State::Held) << next.error();
}
