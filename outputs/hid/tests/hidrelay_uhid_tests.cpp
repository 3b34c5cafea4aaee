// The USB HID relay backend through real hidapi and the kernel's hidraw
// driver, with the board emulated by uhid (uhidboard.h). Needs /dev/uhid:
// CTest runs it in a small virtual machine (tools/kernel-vm).
// Prints the board's relays after every step.

#include "hidrelay.h"
#include "portbackend.h"
#include "uhidboard.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <thread>
#include <unistd.h>

using namespace portio;
using portio::fakes::UhidBoard;
using namespace std::chrono_literals;

namespace {

constexpr std::int16_t Data = 888;

// Waits (bounded) until the listing shows what is expected.
std::vector<OutputEntry> listWhen(std::size_t count)
{
    std::vector<OutputEntry> entries;
    for (int i = 0; i < 100; ++i) {
        entries.clear();
        listHidRelayOutputs(entries);
        if (entries.size() == count)
            break;
        std::this_thread::sleep_for(50ms);
    }
    return entries;
}

std::string hex(const std::vector<std::vector<std::uint8_t>> &commands)
{
    std::string text;
    char item[16];
    for (const auto &c : commands) {
        std::snprintf(item, sizeof item, "%s%02X %02X", text.empty() ? "" : ", ", c[0], c[1]);
        text += item;
    }
    return text.empty() ? "-" : text;
}

TEST(HidRelayKernel, DrivesTheEmulatedBoardThroughHidraw)
{
    if (access("/dev/uhid", R_OK | W_OK) != 0)
        GTEST_SKIP() << "no /dev/uhid here: run through tools/kernel-vm";
    UhidBoard board("USBRelay8", "BW001");
    std::string error;
    ASSERT_TRUE(board.plugIn(error)) << error;

    const std::vector<OutputEntry> entries = listWhen(1);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].spec, "hidrelay:BW001");
    EXPECT_EQ(entries[0].description, "USB-Relaiskarte mit 8 Relais, Seriennummer BW001");
    std::printf("listed: %s  %s\n", entries[0].spec.c_str(), entries[0].description.c_str());

    OutputSpec spec;
    spec.kind = "hidrelay";
    std::string why;
    auto port = openHidRelayOutput(spec, OutputRole::Sequencer, why);
    ASSERT_TRUE(port) << why;
    auto monitor = openHidRelayOutput(spec, OutputRole::Monitor, why);
    ASSERT_TRUE(monitor) << why;

    const std::uint8_t steps[20] = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80, 0xff, 0x00,
                                    0x55, 0xaa, 0x0f, 0xf0, 0x81, 0x42, 0x24, 0x18, 0xfe, 0x00};
    for (int i = 0; i < 20; ++i) {
        port->out32(Data, steps[i]);
        // The report is a synchronous request: the board holds the byte when out32 returns.
        EXPECT_EQ(board.relays(), steps[i]) << "step " << i + 1;
        EXPECT_EQ(port->inp32(Data), steps[i]);
        EXPECT_EQ(monitor->inp32(Data), steps[i]);
        std::printf("step %2d: sent %02X  board holds %02X  monitor reads %02X  reports: %s\n", i + 1, steps[i],
                    board.relays(), monitor->inp32(Data), hex(board.takeCommands()).c_str());
    }

    // Pulled out and plugged in again: found within about a second with the newest byte.
    port->out32(Data, 0x11);
    board.takeCommands();
    board.pullOut();
    port->out32(Data, 0x3c);
    EXPECT_EQ(port->inp32(Data), 0);
    EXPECT_EQ(monitor->inp32(Data), 0);
    ASSERT_TRUE(board.plugIn(error)) << error;
    const auto plugged = std::chrono::steady_clock::now();
    while (board.relays() != 0x3c && std::chrono::steady_clock::now() - plugged < 5s) {
        port->service();
        monitor->service();
        std::this_thread::sleep_for(100ms);
    }
    const auto found = std::chrono::steady_clock::now() - plugged;
    EXPECT_EQ(board.relays(), 0x3c);
    EXPECT_LT(found, 2s);
    std::printf("plugged in again: board holds %02X after %lld ms  reports: %s\n", board.relays(),
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(found).count()),
                hex(board.takeCommands()).c_str());
    for (int i = 0; i < 20 && monitor->inp32(Data) != 0x3c; ++i) {
        std::this_thread::sleep_for(100ms);
        monitor->service();
    }
    EXPECT_EQ(monitor->inp32(Data), 0x3c);

    // The monitor reads what the board holds and never writes.
    board.setRelays(0x5a);
    EXPECT_EQ(monitor->inp32(Data), 0x5a);
    monitor->out32(Data, 0xff);
    monitor.reset();
    EXPECT_EQ(board.relays(), 0x5a);
    EXPECT_EQ(hex(board.takeCommands()), "-");

    // Closing switches the relays off.
    port.reset();
    EXPECT_EQ(board.relays(), 0);
    std::printf("closed: board holds %02X\n", board.relays());
}

} // namespace
