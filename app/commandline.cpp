#include "commandline.h"

#include "printable.h"

#include <algorithm>

namespace blinkwerk {

CommandLine parseCommandLine(const std::vector<std::string> &arguments)
{
    CommandLine line;
    auto fail = [&line](std::string error) {
        line.action = CommandLine::Action::Error;
        line.error = std::move(error);
        return line;
    };
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        const std::string &argument = arguments[i];
        if (argument == "--help" || argument == "-h") {
            line.action = CommandLine::Action::Help;
            return line; // whatever else is there, the user asks how
        }
        if (argument == "--list-outputs") {
            line.action = CommandLine::Action::ListOutputs;
        } else if (argument == "--output") {
            if (i + 1 == arguments.size())
                return fail("--output needs a SPEC");
            line.output = arguments[++i];
        } else if (argument.rfind("--output=", 0) == 0) {
            line.output = argument.substr(9);
        } else if (argument.size() > 1 && argument[0] == '-' && argument[1] != '-') {
            // Qt's own options (-platform offscreen) are Qt's business.
            static const char *const qtOptionsWithValue[] = {
                "-platform", "-platformpluginpath", "-platformtheme", "-plugin", "-qwindowgeometry",
                "-qwindowicon", "-qwindowtitle", "-style", "-stylesheet", "-session", "-display", "-geometry"};
            if (std::find(std::begin(qtOptionsWithValue), std::end(qtOptionsWithValue), argument)
                    != std::end(qtOptionsWithValue)
                && i + 1 < arguments.size())
                ++i;
        } else {
            return fail(portio::printable("unknown argument \"" + argument + "\""));
        }
    }
    return line;
}

std::optional<OutputChoice> chooseOutput(const OutputSources &sources, std::string &error, std::string &warning)
{
    auto given = [](const std::optional<std::string> &value) { return value && !value->empty(); };
    auto parsed = [&error](const std::string &from, const std::string &text) -> std::optional<OutputChoice> {
        std::string why;
        if (const auto spec = portio::parseOutputSpec(text, why))
            return OutputChoice{*spec, false, from};
        error = portio::printable(from + ": " + why);
        return std::nullopt;
    };
    if (sources.option)
        return parsed("--output", *sources.option);
    if (given(sources.environment))
        return parsed("BLINKWERK_OUTPUT", *sources.environment);
    if (given(sources.registerFile))
        return parsed("BLINKWERK_LPT_REGISTER", "register:" + *sources.registerFile);
    if (given(sources.remembered)) {
        std::string why;
        if (const auto spec = portio::parseOutputSpec(*sources.remembered, why))
            return OutputChoice{*spec, false, "the remembered choice"};
        warning = portio::printable("the remembered output \"" + *sources.remembered + "\" is not valid (" + why
                                    + "); it is ignored");
    }
    return OutputChoice{{}, true, "the default"};
}

namespace {

// One line per kind this build knows: its syntax, then what it is.
std::string specTable()
{
    std::size_t width = 0;
    for (const portio::OutputKind *kind : portio::outputKinds().kinds())
        width = std::max(width, kind->syntax.size());
    std::string text;
    for (const portio::OutputKind *kind : portio::outputKinds().kinds())
        text += "  " + std::string(kind->syntax) + std::string(width - kind->syntax.size() + 2, ' ')
                + std::string(kind->help) + "\n";
    return text;
}

} // namespace

std::string helpText(const std::string &program)
{
    const bool monitor = program == "schaltblick";
    return "Usage: " + program + " [--output SPEC] [--list-outputs] [--help]\n"
           "\n"
           + (monitor ? "Shows the eight lamps of a relay output: bit k of its byte is lamp k + 1.\n"
                      : "Switches up to eight lamps through a relay output: bit k of each step's byte\n"
                        "switches channel k + 1.\n")
           + "\n"
             "Options:\n"
             "  --output SPEC    "
           + (monitor ? "show the output SPEC names\n" : "drive the output SPEC names\n")
           + "  --list-outputs   print every output found on this machine, one a line, with\n"
             "                   its SPEC first, and exit\n"
             "  --help           print this text and exit\n"
             "\n"
             "SPEC:\n"
           + specTable()
           + "\n"
             "Environment:\n"
             "  BLINKWERK_OUTPUT=SPEC            as --output\n"
             "  BLINKWERK_LPT_REGISTER=FILE      as --output register:FILE\n"
             "\n"
             "The output is the first of: --output, BLINKWERK_OUTPUT, BLINKWERK_LPT_REGISTER,\n"
             "the output last chosen in blinkwerk's \"Ausgang\" menu (right click on the\n"
             "window), and the default: lpt1, or the only USB HID relay board attached when\n"
             "the parallel port cannot be used. An output that cannot be opened is replaced\n"
             "by the simulated register, said on standard error.\n"
           + (monitor ? "Outputs that cannot be read back (serial, gpio) are shown as blinkwerk last\n"
                        "sent them.\n"
                      : "")
           + "An unknown argument or a malformed SPEC ends the program with exit status 2.\n";
}

std::string outputListText(const std::vector<portio::OutputEntry> &entries)
{
    // Names and descriptions come from devices (a board's serial, a port's
    // name): each is shown printable.
    std::vector<std::pair<std::string, std::string>> shown;
    std::size_t width = 0;
    for (const portio::OutputEntry &entry : entries) {
        shown.emplace_back(portio::printable(entry.spec, 200), portio::printable(entry.description, 200));
        width = std::max(width, shown.back().first.size());
    }
    std::string text;
    for (const auto &[spec, description] : shown)
        text += spec + std::string(width - spec.size() + 2, ' ') + description + "\n";
    return text;
}

} // namespace blinkwerk
