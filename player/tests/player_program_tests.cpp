// blinkwerk-player as a service runs it, on register files without a
// display: it plays and stops on a signal with the output at 0, it keeps the
// one-sequencer lock against blinkwerk both ways, it follows a universe
// another player sends, and a bad start ends with status 2 and one line.

#include "posixtestsupport.h"
#include "programprocess_posix.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <set>
#include <thread>

using namespace testsupport;
using namespace std::chrono_literals;

namespace {

using Process = ProgramProcess;

// Channel k + 1 on in step k + 1 (and step k + 9): a running light.
void writeRunningLight(const fs::path &file)
{
    std::string cells(160, '0');
    for (int step = 0; step < 20; ++step)
        cells[std::size_t((step % 8) * 20 + step)] = '1';
    writeFile(file, cells + "|20|1|0\r\n");
}

const std::set<int> RunningLight {1, 2, 4, 8, 16, 32, 64, 128};

} // namespace

TEST(PlayerProgram, playsWithoutADisplayAndEndsAtZeroOnASignal)
{
    ScratchDir dir("player-signal");
    writeRunningLight(dir / "lauf.bw2");
    for (const int signal : {SIGTERM, SIGINT}) {
        Process player(PLAYER_PROGRAM, {"--output", "register:" + (dir / "reg").string(), (dir / "lauf.bw2").string()},
                       {"DISPLAY=", "WAYLAND_DISPLAY="});
        EXPECT_TRUE(heldEveryByte(dir / "reg", RunningLight)) << player.err();
        EXPECT_EQ(player.end(signal), 0) << player.err();
        EXPECT_EQ(readFile(dir / "reg"), std::string(1, '\0')) << "the lamps are off after the end";
        EXPECT_NE(player.err().find("Player: playing lauf.bw2"), std::string::npos) << player.err();
    }
}

TEST(PlayerProgram, oneSequencerPerDeviceAgainstBlinkwerkBothWays)
{
    ScratchDir dir("player-lock");
    writeRunningLight(dir / "lauf.bw2");
    const std::string reg = "register:" + (dir / "reg").string();
    {
        Process player(PLAYER_PROGRAM, {"--output", reg, (dir / "lauf.bw2").string()});
        ASSERT_TRUE(heldEveryByte(dir / "reg", {2})) << player.err();
        Process blinkwerk(BLINKWERK_PROGRAM, {"--output", reg});
        // Its box waits for a click; the line on standard error says it all.
        const auto until = std::chrono::steady_clock::now() + 20s;
        while (blinkwerk.err().find("wird bereits") == std::string::npos && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(10ms);
        EXPECT_NE(blinkwerk.err().find("wird bereits von einem anderen laufenden Blinkwerk angesteuert"),
                  std::string::npos)
            << blinkwerk.err();
        EXPECT_EQ(player.end(SIGTERM), 0) << player.err();
    }
    {
        Process blinkwerk(BLINKWERK_PROGRAM, {"--output", reg});
        const auto until = std::chrono::steady_clock::now() + 20s;
        while (blinkwerk.err().find("Output:") == std::string::npos && std::chrono::steady_clock::now() < until)
            std::this_thread::sleep_for(10ms);
        Process player(PLAYER_PROGRAM, {"--output", reg, (dir / "lauf.bw2").string()});
        EXPECT_EQ(player.end(0), 1) << player.err();
        EXPECT_NE(player.err().find("Dieser Player wird beendet."), std::string::npos) << player.err();
        blinkwerk.end(SIGTERM);
    }
}

TEST(PlayerProgram, aFollowerDrivesItsOutputFromAnotherPlayersUniverse)
{
    ScratchDir dir("player-follow");
    writeRunningLight(dir / "lauf.bw2");
    Process follower(PLAYER_PROGRAM, {"--follow", "sacn:7/3", "--output", "register:" + (dir / "node").string(),
                                      "--listen", "127.0.0.1:18471"});
    Process sender(PLAYER_PROGRAM, {"--output", "sacn:7/3@127.0.0.1", "--listen", "127.0.0.1:18472",
                                    (dir / "lauf.bw2").string()});
    EXPECT_TRUE(heldEveryByte(dir / "node", RunningLight)) << follower.err() << sender.err();
    EXPECT_EQ(sender.end(SIGTERM), 0) << sender.err();
    // The sender ends its stream: the follower's lamps go dark.
    EXPECT_TRUE(heldEveryByte(dir / "node", {0}, 10s)) << follower.err();
    EXPECT_EQ(follower.end(SIGTERM), 0) << follower.err();
    EXPECT_EQ(readFile(dir / "node"), std::string(1, '\0'));
}

TEST(PlayerProgram, aBadStartEndsWithStatusTwoAndOneLine)
{
    ScratchDir dir("player-bad");
    writeFile(dir / "broken.bw2", "0123|x\r\n");
    writeFile(dir / "bad.conf", "output = sacn:1\nloudness = 11\n");
    ::mkfifo((dir / "fifo.conf").c_str(), 0600);
    struct Case
    {
        std::vector<std::string> arguments;
        const char *said;
    };
    const Case cases[] = {
        {{"--output", "register:" + (dir / "r").string(), (dir / "broken.bw2").string()}, "Syntaxerror in Datei broken.bw2"},
        {{"--output", "register:" + (dir / "r").string(), (dir / "missing.bw2").string()}, "Syntaxerror in Datei missing.bw2"},
        {{"--config", (dir / "bad.conf").string()}, "line 2: unknown setting \"loudness\""},
        {{"--config", (dir / "fifo.conf").string()}, "not a regular file"},
        {{"--output", "lpt9"}, "unknown output \"lpt9\""},
        {{"--follow", "hidrelay"}, "sacn: or artnet:"},
        {{"--listen", "0.0.0.0:18473"}, "set a password"},
    };
    for (const Case &c : cases) {
        Process player(PLAYER_PROGRAM, c.arguments);
        EXPECT_EQ(player.end(0), 2) << c.arguments.back() << ": " << player.err();
        EXPECT_NE(player.err().find(c.said), std::string::npos) << player.err();
    }
}
