#include "commandline.h"
#include "printable.h"

#include <gtest/gtest.h>

using namespace blinkwerk;
using Action = CommandLine::Action;

TEST(CommandLine, optionsAndWhatIsRefused)
{
    struct Case
    {
        std::vector<std::string> arguments;
        Action action;
        std::optional<std::string> output;
        const char *error;
    };
    const Case cases[] = {
        {{}, Action::Run, std::nullopt, ""},
        {{"--output", "sacn:1"}, Action::Run, "sacn:1", ""},
        {{"--output=hidrelay"}, Action::Run, "hidrelay", ""},
        {{"--output", ""}, Action::Run, "", ""}, // refused later, as a malformed SPEC
        {{"-platform", "offscreen", "--output", "lpt1"}, Action::Run, "lpt1", ""},
        {{"--list-outputs"}, Action::ListOutputs, std::nullopt, ""},
        {{"--output", "x", "--help"}, Action::Help, "x", ""},
        {{"-h"}, Action::Help, std::nullopt, ""},
        {{"--output"}, Action::Error, std::nullopt, "--output needs a SPEC"},
        {{"--outptu", "lpt1"}, Action::Error, std::nullopt, "unknown argument \"--outptu\""},
        {{"lpt1"}, Action::Error, std::nullopt, "unknown argument \"lpt1\""},
        {{"--out\x1b[2J\n"}, Action::Error, std::nullopt, "unknown argument \"--out\\x1b[2J\\n\""},
    };
    for (const Case &c : cases) {
        const CommandLine line = parseCommandLine(c.arguments);
        const std::string what = c.arguments.empty() ? "(none)" : c.arguments.front();
        EXPECT_EQ(line.action, c.action) << what;
        EXPECT_EQ(line.output, c.output) << what;
        EXPECT_EQ(line.error, c.error) << what;
    }
}

TEST(CommandLine, theFirstSourceThatNamesAnOutputDecides)
{
    struct Case
    {
        OutputSources sources;
        const char *chosen; // canonical; null: refused
        bool automatic;
        const char *message; // part of the error or warning, "" for none
    };
    const Case cases[] = {
        {{"sacn:2", "artnet:1", "/r", "lpt1"}, "sacn:2", false, ""},
        {{std::nullopt, "ARTNET:1", "/r", "lpt1"}, "artnet:1", false, ""},
        {{std::nullopt, "", "/r", "lpt1"}, "register:/r", false, ""},
        {{std::nullopt, std::nullopt, "", "hidrelay:ABCDE"}, "hidrelay:ABCDE", false, ""},
        {{}, "lpt1", true, ""},
        {{"bogus", "sacn:1", {}, {}}, nullptr, false, "--output: unknown output \"bogus\""},
        {{"", "sacn:1", {}, {}}, nullptr, false, "--output: unknown output"},
        {{std::nullopt, "sacn:0", {}, {}}, nullptr, false, "BLINKWERK_OUTPUT: the universe must be"},
        {{std::nullopt, std::nullopt, std::nullopt, "gpio:c:9,9"}, "lpt1", true, "\"gpio:c:9,9\" is not valid"},
        // A path with a line break would create such a file; quoted text is
        // escaped and bounded.
        {{"register:/tmp/a\nb", {}, {}, {}}, nullptr, false,
         "--output: the register's file name holds a control character"},
        {{std::nullopt, std::nullopt, "/tmp/a\x1b[2Jb", {}}, nullptr, false,
         "BLINKWERK_LPT_REGISTER: the register's file name holds a control character"},
        {{std::nullopt, std::nullopt, std::nullopt, "bogus\x1b]0;x\x07"}, "lpt1", true,
         "output \"bogus\\x1b]0;x\\x07\" is not valid"},
        {{std::nullopt, std::nullopt, std::nullopt, "bogus" + std::string(10'000'000, 'x')}, "lpt1", true,
         " bytes left out ...]"},
    };
    for (const Case &c : cases) {
        std::string error, warning;
        const std::optional<OutputChoice> choice = chooseOutput(c.sources, error, warning);
        ASSERT_EQ(bool(choice), c.chosen != nullptr) << error;
        if (choice) {
            EXPECT_EQ(portio::formatOutputSpec(choice->spec), c.chosen);
            EXPECT_EQ(choice->automatic, c.automatic) << c.chosen;
        }
        const std::string &said = choice ? warning : error;
        EXPECT_NE(said.find(c.message), std::string::npos) << said;
        EXPECT_EQ(said, portio::printable(said));
        if (!*c.message) {
            EXPECT_EQ(said, "");
        }
    }
}

TEST(CommandLine, helpNamesEveryOptionKindAndVariable)
{
    for (const char *program : {"blinkwerk", "schaltblick"}) {
        const std::string help = helpText(program);
        for (const char *word : {"--output SPEC", "--list-outputs", "--help", "lpt1", "register:FILE", "hidrelay",
                                 "serial:PORT", "gpio:CHIP", "sacn:UNIVERSE", "artnet:UNIVERSE", "BLINKWERK_OUTPUT",
                                 "BLINKWERK_LPT_REGISTER", "\"Ausgang\"", "exit status 2"})
            EXPECT_NE(help.find(word), std::string::npos) << program << " --help lacks " << word;
        EXPECT_EQ(help.rfind("Usage: " + std::string(program) + " ", 0), 0u);
    }
}

TEST(CommandLine, listLinesStartWithTheSpecInOneColumn)
{
    EXPECT_EQ(outputListText({{"lpt1", "Parallelport"}, {"register:/r", "Simuliertes Register"}}),
              "lpt1         Parallelport\n"
              "register:/r  Simuliertes Register\n");
    EXPECT_EQ(outputListText({{"hidrelay:A\x1b[2J", "Relaiskarte\nforged"}, {"lpt1", "Parallelport"}}),
              "hidrelay:A\\x1b[2J  Relaiskarte\\nforged\n"
              "lpt1               Parallelport\n");
    EXPECT_EQ(outputListText({}), "");
}
