// Fuzz target for the FTDI relay backend: the input scripts the board (its
// serial string, whether it can be opened, every answer: the pins it reads,
// failures, how long a failure takes, whether it is plugged in) and the
// calls the program makes. Whatever the board answers, the monitor shows
// the pins the board answered and never writes or changes the bit mode,
// every handle opened is closed once, the sequencer's last byte at closing
// is 0 where a write went through, and the lines on stderr come as the
// contract says: a fault once, then "back" once, changed pins once.

#include "ftdikind.h"
#include "ftdirelay.h"
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
    int changed = 0;
} said;

class ScriptedFtdi final : public portio::FtdiCalls
{
public:
    ScriptedFtdi(const std::uint8_t *data, std::size_t size) : m_data(data), m_size(size) {}

    int next() { return m_at < m_size ? m_data[m_at++] : -1; }
    bool present = true;
    bool monitor = false;
    bool second = false; // an FT232R serial adapter beside the board
    int opened = 0;
    std::string serial;
    int lastWritten = -1;
    int lastPins = -1;
    std::chrono::steady_clock::time_point clock {};

    std::vector<Device> enumerate() override
    {
        if (!present)
            return {};
        std::vector<Device> devices = {{"1-1", serial, "FT245R USB FIFO", false}};
        if (second)
            devices.push_back({"1-2", "OTHER", "FT232R USB UART", next() == 1});
        return devices;
    }
    Handle open(const std::string &location, Access access, std::string &error, bool &denied) override
    {
        require(access == (monitor ? Access::Watch : Access::Drive));
        const int b = next();
        denied = b == 1;
        if (!present || b < 0 || b == 1 || location != "1-1") {
            error = "scripted";
            return nullptr;
        }
        ++opened;
        return this;
    }
    int setBitmode(Handle device, std::uint8_t mask, std::uint8_t mode) override
    {
        require(device == this && opened == 1 && !monitor && mask == 0xff && mode == 0x01);
        return answer() ? 0 : -1;
    }
    int writeData(Handle device, const std::uint8_t *data, int size) override
    {
        require(device == this && opened == 1 && !monitor && size == 1);
        if (!answer())
            return -1;
        lastWritten = data[0];
        return size;
    }
    int readPins(Handle device, std::uint8_t &pins) override
    {
        require(device == this && opened == 1);
        const int value = next();
        if (!answer() || value < 0)
            return -1;
        pins = static_cast<std::uint8_t>(value);
        lastPins = value;
        return 0;
    }
    void close(Handle device) override
    {
        require(device == this && opened == 1);
        --opened;
    }
    std::string lastError(Handle) override { return "scripted"; }
    std::chrono::steady_clock::time_point now() override { return clock; }

private:
    // Whether a transfer goes through; a failure takes up to a second.
    bool answer()
    {
        const int b = next();
        if (present && b >= 0 && b % 4 != 0)
            return true;
        clock += std::chrono::milliseconds(b < 0 ? 1 : 250 * (b % 5));
        return false;
    }

    const std::uint8_t *m_data;
    std::size_t m_size;
    std::size_t m_at = 0;
};

} // namespace

// The fuzz target's own channel to the user: checks the order of the lines.
namespace portio {
void notice(const std::string &, const std::string &text)
{
    if (text.find("the pins held") == 0) {
        require(++said.changed == 1);
    } else if (text.find("the board is back") == 0) {
        require(said.away);
        said.away = false;
    } else {
        require(!said.away && text.find("the board is gone or does not answer") == 0);
        said.away = true;
    }
}
} // namespace portio

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 3)
        return 0;
    said = {};
    ScriptedFtdi ftdi(data + 3, size - 3);
    // A serial of up to 34 bytes from the input: valid, too long, unprintable.
    for (int i = 0; i < data[0] % 35; ++i)
        ftdi.serial += static_cast<char>(ftdi.next() & 0xff);
    ftdi.monitor = data[1] % 2;
    const auto role = ftdi.monitor ? portio::OutputRole::Monitor : portio::OutputRole::Sequencer;
    portio::OutputSpec spec;
    spec.serial = data[2] % 2 ? "@1-1" : "";
    ftdi.second = data[2] & 2;
    std::string why;
    auto port = portio::openFtdiRelay(ftdi, spec, role, why);
    require(bool(port) == why.empty());
    require(ftdi.opened == (port ? 1 : 0));
    if (port) {
        for (int op = ftdi.next(); op >= 0; op = ftdi.next()) {
            switch (op % 4) {
            case 0: port->out32(888, static_cast<std::int16_t>(ftdi.next() & 0xff)); break;
            case 1: {
                ftdi.lastPins = -1;
                const std::optional<std::uint8_t> value = port->readPort();
                require(!ftdi.monitor || !value || *value == ftdi.lastPins);
                require(port->inp32(888) >= 0 && port->inp32(888) <= 255);
                break;
            }
            case 2:
                ftdi.clock += std::chrono::milliseconds(10 * (ftdi.next() & 0xff));
                port->service();
                break;
            default: ftdi.present = !ftdi.present; break;
            }
            require(ftdi.opened <= 1);
        }
        ftdi.lastWritten = -1;
        port.reset();
        require(ftdi.lastWritten == -1 || ftdi.lastWritten == 0);
    }
    require(ftdi.opened == 0);
    return 0;
}
