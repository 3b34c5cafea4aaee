#include "gpiorelay.h"

#include <algorithm>

namespace portio {

namespace {

bool parseGpio(std::string_view rest, OutputSpec &spec, std::string &error)
{
    rest = rest.empty() ? rest : rest.substr(1);
    const auto colon = rest.rfind(':');
    if (colon == std::string_view::npos || colon == 0) {
        error = "gpio needs a chip and its lines, as gpio:gpiochip0:17,27,22";
        return false;
    }
    spec.path = std::string(rest.substr(0, colon));
    if (!spectext::withoutControlCharacters(spec.path)) {
        error = "the GPIO chip's name holds a control character";
        return false;
    }
    std::vector<std::string_view> items = spectext::split(rest.substr(colon + 1), ',');
    if (!items.empty() && spectext::lower(items.back()) == "active-low") {
        spec.activeLow = true;
        items.pop_back();
    }
    if (items.empty() || items.size() > MaxChannels) {
        error = "gpio takes one to eight line offsets";
        return false;
    }
    for (std::string_view item : items) {
        const auto line = spectext::number(item, 0, 65535);
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

std::string formatGpio(const OutputSpec &spec)
{
    std::string text = ":" + spec.path + ":";
    for (std::size_t i = 0; i < spec.lines.size(); ++i)
        text += (i ? "," : "") + std::to_string(spec.lines[i]);
    return text + (spec.activeLow ? ",active-low" : "");
}

std::unique_ptr<PortBackend> openGpio(const OutputSpec &spec, OutputRole role, std::string &whyNot)
{
    return openGpioRelayOutput(spec, role, whyNot);
}

} // namespace

std::string gpioSpecText(const OutputSpec &spec)
{
    return "gpio" + formatGpio(spec);
}

// Lines of a chip in the processor switch at once; on an I2C expander a set
// waits on the bus: a worker drives them. Lines this program holds cannot be
// read by another one.
const OutputKind gpioRelayKind {"gpio", "gpio:CHIP:L1,...,L8[,active-low]",
                                "up to eight GPIO lines of CHIP, channel 1 first",
                                parseGpio, formatGpio, listGpioRelayOutputs, identifyGpioRelayOutput, openGpio,
                                /*readBack=*/false, /*mayBlock=*/true};

} // namespace portio
