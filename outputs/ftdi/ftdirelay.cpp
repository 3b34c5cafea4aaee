// FTDI bit-bang relay boards: choosing a board by its name, and the
// backend that drives or watches it. The device calls go through
// FtdiCalls; ftdirelay_libftdi.cpp binds them to libftdi1.

#include "ftdirelay.h"

#include "ftdikind.h"
#include "notice.h"
#include "portbackend.h"

#include <algorithm>
#include <cstdio>

namespace portio {

namespace {

using namespace std::chrono_literals;
using Device = FtdiCalls::Device;

constexpr std::uint8_t AllOutputs = 0xff;
constexpr std::uint8_t BitbangMode = 0x01; // libftdi's BITMODE_BITBANG: asynchronous bit-bang
constexpr auto LookAgain = 1s;
constexpr auto CheckEvery = 1s;
// A healthy transfer takes a few milliseconds; one that took this long
// waited out libftdi's timeout (1 s): the board is there but mute.
constexpr auto Stalled = 500ms;
constexpr auto LookAgainWhenMute = 10s;
constexpr int OffTries = 3;
constexpr std::size_t MaxSerial = 32;
const char *const AccessHint =
    "no access to the FTDI board: install the udev rule 70-blinkwerk-ftdirelay.rules "
    "(see outputs/ftdi/README.md) and plug the board in again";

// A serial that can be written in a SPEC: 1 to 32 visible ASCII characters,
// not starting with the '@' of a USB port.
bool nameable(const std::string &serial)
{
    if (serial.empty() || serial.size() > MaxSerial || serial[0] == '@')
        return false;
    return std::all_of(serial.begin(), serial.end(), [](char c) { return c >= 0x21 && c <= 0x7e; });
}

// How a board is named among those present: by its serial where that tells
// it apart, else by its USB port ("@1-1.2").
std::string nameOf(const Device &device, const std::vector<Device> &all)
{
    if (nameable(device.serial)
        && std::count_if(all.begin(), all.end(), [&](const Device &d) { return d.serial == device.serial; }) == 1)
        return device.serial;
    return "@" + device.location;
}

std::string sourceOf(const std::string &name)
{
    OutputSpec spec;
    spec.serial = name;
    return "ftdi" + formatFtdiSpec(spec);
}

// The boards a name matches: every board for an empty name, the board in
// that port for "@PORT", else the boards with that serial.
std::vector<const Device *> matching(const std::vector<Device> &devices, const std::string &name)
{
    std::vector<const Device *> found;
    for (const Device &device : devices) {
        if (name.empty() || (name[0] == '@' ? "@" + device.location == name : device.serial == name))
            found.push_back(&device);
    }
    return found;
}

std::string namesOf(const std::vector<const Device *> &found, const std::vector<Device> &all)
{
    std::string text;
    for (const Device *device : found)
        text += (text.empty() ? "" : ", ") + sourceOf(nameOf(*device, all));
    return text;
}

// The one board the name means, or null with the reason.
const Device *choose(const std::vector<Device> &devices, const std::string &name, std::string &whyNot)
{
    const std::vector<const Device *> found = matching(devices, name);
    if (found.size() == 1) {
        if (found.front()->denied) {
            whyNot = AccessHint;
            return nullptr;
        }
        return found.front();
    }
    if (found.size() > 1) {
        whyNot = name.empty() ? "several FTDI boards (" + namesOf(found, devices) + "): choose one with ftdi:SERIAL"
                              : "several FTDI boards with serial " + name + " (" + namesOf(found, devices)
                                    + "): choose one by its USB port";
        return nullptr;
    }
    if (name.empty())
        whyNot = "no FTDI relay board found";
    else if (name[0] == '@')
        whyNot = "no FTDI board in USB port " + name.substr(1);
    else
        whyNot = "no FTDI relay board with serial " + name;
    if (!name.empty() && !devices.empty()) {
        std::vector<const Device *> all;
        for (const Device &device : devices)
            all.push_back(&device);
        whyNot += " (found: " + namesOf(all, devices) + ")";
    }
    return nullptr;
}

std::string hex(std::uint8_t byte)
{
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", byte);
    return text;
}

// Brings a freshly opened board into service: the sequencer sets bit-bang
// mode, then writes the byte it holds (write) or reads what the pins hold;
// the monitor reads the pins. False with the failure in why.
bool startBoard(FtdiCalls &calls, FtdiCalls::Handle device, OutputRole role, std::optional<std::uint8_t> write,
                std::uint8_t &pins, std::string &why)
{
    if (role == OutputRole::Sequencer && calls.setBitmode(device, AllOutputs, BitbangMode) < 0) {
        why = "setting bit-bang mode failed (" + calls.lastError(device) + ")";
        return false;
    }
    if (role == OutputRole::Sequencer && write) {
        if (calls.writeData(device, &*write, 1) != 1) {
            why = "writing failed (" + calls.lastError(device) + ")";
            return false;
        }
        pins = *write;
        return true;
    }
    if (calls.readPins(device, pins) < 0) {
        why = "reading the pins failed (" + calls.lastError(device) + ")";
        return false;
    }
    return true;
}

FtdiCalls::Access accessFor(OutputRole role)
{
    return role == OutputRole::Sequencer ? FtdiCalls::Access::Drive : FtdiCalls::Access::Watch;
}

class FtdiRelayPort final : public PortBackend
{
public:
    FtdiRelayPort(FtdiCalls &calls, OutputRole role, std::string name, FtdiCalls::Handle device, std::uint8_t pins)
        : m_calls(calls), m_role(role), m_name(std::move(name)), m_source(sourceOf(m_name)), m_device(device),
          m_held(pins), m_lastContact(calls.now())
    {
    }

    ~FtdiRelayPort() override
    {
        if (m_role == OutputRole::Sequencer)
            switchOff();
        if (m_device)
            m_calls.close(m_device);
    }

    void out32(std::int16_t port, std::int16_t value) override
    {
        if (port != Lpt1DataPort || m_role != OutputRole::Sequencer)
            return;
        m_wanted = static_cast<std::uint8_t>(value & 0xff);
        if (m_device)
            write();
    }

    std::int16_t inp32(std::int16_t port) override
    {
        if (port != Lpt1DataPort)
            return 0;
        return readPort().value_or(0);
    }

    std::optional<std::uint8_t> readPort() override
    {
        if (!m_device)
            return std::nullopt;
        if (m_role == OutputRole::Monitor) {
            std::uint8_t pins = 0;
            const auto started = m_calls.now();
            if (m_calls.readPins(m_device, pins) < 0) {
                lose("reading the pins failed (" + m_calls.lastError(m_device) + ")", started);
                return std::nullopt;
            }
            m_held = pins;
        }
        return m_held;
    }

    void service() override
    {
        if (!m_device) {
            if (m_calls.now() >= m_nextLook)
                lookForBoard();
            return;
        }
        if (m_role == OutputRole::Sequencer && m_calls.now() - m_lastContact >= CheckEvery)
            check();
    }

    std::string status() const override
    {
        if (!m_device)
            return "Karte nicht erreichbar";
        return m_role == OutputRole::Monitor ? "zeigt die Pins der Karte" : std::string();
    }

private:
    bool write()
    {
        const auto started = m_calls.now();
        if (m_calls.writeData(m_device, &m_wanted, 1) != 1) {
            lose("writing failed (" + m_calls.lastError(m_device) + ")", started);
            return false;
        }
        m_held = m_wanted;
        m_lastContact = m_calls.now();
        return true;
    }

    // A board not written to for a while: still there, still holding the byte?
    void check()
    {
        std::uint8_t pins = 0;
        const auto started = m_calls.now();
        if (m_calls.readPins(m_device, pins) < 0) {
            lose("reading the pins failed (" + m_calls.lastError(m_device) + ")", started);
            return;
        }
        m_lastContact = m_calls.now();
        if (pins == m_held)
            return;
        if (!m_saidChanged) {
            m_saidChanged = true;
            notice(m_source, "the pins held " + hex(pins) + " instead of " + hex(m_held)
                                 + " (the board was reset, or another program switched it); "
                                   "bit-bang mode and the newest byte are set again");
        }
        const auto again = m_calls.now();
        if (m_calls.setBitmode(m_device, AllOutputs, BitbangMode) < 0) {
            lose("setting bit-bang mode failed (" + m_calls.lastError(m_device) + ")", again);
            return;
        }
        write();
    }

    void lose(const std::string &why, std::chrono::steady_clock::time_point started)
    {
        const bool mute = m_calls.now() - started >= Stalled;
        m_calls.close(m_device);
        m_device = nullptr;
        m_nextLook = m_calls.now() + (mute ? LookAgainWhenMute : LookAgain);
        notice(m_source, "the board is gone or does not answer: " + why
                             + (m_role == OutputRole::Sequencer
                                    ? "; the program goes on, keeps the newest byte and says when the board is back"
                                    : "; the program goes on and says when the board is back"));
    }

    // Finds the board by its name among those present and brings it into
    // service; the sequencer's board gets bit-bang mode and the newest byte.
    bool lookForBoard()
    {
        const auto started = m_calls.now();
        const std::vector<Device> devices = m_calls.enumerate();
        const std::vector<const Device *> found = matching(devices, m_name);
        m_nextLook = m_calls.now() + LookAgain;
        if (found.size() != 1 || found.front()->denied)
            return false;
        std::string why;
        bool denied = false;
        FtdiCalls::Handle device = m_calls.open(found.front()->location, accessFor(m_role), why, denied);
        if (device) {
            std::uint8_t pins = 0;
            if (startBoard(m_calls, device, m_role, m_wanted, pins, why)) {
                m_device = device;
                m_held = pins;
                m_lastContact = m_calls.now();
                notice(m_source, m_role == OutputRole::Sequencer ? "the board is back and holds the newest byte"
                                                                 : "the board is back");
                return true;
            }
            m_calls.close(device);
        }
        if (m_calls.now() - started >= Stalled)
            m_nextLook = m_calls.now() + LookAgainWhenMute;
        return false;
    }

    void switchOff()
    {
        m_wanted = 0;
        for (int attempt = 0; attempt < OffTries; ++attempt) {
            const auto started = m_calls.now();
            if (m_device ? write() : lookForBoard())
                return;
            if (m_calls.now() - started >= Stalled)
                return;
        }
    }

    FtdiCalls &m_calls;
    OutputRole m_role;
    std::string m_name; // the serial, or "@" and the USB port
    std::string m_source;
    FtdiCalls::Handle m_device;
    std::uint8_t m_held;       // what the pins hold, as far as known
    std::uint8_t m_wanted = 0; // the newest byte asked for
    bool m_saidChanged = false;
    std::chrono::steady_clock::time_point m_lastContact;
    std::chrono::steady_clock::time_point m_nextLook {};
};

} // namespace

void listFtdiRelays(FtdiCalls &calls, std::vector<OutputEntry> &entries)
{
    const std::vector<Device> devices = calls.enumerate();
    for (const Device &device : devices) {
        const std::string name = nameOf(device, devices);
        std::string details;
        if (name[0] != '@')
            details = "Seriennummer " + name;
        else if (nameable(device.serial))
            details = "Seriennummer " + device.serial + ", mehrfach vorhanden; USB-Anschluss " + device.location;
        else
            details = "ohne Seriennummer, USB-Anschluss " + device.location;
        entries.push_back({sourceOf(name), "FTDI-Relaiskarte (" + details + ")"
                                               + (device.denied ? " ohne Zugriff (udev-Regel "
                                                                  "70-blinkwerk-ftdirelay.rules fehlt)"
                                                                : "")});
    }
}

std::optional<std::string> identifyFtdiRelay(FtdiCalls &calls, const OutputSpec &spec, std::string &whyNot)
{
    const std::vector<Device> devices = calls.enumerate();
    const Device *chosen = choose(devices, spec.serial, whyNot);
    if (!chosen)
        return std::nullopt;
    return sourceOf(nameOf(*chosen, devices));
}

std::unique_ptr<PortBackend> openFtdiRelay(FtdiCalls &calls, const OutputSpec &spec, OutputRole role,
                                           std::string &whyNot)
{
    const std::vector<Device> devices = calls.enumerate();
    const Device *chosen = choose(devices, spec.serial, whyNot);
    if (!chosen)
        return nullptr;
    const std::string name = nameOf(*chosen, devices);
    std::string why;
    bool denied = false;
    FtdiCalls::Handle device = calls.open(chosen->location, accessFor(role), why, denied);
    if (!device) {
        whyNot = denied ? std::string(AccessHint) : "the FTDI board " + sourceOf(name) + " cannot be opened: " + why;
        return nullptr;
    }
    std::uint8_t pins = 0;
    if (!startBoard(calls, device, role, std::nullopt, pins, why)) {
        calls.close(device);
        whyNot = "the FTDI board " + sourceOf(name) + " does not answer: " + why;
        return nullptr;
    }
    return std::make_unique<FtdiRelayPort>(calls, role, name, device, pins);
}

} // namespace portio
