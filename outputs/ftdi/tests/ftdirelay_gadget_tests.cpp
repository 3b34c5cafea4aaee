// The FTDI relay backend through real libftdi1, libusb and the kernel's
// usbfs, against a board emulated as a USB gadget (ftdiboard.h) on
// dummy_hcd, with ftdi_sio loaded as on a desktop. Needs root and a USB
// device controller: CTest runs it in a small virtual machine
// (tools/kernel-vm). Prints what the user would see along the way.

#include "ftdiboard.h"
#include "ftdikind.h"
#include "portbackend.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <future>
#include <thread>
#include <unistd.h>

using namespace portio;
using portio::fakes::FtdiBoard;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

namespace {

constexpr std::int16_t Data = 888;

bool haveController()
{
    std::error_code error;
    return geteuid() == 0 && !std::filesystem::is_empty("/sys/class/udc", error) && !error;
}

#define REQUIRE_CONTROLLER()                                                                                           \
    if (!haveController())                                                                                             \
    GTEST_SKIP() << "no USB device controller here: run through tools/kernel-vm"

OutputSpec named(const std::string &serial)
{
    OutputSpec spec;
    spec.serial = serial;
    return spec;
}

std::unique_ptr<PortBackend> openOrFail(OutputRole role, const std::string &serial)
{
    std::string why;
    auto port = openFtdiOutput(named(serial), role, why);
    EXPECT_TRUE(port) << why;
    return port;
}

// The driver bound to the board's interface: ftdi_sio, usbfs (a program
// holds it) or none.
std::string driverOf(const std::string &location)
{
    std::error_code error;
    const auto link = std::filesystem::read_symlink("/sys/bus/usb/devices/" + location + ":1.0/driver", error);
    return error ? "none" : link.filename().string();
}

// A call that must come back: one that has not after a minute ends the
// program with a message, as it cannot be cancelled.
void bounded(const char *what, const std::function<void()> &call)
{
    auto done = std::async(std::launch::async, call);
    if (done.wait_for(60s) != std::future_status::ready) {
        std::fprintf(stderr, "FAILED: %s did not return within 60 s\n", what);
        std::_Exit(1);
    }
    done.get();
}

long long msSince(Clock::time_point start)
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

TEST(FtdiRelayKernel, StepsArriveAsPinsAndTheMonitorReadsThemBack)
{
    REQUIRE_CONTROLLER();
    FtdiBoard board("BW0001");
    std::string error;
    ASSERT_TRUE(board.plugIn(error)) << error;
    std::printf("plugged in at %s, interface driver %s\n", board.location().c_str(),
                driverOf(board.location()).c_str());

    auto port = openOrFail(OutputRole::Sequencer, "");
    auto monitor = openOrFail(OutputRole::Monitor, "BW0001");
    ASSERT_TRUE(port && monitor);
    EXPECT_TRUE(board.bitbang());
    std::printf("driven: interface driver %s\n", driverOf(board.location()).c_str());
    board.takeWrites();

    const std::uint8_t steps[20] = {0x01, 0x02, 0x04, 0x08, 0x10, 0x20, 0x40, 0x80, 0xff, 0x00,
                                    0x55, 0xaa, 0x0f, 0xf0, 0x81, 0x42, 0x24, 0x18, 0xfe, 0x00};
    for (int i = 0; i < 20; ++i) {
        port->out32(Data, steps[i]);
        EXPECT_TRUE(board.waitForPins(steps[i], 5s)) << "step " << i + 1;
        EXPECT_EQ(board.takeWrites(), std::vector<std::uint8_t> {steps[i]}) << "step " << i + 1;
        EXPECT_EQ(monitor->readPort(), steps[i]) << "step " << i + 1;
    }

    // Stop's 0.
    port->out32(Data, 0x3c);
    port->out32(Data, 0x00);
    EXPECT_TRUE(board.waitForPins(0x00, 5s));
    // The monitor writes nothing and leaves the bit mode alone.
    board.takeWrites();
    monitor->out32(Data, 0xff);
    monitor.reset();
    EXPECT_TRUE(board.takeWrites().empty());
    EXPECT_TRUE(board.bitbang());
    // Closing writes 0.
    port->out32(Data, 0x5a);
    EXPECT_TRUE(board.waitForPins(0x5a, 5s));
    board.takeWrites();
    port.reset();
    EXPECT_EQ(board.takeWrites(), std::vector<std::uint8_t> {0x00});
    EXPECT_EQ(board.pins(), 0x00);
    std::printf("closed: pins 0x%02X, interface driver %s\n", board.pins(), driverOf(board.location()).c_str());
}

// Listed and named the same however the board is named, with a serial and
// without one (then by its USB port); a board without serial can be driven.
TEST(FtdiRelayKernel, BoardsAreListedAndNamedBySerialOrPort)
{
    REQUIRE_CONTROLLER();
    for (const std::string serial : {"BW0002", ""}) {
        SCOPED_TRACE("serial \"" + serial + "\"");
        FtdiBoard board(serial);
        std::string error;
        ASSERT_TRUE(board.plugIn(error)) << error;
        const std::string port = board.location();
        const std::string name = serial.empty() ? "@" + port : serial;
        const std::string description = serial.empty() ? "FTDI-Relaiskarte (ohne Seriennummer, USB-Anschluss " + port + ")"
                                                        : "FTDI-Relaiskarte (Seriennummer " + serial + ")";
        std::vector<OutputEntry> entries;
        listFtdiOutputs(entries);
        ASSERT_EQ(entries.size(), 1u);
        EXPECT_EQ(entries[0].spec, "ftdi:" + name);
        EXPECT_EQ(entries[0].description, description);
        std::printf("listed: %s  %s\n", entries[0].spec.c_str(), entries[0].description.c_str());
        for (const std::string &as : {std::string(), "@" + port, name}) {
            std::string why;
            EXPECT_EQ(identifyFtdiOutput(named(as), why).value_or(why), "ftdi:" + name) << "named \"" << as << "\"";
        }
        auto driver = openOrFail(OutputRole::Sequencer, name);
        ASSERT_TRUE(driver);
        driver->out32(Data, 0x81);
        EXPECT_TRUE(board.waitForPins(0x81, 5s));
    }
}

// A board pulled out and plugged in again, reset, or mute for a while:
// every call comes back, and once the board answers again it holds the
// newest byte, and the monitor shows it.
TEST(FtdiRelayKernel, AFaultyBoardBoundsEveryCallAndGetsTheNewestByteBack)
{
    REQUIRE_CONTROLLER();
    struct Fault
    {
        const char *name;
        std::function<void(FtdiBoard &)> begin;
        std::function<void(FtdiBoard &)> end;
    };
    const std::vector<Fault> faults = {
        {"pulled out", [](FtdiBoard &b) { b.pullOut(); },
         [](FtdiBoard &b) {
             std::string error;
             EXPECT_TRUE(b.plugIn(error)) << error;
         }},
        {"reset", [](FtdiBoard &b) { b.leaveBitbang(); }, [](FtdiBoard &) {}},
        {"mute", [](FtdiBoard &b) { b.hang(true); }, [](FtdiBoard &b) { b.hang(false); }},
    };
    FtdiBoard board("BW0003");
    std::string error;
    ASSERT_TRUE(board.plugIn(error)) << error;
    for (const Fault &fault : faults) {
        SCOPED_TRACE(fault.name);
        auto port = openOrFail(OutputRole::Sequencer, "BW0003");
        auto monitor = openOrFail(OutputRole::Monitor, "BW0003");
        ASSERT_TRUE(port && monitor);
        port->out32(Data, 0x11);
        EXPECT_TRUE(board.waitForPins(0x11, 5s));

        fault.begin(board);
        const auto faulty = Clock::now();
        bounded("out32", [&] { port->out32(Data, 0x3c); });
        bounded("readPort", [&] { monitor->readPort(); });
        bounded("service", [&] {
            port->service();
            monitor->service();
        });
        const long long calls = msSince(faulty);
        fault.end(board);

        const auto back = Clock::now();
        while (Clock::now() - back < 60s && !(board.pins() == 0x3c && monitor->readPort() == 0x3c)) {
            bounded("service", [&] {
                port->service();
                monitor->service();
            });
            std::this_thread::sleep_for(100ms);
        }
        EXPECT_EQ(board.pins(), 0x3c);
        EXPECT_EQ(monitor->readPort(), 0x3c);
        std::printf("%s: the calls during the fault took %lld ms; the newest byte was back after %lld ms\n",
                    fault.name, calls, msSince(back));
        bounded("closing", [&] { port.reset(); });
        EXPECT_TRUE(board.waitForPins(0x00, 5s));
    }
}

TEST(FtdiRelayKernel, ClosingBesideAMuteBoardComesBack)
{
    REQUIRE_CONTROLLER();
    FtdiBoard board("BW0004");
    std::string error;
    ASSERT_TRUE(board.plugIn(error)) << error;
    auto port = openOrFail(OutputRole::Sequencer, "BW0004");
    ASSERT_TRUE(port);
    port->out32(Data, 0x11);
    board.hang(true);
    const auto start = Clock::now();
    bounded("closing", [&] { port.reset(); });
    std::printf("closing beside a mute board took %lld ms\n", msSince(start));
    board.hang(false);
}

} // namespace
