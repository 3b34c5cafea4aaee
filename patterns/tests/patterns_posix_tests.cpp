// The pattern files' POSIX rules and the failures only a POSIX system can
// stage: FIFOs, file size and memory limits, permission bits.

#include "filepanel.h"
#include "patternfile.h"

#include "testsupport.h"
#include "wholelinereference.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <fstream>
#include <functional>
#include <optional>

#include <fcntl.h>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace patterns;
using namespace testsupport;

namespace {

// Runs body in a child process and returns its exit status, or nullopt when
// it has not ended after timeoutMs (it is then killed). The child ends
// with the code body returns, 125 when body throws, or by a signal; it
// never returns into the test program.
std::optional<int> runInChild(const std::function<int()> &body, int timeoutMs)
{
    int ends[2];
    if (::pipe(ends) != 0)
        return std::nullopt;
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(ends[0]);
        int code = 125;
        try {
            code = body();
        } catch (...) {
        }
        ::_exit(code); // ends[1] closes with the process
    }
    ::close(ends[1]);
    // The pipe reports the child's end as soon as it happens.
    pollfd watch{ends[0], POLLIN, 0};
    const int ready = child > 0 ? ::poll(&watch, 1, timeoutMs) : -1;
    ::close(ends[0]);
    if (child < 0)
        return std::nullopt;
    if (ready <= 0)
        ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    return ready > 0 ? std::optional<int>(status) : std::nullopt;
}

// The size of the process's data (VmData), which RLIMIT_DATA limits.
rlim_t dataSize()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmData:", 0) == 0)
            return rlim_t(std::stoul(line.substr(7))) * 1024;
    return 0;
}

} // namespace

TEST(PosixPatternFile, anEntryThatIsNoRegularFileNeverHangsTheLoad)
{
    // A FIFO without a writer blocks a plain open for good; an endless
    // device never ends a read.
    Folder folder;
    ASSERT_EQ(::mkfifo(folder.file("fifo.bw2").c_str(), 0644), 0);
    fs::create_symlink("/dev/zero", folder.file("null.bw2"));
    for (const char *name : {"fifo.bw2", "null.bw2"}) {
        const auto status = runInChild(
            [&] {
                Rig rig, missing;
                const bool failed = loadPatternFile(rig.seq, folder.path(), name);
                loadPatternFile(missing.seq, folder.path(), "fehlt.bw2");
                return failed && loadedState(rig.seq) == loadedState(missing.seq) ? 0 : 1;
            },
            20000);
        ASSERT_TRUE(status) << "the load of " << name << " did not end within 20 s";
        EXPECT_TRUE(WIFEXITED(*status) && WEXITSTATUS(*status) == 0)
            << name << " not loaded as a file that cannot be opened";
    }
}

TEST(PosixPatternFile, aHugeFileLoadsInBoundedMemory)
{
    // 256 MB without a line end, sparse, so it costs no disk: all NUL bytes,
    // as a cell digit that is bad.
    Folder folder;
    {
        const int fd = ::open(folder.file("gross.bw2").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, 256L << 20), 0);
        ::close(fd);
    }
    const auto status = runInChild(
        [&] {
            // The data of the process may not grow by more than 64 MB while
            // loading.
            rlimit limit{};
            ::getrlimit(RLIMIT_DATA, &limit);
            limit.rlim_cur = dataSize() + (64L << 20);
            if (::setrlimit(RLIMIT_DATA, &limit) != 0)
                return 3;
            Rig rig, expected;
            const bool failed = loadPatternFile(rig.seq, folder.path(), "gross.bw2");
            reference::loadWholeLine(expected.seq, std::string(1, '\0'));
            return failed && loadedState(rig.seq) == loadedState(expected.seq) ? 0 : 1;
        },
        60000);
    ASSERT_TRUE(status) << "the load did not end within 60 s";
    ASSERT_TRUE(WIFEXITED(*status)) << "the load ended by signal " << WTERMSIG(*status);
    EXPECT_NE(WEXITSTATUS(*status), 125) << "the load ran out of memory";
    EXPECT_EQ(WEXITSTATUS(*status), 0);
}

TEST(PosixPatternFile, aReadOnlyPatternIsNotReplaced)
{
    const std::string old = std::string(160, '2') + "|9|8|7\r\n";
    for (const mode_t mode : {mode_t(0444), mode_t(0400), mode_t(0464), mode_t(0000)}) {
        Folder folder;
        Rig rig;
        folder.write("alt.bw2", old);
        ASSERT_EQ(::chmod(folder.file("alt.bw2").c_str(), mode), 0);
        const SaveError error = savePatternFile(rig.seq, folder.path(), "alt");
        ASSERT_TRUE(error) << std::oct << mode;
        EXPECT_NE(error->find("\"alt.bw2\""), std::string::npos) << *error;
        EXPECT_NE(error->find("schreibgeschützt"), std::string::npos) << *error;
        EXPECT_NE(error->find("\"" + utf8FromPath(folder.path()) + "\""), std::string::npos) << *error;
        struct stat status {};
        ASSERT_EQ(::stat(folder.file("alt.bw2").c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, mode);
        ::chmod(folder.file("alt.bw2").c_str(), 0644);
        EXPECT_EQ(folder.read("alt.bw2"), old);
        EXPECT_EQ(folder.names(), std::vector<std::string>{"alt.bw2"});
    }
}

TEST(PosixPatternFile, aFailedWriteKeepsTheOldFileWholeAndLeavesNoTemporary)
{
    Folder folder;
    Rig rig;
    const std::string old = std::string(160, '2') + "|9|8|7\r\n";
    folder.write("alt.bw2", old);

    // Any write past 100 bytes fails, as on a full disk.
    const auto previousHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 100;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const SaveError error = savePatternFile(rig.seq, folder.path(), "alt");
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previousHandler);

    ASSERT_TRUE(error);
    EXPECT_NE(error->find("\"alt.bw2\""), std::string::npos) << *error;
    EXPECT_NE(error->find("Die Datei wäre größer, als das System erlaubt."), std::string::npos) << *error;
    EXPECT_EQ(folder.read("alt.bw2"), old);
    EXPECT_EQ(folder.names(), std::vector<std::string>{"alt.bw2"});
}

TEST(PosixPatternFile, aFolderWithoutWritePermissionIsNamedWithItsReason)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root may write into any folder";
    Folder folder;
    Rig rig;
    ASSERT_EQ(::chmod(folder.path().c_str(), 0555), 0);
    const SaveError error = savePatternFile(rig.seq, folder.path(), "neu");
    ::chmod(folder.path().c_str(), 0755);
    ASSERT_TRUE(error);
    EXPECT_NE(error->find("Es fehlt die Berechtigung, in diesem Ordner zu schreiben."), std::string::npos) << *error;
}

// Which typed names POSIX refuses, and why; every other name is saved and
// listed under the name typed.
TEST(PosixFileRules, namesRefusedAndNamesSaved)
{
    expectNameRules({
        {".versteckt", "versteckte Datei"},
        {".", "versteckte Datei"},
        {"..", "versteckte Datei"},
        {".bw2", "versteckte Datei"},
        {"a/b", "\"/\""},
        {"a\\b", "\"\\\""},
        {std::string("a\0b", 3), "Nullzeichen"},
        {"a:b", nullptr},
        {"a?b", nullptr},
        {"a*b", nullptr},
        {"a\"b", nullptr},
        {"a<b>c|d", nullptr},
        {"CON", nullptr},
        {"nul.txt", nullptr},
        {"LPT1", nullptr},
        {"aux", nullptr},
        {"ende. ", nullptr},
        {"a.", nullptr},
        {"tab\there", nullptr},
        {"<b>x", nullptr},
    });
}

TEST(PosixFileRules, entriesStartingWithADotAreHidden)
{
    Folder folder;
    for (const char *name : {"sichtbar.bw2", ".versteckt.bw2", "..bw2", ".bw2-save-abc.bw2"})
        folder.write(name, "1|20|1|0\r\n");
    EXPECT_EQ(FilePanel::listPatternFiles(folder.path()), std::vector<std::string>{"sichtbar.bw2"});
}

TEST(PosixFilePanel, aRefusedHiddenNameKeepsTheNameAndTheButton)
{
    Folder folder;
    Rig rig;
    FilePanel panel(rig.seq);
    panel.pointAt(folder.path());
    panel.setNameText(".geheim");
    const auto message = panel.save();
    ASSERT_TRUE(message);
    EXPECT_EQ(message->title, "Error");
    EXPECT_NE(message->text.find("versteckte Datei"), std::string::npos) << message->text;
    EXPECT_EQ(panel.nameText(), ".geheim");
    EXPECT_TRUE(panel.saveEnabled());
    EXPECT_TRUE(folder.names().empty());
}
