#pragma once
// What blinkwerk-player is told: its command line and its configuration
// file, free of Qt.
//
//   blinkwerk-player [--output SPEC] [--step-time MS] [--range FIRST-LAST]
//                    [--config FILE] [--listen ADDRESS:PORT] [--follow SPEC]
//                    [FILE.bw2]
//
// The configuration file holds the same as key = value lines (a "#" or ";"
// starts a comment line; a "[player]" section line may stand first):
//
//   output = SPEC           the output, as --output
//   pattern = NAME.bw2      a pattern of the pattern folder to play, or a path
//   step-time = MS          50, 80, 100, 150, ... 500, as --step-time
//   range = FIRST-LAST      1 <= FIRST < LAST <= 20, as --range
//   play-at-start = yes|no  start playing at once (yes by default)
//   patterns = FOLDER       the pattern folder
//   listen = ADDRESS:PORT   the page's address (127.0.0.1:8080 by default)
//   password = TEXT         the page's password: needed for any address but
//                           the local machine's; never set by default
//   follow = SPEC           take the byte from sacn: or artnet: instead
//
// The command line wins over the file. Every value is checked: a malformed
// one ends the program with exit status 2 and one line that names it.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace player {

inline constexpr int UsageExitStatus = 2;

struct PlayerOptions
{
    std::optional<std::string> output;         // SPEC, checked by the program against its kinds
    std::optional<std::string> pattern;        // FILE.bw2 (a path) or a name of the pattern folder
    std::optional<int> stepTimePosition;       // 0 to 10
    std::optional<std::pair<int, int>> range;  // first, last
    std::optional<bool> playAtStart;
    std::optional<std::string> patternFolder;
    std::optional<std::string> configFile;
    std::optional<std::string> listenAddress;  // without the port
    std::optional<int> listenPort;
    std::optional<std::string> password;
    std::optional<std::string> follow;         // SPEC
};

struct PlayerCommandLine
{
    bool help = false;
    PlayerOptions options;
};

// arguments: argv[1] onwards. Nothing with a reason (one phrase) in error.
std::optional<PlayerCommandLine> parsePlayerArguments(const std::vector<std::string> &arguments, std::string &error);

// The configuration file's text; nothing with a reason ("line 3: ...").
std::optional<PlayerOptions> parsePlayerConfig(std::string_view text, std::string &error);

// What line says, else what the file says.
PlayerOptions mergeOptions(const PlayerOptions &file, const PlayerOptions &line);

// A whole step time in ms: its position in the step time list, or nothing.
std::optional<int> stepTimePositionOf(std::string_view milliseconds);

// Whether address is the local machine's own (127.0.0.0/8, ::1, localhost):
// only there may the page go without a password.
bool isLoopbackAddress(const std::string &address);

std::string playerHelpText();

} // namespace player
