// HidCalls through hidapi: hidraw on Linux, the HID class driver on Windows.

#include "hidrelay.h"

#include "hidaccess.h"
#include "portbackend.h"

#include <hidapi.h>

#include <cwchar>
#include <mutex>

namespace portio {

namespace {

std::string narrow(const wchar_t *text)
{
    std::string out;
    for (; text && *text; ++text)
        out += (*text > 0 && *text < 0x80) ? static_cast<char>(*text) : '?';
    return out;
}

class SystemHidCalls final : public HidCalls
{
public:
    std::vector<Device> enumerate(std::uint16_t vendor, std::uint16_t product) override
    {
        std::vector<Device> devices;
        if (!initialised())
            return devices;
        hid_device_info *all = hid_enumerate(vendor, product);
        for (hid_device_info *info = all; info; info = info->next)
            devices.push_back({info->path ? info->path : "", narrow(info->product_string)});
        hid_free_enumeration(all);
        return devices;
    }

    Handle open(const std::string &path, bool &denied) override
    {
        denied = false;
        if (!initialised())
            return nullptr;
        hid_device *device = hid_open_path(path.c_str());
        denied = !device && hidAccessDenied(path);
        return device;
    }

    int sendFeatureReport(Handle device, const std::uint8_t *data, std::size_t length) override
    {
        return hid_send_feature_report(static_cast<hid_device *>(device), data, length);
    }

    int getFeatureReport(Handle device, std::uint8_t *data, std::size_t length) override
    {
        return hid_get_feature_report(static_cast<hid_device *>(device), data, length);
    }

    void close(Handle device) override
    {
        if (device)
            hid_close(static_cast<hid_device *>(device));
    }

    std::string lastError(Handle device) override
    {
        const wchar_t *text = hid_error(static_cast<hid_device *>(device));
        return text ? narrow(text) : std::string("unknown error");
    }

    // hidapi is started once, whichever thread asks first: the output's
    // worker and the menu's listing may ask at the same time.
    bool initialised()
    {
        std::call_once(m_started, [this] { m_ok = hid_init() == 0; });
        return m_ok;
    }

private:
    std::once_flag m_started;
    bool m_ok = false;
};

SystemHidCalls &systemHidCalls()
{
    static SystemHidCalls calls;
    return calls;
}

} // namespace

std::unique_ptr<PortBackend> openHidRelayOutput(const OutputSpec &spec, OutputRole role, std::string &whyNot)
{
    if (!systemHidCalls().initialised()) {
        whyNot = "USB HID devices cannot be reached here (hid_init failed)";
        return nullptr;
    }
    return openHidRelayOutput(systemHidCalls(), spec, role, whyNot);
}

std::optional<std::string> identifyHidRelayOutput(const OutputSpec &spec, std::string &whyNot)
{
    if (!systemHidCalls().initialised()) {
        whyNot = "USB HID devices cannot be reached here (hid_init failed)";
        return std::nullopt;
    }
    return identifyHidRelayOutput(systemHidCalls(), spec, whyNot);
}

void listHidRelayOutputs(std::vector<OutputEntry> &entries)
{
    listHidRelayOutputs(systemHidCalls(), entries);
}

} // namespace portio
