// The user's settings file on POSIX: only the user's own regular file in
// folders of the user's own is read or replaced; a FIFO, a link, a second
// name, another user's file or folder are refused with one line, and
// nothing waits on them. Each case runs in a child process (its own
// environment, a refusal said anew) that is ended when it hangs.

#include "posixtestsupport.h"
#include "usersettings.h"

#include <QSettings>

#include <functional>
#include <grp.h>
#include <optional>
#include <pwd.h>
#include <sstream>
#include <vector>

using namespace testsupport;

namespace {

constexpr unsigned HangLimitSeconds = 60;
const std::string Good = "[General]\noutput=register:/planted\nother=kept\n";

std::vector<std::string> lines(const std::string &text)
{
    std::vector<std::string> result;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        result.push_back(line);
    return result;
}

// A home and a configuration folder of this test, all private to the user.
struct Folders
{
    ScratchDir scratch;
    fs::path home = scratch / "home", config = scratch / "config", own = config / "Blinkwerk",
             file = own / "blinkwerk.ini";
    explicit Folders(const std::string &tag) : scratch(tag)
    {
        for (const fs::path &folder : {home, home / ".config", home / ".config/Blinkwerk", config, own}) {
            fs::create_directory(folder);
            fs::permissions(folder, fs::perms(0700));
        }
    }
};

// Runs body in a child with HOME and XDG_CONFIG_HOME (unset when nothing);
// a child that hangs is ended by SIGALRM and shows up as signal 14.
ChildResult inUsersChild(const Folders &folders, const std::optional<std::string> &xdg, std::function<int()> body)
{
    return inChild([&] {
        ::alarm(HangLimitSeconds);
        ::setenv("HOME", folders.home.c_str(), 1);
        if (xdg)
            ::setenv("XDG_CONFIG_HOME", xdg->c_str(), 1);
        else
            ::unsetenv("XDG_CONFIG_HOME");
        return body();
    });
}

// Whether the effective user's primary group is named like the user and has
// no members: the private group that may write the user's files.
bool hasPrivateGroup()
{
    const passwd *user = ::getpwuid(::geteuid());
    const group *own = user ? ::getgrgid(user->pw_gid) : nullptr;
    return own && std::string(own->gr_name) == user->pw_name && (!own->gr_mem || !own->gr_mem[0]);
}

void chownToOtherUser(const fs::path &path)
{
    ASSERT_EQ(::chown(path.c_str(), OtherUser, OtherUser), 0) << path;
}

} // namespace

TEST(UserSettingsFile, isReadOnlyWhenItIsTheUsersOwnRegularFile)
{
    const bool root = ::geteuid() == 0;
    struct Case
    {
        const char *name;
        const char *reason; // null: read
        bool onlyAsRoot;
        bool refusesTheFolder;
        std::function<void(const Folders &)> plant;
    };
    auto withMode = [](mode_t mode) {
        return [mode](const Folders &f) {
            writeFile(f.file, Good);
            ::chmod(f.file.c_str(), mode);
        };
    };
    const Case cases[] = {
        {"the user's file", nullptr, false, false, withMode(0600)},
        {"the user's file, mode 0664, of the user's private group", nullptr, !hasPrivateGroup(), false,
         withMode(0664)},
        {"a FIFO", "not a regular file", false, false, [](const Folders &f) { ::mkfifo(f.file.c_str(), 0600); }},
        {"a symbolic link to the user's file elsewhere", "a symbolic link, which is not followed", false, false,
         [](const Folders &f) {
             writeFile(f.scratch / "elsewhere", Good);
             fs::create_symlink(f.scratch / "elsewhere", f.file);
         }},
        {"a file with a second name", "has 2 hard links", false, false,
         [](const Folders &f) {
             writeFile(f.file, Good);
             fs::create_hard_link(f.file, f.scratch / "second");
         }},
        {"a file others may write", "others may write it (mode 0666)", false, false, withMode(0666)},
        {"a file its group may write, the group not the user's own", "others may write it (mode 0664)", true, false,
         [&](const Folders &f) {
             withMode(0664)(f);
             ASSERT_EQ(::chown(f.file.c_str(), uid_t(-1), 100), 0);
         }},
        {"another user's file", "belongs to user 65534", true, false,
         [](const Folders &f) {
             writeFile(f.file, Good);
             chownToOtherUser(f.file);
         }},
        {"another user's Blinkwerk folder", "belongs to user 65534", true, true,
         [](const Folders &f) {
             writeFile(f.file, Good);
             chownToOtherUser(f.own);
         }},
        {"a Blinkwerk folder others may write", "others may write it (mode 0777)", false, true,
         [](const Folders &f) {
             writeFile(f.file, Good);
             ::chmod(f.own.c_str(), 0777);
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.onlyAsRoot && !root) {
            std::cout << "[ SKIPPED  ] " << c.name << ": not possible for this user\n";
            continue;
        }
        Folders folders("settings-read");
        c.plant(folders);
        const ChildResult child = inUsersChild(folders, folders.config.string(), [] {
            const std::optional<std::string> first = portio::userSetting("output");
            const std::optional<std::string> second = portio::userSetting("other");
            if (!first && !second)
                return 0;
            return first == "register:/planted" && second == "kept" ? 1 : 2;
        });
        EXPECT_EQ(child.signal, 0) << child << "\n(14: it hung)";
        EXPECT_EQ(child.exitCode, c.reason ? 0 : 1) << child;
        const std::vector<std::string> said = lines(child.err);
        if (!c.reason) {
            EXPECT_TRUE(said.empty()) << child;
            continue;
        }
        EXPECT_EQ(said.size(), 1u) << child;
        if (said.empty())
            continue;
        const fs::path where = c.refusesTheFolder ? folders.own : folders.file;
        EXPECT_EQ(said[0].rfind(where.string() + ": " + c.reason, 0), 0u) << said[0];
        EXPECT_NE(said[0].find("ignored"), std::string::npos) << said[0];
    }
}

TEST(UserSettingsFile, comesFromXdgConfigHomeOnlyWhenThatIsTheUsersOwnFolder)
{
    const bool root = ::geteuid() == 0;
    struct Case
    {
        const char *name;
        std::function<std::string(const Folders &)> xdg; // null: unset
        const char *from;                                  // "xdg", "home" or "none"
        bool passedOver;
        bool onlyAsRoot;
    };
    const Case cases[] = {
        {"the user's private folder", [](const Folders &f) { return f.config.string(); }, "xdg", false, false},
        {"unset", nullptr, "home", false, false},
        {"a relative path", [](const Folders &) { return std::string("config"); }, "home", true, false},
        {"a folder others may write",
         [](const Folders &f) {
             ::chmod(f.config.c_str(), 0777);
             return f.config.string();
         },
         "home", true, false},
        {"a folder not there yet", [](const Folders &f) { return (f.scratch / "new").string(); }, "none", false,
         false},
        {"another user's folder",
         [](const Folders &f) {
             chownToOtherUser(f.config);
             chownToOtherUser(f.own);
             chownToOtherUser(f.file);
             return f.config.string();
         },
         "home", true, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.onlyAsRoot && !root)
            continue;
        Folders folders("settings-where");
        writeFile(folders.home / ".config/Blinkwerk/blinkwerk.ini", "[General]\noutput=home\n");
        writeFile(folders.file, "[General]\noutput=xdg\n");
        const std::optional<std::string> xdg = c.xdg ? std::optional(c.xdg(folders)) : std::nullopt;
        const ChildResult child = inUsersChild(folders, xdg, [&] {
            // A relative path would name this folder.
            if (::chdir(folders.scratch.path().c_str()) != 0)
                return 3;
            const std::optional<std::string> value = portio::userSetting("output");
            return value == "xdg" ? 1 : value == "home" ? 2 : 0;
        });
        const std::string from = c.from;
        EXPECT_EQ(child.exitCode, from == "xdg" ? 1 : from == "home" ? 2 : 0) << child;
        const std::vector<std::string> said = lines(child.err);
        EXPECT_EQ(said.size(), c.passedOver ? 1u : 0u) << child;
        if (c.passedOver && !said.empty()) {
            EXPECT_EQ(said[0].rfind("Settings: XDG_CONFIG_HOME=" + *xdg + " is passed over", 0), 0u) << said[0];
        }
    }

    // A HOME that is not the user's own (kept across sudo) leads to the
    // user's home in the password database instead.
    if (root) {
        Folders folders("settings-home");
        chownToOtherUser(folders.home);
        const ChildResult child = inUsersChild(folders, std::nullopt, [] {
            return portio::userSettingsFile() == std::string(::getpwuid(0)->pw_dir) + "/.config/Blinkwerk/blinkwerk.ini"
                       ? 0
                       : 1;
        });
        EXPECT_EQ(child.exitCode, 0) << child;
    }
}

TEST(UserSettingsFile, isWrittenOnlyIntoTheUsersOwnFolderAndFile)
{
    const bool root = ::geteuid() == 0;
    const std::string victim = "not to be touched\n";
    struct Case
    {
        const char *name;
        const char *reason; // null: written
        bool onlyAsRoot;
        std::function<void(const Folders &)> plant;
        std::function<void(const Folders &)> check; // afterwards
    };
    const Case cases[] = {
        {"nothing there yet, not even XDG_CONFIG_HOME", nullptr, false,
         [](const Folders &f) { fs::remove_all(f.config); },
         [](const Folders &f) {
             EXPECT_EQ(fs::status(f.config).permissions(), fs::perms(0700));
             EXPECT_EQ(fs::status(f.own).permissions(), fs::perms(0700));
             EXPECT_EQ(fs::status(f.file).permissions(), fs::perms(0600));
         }},
        {"the user's file, mode 0644", nullptr, false,
         [](const Folders &f) {
             writeFile(f.file, Good);
             ::chmod(f.file.c_str(), 0644);
         },
         [](const Folders &f) {
             EXPECT_EQ(fs::status(f.file).permissions(), fs::perms(0644));
             const QSettings written(QString::fromStdString(f.file.string()), QSettings::IniFormat);
             EXPECT_EQ(written.value("other").toString(), "kept");
         }},
        {"a symbolic link to the user's file elsewhere", "a symbolic link, which is not followed", false,
         [&](const Folders &f) {
             writeFile(f.scratch / "elsewhere", victim);
             fs::create_symlink(f.scratch / "elsewhere", f.file);
         },
         [&](const Folders &f) {
             EXPECT_TRUE(fs::is_symlink(f.file));
             EXPECT_EQ(readFile(f.scratch / "elsewhere"), victim);
         }},
        {"a FIFO", "not a regular file", false, [](const Folders &f) { ::mkfifo(f.file.c_str(), 0600); },
         [](const Folders &f) { EXPECT_TRUE(fs::is_fifo(f.file)); }},
        {"another user's Blinkwerk folder", "belongs to user 65534", true,
         [](const Folders &f) { chownToOtherUser(f.own); },
         [](const Folders &f) { EXPECT_TRUE(fs::is_empty(f.own)); }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.onlyAsRoot && !root)
            continue;
        Folders folders("settings-write");
        c.plant(folders);
        const ChildResult child = inUsersChild(folders, folders.config.string(), [] {
            return portio::setUserSetting("output", "register:/chosen") ? 1 : 0;
        });
        EXPECT_EQ(child.signal, 0) << child << "\n(14: it hung)";
        EXPECT_EQ(child.exitCode, c.reason ? 0 : 1) << child;
        const std::vector<std::string> said = lines(child.err);
        EXPECT_EQ(said.size(), c.reason ? 1u : 0u) << child;
        if (c.reason) {
            EXPECT_NE(said.empty() ? std::string::npos : said[0].find(c.reason), std::string::npos) << child;
            EXPECT_NE(said.empty() ? std::string::npos : said[0].find("output is not kept"), std::string::npos);
        } else {
            const QSettings written(QString::fromStdString(folders.file.string()), QSettings::IniFormat);
            EXPECT_EQ(written.value("output").toString(), "register:/chosen");
        }
        c.check(folders);
        EXPECT_LE(std::distance(fs::directory_iterator(folders.own), fs::directory_iterator()), 1)
            << "nothing left beside the file";
    }
}
