#pragma once
// The command line and environment of both programs, without Qt: which
// output a program uses and what it does before any window opens.
//
//   --output SPEC, --output=SPEC  the output (see outputname.h for SPEC)
//   --list-outputs                print the outputs found and end
//   --help, -h                    print the usage and end
// Arguments with one dash are left to Qt (-platform, -style, ...); any
// other argument is refused.
//
// The output comes from the first of: --output, BLINKWERK_OUTPUT (the same
// syntax), BLINKWERK_LPT_REGISTER=FILE (as register:FILE), the choice
// remembered from the window's "Ausgang" menu, the default (lpt1, with the
// default rule of the port layer, see portio.h). A malformed SPEC given on
// the command line or in the environment ends the program (status 2); a
// remembered one that no longer parses is skipped with a warning.

#include "outputs.h"

#include <optional>
#include <string>
#include <vector>

namespace blinkwerk {

inline constexpr int UsageExitStatus = 2;

struct CommandLine
{
    enum class Action { Run, Help, ListOutputs, Error };
    Action action = Action::Run;
    std::optional<std::string> output; // what --output gave
    std::string error;                 // for Action::Error: what is wrong, one printable phrase
};

// arguments: argv[1] onwards.
CommandLine parseCommandLine(const std::vector<std::string> &arguments);

struct OutputSources
{
    std::optional<std::string> option;       // --output
    std::optional<std::string> environment;  // BLINKWERK_OUTPUT
    std::optional<std::string> registerFile; // BLINKWERK_LPT_REGISTER
    std::optional<std::string> remembered;   // the INI file's "output"
};

struct OutputChoice
{
    portio::OutputSpec spec;
    bool automatic = false; // nobody chose: the default rule applies
    std::string from;       // where it came from, for messages: "--output", "BLINKWERK_OUTPUT", ...
};

// The output the sources name. Nothing with error ("BLINKWERK_OUTPUT: ...")
// when the source that decides is malformed (BLINKWERK_LPT_REGISTER too:
// a path with a control character); an empty value counts as unset.
// A malformed remembered choice is passed over, said in warning. Error and
// warning quote the text through printable() (printable.h): one line, ready
// to print.
std::optional<OutputChoice> chooseOutput(const OutputSources &sources, std::string &error, std::string &warning);

// The usage text of program ("blinkwerk" or "schaltblick"), English.
std::string helpText(const std::string &program);

// The lines of --list-outputs: SPEC, blanks, description; one per entry,
// each part through printable() (printable.h).
std::string outputListText(const std::vector<portio::OutputEntry> &entries);

} // namespace blinkwerk
