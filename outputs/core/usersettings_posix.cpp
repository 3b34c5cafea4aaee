// POSIX side of the user's settings file. Folders and file are opened one
// below the other through descriptors, so that what is checked is what is
// read or replaced, whatever is renamed meanwhile. Folders are judged by
// what they are (a link to a folder of the user's is fine); the file is
// never opened through a link, and nothing but a regular file is opened at
// all: opening a FIFO can wait forever, opening a device can act on it.

#include "usersettings_p.h"

#include "environment.h"
#include "usersettings.h"

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <utility>
#include <vector>

namespace portio::usersettings {

namespace {

constexpr const char *FolderName = "Blinkwerk";
constexpr const char *FileName = "blinkwerk.ini";
constexpr const char *LinkReason = "a symbolic link, which is not followed";

struct Account
{
    gid_t group = 0;
    std::string name, home;
};

// The effective user's entry in the password database.
std::optional<Account> account()
{
    const long suggested = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? std::size_t(suggested) : 16384);
    passwd entry {};
    passwd *found = nullptr;
    while (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE
           && buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 2);
    if (!found)
        return std::nullopt;
    return Account{found->pw_gid, found->pw_name ? found->pw_name : "", found->pw_dir ? found->pw_dir : ""};
}

// The user's private group: the primary group, named like the user, with no
// other member.
bool isPrivateGroup(gid_t gid)
{
    const std::optional<Account> user = account();
    if (!user || user->group != gid)
        return false;
    const long suggested = ::sysconf(_SC_GETGR_R_SIZE_MAX);
    std::vector<char> buffer(suggested > 0 ? std::size_t(suggested) : 16384);
    group entry {};
    group *found = nullptr;
    while (::getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) == ERANGE && buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 2);
    if (!found || !found->gr_name || user->name != found->gr_name)
        return false;
    for (char **member = found->gr_mem; member && *member; ++member) {
        if (user->name != *member)
            return false;
    }
    return true;
}

// Why somebody else may change what status describes; empty when only this
// user may.
std::string foreignReason(const struct stat &status)
{
    if (status.st_uid != ::geteuid())
        return "belongs to user " + std::to_string(status.st_uid) + ", not to this user";
    if ((status.st_mode & S_IWOTH) || ((status.st_mode & S_IWGRP) && !isPrivateGroup(status.st_gid))) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", unsigned(status.st_mode & 07777));
        return std::string("others may write it (mode ") + mode + ")";
    }
    return {};
}

bool isOwnFolder(const std::string &path, bool onlyTheUserMayWrite)
{
    struct stat status {};
    return !path.empty() && path[0] == '/' && ::stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode)
           && status.st_uid == ::geteuid() && (!onlyTheUserMayWrite || foreignReason(status).empty());
}

std::string joined(const std::string &folder, const char *name)
{
    return folder.back() == '/' ? folder + name : folder + "/" + name;
}

class Descriptor
{
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    ~Descriptor()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Descriptor(Descriptor &&other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    Descriptor &operator=(Descriptor &&other) noexcept
    {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }

private:
    int m_fd;
};

// Opens the folder name (relative to at) when only this user may change it;
// else an invalid descriptor with missing or why.
Descriptor openFolder(int at, const char *name, bool &missing, std::string &why)
{
    Descriptor folder(::openat(at, name, O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    struct stat status {};
    if (!folder.valid()) {
        missing = errno == ENOENT;
        why = errno == ENOTDIR ? "not a folder" : std::strerror(errno);
    } else if (::fstat(folder.get(), &status) != 0) {
        why = std::strerror(errno);
    } else {
        why = foreignReason(status);
    }
    if (!why.empty())
        return Descriptor();
    return folder;
}

// Opens the settings file in folder when it passes the checks; else an
// invalid descriptor with missing or why. status: what it is.
Descriptor openFile(int folder, struct stat &status, bool &missing, std::string &why)
{
    // Judged before it is opened, and once more by its descriptor.
    if (::fstatat(folder, FileName, &status, AT_SYMLINK_NOFOLLOW) != 0) {
        missing = errno == ENOENT;
        why = std::strerror(errno);
        return Descriptor();
    }
    Descriptor file;
    if (S_ISREG(status.st_mode)) {
        file = Descriptor(::openat(folder, FileName, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC));
        if (!file.valid()) {
            missing = errno == ENOENT;
            why = errno == ELOOP ? LinkReason : std::strerror(errno);
            return Descriptor();
        }
        if (::fstat(file.get(), &status) != 0) {
            why = std::strerror(errno);
            return Descriptor();
        }
    }
    why = S_ISLNK(status.st_mode)    ? LinkReason
          : !S_ISREG(status.st_mode) ? "not a regular file"
                                     : foreignReason(status);
    if (why.empty() && status.st_nlink != 1)
        why = "has " + std::to_string(status.st_nlink) + " hard links, only a file with one is read";
    if (why.empty() && status.st_size > off_t(MaxSettingsSize))
        why = "larger than " + std::to_string(MaxSettingsSize) + " bytes";
    if (!why.empty())
        return Descriptor();
    return file;
}

// The settings file in the open folder at folderPath; mode: its permissions.
FileContent readIn(int folder, const std::string &folderPath, mode_t &mode)
{
    const std::string path = joined(folderPath, FileName);
    struct stat status {};
    bool missing = false;
    std::string why;
    const Descriptor file = openFile(folder, status, missing, why);
    if (!file.valid())
        return missing ? FileContent() : FileContent::refused(path, why);
    mode = status.st_mode & 07777;
    FileContent content;
    char buffer[8192];
    for (;;) {
        const ssize_t got = ::read(file.get(), buffer, sizeof buffer);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return FileContent::refused(path, std::strerror(errno));
        if (got == 0)
            break;
        content.bytes.append(buffer, std::size_t(got));
        if (content.bytes.size() > MaxSettingsSize)
            return FileContent::refused(path, "larger than " + std::to_string(MaxSettingsSize) + " bytes");
    }
    content.state = FileContent::State::Read;
    return content;
}

bool writeAll(int fd, const std::string &bytes)
{
    for (std::size_t done = 0; done < bytes.size();) {
        const ssize_t wrote = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (wrote < 0 && errno == EINTR)
            continue;
        if (wrote <= 0)
            return false;
        done += std::size_t(wrote);
    }
    return true;
}

// Waits up to about a second while another program of the user's replaces
// the file. Where the file system has no such lock (some network file
// systems refuse it on a folder), it goes on without.
bool lockAgainstOtherWriters(int folder)
{
    for (int attempt = 0; attempt < 100; ++attempt) {
        if (::flock(folder, LOCK_EX | LOCK_NB) == 0)
            return true;
        if (errno != EWOULDBLOCK && errno != EINTR)
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return false;
}

// Replaces the settings file in the open folder at folderPath.
bool replaceIn(int folder, std::string folderPath, const Change &change, std::string &where, std::string &why)
{
    where = joined(folderPath, FileName);
    if (!lockAgainstOtherWriters(folder)) {
        why = "another program of this user's keeps writing it";
        return false;
    }
    mode_t mode = 0600;
    const FileContent present = readIn(folder, folderPath, mode);
    const std::optional<std::string> next = changed(present, change, why);
    if (!next)
        return false;
    // A new file beside it, renamed over it: a reader finds the old file or
    // the new one, never a part, and whatever is in its place is replaced,
    // not followed.
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 10; ++attempt) {
        temporary = std::string(FileName) + ".new-" + std::to_string(::getpid()) + "-" + std::to_string(attempt);
        fd = ::openat(folder, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        why = std::string("cannot make a new file beside it: ") + std::strerror(errno);
        return false;
    }
    bool written = ::fchmod(fd, mode) == 0 && writeAll(fd, *next) && ::fsync(fd) == 0;
    int error = errno;
    if (::close(fd) != 0 && written) {
        written = false;
        error = errno;
    }
    if (written && ::renameat(folder, temporary.c_str(), folder, FileName) == 0)
        return true;
    why = std::strerror(written ? errno : error);
    ::unlinkat(folder, temporary.c_str(), 0);
    return false;
}

} // namespace

std::string configFolder(std::string &passedOver)
{
    const std::optional<std::string> configured = environmentVariable("XDG_CONFIG_HOME");
    if (configured && !configured->empty()) {
        // A folder not there yet is made (mode 0700) when first written to.
        struct stat status {};
        if ((*configured)[0] == '/' && ::stat(configured->c_str(), &status) != 0 && errno == ENOENT)
            return *configured;
        if (isOwnFolder(*configured, true))
            return *configured;
        passedOver = "XDG_CONFIG_HOME=" + *configured
                     + " is passed over: not an absolute path to a folder of this user's that nobody else may write";
    }
    std::string home;
    const std::optional<std::string> variable = environmentVariable("HOME");
    if (variable && isOwnFolder(*variable, false))
        home = *variable;
    else if (const std::optional<Account> user = account())
        home = user->home;
    if (home.empty() || home[0] != '/')
        return {};
    return joined(home, ".config");
}

std::string settingsFile(const std::string &folder)
{
    return joined(joined(folder, FolderName), FileName);
}

FileContent readSettingsFile(const std::string &folder)
{
    bool missing = false;
    std::string why;
    const Descriptor base = openFolder(AT_FDCWD, folder.c_str(), missing, why);
    if (!base.valid())
        return missing ? FileContent() : FileContent::refused(folder, why);
    const std::string ownPath = joined(folder, FolderName);
    const Descriptor own = openFolder(base.get(), FolderName, missing, why);
    if (!own.valid())
        return missing ? FileContent() : FileContent::refused(ownPath, why);
    mode_t mode = 0;
    return readIn(own.get(), ownPath, mode);
}

bool replaceSettingsFile(const std::string &folder, const Change &change, std::string &where, std::string &why)
{
    bool missing = false;
    where = folder;
    for (std::size_t end = folder.find('/', 1); ; end = folder.find('/', end + 1)) {
        if (::mkdir(folder.substr(0, end).c_str(), 0700) != 0 && errno != EEXIST) {
            why = std::string("cannot make the folder: ") + std::strerror(errno);
            return false;
        }
        if (end == std::string::npos)
            break;
    }
    const Descriptor base = openFolder(AT_FDCWD, folder.c_str(), missing, why);
    if (!base.valid())
        return false;
    where = joined(folder, FolderName);
    if (::mkdirat(base.get(), FolderName, 0700) != 0 && errno != EEXIST) {
        why = std::string("cannot make the folder: ") + std::strerror(errno);
        return false;
    }
    const Descriptor own = openFolder(base.get(), FolderName, missing, why);
    if (!own.valid())
        return false;
    return replaceIn(own.get(), where, change, where, why);
}

} // namespace portio::usersettings
