#include "outputs.h"

#include "ftdikind.h"
#include "gpiorelay.h"
#include "hidrelay.h"
#include "lptkinds.h"
#include "netoutput.h"
#include "portlock.h"
#include "registerfile.h"
#include "serialrelay.h"

namespace portio {

const OutputRegistry &outputKinds()
{
    static const OutputRegistry registry({
        &lpt1Kind,
        &registerKind,
        &hidRelayKind,
        &serialRelayKind,
        &gpioRelayKind,
        &sacnKind,
        &artNetKind,
        &ftdiRelayKind,
    });
    return registry;
}

std::optional<OutputSpec> parseOutputSpec(std::string_view text, std::string &error)
{
    return outputKinds().parse(text, error);
}

std::string formatOutputSpec(const OutputSpec &spec)
{
    return outputKinds().format(spec);
}

std::vector<OutputEntry> listOutputs()
{
    return outputKinds().list();
}

OutputSpec simulatedRegister()
{
    return simulatedRegisterSpec();
}

SessionSetup sessionSetup(OutputRole role)
{
    SessionSetup setup;
    setup.registry = &outputKinds();
    setup.role = role;
    setup.fallback = simulatedRegisterSpec();
    setup.mirror = [](const std::string &device) {
        OutputSpec mirror = simulatedRegisterSpec();
        mirror.path = RegisterFile::sharedName("blinkwerk-mirror-" + portLockTag(device));
        return mirror;
    };
    return setup;
}

} // namespace portio
