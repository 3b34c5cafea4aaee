#include "playeroptions.h"

#include "steptime.h"

#include <algorithm>
#include <charconv>

namespace player {

namespace {

std::string_view trimmed(std::string_view text)
{
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
    while (!text.empty() && blank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && blank(text.back()))
        text.remove_suffix(1);
    return text;
}

std::optional<int> wholeNumber(std::string_view text, int first, int last)
{
    int value = 0;
    if (text.empty() || text.size() > 6)
        return std::nullopt;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < first || value > last)
        return std::nullopt;
    return value;
}

// What a value from outside may hold: no control character (it is echoed
// and used as a name), and not unbounded.
bool plainText(std::string_view text)
{
    return text.size() <= 4096 && std::none_of(text.begin(), text.end(), [](unsigned char c) {
               return c < 0x20 || c == 0x7f;
           });
}

bool parseRange(std::string_view text, PlayerOptions &options, std::string &error)
{
    const auto dash = text.find('-');
    const auto first = dash == std::string_view::npos ? std::nullopt : wholeNumber(text.substr(0, dash), 1, 20);
    const auto last = dash == std::string_view::npos ? std::nullopt : wholeNumber(text.substr(dash + 1), 1, 20);
    if (!first || !last || *first >= *last) {
        error = "the range must be FIRST-LAST with 1 <= FIRST < LAST <= 20";
        return false;
    }
    options.range = std::pair(*first, *last);
    return true;
}

bool parseListen(std::string_view text, PlayerOptions &options, std::string &error)
{
    const auto colon = text.rfind(':');
    const auto port = colon == std::string_view::npos ? std::nullopt : wholeNumber(text.substr(colon + 1), 1, 65535);
    std::string_view address = colon == std::string_view::npos ? text : text.substr(0, colon);
    if (address.size() > 2 && address.front() == '[' && address.back() == ']')
        address = address.substr(1, address.size() - 2);
    if (!port || address.empty() || address.size() > 253 || !plainText(address)
        || address.find(' ') != std::string_view::npos) {
        error = "the address to listen on must be ADDRESS:PORT, as 127.0.0.1:8080";
        return false;
    }
    options.listenAddress = std::string(address);
    options.listenPort = *port;
    return true;
}

bool parseYesNo(std::string_view text, std::optional<bool> &value)
{
    if (text == "yes" || text == "true" || text == "1")
        value = true;
    else if (text == "no" || text == "false" || text == "0")
        value = false;
    else
        return false;
    return true;
}

// A key as an error message may quote it: short, nothing unprintable.
std::string shownKey(std::string_view key)
{
    std::string shown(key.substr(0, 40));
    for (char &c : shown)
        if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) >= 0x7f)
            c = '?';
    return shown + (key.size() > 40 ? "..." : "");
}

// One option's value, the same on the command line and in the file.
bool setOption(std::string_view key, std::string_view value, PlayerOptions &options, std::string &error)
{
    if (!plainText(value)) {
        error = shownKey(key) + ": the value holds a control character or is too long";
        return false;
    }
    if (key == "output") {
        options.output = std::string(value);
    } else if (key == "step-time") {
        options.stepTimePosition = stepTimePositionOf(value);
        if (!options.stepTimePosition) {
            error = "step-time must be one of 50, 80, 100, 150, 200, 250, 300, 350, 400, 450, 500 (ms)";
            return false;
        }
    } else if (key == "range") {
        return parseRange(value, options, error);
    } else if (key == "listen") {
        return parseListen(value, options, error);
    } else if (key == "follow") {
        options.follow = std::string(value);
    } else if (key == "pattern") {
        options.pattern = std::string(value);
    } else if (key == "patterns") {
        options.patternFolder = std::string(value);
    } else if (key == "password") {
        if (value.empty()) {
            error = "password: an empty password is none";
            return false;
        }
        options.password = std::string(value);
    } else if (key == "play-at-start") {
        if (!parseYesNo(value, options.playAtStart)) {
            error = "play-at-start must be yes or no";
            return false;
        }
    } else {
        error = "unknown setting \"" + shownKey(key) + "\"";
        return false;
    }
    return true;
}

template<typename T>
void prefer(std::optional<T> &into, const std::optional<T> &line)
{
    if (line)
        into = line;
}

} // namespace

std::optional<int> stepTimePositionOf(std::string_view milliseconds)
{
    const std::optional<int> ms = wholeNumber(trimmed(milliseconds), 1, 10000);
    for (std::size_t i = 0; ms && i < sequencer::StepTimeTable.size(); ++i)
        if (sequencer::StepTimeTable[i].ms == *ms)
            return int(i);
    return std::nullopt;
}

std::optional<PlayerCommandLine> parsePlayerArguments(const std::vector<std::string> &arguments, std::string &error)
{
    PlayerCommandLine line;
    static const char *const valued[] = {"output", "step-time", "range", "config", "listen", "follow"};
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string &argument = arguments[i];
        if (argument == "--help" || argument == "-h") {
            line.help = true;
            return line;
        }
        if (argument.rfind("--", 0) == 0) {
            std::string key = argument.substr(2), value;
            const auto equals = key.find('=');
            const bool known = std::find(std::begin(valued), std::end(valued), key.substr(0, equals)) != std::end(valued);
            if (!known) {
                error = "unknown option \"" + argument.substr(0, 60) + "\"";
                return std::nullopt;
            }
            if (equals != std::string::npos) {
                value = key.substr(equals + 1);
                key.resize(equals);
            } else if (i + 1 < arguments.size()) {
                value = arguments[++i];
            } else {
                error = "--" + key + " needs a value";
                return std::nullopt;
            }
            if (key == "config") {
                if (!plainText(value) || value.empty()) {
                    error = "--config needs a file name without control characters";
                    return std::nullopt;
                }
                line.options.configFile = value;
            } else if (!setOption(key, value, line.options, error)) {
                return std::nullopt;
            }
            continue;
        }
        if (argument.size() > 1 && argument[0] == '-') {
            error = "unknown option \"" + argument.substr(0, 60) + "\"";
            return std::nullopt;
        }
        if (line.options.pattern) {
            error = "only one pattern file can be played";
            return std::nullopt;
        }
        if (!plainText(argument)) {
            error = "the pattern file's name holds a control character";
            return std::nullopt;
        }
        line.options.pattern = argument;
    }
    return line;
}

std::optional<PlayerOptions> parsePlayerConfig(std::string_view text, std::string &error)
{
    PlayerOptions options;
    int number = 0;
    while (!text.empty()) {
        ++number;
        const auto end = text.find('\n');
        const std::string_view line = trimmed(text.substr(0, end));
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (line.empty() || line.front() == '#' || line.front() == ';' || line == "[player]")
            continue;
        const auto equals = line.find('=');
        std::string why = "a setting is key = value";
        if (equals != std::string_view::npos
            && setOption(trimmed(line.substr(0, equals)), trimmed(line.substr(equals + 1)), options, why))
            continue;
        error = "line " + std::to_string(number) + ": " + why;
        return std::nullopt;
    }
    return options;
}

PlayerOptions mergeOptions(const PlayerOptions &file, const PlayerOptions &line)
{
    PlayerOptions merged = file;
    prefer(merged.output, line.output);
    prefer(merged.pattern, line.pattern);
    prefer(merged.stepTimePosition, line.stepTimePosition);
    prefer(merged.range, line.range);
    prefer(merged.playAtStart, line.playAtStart);
    prefer(merged.patternFolder, line.patternFolder);
    prefer(merged.configFile, line.configFile);
    if (line.listenAddress) {
        merged.listenAddress = line.listenAddress;
        merged.listenPort = line.listenPort;
    }
    prefer(merged.password, line.password);
    prefer(merged.follow, line.follow);
    return merged;
}

bool isLoopbackAddress(const std::string &address)
{
    return address == "localhost" || address == "::1" || address.rfind("127.", 0) == 0;
}

std::string playerHelpText()
{
    return "Usage: blinkwerk-player [--output SPEC] [--step-time MS] [--range FIRST-LAST]\n"
           "                        [--config FILE] [--listen ADDRESS:PORT] [--follow SPEC]\n"
           "                        [FILE.bw2]\n"
           "\n"
           "Plays a pattern of eight channels by twenty steps on an output, without a\n"
           "window, looping through the active range; a page for a phone or a browser\n"
           "starts, stops and edits it.\n"
           "\n"
           "Options:\n"
           "  --output SPEC         the output (as blinkwerk --help names them; lpt1 by default)\n"
           "  --step-time MS        50, 80, 100, 150, 200, 250, 300, 350, 400, 450 or 500\n"
           "  --range FIRST-LAST    the active steps, 1 <= FIRST < LAST <= 20\n"
           "  --config FILE         settings: output, pattern, step-time, range, play-at-start,\n"
           "                        patterns, listen, password, follow (key = value lines)\n"
           "  --listen ADDRESS:PORT the page's address (127.0.0.1:8080); any other than the\n"
           "                        local machine's needs a password in the configuration\n"
           "  --follow SPEC         take each byte from sacn:UNIVERSE[/START] or\n"
           "                        artnet:UNIVERSE[/START] instead of a pattern\n"
           "  --help                print this text and exit\n"
           "\n"
           "FILE.bw2 is played from the start. SIGTERM and SIGINT switch the output off and\n"
           "end the player. A malformed option, setting or file ends it with exit status 2.\n";
}

} // namespace player
