#pragma once
// The commands of the page's JSON interface, decoded from a POST's path and
// body. Decoding changes nothing; it only says what was asked, or why not.
//
// A body is one JSON object (an empty body counts as {} where a command has
// no fields). Every field of it must be one the command knows, of its type
// and within its range; text fields hold at most MaxTextBytes bytes of
// UTF-8. Anything else is refused with 400 and a German sentence for the
// page, naming the field. Whether a name is a pattern, and whether a save
// may use it, is for the player's own rules to say afterwards.
//
//   /api/start, /api/stop    {}
//   /api/cell                {"channel": 1..8, "step": 1..20}
//   /api/first, /api/last    {"step": 1..20}
//   /api/step-time           {"position": 0..10}   (a place in "Speed:")
//   /api/load                {"name": "x.bw2"}     (as the list shows it)
//   /api/save                {"name": "x"}         (".bw2" is appended)
//   /api/login               {"password": "..."}

#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace player {

inline constexpr std::size_t MaxTextBytes = 1024;

struct Command
{
    enum class Kind { Start, Stop, Cell, FirstStep, LastStep, StepTime, Load, Save, Login };
    Kind kind = Kind::Start;
    int channel = 0;
    int step = 0;
    int position = 0;
    std::string text; // Load, Save: the name; Login: the password
};

struct Refusal
{
    int status = 400;
    std::string text; // German, a whole sentence
};

// The command a POST to path asks for; nothing for a path that is none.
std::optional<Command::Kind> commandAt(std::string_view path);

std::variant<Command, Refusal> decodeCommand(Command::Kind kind, std::string_view body);

} // namespace player
