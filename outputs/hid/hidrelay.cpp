// USB HID relay boards: finding them, and the reports that switch them.
// The calls to the device go through HidCalls; hidrelay_hidapi.cpp binds
// them to hidapi, hidrelay_none.cpp stands in where the build has no hidapi.

#include "hidrelay.h"

#include "notice.h"
#include "portbackend.h"

#include <array>
#include <bit>

namespace portio {

namespace {

constexpr std::uint16_t VendorId = 0x16c0;
constexpr std::uint16_t ProductId = 0x05df;
constexpr std::int16_t DataPort = 888;
// Report id 0 and the eight data bytes.
constexpr std::size_t ReportLength = 9;
constexpr int SerialLength = 5;
constexpr auto LookAgain = std::chrono::seconds(1);
// A call that took this long waited out the kernel's timeout: the board is
// there but mute, and looking for it costs that long every time.
constexpr auto Stalled = std::chrono::milliseconds(1000);
constexpr auto LookAgainWhenMute = std::chrono::seconds(30);
const char *const AccessHint =
    "no access to the USB HID relay board: install the udev rule 70-blinkwerk-hidrelay.rules "
    "(see the README) and plug the board in again";

enum : std::uint8_t { CmdOn = 0xff, CmdOff = 0xfd, CmdAllOn = 0xfe, CmdAllOff = 0xfc };

// "USBRelayN" with N one of 1, 2, 4, 8: N; anything else: 0.
int relayCountOf(const std::string &product)
{
    if (product.size() != 9 || product.compare(0, 8, "USBRelay") != 0)
        return 0;
    switch (product[8]) {
    case '1': return 1;
    case '2': return 2;
    case '4': return 4;
    case '8': return 8;
    default: return 0;
    }
}

std::uint8_t maskOf(int relays)
{
    return static_cast<std::uint8_t>((1u << relays) - 1);
}

struct BoardState
{
    std::string serial;
    std::uint8_t relays = 0; // bitmask
};

enum class ReadResult { Ok, Failed, Wrong };

// One GET_FEATURE; checks the length and that the serial is printable.
ReadResult readBoard(HidCalls &calls, HidCalls::Handle device, BoardState &state, std::string &why)
{
    std::array<std::uint8_t, ReportLength> buffer {};
    const int got = calls.getFeatureReport(device, buffer.data(), buffer.size());
    if (got < 0) {
        why = calls.lastError(device);
        return ReadResult::Failed;
    }
    if (got < static_cast<int>(ReportLength)) {
        why = "a status report of " + std::to_string(got) + " bytes instead of 9";
        return ReadResult::Wrong;
    }
    std::string serial;
    for (int i = 1; i <= SerialLength; ++i) {
        const auto c = buffer[static_cast<std::size_t>(i)];
        if (c < 0x21 || c > 0x7e) {
            why = "a serial with unprintable characters";
            return ReadResult::Wrong;
        }
        serial += static_cast<char>(c);
    }
    state.serial = serial;
    state.relays = buffer[8];
    return ReadResult::Ok;
}

struct FoundBoard
{
    std::string path;
    int relays = 0;
    BoardState state;
    HidCalls::Handle device = nullptr; // open, or null once closed
};

// Every board present, opened and read; boards that could not be opened for
// lack of access are counted in denied. The caller closes the handles.
std::vector<FoundBoard> findBoards(HidCalls &calls, int &denied)
{
    std::vector<FoundBoard> boards;
    denied = 0;
    for (const HidCalls::Device &device : calls.enumerate(VendorId, ProductId)) {
        const int relays = relayCountOf(device.product);
        if (relays == 0)
            continue;
        bool isDenied = false;
        HidCalls::Handle handle = calls.open(device.path, isDenied);
        if (!handle) {
            denied += isDenied ? 1 : 0;
            continue;
        }
        BoardState state;
        std::string why;
        if (readBoard(calls, handle, state, why) != ReadResult::Ok) {
            calls.close(handle);
            continue;
        }
        boards.push_back({device.path, relays, state, handle});
    }
    return boards;
}

void closeAll(HidCalls &calls, std::vector<FoundBoard> &boards, const FoundBoard *except = nullptr)
{
    for (FoundBoard &board : boards) {
        if (&board == except)
            continue;
        if (board.device)
            calls.close(board.device);
        board.device = nullptr;
    }
}

class HidRelayPort final : public PortBackend
{
public:
    HidRelayPort(HidCalls &calls, const FoundBoard &board, OutputRole role)
        : m_calls(calls), m_role(role), m_serial(board.state.serial), m_relays(board.relays),
          m_device(board.device), m_held(board.state.relays & maskOf(board.relays))
    {
        m_source = "hidrelay:" + m_serial;
    }

    ~HidRelayPort() override
    {
        if (m_role == OutputRole::Sequencer) {
            m_wanted = 0;
            if (!m_device)
                lookForBoard();
            else
                apply();
        }
        if (m_device)
            m_calls.close(m_device);
    }

    void out32(std::int16_t port, std::int16_t value) override
    {
        if (port != DataPort || m_role != OutputRole::Sequencer)
            return;
        m_wanted = static_cast<std::uint8_t>(value & 0xff);
        if ((m_wanted & ~maskOf(m_relays)) && !m_saidIgnored) {
            m_saidIgnored = true;
            notice(m_source, "channels " + std::to_string(m_relays + 1) + " to 8 are ignored: the board has "
                                 + std::to_string(m_relays) + (m_relays == 1 ? " relay" : " relays"));
        }
        if (m_device)
            apply();
    }

    std::int16_t inp32(std::int16_t port) override
    {
        if (port != DataPort || !m_device)
            return 0;
        if (m_role == OutputRole::Monitor) {
            BoardState state;
            if (!read(state))
                return 0;
            m_held = state.relays & maskOf(m_relays);
        }
        return m_held;
    }

    std::optional<std::uint8_t> readPort() override
    {
        if (!m_device)
            return std::nullopt;
        if (m_role == OutputRole::Monitor) {
            BoardState state;
            if (!read(state))
                return std::nullopt;
            m_held = state.relays & maskOf(m_relays);
        }
        return m_held;
    }

    void service() override
    {
        if (m_device || m_calls.now() < m_nextLook)
            return;
        lookForBoard();
    }

    std::string status() const override
    {
        if (!m_device)
            return "Karte nicht erreichbar";
        return m_role == OutputRole::Monitor ? "zeigt den Zustand der Karte" : std::string();
    }

private:
    // Sends what turns the board's relays into the newest byte; false when a
    // report failed (the board is then given up until service finds it).
    bool apply()
    {
        const std::uint8_t mask = maskOf(m_relays);
        const std::uint8_t target = m_wanted & mask;
        if (target == m_held)
            return true;
        const int single = std::popcount(static_cast<unsigned>(target ^ m_held));
        // All-on first, then off for the relays that end off: only when no
        // relay that stays off would flash on. All-off likewise.
        const std::uint8_t endOff = static_cast<std::uint8_t>(~target & mask);
        const bool allOnClean = (endOff & ~m_held & mask) == 0;
        const bool allOffClean = (target & m_held) == 0;
        const int viaAllOn = 1 + std::popcount(static_cast<unsigned>(endOff));
        const int viaAllOff = 1 + std::popcount(static_cast<unsigned>(target));
        if (allOnClean && viaAllOn < single && (!allOffClean || viaAllOn <= viaAllOff)) {
            if (!send(CmdAllOn, 0, mask))
                return false;
        } else if (allOffClean && viaAllOff < single) {
            if (!send(CmdAllOff, 0, 0))
                return false;
        }
        for (int relay = 0; relay < m_relays; ++relay) {
            const std::uint8_t bit = static_cast<std::uint8_t>(1u << relay);
            if ((target & bit) == (m_held & bit))
                continue;
            const bool on = target & bit;
            if (!send(on ? CmdOn : CmdOff, relay + 1, on ? (m_held | bit) : (m_held & ~bit)))
                return false;
        }
        return true;
    }

    bool send(std::uint8_t command, int relay, unsigned heldAfter)
    {
        std::array<std::uint8_t, ReportLength> report {};
        report[1] = command;
        report[2] = static_cast<std::uint8_t>(relay);
        const auto started = m_calls.now();
        if (m_calls.sendFeatureReport(m_device, report.data(), report.size()) < 0) {
            lose("the board is gone or does not answer (" + m_calls.lastError(m_device) + ")",
                 m_calls.now() - started >= Stalled);
            return false;
        }
        m_held = static_cast<std::uint8_t>(heldAfter);
        return true;
    }

    bool read(BoardState &state)
    {
        std::string why;
        const auto started = m_calls.now();
        const ReadResult result = readBoard(m_calls, m_device, state, why);
        const bool stalled = m_calls.now() - started >= Stalled;
        if (result == ReadResult::Failed) {
            lose("the board is gone or does not answer (" + why + ")", stalled);
            return false;
        }
        if (result == ReadResult::Wrong || state.serial != m_serial) {
            lose("the board answers wrongly (" + (result == ReadResult::Wrong ? why : "serial " + state.serial) + ")",
                 stalled);
            return false;
        }
        return true;
    }

    void lose(const std::string &why, bool mute)
    {
        m_calls.close(m_device);
        m_device = nullptr;
        m_nextLook = m_calls.now() + (mute ? LookAgainWhenMute : LookAgain);
        if (m_away)
            return;
        m_away = true;
        notice(m_source, why + (m_role == OutputRole::Sequencer
                                    ? "; the program goes on, keeps the newest byte and says when the board is back"
                                    : "; the program goes on and says when the board is back"));
    }

    // Finds the board by its serial among those present, then brings it to
    // the newest byte.
    void lookForBoard()
    {
        const auto started = m_calls.now();
        int denied = 0;
        std::vector<FoundBoard> boards = findBoards(m_calls, denied);
        m_nextLook = m_calls.now() + (m_calls.now() - started >= Stalled ? LookAgainWhenMute : LookAgain);
        FoundBoard *mine = nullptr;
        for (FoundBoard &board : boards)
            if (!mine && board.state.serial == m_serial)
                mine = &board;
        closeAll(m_calls, boards, mine);
        if (!mine)
            return;
        m_device = mine->device;
        m_held = mine->state.relays & maskOf(m_relays);
        if (m_role == OutputRole::Sequencer && !apply())
            return;
        m_away = false;
        notice(m_source, m_role == OutputRole::Sequencer ? "the board is back and holds the newest byte"
                                                         : "the board is back");
    }

    HidCalls &m_calls;
    OutputRole m_role;
    std::string m_serial;
    std::string m_source;
    int m_relays;
    HidCalls::Handle m_device;
    std::uint8_t m_held;       // what the board's relays are (as far as known)
    std::uint8_t m_wanted = 0; // the newest byte asked for
    bool m_away = false;       // lost and said so
    bool m_saidIgnored = false;
    std::chrono::steady_clock::time_point m_nextLook {};
};

std::string serialsOf(const std::vector<FoundBoard> &boards)
{
    std::string text;
    for (const FoundBoard &board : boards)
        text += (text.empty() ? "" : ", ") + board.state.serial;
    return text;
}

} // namespace

namespace {

// The board spec names among those present (left open; the others closed),
// or null with the reason.
const FoundBoard *chooseBoard(HidCalls &calls, const OutputSpec &spec, std::vector<FoundBoard> &boards,
                              std::string &whyNot)
{
    int denied = 0;
    boards = findBoards(calls, denied);
    const FoundBoard *chosen = nullptr;
    if (spec.serial.empty()) {
        if (boards.size() == 1)
            chosen = &boards.front();
        else if (boards.size() > 1)
            whyNot = "several USB HID relay boards (" + serialsOf(boards) + "): choose one with hidrelay:SERIAL";
    } else {
        for (const FoundBoard &board : boards)
            if (!chosen && board.state.serial == spec.serial)
                chosen = &board;
        if (!chosen && !boards.empty() && denied == 0)
            whyNot = "no USB HID relay board with serial " + spec.serial + " (found: " + serialsOf(boards) + ")";
    }
    if (!chosen && whyNot.empty())
        whyNot = denied > 0 ? AccessHint
                            : (spec.serial.empty() ? std::string("no USB HID relay board found")
                                                   : "no USB HID relay board with serial " + spec.serial);
    closeAll(calls, boards, chosen);
    return chosen;
}

} // namespace

std::optional<std::string> identifyHidRelayOutput(HidCalls &calls, const OutputSpec &spec, std::string &whyNot)
{
    std::vector<FoundBoard> boards;
    const FoundBoard *chosen = chooseBoard(calls, spec, boards, whyNot);
    if (!chosen)
        return std::nullopt;
    std::string serial = chosen->state.serial;
    closeAll(calls, boards);
    return "hidrelay:" + serial;
}

std::unique_ptr<PortBackend> openHidRelayOutput(HidCalls &calls, const OutputSpec &spec, OutputRole role,
                                                std::string &whyNot)
{
    std::vector<FoundBoard> boards;
    const FoundBoard *chosen = chooseBoard(calls, spec, boards, whyNot);
    if (!chosen)
        return nullptr;
    return std::make_unique<HidRelayPort>(calls, *chosen, role);
}

void listHidRelayOutputs(HidCalls &calls, std::vector<OutputEntry> &entries)
{
    int denied = 0;
    std::vector<FoundBoard> boards = findBoards(calls, denied);
    closeAll(calls, boards);
    for (const FoundBoard &board : boards) {
        entries.push_back({"hidrelay:" + board.state.serial, "USB-Relaiskarte mit " + std::to_string(board.relays)
                                                       + " Relais, Seriennummer " + board.state.serial});
    }
    if (denied > 0)
        entries.push_back({"hidrelay", "USB-Relaiskarte ohne Zugriff (udev-Regel 70-blinkwerk-hidrelay.rules fehlt)"});
}

} // namespace portio
