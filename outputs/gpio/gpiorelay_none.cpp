// GPIO lines on a platform without the Linux GPIO character device.

#include "gpiorelay.h"

namespace portio {

namespace {

class NoCalls final : public GpioCalls
{
public:
    int open(const char *, int) override { return -1; }
    int close(int) override { return -1; }
    int ioctl(int, unsigned long, void *) override { return -1; }
};

} // namespace

GpioCalls &systemGpioCalls()
{
    static NoCalls calls;
    return calls;
}

std::unique_ptr<PortBackend> openGpioRelayOutput(GpioCalls &, const GpioOptions &, const OutputSpec &, OutputRole,
                                                 std::string &whyNot)
{
    whyNot = "GPIO lines can be used on Linux only";
    return nullptr;
}

std::unique_ptr<PortBackend> openGpioRelayOutput(const OutputSpec &spec, OutputRole role, std::string &whyNot)
{
    return openGpioRelayOutput(systemGpioCalls(), GpioOptions {}, spec, role, whyNot);
}

void listGpioRelayOutputs(GpioCalls &, const std::string &, std::vector<OutputEntry> &) {}

void listGpioRelayOutputs(std::vector<OutputEntry> &) {}

std::optional<std::string> identifyGpioRelayOutput(const OutputSpec &, std::string &whyNot)
{
    whyNot = "GPIO lines can be used on Linux only";
    return std::nullopt;
}

} // namespace portio
