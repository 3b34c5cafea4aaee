// sACN and Art-Net as kinds of output: their SPECs, and both protocols
// through one sender and one listener (netoutput.h).
#include "netoutput.h"

#include "portbackend.h"

namespace portio {

namespace {

bool parseUniverse(std::string_view rest, long firstUniverse, long lastUniverse, OutputSpec &spec,
                   std::string &error)
{
    rest = rest.empty() ? rest : rest.substr(1);
    const auto at = rest.find('@');
    if (at != std::string_view::npos) {
        spec.host = std::string(rest.substr(at + 1));
        if (spec.host.empty() || !spectext::visibleAscii(spec.host)) {
            error = "the host after @ is empty or has blanks";
            return false;
        }
        // The sender speaks IPv4 only (the lighting networks these
        // protocols run on do); an IPv6 address would fail at every send.
        if (spec.host.find(':') != std::string::npos || spec.host.front() == '[') {
            error = "IPv6 addresses are not supported; give an IPv4 address or a host name";
            return false;
        }
        rest = rest.substr(0, at);
    }
    const auto slash = rest.find('/');
    const auto universe = spectext::number(rest.substr(0, slash), firstUniverse, lastUniverse);
    if (!universe) {
        error = "the universe must be a number from " + std::to_string(firstUniverse) + " to "
                + std::to_string(lastUniverse);
        return false;
    }
    spec.universe = int(*universe);
    if (slash != std::string_view::npos) {
        const auto start = spectext::number(rest.substr(slash + 1), 1, SlotsPerUniverse - MaxChannels + 1);
        if (!start) {
            error = "the first slot must be a number from 1 to " + std::to_string(SlotsPerUniverse - MaxChannels + 1);
            return false;
        }
        spec.start = int(*start);
    }
    return true;
}

bool parseSacn(std::string_view rest, OutputSpec &spec, std::string &error)
{
    return parseUniverse(rest, 1, 63999, spec, error);
}

bool parseArtNet(std::string_view rest, OutputSpec &spec, std::string &error)
{
    return parseUniverse(rest, 0, 32767, spec, error);
}

std::string formatUniverse(const OutputSpec &spec)
{
    std::string text = ":" + std::to_string(spec.universe);
    if (spec.start != 1)
        text += "/" + std::to_string(spec.start);
    return text + (spec.host.empty() ? "" : "@" + spec.host);
}

void listSacn(std::vector<OutputEntry> &entries)
{
    listNetOutputs(NetProtocol::Sacn, entries);
}

void listArtNet(std::vector<OutputEntry> &entries)
{
    listNetOutputs(NetProtocol::ArtNet, entries);
}

std::optional<std::string> identifySacn(const OutputSpec &spec, std::string &whyNot)
{
    return identifyNetOutput(NetProtocol::Sacn, spec, whyNot);
}

std::optional<std::string> identifyArtNet(const OutputSpec &spec, std::string &whyNot)
{
    return identifyNetOutput(NetProtocol::ArtNet, spec, whyNot);
}

std::unique_ptr<PortBackend> openSacn(const OutputSpec &spec, OutputRole role, std::string &whyNot)
{
    return openNetOutput(NetProtocol::Sacn, spec, role, whyNot);
}

std::unique_ptr<PortBackend> openArtNet(const OutputSpec &spec, OutputRole role, std::string &whyNot)
{
    return openNetOutput(NetProtocol::ArtNet, spec, role, whyNot);
}

} // namespace

std::string netSpecText(const OutputSpec &spec)
{
    return spec.kind + formatUniverse(spec);
}

// The sockets belong to the thread that made them, and a host is looked up
// when the output is opened: a worker drives them.
const OutputKind sacnKind {"sacn", "sacn:UNIVERSE[/START][@HOST]",
                           "sACN (E1.31), universe 1 to 63999: eight slots from START (1), multicast, or unicast to HOST",
                           parseSacn, formatUniverse, listSacn, identifySacn, openSacn,
                           /*readBack=*/true, /*mayBlock=*/true};
const OutputKind artNetKind {"artnet", "artnet:UNIVERSE[/START][@HOST]",
                             "Art-Net, universe 0 to 32767: eight slots from START (1), broadcast, or unicast to HOST",
                             parseArtNet, formatUniverse, listArtNet, identifyArtNet, openArtNet,
                             /*readBack=*/true, /*mayBlock=*/true};

} // namespace portio
