// Relay modules on GPIO lines through the kernel's GPIO character device.
// The contract is in gpiorelay.h.
//
// The uapi v2 ioctls are used directly rather than libgpiod: Debian 12 ships
// libgpiod 1 and Debian 13 libgpiod 2, whose APIs differ throughout, while
// the kernel's v2 interface (since Linux 5.10) is the same on both and takes
// four ioctls here.

#include "gpiorelay.h"
#include "notice.h"
#include "portbackend.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <linux/gpio.h>
#include <optional>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace portio {

namespace {

using Clock = std::chrono::steady_clock;

constexpr const char *Consumer = "blinkwerk";

class SystemCalls final : public GpioCalls
{
public:
    int open(const char *path, int flags) override { return ::open(path, flags); }
    int close(int fd) override { return ::close(fd); }
    int ioctl(int fd, unsigned long request, void *argument) override { return ::ioctl(fd, request, argument); }
};

std::string chipPath(const std::string &chip)
{
    return chip.find('/') == std::string::npos ? "/dev/" + chip : chip;
}

std::string errorText(int error)
{
    return std::strerror(error);
}

std::string permissionAdvice(const std::string &path)
{
    return path + ": no permission; on Raspberry Pi OS add the user to group gpio (sudo adduser $USER gpio, "
                  "then log in again), elsewhere give the chip a group with a udev rule (see the README)";
}

std::uint64_t allLines(std::size_t count)
{
    return count >= 64 ? ~std::uint64_t(0) : (std::uint64_t(1) << count) - 1;
}

// The bits of a request of lines (in the request's order) for byte, whose
// bit k drives channels[k].
std::uint64_t requestBits(std::uint8_t byte, const std::vector<unsigned> &channels,
                          const std::vector<unsigned> &lines)
{
    std::uint64_t bits = 0;
    for (std::size_t k = 0; k < channels.size(); ++k) {
        const auto at = std::find(lines.begin(), lines.end(), channels[k]);
        if ((byte >> k) & 1u && at != lines.end())
            bits |= std::uint64_t(1) << (at - lines.begin());
    }
    return bits;
}

bool sameLines(std::vector<unsigned> a, std::vector<unsigned> b)
{
    std::sort(a.begin(), a.end());
    std::sort(b.begin(), b.end());
    return a == b;
}

// Opens the chip of path; -1 and the reason in whyNot.
int openChip(GpioCalls &calls, const std::string &path, std::string &whyNot)
{
    const int fd = calls.open(path.c_str(), O_RDWR | O_CLOEXEC);
    if (fd >= 0)
        return fd;
    const int error = errno;
    if (error == EACCES || error == EPERM)
        whyNot = permissionAdvice(path);
    else if (error == ENOENT)
        whyNot = path + ": no such GPIO chip";
    else
        whyNot = path + ": cannot open it: " + errorText(error);
    return -1;
}

// Who holds each of lines that is in use, for a refused request.
std::string describeHolders(GpioCalls &calls, int chipFd, const std::vector<unsigned> &lines)
{
    std::string text;
    for (unsigned line : lines) {
        gpio_v2_line_info info {};
        info.offset = line;
        if (calls.ioctl(chipFd, GPIO_V2_GET_LINEINFO_IOCTL, &info) != 0 || !(info.flags & GPIO_V2_LINE_FLAG_USED))
            continue;
        const std::string consumer(info.consumer, strnlen(info.consumer, sizeof info.consumer));
        text += (text.empty() ? "line " : ", line ") + std::to_string(line) + " by " +
                (consumer.empty() ? std::string("a holder without a name") : "\"" + consumer + "\"");
    }
    return text;
}

std::string lineList(const std::vector<unsigned> &lines)
{
    std::string text;
    for (unsigned line : lines)
        text += (text.empty() ? "" : ",") + std::to_string(line);
    return text;
}

// Requests the lines as outputs holding bits; the request's descriptor, or
// -1 with the reason in whyNot and the failing errno in error.
int requestLines(GpioCalls &calls, const std::string &path, const std::vector<unsigned> &lines, bool activeLow,
                 std::uint64_t bits, std::string &whyNot, int &error)
{
    error = 0;
    const int chipFd = openChip(calls, path, whyNot);
    if (chipFd < 0) {
        error = errno;
        return -1;
    }
    int requestFd = -1;
    gpiochip_info chip {};
    if (calls.ioctl(chipFd, GPIO_GET_CHIPINFO_IOCTL, &chip) != 0) {
        error = errno;
        whyNot = path + " is no GPIO chip (" + errorText(error) + ")";
    } else if (const auto beyond = std::find_if(lines.begin(), lines.end(),
                                                [&](unsigned line) { return line >= chip.lines; });
               beyond != lines.end()) {
        error = EINVAL;
        const std::string label(chip.label, strnlen(chip.label, sizeof chip.label));
        whyNot = path + " (" + label + ") has " + std::to_string(chip.lines) + " lines, 0 to " +
                 std::to_string(chip.lines ? chip.lines - 1 : 0) + "; line " + std::to_string(*beyond) +
                 " does not exist";
    } else {
        gpio_v2_line_request request {};
        for (std::size_t i = 0; i < lines.size(); ++i)
            request.offsets[i] = lines[i];
        request.num_lines = std::uint32_t(lines.size());
        std::strncpy(request.consumer, Consumer, sizeof request.consumer - 1);
        request.config.flags = GPIO_V2_LINE_FLAG_OUTPUT | (activeLow ? GPIO_V2_LINE_FLAG_ACTIVE_LOW : 0);
        request.config.num_attrs = 1;
        request.config.attrs[0].attr.id = GPIO_V2_LINE_ATTR_ID_OUTPUT_VALUES;
        request.config.attrs[0].attr.values = bits;
        request.config.attrs[0].mask = allLines(lines.size());
        if (calls.ioctl(chipFd, GPIO_V2_GET_LINE_IOCTL, &request) == 0 && request.fd >= 0) {
            requestFd = request.fd;
        } else {
            error = errno;
            if (error == EBUSY) {
                const std::string holders = describeHolders(calls, chipFd, lines);
                whyNot = path + ": " + (holders.empty() ? "lines " + lineList(lines) + " are in use"
                                                        : "in use: " + holders) +
                         "; free them or choose other lines";
            } else if (error == EACCES || error == EPERM) {
                whyNot = permissionAdvice(path);
            } else {
                whyNot = path + ": requesting lines " + lineList(lines) + " failed: " + errorText(error);
            }
        }
    }
    calls.close(chipFd);
    return requestFd;
}

class GpioRelay final : public PortBackend
{
public:
    // requested: the lines of fd in the order the request names them, which
    // may differ from the channels' order of spec.
    GpioRelay(GpioCalls &calls, const GpioOptions &options, const OutputSpec &spec, std::string path, int fd,
              std::vector<unsigned> requested)
        : m_calls(calls)
        , m_options(options)
        , m_spec(spec)
        , m_path(std::move(path))
        , m_fd(fd)
        , m_requested(std::move(requested))
    {
        if (!m_options.say) {
            const std::string source = gpioSpecText(spec);
            m_options.say = [source](const std::string &text) { notice(source, text); };
        }
    }

    ~GpioRelay() override
    {
        m_wanted = 0;
        bool off = false;
        std::string failure;
        for (int attempt = 0; !off && attempt < std::max(1, m_options.finalWriteAttempts); ++attempt)
            off = trySet(failure);
        if (!off)
            m_options.say("the lines could not be switched off (" + failure + "); they stay as they were");
        // Kept, not closed: see the contract.
        if (m_fd >= 0)
            m_calls.keptRequests.push_back({m_path, m_requested, m_spec.activeLow, m_fd});
    }

    void out32(std::int16_t port, std::int16_t value) override
    {
        if (port != Lpt1DataPort)
            return;
        m_written = std::uint8_t(value & 0xFF);
        m_wanted = m_written;
        if (m_failing)
            return;
        if (m_held && requestBits(m_wanted, m_spec.lines, m_requested) == *m_held)
            return;
        attempt();
    }

    std::int16_t inp32(std::int16_t port) override { return port == Lpt1DataPort ? m_written : 0; }

    void service() override
    {
        if (m_failing && Clock::now() >= m_nextTry)
            attempt();
    }

    void forgetHeld() { m_held.reset(); }

    std::string status() const override { return m_failing ? "Leitungen lassen sich nicht setzen" : std::string(); }

private:
    // Sets the lines to the newest byte; says when a failure starts or ends.
    void attempt()
    {
        std::string failure;
        if (trySet(failure)) {
            if (m_failing)
                m_options.say("the lines are set again");
            m_failing = false;
            return;
        }
        if (!m_failing)
            m_options.say("setting the lines failed (" + failure + "); the newest byte is tried again");
        m_failing = true;
        m_nextTry = Clock::now() + m_options.retryInterval;
    }

    // One try of the newest byte; false with the reason in failure.
    bool trySet(std::string &failure)
    {
        const std::uint64_t bits = requestBits(m_wanted, m_spec.lines, m_requested);
        if (m_fd < 0) {
            int error = 0;
            m_fd = requestLines(m_calls, m_path, m_requested, m_spec.activeLow, bits, failure, error);
            if (m_fd < 0)
                return false;
            m_held = bits;
            return true;
        }
        gpio_v2_line_values values {};
        values.bits = bits;
        values.mask = allLines(m_requested.size());
        if (m_calls.ioctl(m_fd, GPIO_V2_LINE_SET_VALUES_IOCTL, &values) == 0) {
            m_held = bits;
            return true;
        }
        const int error = errno;
        failure = errorText(error);
        m_held.reset();
        if (error == ENODEV) {
            // The chip is gone; its request is dead. Ask for the lines anew.
            m_calls.close(m_fd);
            m_fd = -1;
        }
        return false;
    }

    GpioCalls &m_calls;
    GpioOptions m_options;
    OutputSpec m_spec;
    std::string m_path;
    int m_fd;
    std::vector<unsigned> m_requested;
    std::uint8_t m_written = 0;
    std::uint8_t m_wanted = 0;
    std::optional<std::uint64_t> m_held = 0; // what the lines hold, when known
    bool m_failing = false;
    Clock::time_point m_nextTry;
};

bool overlaps(const std::vector<unsigned> &a, const std::vector<unsigned> &b)
{
    return std::any_of(a.begin(), a.end(), [&](unsigned line) { return std::find(b.begin(), b.end(), line) != b.end(); });
}

} // namespace

GpioCalls &systemGpioCalls()
{
    static SystemCalls calls;
    return calls;
}

std::unique_ptr<PortBackend> openGpioRelayOutput(GpioCalls &calls, const GpioOptions &options,
                                                 const OutputSpec &spec, OutputRole role, std::string &whyNot)
{
    if (role == OutputRole::Monitor) {
        whyNot = "GPIO lines that blinkwerk holds cannot be read by another program";
        return nullptr;
    }
    if (spec.lines.empty() || spec.lines.size() > MaxChannels) {
        whyNot = "not a GPIO output with one to eight lines";
        return nullptr;
    }
    const std::string path = chipPath(spec.path);

    // A request this process kept from an earlier backend: the same lines,
    // in whatever order, are taken over without letting go of them (the
    // relays would fall back to the chip's default for a moment);
    // overlapping ones are released before asking again.
    auto &kept = calls.keptRequests;
    for (auto it = kept.begin(); it != kept.end();) {
        if (it->chip == path && sameLines(it->lines, spec.lines) && it->activeLow == spec.activeLow) {
            const int fd = it->fd;
            std::vector<unsigned> requested = it->lines;
            kept.erase(it);
            auto backend = std::make_unique<GpioRelay>(calls, options, spec, path, fd, std::move(requested));
            backend->forgetHeld(); // the last switch-off may have failed
            backend->out32(Lpt1DataPort, 0);
            return backend;
        }
        if (it->chip == path && overlaps(it->lines, spec.lines)) {
            calls.close(it->fd);
            it = kept.erase(it);
        } else {
            ++it;
        }
    }

    int error = 0;
    const int fd = requestLines(calls, path, spec.lines, spec.activeLow, 0, whyNot, error);
    if (fd < 0)
        return nullptr;
    return std::make_unique<GpioRelay>(calls, options, spec, path, fd, spec.lines);
}

std::optional<std::string> identifyGpioRelayOutput(const OutputSpec &spec, std::string &whyNot)
{
    const std::string path = chipPath(spec.path);
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode)) {
        whyNot = path + ": no such GPIO chip";
        return std::nullopt;
    }
    std::vector<unsigned> lines = spec.lines;
    std::sort(lines.begin(), lines.end());
    return "gpio:" + std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev)) + ":"
           + lineList(lines);
}

std::unique_ptr<PortBackend> openGpioRelayOutput(const OutputSpec &spec, OutputRole role, std::string &whyNot)
{
    return openGpioRelayOutput(systemGpioCalls(), GpioOptions {}, spec, role, whyNot);
}

void listGpioRelayOutputs(GpioCalls &calls, const std::string &devDir, std::vector<OutputEntry> &entries)
{
    std::vector<std::pair<unsigned long, std::string>> chips; // number, name
    std::error_code error;
    for (const auto &entry : std::filesystem::directory_iterator(devDir, error)) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("gpiochip", 0) != 0 || name.size() == 8 || name.size() > 16 ||
            !std::all_of(name.begin() + 8, name.end(), [](char c) { return c >= '0' && c <= '9'; }))
            continue;
        chips.emplace_back(std::stoul(name.substr(8)), name);
    }
    std::sort(chips.begin(), chips.end());

    for (const auto &[number, name] : chips) {
        const std::string path = devDir + "/" + name;
        const std::string spec = "gpio:" + name + ":";
        const std::string howTo = ": " + spec + "L1,...,L8 mit den Leitungen der Relais";
        const int fd = calls.open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) {
            if (errno == EACCES || errno == EPERM)
                entries.push_back({spec, "GPIO-Chip " + name + " (kein Zugriff: Gruppe gpio oder udev-Regel nötig)" + howTo});
            continue;
        }
        gpiochip_info info {};
        if (calls.ioctl(fd, GPIO_GET_CHIPINFO_IOCTL, &info) == 0) {
            const std::string label(info.label, strnlen(info.label, sizeof info.label));
            entries.push_back({spec, "GPIO-Chip " + name + " (" + (label.empty() ? "" : label + ", ") +
                                         std::to_string(info.lines) + " Leitungen)" + howTo});
        }
        calls.close(fd);
    }
}

void listGpioRelayOutputs(std::vector<OutputEntry> &entries)
{
    listGpioRelayOutputs(systemGpioCalls(), "/dev", entries);
}

} // namespace portio
