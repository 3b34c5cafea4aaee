// Fuzz target for what the page reads from the network: any bytes as a
// request head, and what follows its empty line as the body of every
// command. A head parses to nothing yet, to a status, or to fields within
// their bounds; a body decodes to a command within its ranges or to a
// refusal with a sentence.

#include "commands.h"
#include "requesthead.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char *>(data), size);
    const player::HeadParse parse = player::parseRequestHead(input);
    switch (parse.outcome) {
    case player::HeadParse::Outcome::Incomplete:
        require(size < player::MaxHeadBytes);
        break;
    case player::HeadParse::Outcome::Refused:
        require(parse.status == 400 || parse.status == 414 || parse.status == 431 || parse.status == 505);
        break;
    case player::HeadParse::Outcome::Complete: {
        const player::RequestHead &head = parse.head;
        require(head.length <= player::MaxHeadBytes && head.length <= size);
        require(!head.method.empty() && head.method.size() <= 16);
        require(!head.path.empty() && head.path.front() == '/' && head.path.size() <= player::MaxTargetBytes);
        require(head.path.find('?') == std::string::npos);
        break;
    }
    }

    const std::string_view body =
        parse.outcome == player::HeadParse::Outcome::Complete ? input.substr(parse.head.length) : input;
    using Kind = player::Command::Kind;
    for (const Kind kind : {Kind::Start, Kind::Cell, Kind::FirstStep, Kind::StepTime, Kind::Save, Kind::Login}) {
        const auto decoded = player::decodeCommand(kind, body);
        if (const auto *refusal = std::get_if<player::Refusal>(&decoded)) {
            require(refusal->status == 400 && !refusal->text.empty());
            continue;
        }
        const auto &command = std::get<player::Command>(decoded);
        require(command.kind == kind);
        require(command.channel == 0 || (command.channel >= 1 && command.channel <= 8));
        require(command.step == 0 || (command.step >= 1 && command.step <= 20));
        require(command.position >= 0 && command.position <= 10);
        require(command.text.size() <= player::MaxTextBytes);
        if (kind == Kind::Cell)
            require(command.channel >= 1 && command.step >= 1);
    }
    return 0;
}
