#pragma once
// What both programs do about their output before a window opens: the
// command line and environment (see commandline.h), --help and
// --list-outputs, and the configuration of the port layer. And the choice
// the user made in the "Ausgang" menu, remembered in the user's INI file
// (key "output").


#include <optional>
#include <string>

namespace blinkwerk {

// Reads the command line, the environment and the remembered choice: the
// output the program is to bind, in choice. Returns the exit status when
// the program ends here (after --help or --list-outputs: 0; an unknown
// argument or a malformed SPEC: 2, said on standard error), nothing when it
// goes on.
struct OutputChoice;
std::optional<int> prepareOutput(int argc, char **argv, const char *program, OutputChoice &choice);

// The remembered choice, as the user's settings file holds it (key
// "output"; which file, and what is refused, see usersettings.h).
std::optional<std::string> rememberedOutput();
void rememberOutput(const std::string &spec);

} // namespace blinkwerk
