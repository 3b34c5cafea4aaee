#include "serialrelay.h"

namespace portio {

namespace {

bool parseSerial(std::string_view rest, OutputSpec &spec, std::string &error)
{
    std::vector<std::string_view> items = spectext::split(rest.empty() ? rest : rest.substr(1), ',');
    if (items.size() > 2 || items[0].empty()) {
        error = "serial needs a port and at most one protocol, as serial:/dev/ttyUSB0,lcus";
        return false;
    }
    if (!spectext::withoutControlCharacters(items[0])) {
        error = "the serial port's name holds a control character";
        return false;
    }
    spec.path = std::string(items[0]);
    if (items.size() == 2) {
        const std::string protocol = spectext::lower(items[1]);
        if (protocol == "lcus")
            spec.protocol = OutputSpec::SerialProtocol::Lcus;
        else if (protocol == "icse")
            spec.protocol = OutputSpec::SerialProtocol::Icse;
        else {
            error = "unknown serial protocol \"" + std::string(items[1]) + "\" (lcus or icse)";
            return false;
        }
    }
    return true;
}

std::string formatSerial(const OutputSpec &spec)
{
    return ":" + spec.path + (spec.protocol == OutputSpec::SerialProtocol::Icse ? ",icse" : ",lcus");
}

std::optional<std::string> identifySerial(const OutputSpec &spec, std::string &whyNot)
{
    return serialPortIdentity(spec.path, whyNot);
}

} // namespace

std::string serialSpecText(const OutputSpec &spec)
{
    return "serial" + formatSerial(spec);
}

// Opening and closing a port waits on its driver (a USB adapter's close can
// take seconds while its buffer drains): a worker drives it. The boards
// cannot be read back.
const OutputKind serialRelayKind {"serial", "serial:PORT[,lcus|,icse]",
                                  "a serial relay board on PORT (/dev/ttyUSB0, COM3), LCUS-type by default",
                                  parseSerial, formatSerial, listSerialRelayOutputs, identifySerial,
                                  openSerialRelayOutput, /*readBack=*/false, /*mayBlock=*/true};

} // namespace portio
