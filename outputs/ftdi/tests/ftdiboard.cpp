#include "ftdiboard.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <endian.h>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace portio::fakes {

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

const std::string ConfigRoot = "/sys/kernel/config";
const std::string GadgetName = "blinkwerk-ftdi";
const std::string FunctionName = "ftdi";

// The vendor requests of FTDI's chips (libftdi's SIO_*_REQUEST).
enum : std::uint8_t {
    Reset = 0x00,
    ModemCtrl = 0x01,
    FlowCtrl = 0x02,
    SetBaudrate = 0x03,
    SetData = 0x04,
    PollModemStatus = 0x05,
    SetEventChar = 0x06,
    SetErrorChar = 0x07,
    SetLatency = 0x09,
    GetLatency = 0x0a,
    SetBitmode = 0x0b,
    ReadPins = 0x0c,
    ReadEeprom = 0x90,
};
constexpr std::uint8_t BitmodeBitbang = 0x01;
constexpr std::uint8_t BitmodeSyncBitbang = 0x04;
// Modem status: bit 0 of the first byte is always set; the transmitter is empty.
const std::uint8_t ModemStatus[2] = {0x01, 0x60};

struct Endpoints
{
    usb_interface_descriptor interface;
    usb_endpoint_descriptor_no_audio in;
    usb_endpoint_descriptor_no_audio out;
} __attribute__((packed));

struct Descriptors
{
    usb_functionfs_descs_head_v2 header;
    __le32 fsCount;
    __le32 hsCount;
    Endpoints fs;
    Endpoints hs;
} __attribute__((packed));

Endpoints endpoints(std::uint16_t packet)
{
    Endpoints e {};
    e.interface.bLength = USB_DT_INTERFACE_SIZE;
    e.interface.bDescriptorType = USB_DT_INTERFACE;
    e.interface.bNumEndpoints = 2;
    e.interface.bInterfaceClass = USB_CLASS_VENDOR_SPEC;
    e.interface.bInterfaceSubClass = 0xff;
    e.interface.bInterfaceProtocol = 0xff;
    e.interface.iInterface = 1;
    // dummy_hcd's first bulk endpoints are ep1in and ep2out: 0x81 and 0x02,
    // where libftdi expects them.
    for (auto *ep : {&e.in, &e.out}) {
        ep->bLength = USB_DT_ENDPOINT_SIZE;
        ep->bDescriptorType = USB_DT_ENDPOINT;
        ep->bmAttributes = USB_ENDPOINT_XFER_BULK;
        ep->wMaxPacketSize = htole16(packet);
    }
    e.in.bEndpointAddress = 1 | USB_DIR_IN;
    e.out.bEndpointAddress = 2 | USB_DIR_OUT;
    return e;
}

std::vector<std::uint8_t> strings(const std::string &interfaceName)
{
    usb_functionfs_strings_head head {};
    const std::uint16_t language = htole16(0x0409);
    const std::size_t length = sizeof head + sizeof language + interfaceName.size() + 1;
    head.magic = htole32(FUNCTIONFS_STRINGS_MAGIC);
    head.length = htole32(static_cast<std::uint32_t>(length));
    head.str_count = htole32(1);
    head.lang_count = htole32(1);
    std::vector<std::uint8_t> data(length, 0);
    std::memcpy(data.data(), &head, sizeof head);
    std::memcpy(data.data() + sizeof head, &language, sizeof language);
    std::memcpy(data.data() + sizeof head + sizeof language, interfaceName.data(), interfaceName.size());
    return data;
}

// One write, as configfs attributes want it.
bool writeFile(const std::string &path, const std::string &text)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    return ok;
}

std::string readLine(const fs::path &path)
{
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

std::string failed(const std::string &what)
{
    return what + ": " + std::strerror(errno);
}

// Blocking reads and writes on FunctionFS files end with EINTR on this
// signal (its handler does nothing): how the threads are woken.
constexpr int Wake = SIGUSR1;

void ignoreWake(int)
{
}

void installWake()
{
    static std::once_flag once;
    std::call_once(once, [] {
        struct sigaction action {};
        action.sa_handler = ignoreWake;
        sigemptyset(&action.sa_mask);
        sigaction(Wake, &action, nullptr);
    });
}

// A thread's part in hang(): counted once when it parks.
class Parking
{
public:
    explicit Parking(std::atomic<int> &count) : m_count(count) {}
    // True while hung (the caller then waits and loops).
    bool hold(bool hung)
    {
        if (!hung) {
            m_parked = false;
            return false;
        }
        if (!m_parked) {
            m_parked = true;
            ++m_count;
        }
        std::this_thread::sleep_for(5ms);
        return true;
    }

private:
    std::atomic<int> &m_count;
    bool m_parked = false;
};

} // namespace

FtdiBoard::FtdiBoard(std::string serial, std::string product)
    : m_serial(std::move(serial)), m_product(std::move(product))
{
}

FtdiBoard::~FtdiBoard()
{
    pullOut();
    stopThreads();
    removeGadget();
}

bool FtdiBoard::makeGadget(std::string &error)
{
    if (!fs::exists(ConfigRoot + "/usb_gadget") && ::mount("none", ConfigRoot.c_str(), "configfs", 0, nullptr) != 0) {
        error = failed("mounting configfs on " + ConfigRoot);
        return false;
    }
    if (!fs::exists(ConfigRoot + "/usb_gadget")) {
        error = "no usb_gadget in configfs (module libcomposite)";
        return false;
    }
    std::error_code ignored;
    fs::directory_iterator udcs("/sys/class/udc", ignored);
    if (ignored || udcs == fs::directory_iterator()) {
        error = "no USB device controller (module dummy_hcd)";
        return false;
    }
    m_udc = udcs->path().filename();
    m_gadget = ConfigRoot + "/usb_gadget/" + GadgetName;
    const std::string function = m_gadget + "/functions/ffs." + FunctionName;
    const bool made = ::mkdir(m_gadget.c_str(), 0755) == 0 && writeFile(m_gadget + "/idVendor", "0x0403")
                      && writeFile(m_gadget + "/idProduct", "0x6001") && writeFile(m_gadget + "/bcdDevice", "0x0600")
                      && writeFile(m_gadget + "/bcdUSB", "0x0200")
                      && ::mkdir((m_gadget + "/strings/0x409").c_str(), 0755) == 0
                      && writeFile(m_gadget + "/strings/0x409/manufacturer", "FTDI")
                      && writeFile(m_gadget + "/strings/0x409/product", m_product)
                      && (m_serial.empty() || writeFile(m_gadget + "/strings/0x409/serialnumber", m_serial))
                      && ::mkdir((m_gadget + "/configs/c.1").c_str(), 0755) == 0
                      && writeFile(m_gadget + "/configs/c.1/MaxPower", "90");
    if (!made) {
        error = failed("making the gadget in " + m_gadget);
        return false;
    }
    // An FT245R is a full-speed device (64-byte packets).
    writeFile(m_gadget + "/max_speed", "full-speed");
    if (::mkdir(function.c_str(), 0755) != 0
        || ::symlink(function.c_str(), (m_gadget + "/configs/c.1/ffs." + FunctionName).c_str()) != 0) {
        error = failed("the FunctionFS function (module usb_f_fs)");
        return false;
    }
    m_mount = "/tmp/ffs-" + FunctionName;
    ::mkdir(m_mount.c_str(), 0755);
    if (::mount(FunctionName.c_str(), m_mount.c_str(), "functionfs", 0, nullptr) != 0) {
        error = failed("mounting FunctionFS on " + m_mount);
        return false;
    }
    m_ep0 = ::open((m_mount + "/ep0").c_str(), O_RDWR | O_CLOEXEC);
    Descriptors descriptors {};
    descriptors.header.magic = htole32(FUNCTIONFS_DESCRIPTORS_MAGIC_V2);
    descriptors.header.length = htole32(sizeof descriptors);
    // Vendor requests to the device (not to an interface) come here too.
    descriptors.header.flags = htole32(FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC | FUNCTIONFS_ALL_CTRL_RECIP);
    descriptors.fsCount = htole32(3);
    descriptors.hsCount = htole32(3);
    descriptors.fs = endpoints(64);
    descriptors.hs = endpoints(512);
    const std::vector<std::uint8_t> names = strings(m_product);
    if (m_ep0 < 0 || ::write(m_ep0, &descriptors, sizeof descriptors) != static_cast<ssize_t>(sizeof descriptors)
        || ::write(m_ep0, names.data(), names.size()) != static_cast<ssize_t>(names.size())) {
        error = failed("writing the descriptors to " + m_mount + "/ep0");
        return false;
    }
    m_in = ::open((m_mount + "/ep1").c_str(), O_RDWR | O_CLOEXEC);
    m_out = ::open((m_mount + "/ep2").c_str(), O_RDWR | O_CLOEXEC);
    if (m_in < 0 || m_out < 0) {
        error = failed("opening the endpoints in " + m_mount);
        return false;
    }
    m_made = true;
    return true;
}

void FtdiBoard::removeGadget()
{
    for (int *fd : {&m_in, &m_out, &m_ep0}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
    if (!m_mount.empty()) {
        ::umount2(m_mount.c_str(), MNT_DETACH);
        ::rmdir(m_mount.c_str());
    }
    if (!m_gadget.empty()) {
        ::unlink((m_gadget + "/configs/c.1/ffs." + FunctionName).c_str());
        for (const char *dir : {"/configs/c.1", "/functions/ffs.ftdi", "/strings/0x409", ""})
            ::rmdir((m_gadget + dir).c_str());
    }
    m_made = false;
}

bool FtdiBoard::plugIn(std::string &error)
{
    if (m_plugged)
        return true;
    if (!m_made && !makeGadget(error))
        return false;
    // A chip plugged in starts out of bit-bang mode, as after power-up.
    m_bitbang = false;
    m_mask = 0;
    m_latch = 0;
    m_latency = 16;
    if (m_threads.empty())
        startThreads();
    if (!writeFile(m_gadget + "/UDC", m_udc)) {
        error = failed("binding the gadget to " + m_udc);
        return false;
    }
    m_plugged = true;
    const auto until = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < until) {
        const std::string at = location();
        if (!at.empty()) {
            const fs::path device = "/sys/bus/usb/devices/" + at;
            char node[32];
            std::snprintf(node, sizeof node, "/dev/bus/usb/%03d/%03d", std::atoi(readLine(device / "busnum").c_str()),
                          std::atoi(readLine(device / "devnum").c_str()));
            if (fs::exists(node) && fs::exists(device / (at + ":1.0")))
                return true;
        }
        std::this_thread::sleep_for(20ms);
    }
    error = "the host did not find the plugged-in board within 10 s";
    return false;
}

void FtdiBoard::pullOut()
{
    if (!m_plugged)
        return;
    writeFile(m_gadget + "/UDC", "\n");
    m_plugged = false;
    const auto until = std::chrono::steady_clock::now() + 10s;
    while (!location().empty() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(20ms);
}

void FtdiBoard::hang(bool hung)
{
    m_parked = 0;
    m_hung = hung;
    if (hung)
        nudgeUntil(m_parked, static_cast<int>(m_threads.size()));
}

void FtdiBoard::leaveBitbang()
{
    m_bitbang = false;
}

std::uint8_t FtdiBoard::pins() const
{
    if (!m_bitbang)
        return m_inputs;
    return static_cast<std::uint8_t>((m_latch & m_mask) | (m_inputs & ~m_mask));
}

std::vector<std::uint8_t> FtdiBoard::takeWrites()
{
    std::lock_guard lock(m_mutex);
    return std::exchange(m_writes, {});
}

bool FtdiBoard::waitForPins(std::uint8_t value, std::chrono::milliseconds timeout) const
{
    const auto until = std::chrono::steady_clock::now() + timeout;
    while (pins() != value) {
        if (std::chrono::steady_clock::now() > until)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

std::string FtdiBoard::location() const
{
    std::error_code ignored;
    for (const auto &entry : fs::directory_iterator("/sys/bus/usb/devices", ignored)) {
        const std::string name = entry.path().filename();
        if (name.find(':') != std::string::npos || readLine(entry.path() / "idVendor") != "0403"
            || readLine(entry.path() / "idProduct") != "6001")
            continue;
        const bool hasSerial = fs::exists(entry.path() / "serial");
        if (m_serial.empty() ? !hasSerial : readLine(entry.path() / "serial") == m_serial)
            return name;
    }
    return {};
}

void FtdiBoard::startThreads()
{
    installWake();
    m_stop = false;
    m_ended = 0;
    m_threads.emplace_back([this] { serveControl(); });
    m_threads.emplace_back([this] { serveOut(); });
    m_threads.emplace_back([this] { serveIn(); });
}

void FtdiBoard::stopThreads()
{
    m_stop = true;
    nudgeUntil(m_ended, static_cast<int>(m_threads.size()));
    for (std::thread &thread : m_threads)
        thread.join();
    m_threads.clear();
}

// A signal can come just before a thread blocks: it is sent again until
// every thread has answered.
void FtdiBoard::nudgeUntil(const std::atomic<int> &count, int wanted)
{
    const auto until = std::chrono::steady_clock::now() + 10s;
    while (count < wanted && std::chrono::steady_clock::now() < until) {
        for (std::thread &thread : m_threads)
            pthread_kill(thread.native_handle(), Wake);
        std::this_thread::sleep_for(5ms);
    }
}

void FtdiBoard::serveControl()
{
    Parking parking(m_parked);
    while (!m_stop) {
        if (parking.hold(m_hung))
            continue;
        pollfd p {m_ep0, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0)
            continue;
        usb_functionfs_event events[4];
        const ssize_t got = ::read(m_ep0, events, sizeof events);
        for (ssize_t i = 0; got > 0 && i < got / static_cast<ssize_t>(sizeof events[0]); ++i)
            if (events[i].type == FUNCTIONFS_SETUP)
                setup(&events[i].u.setup);
    }
    ++m_ended;
}

// Answers one request: the data (IN), or reads the status stage (OUT);
// a request the chip does not know is stalled.
void FtdiBoard::setup(const void *request)
{
    const auto *r = static_cast<const usb_ctrlrequest *>(request);
    const bool in = r->bRequestType & USB_DIR_IN;
    const std::uint16_t value = le16toh(r->wValue);
    const std::uint16_t length = le16toh(r->wLength);
    bool known = (r->bRequestType & USB_TYPE_MASK) == USB_TYPE_VENDOR;
    std::vector<std::uint8_t> answer;
    if (known && in) {
        switch (r->bRequest) {
        case PollModemStatus: answer.assign(ModemStatus, ModemStatus + 2); break;
        case GetLatency: answer = {m_latency.load()}; break;
        case ReadPins: answer = {pins()}; break;
        case ReadEeprom: answer = {0, 0}; break;
        default: known = false;
        }
    } else if (known) {
        switch (r->bRequest) {
        case Reset:
        case ModemCtrl:
        case FlowCtrl:
        case SetBaudrate:
        case SetData:
        case SetEventChar:
        case SetErrorChar: break;
        case SetLatency: m_latency = static_cast<std::uint8_t>(value); break;
        case SetBitmode: {
            const std::uint8_t mode = static_cast<std::uint8_t>(value >> 8);
            m_mask = static_cast<std::uint8_t>(value);
            m_bitbang = mode == BitmodeBitbang || mode == BitmodeSyncBitbang;
            break;
        }
        default: known = false;
        }
    }
    // FunctionFS stalls a read for an IN request and a write for an OUT one.
    if (in) {
        if (!known) {
            [[maybe_unused]] const auto stalled = ::read(m_ep0, nullptr, 0);
            return;
        }
        answer.resize(std::min<std::size_t>(answer.size(), length));
        [[maybe_unused]] const auto sent = ::write(m_ep0, answer.data(), answer.size());
    } else {
        if (!known) {
            [[maybe_unused]] const auto stalled = ::write(m_ep0, nullptr, 0);
            return;
        }
        std::vector<std::uint8_t> data(length);
        [[maybe_unused]] const auto got = ::read(m_ep0, data.data(), data.size());
    }
}

void FtdiBoard::serveOut()
{
    Parking parking(m_parked);
    std::uint8_t buffer[512];
    while (!m_stop) {
        if (parking.hold(m_hung))
            continue;
        const ssize_t got = ::read(m_out, buffer, sizeof buffer);
        if (got <= 0) {
            if (errno != EINTR)
                std::this_thread::sleep_for(5ms); // not enabled, or shut down by a pull-out
            continue;
        }
        std::lock_guard lock(m_mutex);
        for (ssize_t i = 0; i < got; ++i) {
            if (m_bitbang)
                m_latch = buffer[i];
            m_writes.push_back(buffer[i]);
        }
    }
    ++m_ended;
}

void FtdiBoard::serveIn()
{
    Parking parking(m_parked);
    while (!m_stop) {
        if (parking.hold(m_hung))
            continue;
        if (::write(m_in, ModemStatus, sizeof ModemStatus) <= 0 && errno != EINTR)
            std::this_thread::sleep_for(5ms);
    }
    ++m_ended;
}

} // namespace portio::fakes
