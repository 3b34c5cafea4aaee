// The GPIO relay backend against the kernel's own GPIO character device, with
// the chip emulated by the gpio-sim module (configfs). Needs root and a
// kernel with gpio-sim loaded; skips otherwise. The line levels are read back
// through the simulator's sysfs attributes, not through the backend.

#include "gpiorelay.h"
#include "portbackend.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <linux/gpio.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

const fs::path ConfigFs = "/sys/kernel/config";
constexpr int SimLines = 8;
constexpr unsigned HoggedLine = 7; // held by the kernel as "hogger"

std::string readLine(const fs::path &path)
{
    std::ifstream in(path);
    std::string text;
    std::getline(in, text);
    return text;
}

bool write(const fs::path &path, const std::string &text)
{
    std::ofstream out(path);
    out << text;
    out.flush();
    return bool(out);
}

// One simulated chip of eight lines, line 7 hogged, for the whole program.
class SimChip
{
public:
    // Empty when the chip is live, else why it cannot be.
    std::string create()
    {
        if (::geteuid() != 0)
            return "needs root";
        if (!fs::exists(ConfigFs / "gpio-sim")) {
            if (!fs::exists("/sys/module/gpio_sim"))
                return "the kernel has no gpio-sim module loaded";
            if (::mount("none", ConfigFs.c_str(), "configfs", 0, nullptr) != 0 && errno != EBUSY)
                return std::string("cannot mount configfs: ") + std::strerror(errno);
            if (!fs::exists(ConfigFs / "gpio-sim"))
                return "no gpio-sim in configfs";
        }
        m_dir = ConfigFs / "gpio-sim" / ("blinkwerk-" + std::to_string(::getpid()));
        std::error_code error;
        fs::create_directory(m_dir, error);
        fs::create_directory(m_dir / "bank0", error);
        fs::create_directory(m_dir / "bank0" / ("line" + std::to_string(HoggedLine)), error);
        fs::create_directory(m_dir / "bank0" / ("line" + std::to_string(HoggedLine)) / "hog", error);
        if (error || !write(m_dir / "bank0/num_lines", std::to_string(SimLines)) ||
            !write(m_dir / "bank0" / ("line" + std::to_string(HoggedLine)) / "hog/name", "hogger") ||
            !write(m_dir / "bank0" / ("line" + std::to_string(HoggedLine)) / "hog/direction", "output-low") ||
            !write(m_dir / "live", "1"))
            return "cannot create a simulated chip in " + m_dir.string();
        m_device = readLine(m_dir / "dev_name");
        m_chip = readLine(m_dir / "bank0/chip_name");
        if (m_device.empty() || m_chip.empty())
            return "the simulated chip has no name";
        // Without devtmpfs the node is made from the chip's device number.
        m_path = "/dev/" + m_chip;
        if (!fs::exists(m_path)) {
            const std::string numbers = readLine("/sys/bus/gpio/devices/" + m_chip + "/dev");
            unsigned major = 0, minor = 0;
            m_path = fs::temp_directory_path() / ("blinkwerk-" + m_chip);
            if (std::sscanf(numbers.c_str(), "%u:%u", &major, &minor) != 2 ||
                ::mknod(m_path.c_str(), S_IFCHR | 0600, makedev(major, minor)) != 0)
                return "no device node for " + m_chip;
            m_madeNode = true;
        }
        return {};
    }

    ~SimChip()
    {
        if (m_madeNode)
            ::unlink(m_path.c_str());
        if (m_dir.empty())
            return;
        write(m_dir / "live", "0");
        std::error_code error;
        fs::remove(m_dir / "bank0" / ("line" + std::to_string(HoggedLine)) / "hog", error);
        fs::remove(m_dir / "bank0" / ("line" + std::to_string(HoggedLine)), error);
        fs::remove(m_dir / "bank0", error);
        fs::remove(m_dir, error);
    }

    const std::string &chip() const { return m_chip; }
    const std::string &path() const { return m_path; }

    // The physical levels of lines, bit i for lines[i], as the simulator sees them.
    unsigned levels(const std::vector<unsigned> &lines) const
    {
        unsigned bits = 0;
        for (std::size_t i = 0; i < lines.size(); ++i) {
            const fs::path value =
                fs::path("/sys/devices/platform") / m_device / m_chip / ("sim_gpio" + std::to_string(lines[i])) / "value";
            bits |= unsigned(readLine(value) == "1") << i;
        }
        return bits;
    }

    // Who holds line, through the chip's line info.
    std::string consumerOf(unsigned line) const
    {
        const int fd = ::open(m_path.c_str(), O_RDONLY | O_CLOEXEC);
        gpio_v2_line_info info {};
        info.offset = line;
        const bool ok = fd >= 0 && ::ioctl(fd, GPIO_V2_GET_LINEINFO_IOCTL, &info) == 0;
        if (fd >= 0)
            ::close(fd);
        return ok ? std::string(info.consumer) : "?";
    }

private:
    fs::path m_dir;
    std::string m_device, m_chip, m_path;
    bool m_madeNode = false;
};

class GpioSim : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        s_chip = new SimChip;
        s_whyNot = s_chip->create();
    }
    static void TearDownTestSuite()
    {
        delete s_chip;
        s_chip = nullptr;
    }
    void SetUp() override
    {
        if (!s_whyNot.empty())
            GTEST_SKIP() << s_whyNot;
    }

    static portio::OutputSpec spec(std::vector<unsigned> lines, bool activeLow)
    {
        portio::OutputSpec spec;
        spec.kind = "gpio";
        spec.path = s_chip->path();
        spec.lines = std::move(lines);
        spec.activeLow = activeLow;
        return spec;
    }

    static SimChip *s_chip;
    static std::string s_whyNot;
};

SimChip *GpioSim::s_chip = nullptr;
std::string GpioSim::s_whyNot;

TEST_F(GpioSim, DrivesTheLinesAndLeavesThemOffAndHeld)
{
    const std::vector<unsigned> plain {0, 1, 2, 3}, inverted {6, 5, 4};
    std::string whyNot;
    auto a = portio::openGpioRelayOutput(spec(plain, false), portio::OutputRole::Sequencer, whyNot);
    ASSERT_TRUE(a) << whyNot;
    auto b = portio::openGpioRelayOutput(spec(inverted, true), portio::OutputRole::Sequencer, whyNot);
    ASSERT_TRUE(b) << whyNot;
    EXPECT_EQ(s_chip->levels(plain), 0u);
    EXPECT_EQ(s_chip->levels(inverted), 0x7u) << "active-low off is high";
    EXPECT_EQ(s_chip->consumerOf(0), "blinkwerk");

    const struct
    {
        int byte;
        unsigned plain, inverted; // physical levels
    } steps[] = {{0x01, 0x1, 0x6}, {0x5A, 0xA, 0x5}, {0xFF, 0xF, 0x0}, {0x30, 0x0, 0x7}, {0x00, 0x0, 0x7}};
    for (const auto &step : steps) {
        SCOPED_TRACE(step.byte);
        a->out32(portio::Lpt1DataPort, std::int16_t(step.byte));
        b->out32(portio::Lpt1DataPort, std::int16_t(step.byte));
        EXPECT_EQ(s_chip->levels(plain), step.plain);
        EXPECT_EQ(s_chip->levels(inverted), step.inverted);
    }

    a->out32(portio::Lpt1DataPort, 0xFF);
    b->out32(portio::Lpt1DataPort, 0xFF);
    a.reset();
    b.reset();
    EXPECT_EQ(s_chip->levels(plain), 0u);
    EXPECT_EQ(s_chip->levels(inverted), 0x7u);
    EXPECT_EQ(s_chip->consumerOf(0), "blinkwerk") << "released at destruction";
    EXPECT_EQ(s_chip->consumerOf(4), "blinkwerk") << "released at destruction";

    // Opened again in the same run: taken over, not refused as busy.
    a = portio::openGpioRelayOutput(spec(plain, false), portio::OutputRole::Sequencer, whyNot);
    ASSERT_TRUE(a) << whyNot;
    a->out32(portio::Lpt1DataPort, 0x09);
    EXPECT_EQ(s_chip->levels(plain), 0x9u);
}

TEST_F(GpioSim, LinesHeldElsewhereAreNamedWithTheirHolder)
{
    std::string whyNot;
    EXPECT_FALSE(portio::openGpioRelayOutput(spec({HoggedLine}, false), portio::OutputRole::Sequencer, whyNot));
    EXPECT_NE(whyNot.find("line " + std::to_string(HoggedLine) + " by \"hogger\""), std::string::npos) << whyNot;
}

TEST_F(GpioSim, ListsTheChip)
{
    std::vector<portio::OutputEntry> entries;
    portio::listGpioRelayOutputs(entries);
    bool found = false;
    for (const auto &entry : entries)
        found = found || (entry.spec == "gpio:" + s_chip->chip() + ":" &&
                          entry.description.find("8 Leitungen") != std::string::npos);
    if (s_chip->path() == "/dev/" + s_chip->chip())
        EXPECT_TRUE(found);
}

} // namespace
