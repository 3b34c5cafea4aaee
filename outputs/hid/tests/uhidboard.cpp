#include "uhidboard.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/uhid.h>
#include <poll.h>
#include <unistd.h>
#include <utility>

namespace portio::fakes {

namespace {

// One vendor-defined feature report of eight bytes, without a report id,
// as the boards declare it.
const std::uint8_t Descriptor[] = {
    0x06, 0x00, 0xff, // usage page (vendor defined 0xff00)
    0x09, 0x01,       // usage 1
    0xa1, 0x01,       // collection (application)
    0x15, 0x00,       //   logical minimum 0
    0x26, 0xff, 0x00, //   logical maximum 255
    0x75, 0x08,       //   report size 8
    0x95, 0x08,       //   report count 8
    0x09, 0x00,       //   usage 0
    0xb2, 0x02, 0x01, //   feature (data, variable, absolute, buffered bytes)
    0xc0,             // end collection
};

bool writeEvent(int fd, const uhid_event &event)
{
    return write(fd, &event, sizeof event) == static_cast<ssize_t>(sizeof event);
}

} // namespace

UhidBoard::UhidBoard(std::string product, std::string serial)
    : m_product(std::move(product)), m_serial(std::move(serial))
{
}

UhidBoard::~UhidBoard()
{
    pullOut();
}

bool UhidBoard::plugIn(std::string &error)
{
    pullOut();
    m_fd = ::open("/dev/uhid", O_RDWR | O_CLOEXEC);
    if (m_fd < 0) {
        error = std::string("/dev/uhid: ") + std::strerror(errno);
        return false;
    }
    uhid_event event {};
    event.type = UHID_CREATE2;
    std::snprintf(reinterpret_cast<char *>(event.u.create2.name), sizeof event.u.create2.name, "%s",
                  m_product.c_str());
    std::snprintf(reinterpret_cast<char *>(event.u.create2.phys), sizeof event.u.create2.phys, "blinkwerk-test");
    event.u.create2.rd_size = sizeof Descriptor;
    event.u.create2.bus = 0x03; // BUS_USB
    event.u.create2.vendor = 0x16c0;
    event.u.create2.product = 0x05df;
    std::memcpy(event.u.create2.rd_data, Descriptor, sizeof Descriptor);
    if (!writeEvent(m_fd, event)) {
        error = std::string("UHID_CREATE2: ") + std::strerror(errno);
        ::close(m_fd);
        m_fd = -1;
        return false;
    }
    m_relays = 0;
    m_stop = false;
    m_thread = std::thread([this] { serve(); });
    return true;
}

void UhidBoard::pullOut()
{
    if (m_fd < 0)
        return;
    m_stop = true;
    m_thread.join();
    uhid_event event {};
    event.type = UHID_DESTROY;
    writeEvent(m_fd, event);
    ::close(m_fd);
    m_fd = -1;
}

std::vector<std::vector<std::uint8_t>> UhidBoard::takeCommands()
{
    std::lock_guard lock(m_mutex);
    return std::exchange(m_commands, {});
}

bool UhidBoard::waitFor(std::uint8_t value, std::chrono::milliseconds timeout) const
{
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (m_relays != value) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

// A report as hidraw hands it on: report id 0 first, then the command.
void UhidBoard::command(const std::uint8_t *data, std::size_t size)
{
    if (size >= 1 && data[0] == 0) {
        ++data;
        --size;
    }
    if (size < 2)
        return;
    {
        std::lock_guard lock(m_mutex);
        m_commands.push_back({data[0], data[1]});
    }
    const int count = m_product.back() - '0';
    const std::uint8_t all = static_cast<std::uint8_t>((1u << count) - 1);
    std::uint8_t relays = m_relays;
    if (data[0] == 0xff && data[1] >= 1 && data[1] <= count)
        relays |= static_cast<std::uint8_t>(1u << (data[1] - 1));
    else if (data[0] == 0xfd && data[1] >= 1 && data[1] <= count)
        relays &= static_cast<std::uint8_t>(~(1u << (data[1] - 1)));
    else if (data[0] == 0xfe)
        relays = all;
    else if (data[0] == 0xfc)
        relays = 0;
    m_relays = relays;
    m_lastChange = std::chrono::steady_clock::now();
}

void UhidBoard::serve()
{
    while (!m_stop) {
        pollfd p {m_fd, POLLIN, 0};
        if (poll(&p, 1, 20) <= 0)
            continue;
        uhid_event event {};
        if (read(m_fd, &event, sizeof event) <= 0)
            continue;
        uhid_event reply {};
        // A mute board takes the request and never answers: the kernel
        // gives up after its timeout, as with a board whose firmware hangs.
        if (m_mute && (event.type == UHID_GET_REPORT || event.type == UHID_SET_REPORT))
            continue;
        switch (event.type) {
        case UHID_GET_REPORT: {
            reply.type = UHID_GET_REPORT_REPLY;
            reply.u.get_report_reply.id = event.u.get_report.id;
            reply.u.get_report_reply.err = 0;
            // Report id 0, serial, two unused bytes, the relays.
            std::uint8_t *data = reply.u.get_report_reply.data;
            data[0] = 0;
            std::memcpy(data + 1, m_serial.data(), 5);
            data[8] = m_relays;
            reply.u.get_report_reply.size = 9;
            writeEvent(m_fd, reply);
            break;
        }
        case UHID_SET_REPORT:
            command(event.u.set_report.data, event.u.set_report.size);
            reply.type = UHID_SET_REPORT_REPLY;
            reply.u.set_report_reply.id = event.u.set_report.id;
            reply.u.set_report_reply.err = 0;
            writeEvent(m_fd, reply);
            break;
        case UHID_OUTPUT: // older kernels hand HIDIOCSFEATURE on like this
            command(event.u.output.data, event.u.output.size);
            break;
        default:
            break;
        }
    }
}

} // namespace portio::fakes
