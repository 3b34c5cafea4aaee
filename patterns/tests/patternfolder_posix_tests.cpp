// POSIX side of the pattern folder: the XDG data folder rule, the mode of
// created folders, and a program folder that the user really cannot write.

#include "patternfile.h"
#include "patternfolder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <pwd.h>
#include <random>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace patterns;

namespace {

fs::path scratchFolder()
{
    std::random_device entropy;
    fs::path path = fs::temp_directory_path() / ("patternfolder-posix-tests-" + std::to_string(entropy()));
    fs::create_directories(path);
    return path;
}

mode_t modeOf(const fs::path &path)
{
    struct stat info {};
    EXPECT_EQ(::stat(path.c_str(), &info), 0) << path;
    return info.st_mode & 07777;
}

fs::path accountHome()
{
    const struct passwd *entry = ::getpwuid(::getuid());
    return entry && entry->pw_dir ? fs::path(entry->pw_dir) : fs::path();
}

} // namespace

TEST(PatternFolderPosix, DataFolderFollowsTheXdgRules)
{
    using Environment = std::map<std::string, std::string>;
    const fs::path account = accountHome();
    ASSERT_TRUE(account.is_absolute()) << "the test needs an account entry with a home folder";
    struct Case
    {
        const char *what;
        Environment environment;
        fs::path expected;
    };
    const Case cases[] = {
        {"XDG_DATA_HOME wins", {{"XDG_DATA_HOME", "/x/data"}, {"HOME", "/home/u"}}, "/x/data/blinkwerk"},
        {"trailing slash", {{"XDG_DATA_HOME", "/x/data/"}, {"HOME", "/home/u"}}, "/x/data/blinkwerk"},
        {"empty XDG_DATA_HOME", {{"XDG_DATA_HOME", ""}, {"HOME", "/home/u"}}, "/home/u/.local/share/blinkwerk"},
        {"relative XDG_DATA_HOME is invalid", {{"XDG_DATA_HOME", "data"}, {"HOME", "/home/u"}},
         "/home/u/.local/share/blinkwerk"},
        {"HOME only", {{"HOME", "/home/u"}}, "/home/u/.local/share/blinkwerk"},
        {"no HOME: the account's home", {}, account / ".local/share/blinkwerk"},
        {"relative HOME: the account's home", {{"HOME", "u"}}, account / ".local/share/blinkwerk"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        const auto lookup = [&](const char *name) -> std::optional<fs::path> {
            const auto found = c.environment.find(name);
            if (found == c.environment.end())
                return std::nullopt;
            return fs::path(found->second);
        };
        EXPECT_EQ(userDataFolder(lookup), c.expected);
    }
}

TEST(PatternFolderPosix, CreatedFoldersArePrivateAndExistingOnesUntouched)
{
    const fs::path scratch = scratchFolder();
    fs::create_directory(scratch / "home");
    fs::permissions(scratch / "home", fs::perms(0751));
    const mode_t oldMask = ::umask(022);
    const std::error_code error = createDataFolder(scratch / "home" / ".local" / "share" / "blinkwerk");
    ::umask(oldMask);

    EXPECT_FALSE(error) << error.message();
    EXPECT_EQ(modeOf(scratch / "home"), 0751u);
    EXPECT_EQ(modeOf(scratch / "home/.local"), 0700u);
    EXPECT_EQ(modeOf(scratch / "home/.local/share"), 0700u);
    EXPECT_EQ(modeOf(scratch / "home/.local/share/blinkwerk"), 0700u);
    EXPECT_FALSE(createDataFolder(scratch / "home/.local/share/blinkwerk")) << "a second call finds it there";
    fs::remove_all(scratch);
}

// The case of a program folder that exists but belongs to another user, and
// of a data folder whose parent the user may not write (the save names the
// missing permission). Root may write anywhere, so as root the check runs
// in a child that has dropped to the unprivileged account "nobody";
// otherwise the folders are made read-only for their owner.
TEST(PatternFolderPosix, ProgramFolderTheUserMayNotWriteGivesTheDataFolder)
{
    const fs::path scratch = scratchFolder();
    const fs::path program = scratch / "usr-bin";
    const fs::path home = scratch / "home";
    fs::create_directory(program);
    fs::create_directory(home);
    const fs::path data = home / ".local/share/blinkwerk";
    const fs::path lockedHome = scratch / "locked";
    fs::create_directory(lockedHome);

    const bool root = ::geteuid() == 0;
    if (root) {
        fs::permissions(scratch, fs::perms(0755));
        fs::permissions(program, fs::perms(0755));
        fs::permissions(home, fs::perms(0777));
        fs::permissions(lockedHome, fs::perms(0755));
    } else {
        fs::permissions(program, fs::perms(0555));
        fs::permissions(lockedHome, fs::perms(0555));
    }

    int channel[2];
    ASSERT_EQ(::pipe(channel), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::close(channel[0]);
        if (root && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(3);
        const PatternFolder chosen = choosePatternFolder(program, data, false);
        const std::error_code error = preparePatternFolder(chosen);
        const std::error_code locked = preparePatternFolder({lockedHome / "blinkwerk", false});
        const std::string report = (chosen.beside ? "beside " : "data ")
                                   + (error ? error.message() : std::string("ok")) + " " + chosen.folder.string()
                                   + " | " + folderFailureReason(locked);
        const bool sent = ::write(channel[1], report.data(), report.size()) == ssize_t(report.size());
        ::_exit(sent ? 0 : 4);
    }
    ::close(channel[1]);
    std::string report;
    char buffer[512];
    for (ssize_t got; (got = ::read(channel[0], buffer, sizeof buffer)) != 0;) {
        if (got < 0 && errno == EINTR)
            continue;
        ASSERT_GT(got, 0);
        report.append(buffer, std::size_t(got));
    }
    ::close(channel[0]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    ASSERT_NE(WEXITSTATUS(status), 3) << "could not drop root to the account nobody";
    ASSERT_EQ(WEXITSTATUS(status), 0);

    EXPECT_EQ(report, "data ok " + data.string() + " | Keine Berechtigung, ihn dort anzulegen.");
    EXPECT_TRUE(fs::is_directory(data));
    EXPECT_TRUE(fs::is_empty(program)) << "nothing may be left in the program's folder";

    fs::permissions(program, fs::perms(0755));
    fs::permissions(lockedHome, fs::perms(0755));
    fs::remove_all(scratch);
}
