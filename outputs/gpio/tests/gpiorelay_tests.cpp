// The GPIO relay backend against a model of the kernel's GPIO character
// device.

#include "gpiorelay.h"
#include "portbackend.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <linux/gpio.h>
#include <map>
#include <set>
#include <unistd.h>

namespace {

using portio::OutputRole;
using portio::OutputSpec;

// The GPIO uapi v2 as the kernel serves it, for the calls the backend makes:
// chips by device path, line requests as descriptors of their own that hold
// their lines until closed, values logical (active-low inverts the level).
class FakeGpio final : public portio::GpioCalls
{
public:
    struct Line
    {
        std::string consumer; // held by another: its name (may be empty)
        bool usedByOther = false;
        bool level = false; // physical
    };
    struct Chip
    {
        std::string label = "pinctrl-test";
        std::vector<Line> lines = std::vector<Line>(54);
        bool denied = false; // open fails with EACCES
        bool present = true;
    };
    struct Request
    {
        std::string chip;
        gpio_v2_line_request copy;
        bool dead = false; // its chip went away
    };
    struct Set
    {
        std::uint64_t bits, mask;
        bool operator==(const Set &) const = default;
    };

    std::map<std::string, Chip> chips {{"/dev/gpiochip0", Chip {}}};
    std::map<int, std::string> chipFds;
    std::map<int, Request> requests; // open request descriptors
    std::vector<gpio_v2_line_request> requestLog;
    std::vector<Set> sets;
    std::set<int> closed;
    int failSets = 0;          // the next sets that fail with failErrno
    int failErrno = EIO;

    int open(const char *path, int) override
    {
        auto chip = chips.find(path);
        if (chip == chips.end() || !chip->second.present)
            return errno = ENOENT, -1;
        if (chip->second.denied)
            return errno = EACCES, -1;
        chipFds[m_next] = path;
        return m_next++;
    }

    int close(int fd) override
    {
        closed.insert(fd);
        if (chipFds.erase(fd))
            return 0;
        auto request = requests.find(fd);
        if (request == requests.end())
            return errno = EBADF, -1;
        if (!request->second.dead)
            forEachLine(request->second, [](Line &line, bool) { line.consumer.clear(); });
        requests.erase(request);
        return 0;
    }

    int ioctl(int fd, unsigned long code, void *argument) override
    {
        if (auto request = requests.find(fd); request != requests.end())
            return setValues(request->second, code, *static_cast<gpio_v2_line_values *>(argument));
        auto chipFd = chipFds.find(fd);
        if (chipFd == chipFds.end())
            return errno = EBADF, -1;
        Chip &chip = chips.at(chipFd->second);
        if (code == GPIO_GET_CHIPINFO_IOCTL) {
            auto &info = *static_cast<gpiochip_info *>(argument);
            std::strcpy(info.name, "gpiochip0");
            std::strcpy(info.label, chip.label.c_str());
            info.lines = std::uint32_t(chip.lines.size());
            return 0;
        }
        if (code == GPIO_V2_GET_LINEINFO_IOCTL) {
            auto &info = *static_cast<gpio_v2_line_info *>(argument);
            if (info.offset >= chip.lines.size())
                return errno = EINVAL, -1;
            const Line &line = chip.lines[info.offset];
            std::strncpy(info.consumer, line.consumer.c_str(), sizeof info.consumer - 1);
            info.flags = (line.usedByOther || !line.consumer.empty()) ? GPIO_V2_LINE_FLAG_USED : 0;
            return 0;
        }
        if (code == GPIO_V2_GET_LINE_IOCTL)
            return request(chipFd->second, chip, *static_cast<gpio_v2_line_request *>(argument));
        return errno = ENOTTY, -1;
    }

    void unplug(const std::string &path)
    {
        chips.at(path).present = false;
        for (auto &[fd, request] : requests)
            request.dead = request.dead || request.chip == path;
    }
    void replug(const std::string &path) { chips.at(path) = Chip {}; }

    // Physical levels of lines of /dev/gpiochip0, as a bit per line given.
    unsigned levels(const std::vector<unsigned> &lines) const
    {
        unsigned bits = 0;
        for (std::size_t i = 0; i < lines.size(); ++i)
            bits |= unsigned(chips.at("/dev/gpiochip0").lines[lines[i]].level) << i;
        return bits;
    }
    std::string consumerOf(unsigned line) const { return chips.at("/dev/gpiochip0").lines[line].consumer; }

private:
    template<typename F>
    void forEachLine(Request &request, F f)
    {
        Chip &chip = chips.at(request.chip);
        const bool activeLow = request.copy.config.flags & GPIO_V2_LINE_FLAG_ACTIVE_LOW;
        for (std::uint32_t i = 0; i < request.copy.num_lines; ++i)
            f(chip.lines[request.copy.offsets[i]], activeLow);
    }

    int request(const std::string &path, Chip &chip, gpio_v2_line_request &request)
    {
        requestLog.push_back(request);
        if (request.num_lines == 0 || request.num_lines > GPIO_V2_LINES_MAX)
            return errno = EINVAL, -1;
        std::uint64_t values = 0;
        for (std::uint32_t i = 0; i < request.config.num_attrs; ++i)
            if (request.config.attrs[i].attr.id == GPIO_V2_LINE_ATTR_ID_OUTPUT_VALUES)
                values = request.config.attrs[i].attr.values & request.config.attrs[i].mask;
        for (std::uint32_t i = 0; i < request.num_lines; ++i) {
            if (request.offsets[i] >= chip.lines.size())
                return errno = EINVAL, -1;
            const Line &line = chip.lines[request.offsets[i]];
            if (line.usedByOther || !line.consumer.empty())
                return errno = EBUSY, -1;
        }
        request.fd = m_next++;
        Request &held = requests[request.fd] = {path, request, false};
        int index = 0;
        forEachLine(held, [&](Line &line, bool activeLow) {
            line.consumer = request.consumer;
            line.level = bool(values >> index++ & 1) != activeLow;
        });
        return 0;
    }

    int setValues(Request &request, unsigned long code, const gpio_v2_line_values &values)
    {
        if (code != GPIO_V2_LINE_SET_VALUES_IOCTL)
            return errno = ENOTTY, -1;
        sets.push_back({values.bits, values.mask});
        if (request.dead)
            return errno = ENODEV, -1;
        if (failSets > 0) {
            --failSets;
            return errno = failErrno, -1;
        }
        if (values.mask == 0 || values.mask >> request.copy.num_lines)
            return errno = EINVAL, -1;
        int index = 0;
        forEachLine(request, [&](Line &line, bool activeLow) {
            if (values.mask >> index & 1)
                line.level = bool(values.bits >> index & 1) != activeLow;
            ++index;
        });
        return 0;
    }

    int m_next = 10;
};

OutputSpec gpioSpec(const std::string &chip, std::vector<unsigned> lines, bool activeLow = false)
{
    OutputSpec spec;
    spec.kind = "gpio";
    spec.path = chip;
    spec.lines = std::move(lines);
    spec.activeLow = activeLow;
    return spec;
}

struct Harness
{
    FakeGpio kernel;
    std::vector<std::string> said;
    portio::GpioOptions options;

    Harness()
    {
        options.retryInterval = std::chrono::milliseconds(0);
        options.say = [this](const std::string &text) { said.push_back(text); };
    }

    std::unique_ptr<portio::PortBackend> open(const OutputSpec &spec, std::string &whyNot,
                                              OutputRole role = OutputRole::Sequencer)
    {
        return portio::openGpioRelayOutput(kernel, options, spec, role, whyNot);
    }
};

TEST(GpioRelay, RequestsAllLinesOnceAsOutputsDrivenOff)
{
    const struct
    {
        const char *chip;
        std::vector<unsigned> lines;
        bool activeLow;
    } cases[] = {
        {"gpiochip0", {17}, false},
        {"/dev/gpiochip0", {5, 6, 13, 16, 19, 20, 21, 26}, false},
        {"gpiochip0", {4, 3, 2}, true},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.chip + std::string(c.activeLow ? " active-low" : ""));
        Harness h;
        std::string whyNot;
        auto backend = h.open(gpioSpec(c.chip, c.lines, c.activeLow), whyNot);
        ASSERT_TRUE(backend) << whyNot;
        ASSERT_EQ(h.kernel.requestLog.size(), 1u);
        const gpio_v2_line_request &r = h.kernel.requestLog[0];
        EXPECT_STREQ(r.consumer, "blinkwerk");
        ASSERT_EQ(r.num_lines, c.lines.size());
        EXPECT_EQ(std::vector<unsigned>(r.offsets, r.offsets + r.num_lines), c.lines);
        EXPECT_EQ(r.config.flags, GPIO_V2_LINE_FLAG_OUTPUT | (c.activeLow ? GPIO_V2_LINE_FLAG_ACTIVE_LOW : 0));
        ASSERT_EQ(r.config.num_attrs, 1u);
        EXPECT_EQ(r.config.attrs[0].attr.id, unsigned(GPIO_V2_LINE_ATTR_ID_OUTPUT_VALUES));
        EXPECT_EQ(r.config.attrs[0].attr.values, 0u);
        EXPECT_EQ(r.config.attrs[0].mask, (1u << c.lines.size()) - 1);
        // Off: low on a plain module, high on an active-low one.
        EXPECT_EQ(h.kernel.levels(c.lines), c.activeLow ? (1u << c.lines.size()) - 1 : 0u);
        EXPECT_TRUE(h.kernel.chipFds.empty()) << "the chip's descriptor stays open";
        EXPECT_TRUE(h.kernel.sets.empty());
        EXPECT_TRUE(h.said.empty());
    }
}

TEST(GpioRelay, SetsEachChangedByteOnceAndDrivesOffAtTheEndWithoutReleasing)
{
    Harness h;
    std::string whyNot;
    const std::vector<unsigned> lines {17, 27, 22};
    auto backend = h.open(gpioSpec("gpiochip0", lines), whyNot);
    ASSERT_TRUE(backend) << whyNot;
    using Set = FakeGpio::Set;
    const struct
    {
        int value;
        std::vector<Set> sets; // the ioctls this step makes
        unsigned levels;
    } steps[] = {
        {0x01, {{0x1, 0x7}}, 0x1},
        {0x01, {}, 0x1},                 // unchanged
        {0x06, {{0x6, 0x7}}, 0x6},
        {0xF6, {}, 0x6},                 // only channels beyond the lines changed
        {0xFF, {{0x7, 0x7}}, 0x7},
        {0x00, {{0x0, 0x7}}, 0x0},       // Stop
    };
    for (const auto &step : steps) {
        SCOPED_TRACE(step.value);
        h.kernel.sets.clear();
        backend->out32(portio::Lpt1DataPort, std::int16_t(step.value));
        EXPECT_EQ(h.kernel.sets, step.sets);
        EXPECT_EQ(h.kernel.levels(lines), step.levels);
        EXPECT_EQ(backend->inp32(portio::Lpt1DataPort), step.value);
    }
    backend->out32(portio::Lpt1DataPort + 1, 0xFF);
    EXPECT_EQ(backend->inp32(portio::Lpt1DataPort + 1), 0);

    backend->out32(portio::Lpt1DataPort, 0x05);
    h.kernel.sets.clear();
    backend.reset();
    EXPECT_EQ(h.kernel.sets, (std::vector<Set> {{0x0, 0x7}}));
    EXPECT_EQ(h.kernel.levels(lines), 0u);
    EXPECT_EQ(h.kernel.requests.size(), 1u) << "the request must stay open";
    EXPECT_EQ(h.kernel.consumerOf(17), "blinkwerk");
    EXPECT_TRUE(h.said.empty());

    // Opened again in the same run: the kept request is taken over.
    backend = h.open(gpioSpec("/dev/gpiochip0", lines), whyNot);
    ASSERT_TRUE(backend) << whyNot;
    EXPECT_EQ(h.kernel.requestLog.size(), 1u);
    backend->out32(portio::Lpt1DataPort, 0x02);
    EXPECT_EQ(h.kernel.levels(lines), 0x2u);
    backend.reset();
    // The same lines named in another order: taken over as well, never
    // released (the relays would fall back to the chip's default), and
    // channel k still drives the k-th line named.
    const std::vector<unsigned> reordered {22, 17, 27};
    backend = h.open(gpioSpec("gpiochip0", reordered), whyNot);
    ASSERT_TRUE(backend) << whyNot;
    EXPECT_EQ(h.kernel.requestLog.size(), 1u);
    backend->out32(portio::Lpt1DataPort, 0x01); // channel 1: line 22
    EXPECT_EQ(h.kernel.levels(reordered), 0x1u);
    backend->out32(portio::Lpt1DataPort, 0x06); // channels 2 and 3: lines 17 and 27
    EXPECT_EQ(h.kernel.levels(reordered), 0x6u);
    backend.reset();
    // Overlapping other lines: the kept request is released first.
    backend = h.open(gpioSpec("gpiochip0", {27, 5}), whyNot);
    ASSERT_TRUE(backend) << whyNot;
    EXPECT_EQ(h.kernel.requests.size(), 1u);
    EXPECT_EQ(h.kernel.consumerOf(17), "");
}

TEST(GpioRelay, RefusalsSayWhatToDo)
{
    const struct
    {
        const char *name;
        std::function<void(FakeGpio &)> arrange;
        OutputSpec spec;
        OutputRole role;
        std::vector<std::string> expected; // parts of the reason
    } cases[] = {
        {"no permission", [](FakeGpio &k) { k.chips["/dev/gpiochip0"].denied = true; }, gpioSpec("gpiochip0", {17}),
         OutputRole::Sequencer, {"/dev/gpiochip0: no permission", "group gpio", "udev rule"}},
        {"missing chip", [](FakeGpio &) {}, gpioSpec("gpiochip7", {17}), OutputRole::Sequencer,
         {"/dev/gpiochip7: no such GPIO chip"}},
        {"line beyond the chip", [](FakeGpio &) {}, gpioSpec("gpiochip0", {17, 54}), OutputRole::Sequencer,
         {"has 54 lines, 0 to 53; line 54 does not exist"}},
        {"lines held",
         [](FakeGpio &k) {
             auto &lines = k.chips["/dev/gpiochip0"].lines;
             lines[27] = {"gpio-keys", true, false};
             lines[22] = {"", true, false};
         },
         gpioSpec("gpiochip0", {17, 27, 22}), OutputRole::Sequencer,
         {"/dev/gpiochip0: in use: line 27 by \"gpio-keys\", line 22 by a holder without a name; free them"}},
        {"monitor", [](FakeGpio &) {}, gpioSpec("gpiochip0", {17}), OutputRole::Monitor, {"cannot be read"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        c.arrange(h.kernel);
        std::string whyNot;
        EXPECT_FALSE(h.open(c.spec, whyNot, c.role));
        for (const auto &part : c.expected)
            EXPECT_NE(whyNot.find(part), std::string::npos) << whyNot;
        EXPECT_TRUE(h.kernel.chipFds.empty());
        EXPECT_TRUE(h.kernel.requests.empty());
    }
}

TEST(GpioRelay, FailedSetKeepsTheNewestByteForService)
{
    const struct
    {
        const char *name;
        std::function<void(FakeGpio &)> fail, heal;
        std::size_t requests; // in the end
    } cases[] = {
        {"set fails", [](FakeGpio &k) { k.failSets = 1000; }, [](FakeGpio &k) { k.failSets = 0; }, 1},
        {"chip gone", [](FakeGpio &k) { k.unplug("/dev/gpiochip0"); },
         [](FakeGpio &k) { k.replug("/dev/gpiochip0"); }, 2},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        Harness h;
        std::string whyNot;
        const std::vector<unsigned> lines {17, 27};
        auto backend = h.open(gpioSpec("gpiochip0", lines), whyNot);
        ASSERT_TRUE(backend) << whyNot;
        c.fail(h.kernel);
        backend->out32(portio::Lpt1DataPort, 1);
        ASSERT_EQ(h.said.size(), 1u);
        EXPECT_NE(h.said[0].find("setting the lines failed"), std::string::npos) << h.said[0];
        EXPECT_FALSE(backend->status().empty());
        const std::size_t calls = h.kernel.sets.size() + h.kernel.requestLog.size();
        backend->out32(portio::Lpt1DataPort, 2);
        EXPECT_EQ(h.kernel.sets.size() + h.kernel.requestLog.size(), calls) << "out32 while failing";
        backend->service();
        backend->service();
        EXPECT_EQ(h.said.size(), 1u) << "said once";
        c.heal(h.kernel);
        backend->service();
        ASSERT_EQ(h.said.size(), 2u);
        EXPECT_EQ(h.said[1], "the lines are set again");
        EXPECT_EQ(h.kernel.levels(lines), 2u);
        EXPECT_TRUE(backend->status().empty());
        EXPECT_EQ(h.kernel.requests.size(), 1u);
        EXPECT_EQ(h.kernel.requestLog.size(), c.requests);
        backend.reset();
        EXPECT_EQ(h.kernel.levels(lines), 0u);
    }
}

TEST(GpioRelay, RetriesAtMostOncePerInterval)
{
    Harness h;
    h.options.retryInterval = std::chrono::hours(1);
    std::string whyNot;
    auto backend = h.open(gpioSpec("gpiochip0", {17}), whyNot);
    ASSERT_TRUE(backend) << whyNot;
    h.kernel.failSets = 1;
    backend->out32(portio::Lpt1DataPort, 1);
    backend->service();
    EXPECT_EQ(h.kernel.sets.size(), 1u);
    EXPECT_EQ(h.said.size(), 1u);
}

TEST(GpioRelay, ListsEveryChipWithHowToNameTheLines)
{
    const auto dir = std::filesystem::temp_directory_path() / ("gpiorelay-list-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    for (const char *name : {"gpiochip10", "gpiochip0", "gpiochip2", "gpiochipx", "ttyS0"})
        std::ofstream(dir / name).put('\n');
    FakeGpio kernel;
    kernel.chips.clear();
    kernel.chips[(dir / "gpiochip0").string()].label = "pinctrl-bcm2835";
    kernel.chips[(dir / "gpiochip2").string()].denied = true;
    kernel.chips[(dir / "gpiochip10").string()].lines.resize(8);
    std::vector<portio::OutputEntry> entries;
    portio::listGpioRelayOutputs(kernel, dir.string(), entries);
    std::filesystem::remove_all(dir);

    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].spec, "gpio:gpiochip0:");
    EXPECT_EQ(entries[0].description,
              "GPIO-Chip gpiochip0 (pinctrl-bcm2835, 54 Leitungen): gpio:gpiochip0:L1,...,L8 mit den Leitungen der "
              "Relais");
    EXPECT_EQ(entries[1].spec, "gpio:gpiochip2:");
    EXPECT_NE(entries[1].description.find("kein Zugriff"), std::string::npos);
    EXPECT_EQ(entries[2].spec, "gpio:gpiochip10:");
    EXPECT_NE(entries[2].description.find("(pinctrl-test, 8 Leitungen)"), std::string::npos);
    EXPECT_TRUE(kernel.chipFds.empty());
}

} // namespace
