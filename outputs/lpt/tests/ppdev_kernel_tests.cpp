// The ppdev backend against the kernel's own parport, parport_pc and ppdev,
// in the small machine of tools/kernel-vm, whose QEMU emulates a parallel
// port at 0x378 that the firmware describes with IRQ 7. The tests reload
// parport_pc with the options under test, so they run only when told that
// they are in that machine (--in-kernel-vm) and skip anywhere else: on a real
// computer they would take the port from its users.

#include "ppdev.h"
#include "portbackend.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <linux/ppdev.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using namespace portio;
namespace fs = std::filesystem;

namespace {

bool inKernelVm = false;

std::string firstLine(const fs::path &path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// The module file of that name in the machine, where kernel-vm put the
// modules it was given (uncompressed): a file ending in .ko whose .modinfo
// section names the module.
std::string moduleFile(const std::string &name)
{
    const std::string tag = std::string(1, '\0') + "name=" + name + std::string(1, '\0');
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator("/", fs::directory_options::skip_permission_denied, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const fs::path path = it->path();
        if (path == "/proc" || path == "/sys" || path == "/dev") {
            it.disable_recursion_pending();
            continue;
        }
        if (path.extension() != ".ko" || !it->is_regular_file(ec))
            continue;
        std::ifstream in(path, std::ios::binary);
        const std::string content {std::istreambuf_iterator<char>(in), {}};
        if (content.find(tag) != std::string::npos)
            return path.string();
    }
    return {};
}

// Unloads parport_pc (ppdev forgets the port and removes its node) and loads
// it again with options. Empty, or what failed.
std::string reloadParportPc(const std::string &options)
{
    if (::syscall(SYS_delete_module, "parport_pc", O_NONBLOCK) != 0 && errno != ENOENT)
        return std::string("unloading parport_pc: ") + std::strerror(errno);
    const std::string file = moduleFile("parport_pc");
    if (file.empty())
        return "parport_pc.ko is not in the machine (kernel-vm --modules \"parport_pc ppdev\")";
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    const long loaded = ::syscall(SYS_finit_module, fd, options.c_str(), 0);
    const int error = errno;
    ::close(fd);
    if (loaded != 0)
        return "loading " + file + " " + options + ": " + std::strerror(error);
    return {};
}

struct Messages
{
    std::vector<std::string> lines;
    std::function<void(const std::string &)> sink()
    {
        return [this](const std::string &line) { lines.push_back(line); };
    }
};

} // namespace

// What outputs/lpt/README.md tells the user: the option that turns the
// port's interrupt off, and how to see that it took effect.
TEST(PpdevKernel, onlyTheAddressWithIrqNoneTurnsTheFirmwaresInterruptOff)
{
    if (!inKernelVm)
        GTEST_SKIP() << "runs in tools/kernel-vm only (--in-kernel-vm)";
    struct Case
    {
        const char *options;
        bool interruptOn;
    };
    const Case cases[] = {{"", true}, {"irq=none", true}, {"io=0x378 irq=none", false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string("parport_pc ") + c.options);
        ASSERT_EQ(reloadParportPc(c.options), "");
        const std::string irq = firstLine("/proc/sys/dev/parport/parport0/irq");
        ASSERT_FALSE(irq.empty()) << "no parport0";
        EXPECT_EQ(irq == "-1", !c.interruptOn) << "irq reads " << irq;
    }
}

TEST(PpdevKernel, theBackendWritesTwentyBytesAndReadsEachBack)
{
    if (!inKernelVm)
        GTEST_SKIP() << "runs in tools/kernel-vm only (--in-kernel-vm)";
    ASSERT_EQ(reloadParportPc("io=0x378 irq=none"), "");
    Messages messages;
    PpdevOptions options;
    options.say = messages.sink();
    std::string why;
    auto port = openPpdevPort(systemPpdevCalls(), options, why);
    ASSERT_TRUE(port) << why;
    for (int i = 0; i < 20; ++i) {
        const auto byte = std::uint8_t((i * 37 + 1) & 0xFF);
        port->out32(Lpt1DataPort, byte);
        EXPECT_EQ(port->readPort(), byte);
    }
    port.reset();
    EXPECT_TRUE(messages.lines.empty()) << messages.lines.front();
}

// A program that claims without the lock holds the port: however the node is
// named, the backend finds the kernel's account of the holder and does not
// claim (a claim would sleep holding ppdev's mutex).
TEST(PpdevKernel, aPortHeldWithoutTheLockIsNotClaimedWhateverTheNodesName)
{
    if (!inKernelVm)
        GTEST_SKIP() << "runs in tools/kernel-vm only (--in-kernel-vm)";
    ASSERT_EQ(reloadParportPc("io=0x378 irq=none"), "");
    ::unlink("/tmp/lpt");
    ::unlink("/tmp/relays");
    ASSERT_EQ(::symlink("/dev/parport0", "/tmp/lpt"), 0);
    ASSERT_EQ(::mknod("/tmp/relays", S_IFCHR | 0600, ::makedev(99, 0)), 0);
    const int foreign = ::open("/dev/parport0", O_RDWR | O_CLOEXEC);
    ASSERT_GE(foreign, 0);
    ASSERT_EQ(::ioctl(foreign, PPCLAIM), 0);
    for (const char *path : {"/dev/parport0", "/tmp/lpt", "/tmp/relays"}) {
        SCOPED_TRACE(path);
        Messages messages;
        PpdevOptions options;
        options.path = path;
        options.say = messages.sink();
        std::string why;
        auto port = openPpdevPort(systemPpdevCalls(), options, why);
        ASSERT_TRUE(port) << why;
        EXPECT_EQ(port->readPort(), std::nullopt);
        ASSERT_EQ(messages.lines.size(), 1u);
        EXPECT_NE(messages.lines[0].find(std::string(path) + ": the port is held by another user of it, named "),
                  std::string::npos)
            << messages.lines[0];
    }
    EXPECT_EQ(::ioctl(foreign, PPRELEASE), 0);
    ::close(foreign);
    ::unlink("/tmp/lpt");
    ::unlink("/tmp/relays");
}

int main(int argc, char **argv)
{
    testing::InitGoogleTest(&argc, argv);
    for (int i = 1; i < argc; ++i)
        inKernelVm = inKernelVm || std::string(argv[i]) == "--in-kernel-vm";
    return RUN_ALL_TESTS();
}
