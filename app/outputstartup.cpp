#include "outputstartup.h"

#include "commandline.h"
#include "console.h"
#include "environment.h"
#include "outputs.h"
#include "usersettings.h"

#include <QCoreApplication>

#include <cstdio>

namespace blinkwerk {

namespace {

void print(std::FILE *stream, const std::string &text)
{
    std::fputs(text.c_str(), stream);
    std::fflush(stream);
}

} // namespace

std::optional<std::string> rememberedOutput()
{
    return portio::userSetting("output");
}

void rememberOutput(const std::string &spec)
{
    portio::setUserSetting("output", spec); // a failure is said there
}

std::optional<int> prepareOutput(int argc, char **argv, const char *program, OutputChoice &choice)
{
    attachParentConsole();
    const CommandLine line = parseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
    switch (line.action) {
    case CommandLine::Action::Help:
        print(stdout, helpText(program));
        return 0;
    case CommandLine::Action::Error:
        print(stderr, std::string(program) + ": " + line.error + "\nTry '" + program + " --help'.\n");
        return UsageExitStatus;
    case CommandLine::Action::ListOutputs: {
        // Some kinds find their devices through Qt, which wants an
        // application object; no window is opened.
        QCoreApplication application(argc, argv);
        print(stdout, outputListText(portio::listOutputs()));
        return 0;
    }
    case CommandLine::Action::Run: break;
    }
    std::string error, warning;
    const std::optional<OutputChoice> chosen = chooseOutput(
        {line.output, portio::environmentVariable("BLINKWERK_OUTPUT"),
         portio::environmentVariable("BLINKWERK_LPT_REGISTER"), rememberedOutput()},
        error, warning);
    if (!warning.empty())
        print(stderr, "Output: " + warning + "\n");
    if (!chosen) {
        print(stderr, std::string(program) + ": " + error + "\nTry '" + program + " --help'.\n");
        return UsageExitStatus;
    }
    choice = *chosen;
    return std::nullopt;
}

} // namespace blinkwerk
