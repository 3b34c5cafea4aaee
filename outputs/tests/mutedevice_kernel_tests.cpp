// A board that stops answering, through the real driver: a USB HID relay
// board emulated by uhid holds every report unanswered while the program's
// thread goes on writing steps, as a window's timer does. Needs /dev/uhid:
// CTest runs it in a small virtual machine (tools/kernel-vm).

#include "outputs.h"
#include "uhidboard.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <thread>
#include <unistd.h>

using namespace portio;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

TEST(MuteDevice, theStepsGoOnAndTheNewestByteArrivesWhenTheBoardAnswersAgain)
{
    if (access("/dev/uhid", R_OK | W_OK) != 0)
        GTEST_SKIP() << "no /dev/uhid here: run through tools/kernel-vm";
    fakes::UhidBoard board("USBRelay8", "MUTE1");
    std::string error;
    ASSERT_TRUE(board.plugIn(error)) << error;
    std::this_thread::sleep_for(500ms); // hidraw's node appears

    SessionSetup setup = sessionSetup(OutputRole::Sequencer);
    setup.sayBlockedAfter = 300ms;
    OutputSession session(setup);
    ASSERT_EQ(session.bind(*parseOutputSpec("hidrelay:MUTE1", error), false).outcome, OutputSelection::Opened);
    session.write(0x01);
    ASSERT_TRUE(board.waitFor(0x01, 5s));

    board.setMute(true);
    // Twenty steps at 50 ms while every report waits for the kernel's 5 s:
    // none of them may wait for the board. A generous bound, far below
    // that timeout, tells a hang from a slow machine.
    Clock::duration longest {};
    for (int step = 0; step < 20; ++step) {
        const auto started = Clock::now();
        session.write(std::uint8_t(0x80 | step));
        (void)session.status();
        longest = std::max(longest, Clock::now() - started);
        std::this_thread::sleep_for(50ms);
    }
    EXPECT_LT(longest, 1s) << "a step waited for the mute board";
    EXPECT_EQ(session.status(), "blockiert: das Gerät antwortet nicht");

    board.setMute(false);
    EXPECT_TRUE(board.waitFor(0x80 | 19, 60s)) << "the newest byte, not a queue of old ones, once it answers";
    session.close();
    EXPECT_EQ(board.relays(), 0) << "the last 0";
}

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
