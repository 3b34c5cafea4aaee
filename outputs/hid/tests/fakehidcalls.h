#pragma once
// A model of USB HID relay boards behind HidCalls: boards that can be
// plugged in and out, refuse access, or answer wrongly; every report sent
// is logged; time is the model's own and moves only when told.

#include "hidrelay.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <deque>
#include <map>
#include <string>
#include <vector>

namespace portio::fakes {

class FakeHidCalls final : public HidCalls
{
public:
    enum class Answer { Right, Fail, Short, Garbage, Stall };
    struct Board
    {
        std::string path;
        std::string product = "USBRelay8";
        std::string serial = "ABCDE";
        std::uint8_t relays = 0;
        bool present = true;
        bool denied = false;
        Answer answer = Answer::Right;
        std::vector<std::vector<std::uint8_t>> reports {}; // command bytes as sent (without the report id)
        int reads = 0;
    };

    std::vector<Board> boards;
    int enumerations = 0;
    int opened = 0; // handles open now
    std::chrono::steady_clock::time_point clock {};

    Board &board(const std::string &serial)
    {
        return *std::find_if(boards.begin(), boards.end(), [&](const Board &b) { return b.serial == serial; });
    }
    void unplug(const std::string &serial)
    {
        Board &b = board(serial);
        b.present = false;
        b.relays = 0; // a board without power drops its relays
        for (Open &open : m_handles)
            if (&boards[open.board] == &b)
                open.dead = true;
    }
    void advance(std::chrono::milliseconds by) { clock += by; }

    std::vector<Device> enumerate(std::uint16_t vendor, std::uint16_t product) override
    {
        ++enumerations;
        std::vector<Device> found;
        if (vendor == 0x16c0 && product == 0x05df)
            for (const Board &b : boards)
                if (b.present)
                    found.push_back({b.path, b.product});
        return found;
    }
    Handle open(const std::string &path, bool &denied) override
    {
        denied = false;
        for (std::size_t i = 0; i < boards.size(); ++i)
            if (boards[i].path == path && boards[i].present) {
                if ((denied = boards[i].denied))
                    return nullptr;
                ++opened;
                return &m_handles.emplace_back(Open {i, true, false});
            }
        return nullptr;
    }
    int sendFeatureReport(Handle device, const std::uint8_t *data, std::size_t length) override
    {
        Board *b = live(device);
        if (!b || length != 9 || data[0] != 0)
            return -1;
        b->reports.push_back({data + 1, data + 3});
        if (data[1] == 0xff && data[2] >= 1 && data[2] <= 8)
            b->relays |= static_cast<std::uint8_t>(1u << (data[2] - 1));
        else if (data[1] == 0xfd && data[2] >= 1 && data[2] <= 8)
            b->relays &= static_cast<std::uint8_t>(~(1u << (data[2] - 1)));
        else if (data[1] == 0xfe)
            b->relays = static_cast<std::uint8_t>((1u << (b->product.back() - '0')) - 1);
        else if (data[1] == 0xfc)
            b->relays = 0;
        return 9;
    }
    int getFeatureReport(Handle device, std::uint8_t *data, std::size_t length) override
    {
        Board *b = live(device);
        if (!b || length < 9)
            return -1;
        ++b->reads;
        switch (b->answer) {
        case Answer::Fail: return -1;
        case Answer::Stall: advance(std::chrono::milliseconds(5000)); return -1;
        case Answer::Short: return 4;
        case Answer::Garbage: std::fill(data, data + 9, 0); return 9;
        case Answer::Right: break;
        }
        data[0] = 0;
        std::copy(b->serial.begin(), b->serial.end(), data + 1);
        data[6] = data[7] = 0;
        data[8] = b->relays;
        return 9;
    }
    void close(Handle device) override
    {
        if (device) {
            static_cast<Open *>(device)->valid = false;
            --opened;
        }
    }
    std::string lastError(Handle) override { return "fake failure"; }
    std::chrono::steady_clock::time_point now() override { return clock; }

private:
    struct Open
    {
        std::size_t board;
        bool valid; // not closed
        bool dead;  // its board was pulled out
    };
    Board *live(Handle device)
    {
        auto *open = static_cast<Open *>(device);
        if (!open || !open->valid || open->dead || !boards[open->board].present)
            return nullptr;
        return &boards[open->board];
    }
    std::deque<Open> m_handles;
};

} // namespace portio::fakes
