// Builds without hidapi: no board is ever found, and the opener says why.

#include "hidrelay.h"

namespace portio {

namespace {

class NoHidCalls final : public HidCalls
{
public:
    std::vector<Device> enumerate(std::uint16_t, std::uint16_t) override { return {}; }
    Handle open(const std::string &, bool &denied) override
    {
        denied = false;
        return nullptr;
    }
    int sendFeatureReport(Handle, const std::uint8_t *, std::size_t) override { return -1; }
    int getFeatureReport(Handle, std::uint8_t *, std::size_t) override { return -1; }
    void close(Handle) override {}
    std::string lastError(Handle) override { return "built without hidapi"; }
};

} // namespace

HidCalls &systemHidCalls()
{
    static NoHidCalls calls;
    return calls;
}

} // namespace portio
