#include "outputname.h"

#include <algorithm>
#include <cctype>
#include <charconv>

namespace portio {

namespace {

std::string lower(std::string_view text)
{
    std::string out(text);
    std::transform(out.begin(), out.end(), out.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return out;
}

// A whole decimal number from first to last, without sign or blanks.
std::optional<long> number(std::string_view text, long first, long last)
{
    if (text.empty() || text.size() > 6 || !std::all_of(text.begin(), text.end(), [](unsigned char c) {
            return std::isdigit(c);
        }))
        return std::nullopt;
    long value = 0;
    std::from_chars(text.data(), text.data() + text.size(), value);
    if (value < first || value > last)
        return std::nullopt;
    return value;
}

bool printable(std::string_view text)
{
    return std::all_of(text.begin(), text.end(), [](unsigned char c) { return c > 0x20 && c < 0x7f; });
}

// A path is taken as written, but a control character in it (C0, DEL, or a
// C1 control in UTF-8) is a mistake or an attack: a file name with a line
// break forges lines wherever it is echoed.
bool holdsControlCharacter(std::string_view path)
{
    for (std::size_t i = 0; i < path.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(path[i]);
        if (c < 0x20 || c == 0x7f
            || (c == 0xc2 && i + 1 < path.size() && (static_cast<unsigned char>(path[i + 1]) & 0xe0) == 0x80))
            return true;
    }
    return false;
}

std::vector<std::string_view> split(std::string_view text, char separator)
{
    std::vector<std::string_view> parts;
    for (;;) {
        const auto at = text.find(separator);
        parts.push_back(text.substr(0, at));
        if (at == std::string_view::npos)
            return parts;
        text.remove_prefix(at + 1);
    }
}

bool parseGpio(std::string_view rest, OutputSpec &spec, std::string &error)
{
    const auto colon = rest.rfind(':');
    if (colon == std::string_view::npos || colon == 0) {
        error = "gpio needs a chip and its lines, as gpio:gpiochip0:17,27,22";
        return false;
    }
    spec.path = std::string(rest.substr(0, colon));
    std::vector<std::string_view> items = split(rest.substr(colon + 1), ',');
    if (!items.empty() && lower(items.back()) == "active-low") {
        spec.activeLow = true;
        items.pop_back();
    }
    if (items.empty() || items.size() > MaxChannels) {
        error = "gpio takes one to eight line offsets";
        return false;
    }
    for (std::string_view item : items) {
        const auto line = number(item, 0, 65535);
        if (!line) {
            error = "gpio line offset \"" + std::string(item) + "\" is no number from 0 to 65535";
            return false;
        }
        if (std::find(spec.lines.begin(), spec.lines.end(), unsigned(*line)) != spec.lines.end()) {
            error = "gpio line " + std::string(item) + " is named twice";
            return false;
        }
        spec.lines.push_back(unsigned(*line));
    }
    return true;
}

bool parseUniverse(std::string_view rest, long lastUniverse, OutputSpec &spec, std::string &error)
{
    const auto at = rest.find('@');
    if (at != std::string_view::npos) {
        spec.host = std::string(rest.substr(at + 1));
        if (spec.host.empty() || !printable(spec.host)) {
            error = "the host after @ is empty or has blanks";
            return false;
        }
        rest = rest.substr(0, at);
    }
    const auto slash = rest.find('/');
    const long firstUniverse = spec.kind == OutputSpec::Kind::Sacn ? 1 : 0;
    const auto universe = number(rest.substr(0, slash), firstUniverse, lastUniverse);
    if (!universe) {
        error = "the universe must be a number from " + std::to_string(firstUniverse) + " to "
                + std::to_string(lastUniverse);
        return false;
    }
    spec.universe = int(*universe);
    if (slash != std::string_view::npos) {
        const auto start = number(rest.substr(slash + 1), 1, SlotsPerUniverse - MaxChannels + 1);
        if (!start) {
            error = "the first slot must be a number from 1 to " + std::to_string(SlotsPerUniverse - MaxChannels + 1);
            return false;
        }
        spec.start = int(*start);
    }
    return true;
}

std::optional<OutputSpec> parseFields(std::string_view text, std::string &error)
{
    const auto colon = text.find(':');
    const std::string kind = lower(text.substr(0, colon));
    const bool hasRest = colon != std::string_view::npos;
    const std::string_view rest = hasRest ? text.substr(colon + 1) : std::string_view{};
    OutputSpec spec;

    if (kind == "lpt1") {
        if (hasRest) {
            error = "lpt1 takes no arguments";
            return std::nullopt;
        }
        return spec;
    }
    if (kind == "register") {
        spec.kind = OutputSpec::Kind::Register;
        if (rest.empty()) {
            error = "register needs a file, as register:/run/user/1000/lpt";
            return std::nullopt;
        }
        spec.path = std::string(rest);
        return spec;
    }
    if (kind == "hidrelay") {
        spec.kind = OutputSpec::Kind::HidRelay;
        if (hasRest && (rest.empty() || rest.size() > 16 || !printable(rest))) {
            error = "the board's serial after hidrelay: must be 1 to 16 printable characters";
            return std::nullopt;
        }
        spec.serial = std::string(rest);
        return spec;
    }
    if (kind == "serial") {
        spec.kind = OutputSpec::Kind::Serial;
        std::vector<std::string_view> items = split(rest, ',');
        if (items.size() > 2 || items[0].empty()) {
            error = "serial needs a port and at most one protocol, as serial:/dev/ttyUSB0,lcus";
            return std::nullopt;
        }
        spec.path = std::string(items[0]);
        if (items.size() == 2) {
            const std::string protocol = lower(items[1]);
            if (protocol == "lcus")
                spec.protocol = OutputSpec::SerialProtocol::Lcus;
            else if (protocol == "icse")
                spec.protocol = OutputSpec::SerialProtocol::Icse;
            else {
                error = "unknown serial protocol \"" + std::string(items[1]) + "\" (lcus or icse)";
                return std::nullopt;
            }
        }
        return spec;
    }
    if (kind == "gpio") {
        spec.kind = OutputSpec::Kind::Gpio;
        if (!parseGpio(rest, spec, error))
            return std::nullopt;
        return spec;
    }
    if (kind == "sacn" || kind == "artnet") {
        spec.kind = kind == "sacn" ? OutputSpec::Kind::Sacn : OutputSpec::Kind::ArtNet;
        if (!parseUniverse(rest, kind == "sacn" ? 63999 : 32767, spec, error))
            return std::nullopt;
        return spec;
    }
    error = "unknown output \"" + std::string(text.substr(0, colon))
            + "\" (lpt1, register:, hidrelay, serial:, gpio:, sacn:, artnet:)";
    return std::nullopt;
}

} // namespace

std::optional<OutputSpec> parseOutputSpec(std::string_view text, std::string &error)
{
    std::optional<OutputSpec> spec = parseFields(text, error);
    if (spec && holdsControlCharacter(spec->path)) {
        error = "the path in " + lower(text.substr(0, text.find(':'))) + ": holds a control character";
        return std::nullopt;
    }
    return spec;
}

std::string formatOutputSpec(const OutputSpec &spec)
{
    using Kind = OutputSpec::Kind;
    switch (spec.kind) {
    case Kind::Lpt1: return "lpt1";
    case Kind::Register: return "register:" + spec.path;
    case Kind::HidRelay: return spec.serial.empty() ? "hidrelay" : "hidrelay:" + spec.serial;
    case Kind::Serial:
        return "serial:" + spec.path + (spec.protocol == OutputSpec::SerialProtocol::Icse ? ",icse" : ",lcus");
    case Kind::Gpio: {
        std::string text = "gpio:" + spec.path + ":";
        for (std::size_t i = 0; i < spec.lines.size(); ++i)
            text += (i ? "," : "") + std::to_string(spec.lines[i]);
        return text + (spec.activeLow ? ",active-low" : "");
    }
    case Kind::Sacn:
    case Kind::ArtNet: {
        std::string text = (spec.kind == Kind::Sacn ? "sacn:" : "artnet:") + std::to_string(spec.universe);
        if (spec.start != 1)
            text += "/" + std::to_string(spec.start);
        return text + (spec.host.empty() ? "" : "@" + spec.host);
    }
    }
    return "lpt1";
}

} // namespace portio
