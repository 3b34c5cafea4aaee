// Fuzz target for the USB HID relay backend: the input scripts a board (its
// product string, every answer to a feature report, whether it is plugged
// in) and the calls the program makes. Whatever the board answers, inp32
// stays inside the board's relays, nothing is read outside the buffers, and
// the lines on stderr come as the contract says: a fault once, then "back"
// once, the ignored channels once.

#include "hidrelay.h"
#include "notice.h"
#include "portbackend.h"

#include <cstdlib>
#include <string>

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

struct Said
{
    bool away = false;
    int ignored = 0;
} said;

class ScriptedHid final : public portio::HidCalls
{
public:
    ScriptedHid(const std::uint8_t *data, std::size_t size) : m_data(data), m_size(size) {}

    int next() { return m_at < m_size ? m_data[m_at++] : -1; }
    bool present = true;
    int opened = 0;
    std::string product;
    std::chrono::steady_clock::time_point clock {};

    std::vector<Device> enumerate(std::uint16_t, std::uint16_t) override
    {
        if (!present)
            return {};
        return {{"/dev/hidraw0", product}, {"/dev/hidraw1", "Keyboard"}};
    }
    Handle open(const std::string &path, bool &denied) override
    {
        const int b = next();
        denied = b == 1;
        if (!present || b < 0 || b == 1 || path != "/dev/hidraw0")
            return nullptr;
        ++opened;
        return this;
    }
    int sendFeatureReport(Handle device, const std::uint8_t *data, std::size_t length) override
    {
        require(device == this && length == 9 && data[0] == 0);
        require(data[1] == 0xff || data[1] == 0xfd || data[1] == 0xfe || data[1] == 0xfc);
        const int b = next();
        return present && b >= 0 && b % 4 != 0 ? 9 : -1;
    }
    int getFeatureReport(Handle device, std::uint8_t *data, std::size_t length) override
    {
        require(device == this && length == 9);
        const int b = next();
        if (!present || b < 0)
            return -1;
        const int got = b % 12 - 1; // -1 to 10 (more than asked for: a broken library)
        for (std::size_t i = 0; i < length; ++i) {
            const int v = next();
            data[i] = static_cast<std::uint8_t>(v < 0 ? 0 : v);
        }
        if (b >= 128) // a well-formed answer
            for (std::size_t i = 1; i <= 5; ++i)
                data[i] = static_cast<std::uint8_t>('A' + i);
        return got > static_cast<int>(length) ? static_cast<int>(length) : got;
    }
    void close(Handle device) override
    {
        require(device == this);
        --opened;
    }
    std::string lastError(Handle) override { return "scripted"; }
    std::chrono::steady_clock::time_point now() override { return clock; }

private:
    const std::uint8_t *m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};

} // namespace

// The fuzz target's own channel to the user: checks the order of the lines.
namespace portio {
void notice(const std::string &, const std::string &text)
{
    if (text.find("are ignored") != std::string::npos) {
        require(++said.ignored == 1);
    } else if (text.find("the board is back") == 0) {
        require(said.away);
        said.away = false;
    } else {
        require(!said.away);
        said.away = true;
    }
}
} // namespace portio

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    said = {};
    ScriptedHid hid(data + 2, size - 2);
    const char digits[] = "124839";
    hid.product = std::string("USBRelay") + digits[data[0] % 6];
    const int relays = hid.product.back() == '3' || hid.product.back() == '9' ? 0 : hid.product.back() - '0';
    const auto role = data[1] % 2 ? portio::OutputRole::Monitor : portio::OutputRole::Sequencer;
    portio::OutputSpec spec;
    spec.kind = "hidrelay";
    std::string why;
    auto port = portio::openHidRelayOutput(hid, spec, role, why);
    require(bool(port) == why.empty());
    if (port) {
        require(relays > 0);
        for (int op = hid.next(); op >= 0; op = hid.next()) {
            switch (op % 4) {
            case 0: port->out32(888, static_cast<std::int16_t>(hid.next() & 0xff)); break;
            case 1: {
                const int value = port->inp32(888);
                require(value >= 0 && value < (1 << relays));
                break;
            }
            case 2:
                hid.clock += std::chrono::milliseconds(10 * (hid.next() & 0xff));
                port->service();
                break;
            default: hid.present = !hid.present; break;
            }
        }
        port.reset();
    }
    require(hid.opened == 0);
    return 0;
}
