// The player's command line and configuration file: what each says, and
// every fault refused with a reason.

#include "playeroptions.h"

#include <gtest/gtest.h>

using namespace player;

TEST(PlayerOptions, commandLineAndFileSayTheSameAndTheLineWins)
{
    struct Case
    {
        std::vector<std::string> arguments;
        const char *error; // part of the reason; null: accepted
    };
    const Case cases[] = {
        {{"--output", "sacn:1", "--step-time", "150", "--range", "5-8", "show.bw2"}, nullptr},
        {{"--output=register:/tmp/r", "--step-time=500", "--listen=0.0.0.0:8081"}, nullptr},
        {{"--help", "--nonsense"}, nullptr},
        {{"--step-time", "55"}, "step-time must be one of"},
        {{"--step-time"}, "needs a value"},
        {{"--range", "8-5"}, "1 <= FIRST < LAST <= 20"},
        {{"--range", "0-5"}, "1 <= FIRST < LAST <= 20"},
        {{"--range", "5"}, "1 <= FIRST < LAST <= 20"},
        {{"--listen", "127.0.0.1"}, "ADDRESS:PORT"},
        {{"--listen", "127.0.0.1:70000"}, "ADDRESS:PORT"},
        {{"--password", "x"}, "unknown option"}, // only in the file, never in a process list
        {{"-x"}, "unknown option"},
        {{"a.bw2", "b.bw2"}, "only one pattern"},
        {{"a\nb.bw2"}, "control character"},
    };
    for (const Case &c : cases) {
        std::string error;
        const auto line = parsePlayerArguments(c.arguments, error);
        if (c.error) {
            EXPECT_FALSE(line) << c.arguments.front();
            EXPECT_NE(error.find(c.error), std::string::npos) << c.arguments.front() << " said: " << error;
        } else {
            EXPECT_TRUE(line) << c.arguments.front() << ": " << error;
        }
    }
    std::string error;
    const auto line = parsePlayerArguments({"--step-time", "150", "--range", "5-8", "show.bw2"}, error);
    ASSERT_TRUE(line);
    const auto file = parsePlayerConfig("[player]\n# comment\noutput = gpio:gpiochip0:5,6\nstep-time = 50\n"
                                        "play-at-start = no\nlisten = 0.0.0.0:80\npassword = geheim \n",
                                        error);
    ASSERT_TRUE(file) << error;
    const PlayerOptions merged = mergeOptions(*file, line->options);
    EXPECT_EQ(merged.output, "gpio:gpiochip0:5,6");
    EXPECT_EQ(merged.stepTimePosition, 3) << "150 ms from the line, over the file's 50";
    EXPECT_EQ(merged.range, std::pair(5, 8));
    EXPECT_EQ(merged.pattern, "show.bw2");
    EXPECT_EQ(merged.playAtStart, false);
    EXPECT_EQ(merged.listenAddress, "0.0.0.0");
    EXPECT_EQ(merged.listenPort, 80);
    EXPECT_EQ(merged.password, "geheim") << "blanks around a value are not part of it";

    struct Bad
    {
        const char *text, *error;
    };
    const Bad bad[] = {
        {"output sacn:1", "line 1: a setting is key = value"},
        {"\n\ncolour = red", "line 3: unknown setting \"colour\""},
        {"play-at-start = maybe", "yes or no"},
        {"password =", "empty password"},
        {"pattern = a\x1b[2Jb", "control character"},
    };
    for (const Bad &b : bad) {
        EXPECT_FALSE(parsePlayerConfig(b.text, error)) << b.text;
        EXPECT_NE(error.find(b.error), std::string::npos) << b.text << " said: " << error;
    }
    EXPECT_TRUE(isLoopbackAddress("127.0.0.1") && isLoopbackAddress("localhost") && isLoopbackAddress("::1"));
    EXPECT_FALSE(isLoopbackAddress("0.0.0.0") || isLoopbackAddress("192.168.1.5"));
}
