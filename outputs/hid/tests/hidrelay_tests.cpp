// The USB HID relay backend against a model of the boards (fakehidcalls.h):
// the reports each step sends, finding and refusing boards, losing and
// finding a board again, and the monitor's reading.

#include "fakehidcalls.h"
#include "hidrelay.h"
#include "portbackend.h"

#include <gtest/gtest.h>

using namespace portio;
using portio::fakes::FakeHidCalls;
using Answer = FakeHidCalls::Answer;
using Reports = std::vector<std::vector<std::uint8_t>>;
using namespace std::chrono_literals;

namespace {

constexpr std::int16_t Data = 888;

OutputSpec hidSpec(const std::string &serial = {})
{
    OutputSpec spec;
    spec.kind = "hidrelay";
    spec.serial = serial;
    return spec;
}

std::unique_ptr<PortBackend> openOrFail(FakeHidCalls &calls, OutputRole role = OutputRole::Sequencer,
                                        const std::string &serial = {})
{
    std::string why;
    auto port = openHidRelayOutput(calls, hidSpec(serial), role, why);
    EXPECT_TRUE(port) << why;
    return port;
}

int count(const std::string &text, const std::string &part)
{
    int n = 0;
    for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

// Each step: the byte, the reports it must send (only what changed; all-on
// or all-off where that saves reports and no relay that keeps its state is
// switched), and so the board's relays afterwards.
TEST(HidRelay, SendsOnlyTheChangedRelaysWithTheFewestReports)
{
    struct Step
    {
        std::uint8_t byte;
        Reports reports;
    };
    const std::vector<Step> steps = {
        {0x01, {{0xff, 1}}},
        {0x03, {{0xff, 2}}},
        {0x03, {}},
        {0x02, {{0xfd, 1}}},
        {0xff, {{0xfe, 0}}},
        {0xfe, {{0xfd, 1}}},
        {0x00, {{0xfc, 0}}},
        {0x0f, {{0xff, 1}, {0xff, 2}, {0xff, 3}, {0xff, 4}}},
        {0xf7, {{0xfe, 0}, {0xfd, 4}}},                            // 0x08 was on: no relay flashes
        {0x08, {{0xfc, 0}, {0xff, 4}}},                            // 0x08 was off
        // All-on or all-off would flash relay 8 or relay 4: one report each.
        {0x7f, {{0xff, 1}, {0xff, 2}, {0xff, 3}, {0xff, 5}, {0xff, 6}, {0xff, 7}}},
        {0xaa, {{0xfd, 1}, {0xfd, 3}, {0xfd, 5}, {0xfd, 7}, {0xff, 8}}}, // all-on saves nothing
        {0x55, {{0xfe, 0}, {0xfd, 2}, {0xfd, 4}, {0xfd, 6}, {0xfd, 8}}},
        {0x54, {{0xfd, 1}}},
    };
    FakeHidCalls calls;
    calls.boards.push_back({.path = "/dev/hidraw0"});
    auto port = openOrFail(calls);
    for (const Step &step : steps) {
        calls.board("ABCDE").reports.clear();
        port->out32(Data, step.byte);
        EXPECT_EQ(calls.board("ABCDE").reports, step.reports) << "byte " << int(step.byte);
        EXPECT_EQ(calls.board("ABCDE").relays, step.byte);
        EXPECT_EQ(port->inp32(Data), step.byte);
    }
    calls.board("ABCDE").reports.clear();
    port.reset();
    EXPECT_EQ(calls.board("ABCDE").relays, 0) << "the last tries of the 0";
    EXPECT_EQ(calls.opened, 0);
}

// Which board the opener takes, and what it says when it takes none.
TEST(HidRelay, OpenerFindsTheBoardOrSaysWhy)
{
    using Board = FakeHidCalls::Board;
    struct Case
    {
        const char *name;
        std::vector<Board> boards;
        std::string serial;
        std::string expectSerial; // empty: refused
        std::string whyContains;
    };
    const std::vector<Case> cases = {
        {"none", {}, "", "", "no USB HID relay board found"},
        {"the only one", {{.path = "a"}}, "", "ABCDE", ""},
        {"other products ignored",
         {{.path = "x", .product = "USBRelay3", .serial = "XXXXX"},
          {.path = "y", .product = "Keyboard", .serial = "YYYYY"},
          {.path = "a", .product = "USBRelay2"}},
         "", "ABCDE", ""},
        {"several", {{.path = "a"}, {.path = "b", .serial = "FGHIJ"}}, "", "", "several USB HID relay boards (ABCDE, FGHIJ)"},
        {"by serial", {{.path = "a"}, {.path = "b", .serial = "FGHIJ"}}, "FGHIJ", "FGHIJ", ""},
        {"serial missing", {{.path = "a"}}, "QQQQQ", "", "no USB HID relay board with serial QQQQQ (found: ABCDE)"},
        {"no access", {{.path = "a", .denied = true}}, "", "", "udev rule 70-blinkwerk-hidrelay.rules"},
        {"wrong answer", {{.path = "a", .answer = Answer::Short}}, "", "", "no USB HID relay board found"},
    };
    for (const Case &c : cases) {
        FakeHidCalls calls;
        calls.boards = c.boards;
        std::string why;
        auto port = openHidRelayOutput(calls, hidSpec(c.serial), OutputRole::Sequencer, why);
        EXPECT_EQ(bool(port), !c.expectSerial.empty()) << c.name << ": " << why;
        EXPECT_NE(why.find(c.whyContains), std::string::npos) << c.name << ": " << why;
        if (port) {
            port->out32(Data, 1);
            EXPECT_EQ(calls.board(c.expectSerial).relays, 1) << c.name;
        }
        port.reset();
        // The device is the board however it was named: "hidrelay" and
        // "hidrelay:ABCDE" take one lock.
        std::string whyDevice;
        const auto device = identifyHidRelayOutput(calls, hidSpec(c.serial), whyDevice);
        EXPECT_EQ(device.value_or(""), c.expectSerial.empty() ? "" : "hidrelay:" + c.expectSerial) << c.name;
        EXPECT_EQ(calls.opened, 0) << c.name;
        for (const Board &b : calls.boards)
            EXPECT_TRUE(b.serial == c.expectSerial || b.reports.empty()) << c.name << ": wrote to " << b.serial;
    }

    FakeHidCalls calls;
    calls.boards = {{.path = "a", .product = "USBRelay4"}, {.path = "b", .serial = "FGHIJ"},
                    {.path = "c", .serial = "KLMNO", .denied = true}};
    std::vector<OutputEntry> entries;
    listHidRelayOutputs(calls, entries);
    const std::vector<std::pair<std::string, std::string>> expected = {
        {"hidrelay:ABCDE", "USB-Relaiskarte mit 4 Relais, Seriennummer ABCDE"},
        {"hidrelay:FGHIJ", "USB-Relaiskarte mit 8 Relais, Seriennummer FGHIJ"},
        {"hidrelay", "USB-Relaiskarte ohne Zugriff (udev-Regel 70-blinkwerk-hidrelay.rules fehlt)"}};
    ASSERT_EQ(entries.size(), expected.size());
    for (std::size_t i = 0; i < entries.size(); ++i)
        EXPECT_EQ(std::make_pair(entries[i].spec, entries[i].description), expected[i]);
    EXPECT_EQ(calls.opened, 0);
}

TEST(HidRelay, FourRelayBoardIgnoresChannelsFiveToEightSaidOnce)
{
    FakeHidCalls calls;
    calls.boards.push_back({.path = "a", .product = "USBRelay4"});
    auto port = openOrFail(calls);
    testing::internal::CaptureStderr();
    const std::vector<std::pair<std::uint8_t, Reports>> steps = {
        {0xff, {{0xfe, 0}}}, {0xf1, {{0xfd, 2}, {0xfd, 3}, {0xfd, 4}}}, {0x11, {}}, {0x10, {{0xfd, 1}}}};
    for (const auto &[byte, reports] : steps) {
        calls.board("ABCDE").reports.clear();
        port->out32(Data, byte);
        EXPECT_EQ(calls.board("ABCDE").reports, reports) << int(byte);
        EXPECT_EQ(port->inp32(Data), byte & 0x0f);
    }
    const std::string said = testing::internal::GetCapturedStderr();
    EXPECT_EQ(said, "hidrelay:ABCDE: channels 5 to 8 are ignored: the board has 4 relays\n");
}

// Pulled out mid-run: said once, the newest byte kept; looked for once a
// second; plugged in again: it gets the newest byte, said once. The monitor
// reads 0 while the board is away and its bitmask again afterwards.
TEST(HidRelay, BoardPulledOutAndPluggedInAgain)
{
    for (OutputRole role : {OutputRole::Sequencer, OutputRole::Monitor}) {
        const bool sequencer = role == OutputRole::Sequencer;
        FakeHidCalls calls;
        calls.boards.push_back({.path = "a"});
        auto port = openOrFail(calls, role);
        testing::internal::CaptureStderr();
        calls.board("ABCDE").relays = 0x01;
        port->out32(Data, 0x01);
        EXPECT_EQ(port->inp32(Data), 0x01);
        calls.unplug("ABCDE");
        port->out32(Data, 0x03);
        port->out32(Data, 0x07);
        EXPECT_EQ(port->inp32(Data), 0);
        EXPECT_EQ(port->inp32(Data), 0);
        EXPECT_EQ(port->status(), "Karte nicht erreichbar");
        const int before = calls.enumerations;
        for (int i = 0; i < 9; ++i) { // 900 ms: not yet
            calls.advance(100ms);
            port->service();
        }
        EXPECT_EQ(calls.enumerations, before);
        calls.advance(100ms);
        port->service(); // 1 s: looks, the board is still away
        EXPECT_EQ(calls.enumerations, before + 1);
        calls.board("ABCDE").present = true;
        calls.board("ABCDE").relays = sequencer ? 0 : 0x05;
        calls.advance(500ms);
        port->service();
        EXPECT_EQ(calls.enumerations, before + 1);
        calls.advance(500ms);
        port->service();
        EXPECT_EQ(calls.enumerations, before + 2);
        EXPECT_EQ(calls.board("ABCDE").relays, sequencer ? 0x07 : 0x05);
        EXPECT_EQ(port->inp32(Data), sequencer ? 0x07 : 0x05);
        port->service();
        EXPECT_EQ(calls.enumerations, before + 2);
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(count(said, "\n"), 2) << said;
        EXPECT_EQ(count(said, "hidrelay:ABCDE: the board is gone or does not answer (fake failure); the program goes on"),
                  1) << said;
        EXPECT_EQ(count(said, sequencer ? "hidrelay:ABCDE: the board is back and holds the newest byte\n"
                                        : "hidrelay:ABCDE: the board is back\n"),
                  1) << said;
        port.reset();
        EXPECT_EQ(calls.board("ABCDE").relays, sequencer ? 0 : 0x05);
        EXPECT_EQ(calls.opened, 0);
    }
}

// The monitor reads the board at every inp32 and never writes.
TEST(HidRelay, MonitorReadsTheBitmaskAndNeverWrites)
{
    FakeHidCalls calls;
    calls.boards.push_back({.path = "a", .product = "USBRelay2"});
    auto port = openOrFail(calls, OutputRole::Monitor);
    for (std::uint8_t relays : {0x00, 0x01, 0x03, 0xff}) {
        calls.board("ABCDE").relays = relays;
        const int reads = calls.board("ABCDE").reads;
        port->out32(Data, 0xff);
        EXPECT_EQ(port->inp32(Data), relays & 0x03);
        EXPECT_EQ(calls.board("ABCDE").reads, reads + 1);
    }
    port.reset();
    EXPECT_TRUE(calls.board("ABCDE").reports.empty());
}

// A board that answers wrongly or not at all: said once, no call on it until
// service looks again (a board that waited out the kernel's timeout: after
// 30 s, not every second), and none of the calls repeats.
TEST(HidRelay, WrongOrMissingAnswersAreSaidOnceAndBounded)
{
    struct Case
    {
        Answer answer;
        std::string says;
        std::chrono::seconds lookAgain;
    };
    const std::vector<Case> cases = {
        {Answer::Fail, "the board is gone or does not answer (fake failure)", 1s},
        {Answer::Stall, "the board is gone or does not answer (fake failure)", 30s},
        {Answer::Short, "the board answers wrongly (a status report of 4 bytes instead of 9)", 1s},
        {Answer::Garbage, "the board answers wrongly (a serial with unprintable characters)", 1s},
    };
    for (const Case &c : cases) {
        FakeHidCalls calls;
        calls.boards.push_back({.path = "a"});
        auto port = openOrFail(calls, OutputRole::Monitor);
        calls.board("ABCDE").answer = c.answer;
        testing::internal::CaptureStderr();
        for (int i = 0; i < 5; ++i)
            EXPECT_EQ(port->inp32(Data), 0);
        EXPECT_EQ(calls.board("ABCDE").reads, 2) << "one at the opener, one at the first inp32";
        const int before = calls.enumerations;
        const auto lost = calls.clock;
        while (calls.clock < lost + c.lookAgain + 500ms) {
            calls.advance(100ms);
            port->service();
            port->inp32(Data);
        }
        EXPECT_EQ(calls.enumerations, before + 1) << int(c.answer);
        const int reads = calls.board("ABCDE").reads;
        calls.advance(c.lookAgain - 1s);
        port->service();
        EXPECT_EQ(calls.board("ABCDE").reads, reads) << int(c.answer) << ": looked again too early";
        calls.board("ABCDE").answer = Answer::Right;
        calls.advance(c.lookAgain);
        port->service();
        calls.board("ABCDE").relays = 0x42;
        EXPECT_EQ(port->inp32(Data), 0x42);
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ(said, "hidrelay:ABCDE: " + c.says + "; the program goes on and says when the board is back\n"
                            + "hidrelay:ABCDE: the board is back\n");
    }
}

} // namespace
