// blinkwerk-player: a pattern played on an output without a window, from
// boot on a box without a screen; its page lets a phone start, stop and
// edit it. See playeroptions.h for what it is told.

#include "clockpriority.h"
#include "commandline.h"
#include "environment.h"
#include "configfile.h"
#include "follower.h"
#include "outputs.h"
#include "patternfile.h"
#include "patternfolder.h"
#include "player.h"
#include "playeroptions.h"
#include "playerpage.h"
#include "programoutput.h"
#include "terminationsignals.h"

#include <QCoreApplication>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>

namespace {

void say(const std::string &line)
{
    std::fprintf(stderr, "%s\n", line.c_str());
    std::fflush(stderr);
}

int usageError(const std::string &why)
{
    say("blinkwerk-player: " + why);
    say("Try 'blinkwerk-player --help'.");
    return player::UsageExitStatus;
}

// The folder of the player's patterns: the one configured, else the state
// folder systemd gives the service, else the user's data folder.
patterns::PatternFolder patternFolder(const player::PlayerOptions &options)
{
    if (options.patternFolder)
        return {patterns::pathFromUtf8(*options.patternFolder), false};
    if (const char *state = std::getenv("STATE_DIRECTORY"); state && *state == '/')
        return {patterns::pathFromUtf8(state), true};
    return {patterns::userDataFolder(), false};
}

} // namespace

int main(int argc, char *argv[])
{
    std::string error;
    const std::optional<player::PlayerCommandLine> line =
        player::parsePlayerArguments(std::vector<std::string>(argv + 1, argv + argc), error);
    if (!line)
        return usageError(error);
    if (line->help) {
        std::fputs(player::playerHelpText().c_str(), stdout);
        return 0;
    }
    player::PlayerOptions fromFile;
    if (line->options.configFile) {
        std::string text;
        if (!player::readConfigFile(*line->options.configFile, text, error))
            return usageError(error);
        const std::optional<player::PlayerOptions> parsed = player::parsePlayerConfig(text, error);
        if (!parsed)
            return usageError(*line->options.configFile + ": " + error);
        fromFile = *parsed;
    }
    const player::PlayerOptions options = player::mergeOptions(fromFile, line->options);

    // Everything is checked before anything is opened.
    std::optional<portio::OutputSpec> follow;
    if (options.follow) {
        follow = portio::parseOutputSpec(*options.follow, error);
        if (!follow)
            return usageError("--follow: " + error);
        if (follow->kind != "sacn" && follow->kind != "artnet")
            return usageError("--follow takes a sacn: or artnet: universe");
    }
    const std::string listenAddress = options.listenAddress.value_or("127.0.0.1");
    if (!player::isLoopbackAddress(listenAddress) && !options.password)
        return usageError("listening on " + listenAddress
                          + " lets the whole network in: set a password in the configuration file");
    std::string warning;
    const std::optional<blinkwerk::OutputChoice> choice = blinkwerk::chooseOutput(
        {options.output, portio::environmentVariable("BLINKWERK_OUTPUT"),
         portio::environmentVariable("BLINKWERK_LPT_REGISTER"), std::nullopt},
        error, warning);
    if (!choice)
        return usageError(error);

    QCoreApplication application(argc, argv);
    QCoreApplication::setApplicationName("blinkwerk-player");
    QCoreApplication::setApplicationVersion("2.10");

    blinkwerk::ProgramOutput output(portio::OutputRole::Sequencer, *choice);
    if (output.bound().outcome == portio::OutputSelection::Refused) {
        say(output.bound().busy + " wird bereits von einem anderen laufenden Blinkwerk angesteuert.");
        say("Dieser Player wird beendet.");
        return 1;
    }

    int status = 0;
    {
        player::Player player({patternFolder(options), blinkwerk::clockPriority()});
        std::unique_ptr<player::Follower> follower;
        if (follow) {
            follower = std::make_unique<player::Follower>(*follow);
            say("Player: following " + follower->source());
        } else if (options.pattern) {
            // A path plays that file; a bare name one of the pattern folder.
            const bool path = options.pattern->find('/') != std::string::npos;
            const bool loaded = path ? player.loadFile(*options.pattern, error) : player.load(*options.pattern, error);
            if (!loaded)
                return usageError(*options.pattern + ": " + error);
        }
        if (options.stepTimePosition)
            player.setStepTime(*options.stepTimePosition);
        if (options.range) {
            player.setLastStep(options.range->second);
            player.setFirstStep(options.range->first);
        }
        player::PlayerPage page(player, follower.get(),
                                {listenAddress, options.listenPort.value_or(8080), options.password.value_or("")});
        if (!page.listen(error))
            return usageError(error);
        say("Player: page at " + page.address());
        if (!follower && options.playAtStart.value_or(true)) {
            player.start();
            say("Player: playing " + (player.state().pattern.empty() ? std::string("an empty pattern")
                                                                      : player.state().pattern));
        }
        // SIGTERM (systemctl stop) and SIGINT (Ctrl+C) end the loop; the
        // player's end writes 0.
        blinkwerk::onTerminationSignal(&application, [] { QCoreApplication::quit(); });
        status = QCoreApplication::exec();
    }
    output.close();
    return status;
}
