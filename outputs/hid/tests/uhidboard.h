#pragma once
// A USB HID relay board emulated through the kernel's uhid driver: the
// kernel sees a HID device (vendor 0x16c0, product 0x05df, named like the
// board), hidraw gives it a node, and this object answers the board's
// feature reports from a thread of its own. Needs /dev/uhid (root).

#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace portio::fakes {

class UhidBoard
{
public:
    UhidBoard(std::string product, std::string serial);
    ~UhidBoard();

    // Plugs the board in (a new HID device, relays off) or pulls it out.
    bool plugIn(std::string &error);
    void pullOut();

    // A mute board holds every request unanswered, as a hung one does.
    void setMute(bool mute) { m_mute = mute; }

    std::uint8_t relays() const { return m_relays; }
    void setRelays(std::uint8_t relays) { m_relays = relays; }
    // Commands received (two bytes each) since the last call.
    std::vector<std::vector<std::uint8_t>> takeCommands();
    // Waits up to timeout for the relays to become value.
    bool waitFor(std::uint8_t value, std::chrono::milliseconds timeout) const;
    // The moment the relays last changed.
    std::chrono::steady_clock::time_point lastChange() const { return m_lastChange.load(); }

private:
    void serve();
    void command(const std::uint8_t *data, std::size_t size);

    std::string m_product;
    std::string m_serial;
    int m_fd = -1;
    std::thread m_thread;
    std::atomic<bool> m_stop {false};
    std::atomic<bool> m_mute {false};
    std::atomic<std::uint8_t> m_relays {0};
    std::atomic<std::chrono::steady_clock::time_point> m_lastChange {};
    std::mutex m_mutex;
    std::vector<std::vector<std::uint8_t>> m_commands;
};

} // namespace portio::fakes
