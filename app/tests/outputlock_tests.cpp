#include "outputlock.h"

#include "childprocess.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;
using portio::PortLock;

namespace {

portio::OutputSpec registerSpec(const fs::path &file)
{
    portio::OutputSpec spec;
    spec.kind = portio::OutputSpec::Kind::Register;
    spec.path = file.string();
    return spec;
}

} // namespace

TEST(OutputLock, aSwitchTakesTheNewOutputsLockAndThenLetsGoOfTheOld)
{
    const fs::path dir = fs::temp_directory_path() / ("outputlock-" + testsupport::uniqueSuffix());
    fs::create_directories(dir / "run");
    fs::permissions(dir / "run", fs::perms::owner_all, fs::perm_options::replace);
    testsupport::setEnvironment("XDG_RUNTIME_DIR", (dir / "run").string()); // the lock files (POSIX)
    const portio::OutputSpec a = registerSpec(dir / "a"), b = registerSpec(dir / "b");
    portio::configureOutput(a, portio::OutputRole::Sequencer);
    {
        blinkwerk::OutputLock lock;
        ASSERT_EQ(lock.state(), PortLock::State::Held) << lock.error();
        {
            const PortLock other(portio::portLockKey(b)); // another blinkwerk on b
            ASSERT_EQ(other.state(), PortLock::State::Held) << other.error();
            EXPECT_EQ(lock.select(b).outcome, portio::OutputSelection::Refused);
            EXPECT_EQ(portio::configuredOutput(), a) << "the old output stays";
        }
        EXPECT_EQ(lock.select(b).outcome, portio::OutputSelection::Opened);
        EXPECT_EQ(portio::configuredOutput(), b);
        EXPECT_EQ(PortLock(portio::portLockKey(a)).state(), PortLock::State::Held) << "a is free again";
        EXPECT_EQ(PortLock(portio::portLockKey(b)).state(), PortLock::State::Busy) << "b is held";
        EXPECT_EQ(lock.select(b).outcome, portio::OutputSelection::Opened) << "the output held already";
        portio::closePort();
    }
    fs::remove_all(dir);
}
