// The FTDI relay kind where the emulated board (ftdirelay_gadget_tests)
// cannot go: the text of its names, several boards at once and boards
// without access (dummy_hcd offers one device), and the time between
// looks for a lost board, on a clock the test moves.

#include "ftdikind.h"
#include "ftdirelay.h"
#include "portbackend.h"

#include <gtest/gtest.h>

using namespace portio;
using namespace std::chrono_literals;
using Device = FtdiCalls::Device;

namespace {

constexpr std::int16_t Data = 888;

OutputSpec named(const std::string &serial)
{
    OutputSpec spec;
    spec.serial = serial;
    return spec;
}

// Boards that answer every transfer, or fail each after a set time.
class ModelCalls final : public FtdiCalls
{
public:
    std::vector<Device> devices;
    bool answers = true;
    std::chrono::milliseconds failureTakes {1};
    int enumerations = 0;
    std::uint8_t pins = 0;
    std::chrono::steady_clock::time_point clock {};

    std::vector<Device> enumerate() override
    {
        ++enumerations;
        return devices;
    }
    Handle open(const std::string &location, Access, std::string &error, bool &denied) override
    {
        for (const Device &device : devices)
            if (device.location == location) {
                denied = device.denied;
                return denied ? nullptr : this;
            }
        error = "gone";
        return nullptr;
    }
    int setBitmode(Handle, std::uint8_t, std::uint8_t) override { return transfer(); }
    int writeData(Handle, const std::uint8_t *data, int size) override
    {
        if (transfer() < 0)
            return -1;
        pins = data[0];
        return size;
    }
    int readPins(Handle, std::uint8_t &value) override
    {
        value = pins;
        return transfer();
    }
    void close(Handle) override {}
    std::string lastError(Handle) override { return "model"; }
    std::chrono::steady_clock::time_point now() override { return clock; }

private:
    int transfer()
    {
        if (answers)
            return 0;
        clock += failureTakes;
        return -1;
    }
};

TEST(FtdiRelay, NamesAreReadCheckedAndWrittenBack)
{
    struct Case
    {
        std::string rest;
        bool valid;
    };
    const std::vector<Case> cases = {
        {"", true},           {":A9XYZ012", true},     {":@1-1.2", true},       {":" + std::string(32, 'S'), true},
        {":", false},         {"x", false},            {":has space", false},   {":" + std::string(33, 'S'), false},
        {":\xc3\xbc", false}, {":@1", false},          {":@1-", false},         {":@1-2.", false},
        {":@x-1", false},
    };
    for (const Case &c : cases) {
        OutputSpec spec;
        std::string error;
        EXPECT_EQ(parseFtdiSpec(c.rest, spec, error), c.valid) << '"' << c.rest << "\" " << error;
        if (c.valid)
            EXPECT_EQ(formatFtdiSpec(spec), c.rest);
        else
            EXPECT_FALSE(error.empty()) << c.rest;
    }
}

TEST(FtdiRelay, AmongSeveralBoardsTheNameChoosesOneOrSaysWhyNot)
{
    const Device a {"1-1", "A", "FT245R USB FIFO"};
    const Device x1 {"1-2", "X", "FT245R USB FIFO"};
    const Device x2 {"1-3", "X", "FT245R USB FIFO"};
    const Device unnameable {"1-4", "has space", "FT245R USB FIFO"};
    const Device denied {"1-5", "D", "FT245R USB FIFO", true};
    struct Case
    {
        std::vector<Device> devices;
        std::string name;
        std::string result; // the board's name, or the reason
    };
    const std::vector<Case> cases = {
        {{a}, "", "ftdi:A"},
        {{a}, "@1-1", "ftdi:A"},
        {{a, x1}, "", "several FTDI boards (ftdi:A, ftdi:X): choose one with ftdi:SERIAL"},
        {{x1, x2}, "X", "several FTDI boards with serial X (ftdi:@1-2, ftdi:@1-3): choose one by its USB port"},
        {{x1, x2}, "@1-3", "ftdi:@1-3"},
        {{unnameable}, "", "ftdi:@1-4"},
        {{denied}, "D", "no access to the FTDI board: install the udev rule 70-blinkwerk-ftdirelay.rules "
                        "(see outputs/ftdi/README.md) and plug the board in again"},
        {{}, "", "no FTDI relay board found"},
        {{a}, "Z", "no FTDI relay board with serial Z (found: ftdi:A)"},
        {{a}, "@2-1", "no FTDI board in USB port 2-1 (found: ftdi:A)"},
    };
    for (const Case &c : cases) {
        ModelCalls calls;
        calls.devices = c.devices;
        std::string why;
        const std::optional<std::string> identity = identifyFtdiRelay(calls, named(c.name), why);
        EXPECT_EQ(identity.value_or(why), c.result) << "named \"" << c.name << "\"";
        why.clear();
        auto port = openFtdiRelay(calls, named(c.name), OutputRole::Sequencer, why);
        EXPECT_EQ(bool(port), bool(identity)) << why;
    }

    ModelCalls calls;
    calls.devices = {a, x1, x2, unnameable, denied};
    std::vector<OutputEntry> entries;
    listFtdiRelays(calls, entries);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"ftdi:A", "FTDI-Relaiskarte (Seriennummer A)"},
        {"ftdi:@1-2", "FTDI-Relaiskarte (Seriennummer X, mehrfach vorhanden; USB-Anschluss 1-2)"},
        {"ftdi:@1-3", "FTDI-Relaiskarte (Seriennummer X, mehrfach vorhanden; USB-Anschluss 1-3)"},
        {"ftdi:@1-4", "FTDI-Relaiskarte (ohne Seriennummer, USB-Anschluss 1-4)"},
        {"ftdi:D", "FTDI-Relaiskarte (Seriennummer D) ohne Zugriff (udev-Regel 70-blinkwerk-ftdirelay.rules fehlt)"},
    };
    ASSERT_EQ(entries.size(), expected.size());
    for (std::size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i].spec, expected[i].first);
        EXPECT_EQ(entries[i].description, expected[i].second);
    }
}

// A lost board is looked for a second after a failure, or ten seconds after
// a call that waited out the whole timeout; not earlier.
TEST(FtdiRelay, ALostBoardIsLookedForAgainAfterItsInterval)
{
    struct Case
    {
        const char *what;
        std::chrono::milliseconds failureTakes;
        std::chrono::milliseconds lookAfter;
    };
    const std::vector<Case> cases = {
        {"gone", 2ms, 1000ms},
        {"mute", 1000ms, 10000ms},
    };
    for (const Case &c : cases) {
        ModelCalls calls;
        calls.devices = {{"1-1", "A", "FT245R USB FIFO"}};
        std::string why;
        auto port = openFtdiRelay(calls, named("A"), OutputRole::Sequencer, why);
        ASSERT_TRUE(port) << why;
        calls.answers = false;
        calls.failureTakes = c.failureTakes;
        port->out32(Data, 0x42);
        calls.answers = true;
        const auto lost = calls.clock;
        const int before = calls.enumerations;
        calls.clock = lost + c.lookAfter - 1ms;
        port->service();
        EXPECT_EQ(calls.enumerations, before) << c.what;
        EXPECT_EQ(port->readPort(), std::nullopt) << c.what;
        calls.clock = lost + c.lookAfter;
        port->service();
        EXPECT_EQ(calls.enumerations, before + 1) << c.what;
        EXPECT_EQ(port->readPort(), 0x42) << c.what;
        EXPECT_EQ(calls.pins, 0x42) << c.what;
    }
}

} // namespace
