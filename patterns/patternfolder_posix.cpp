// POSIX side of the pattern folder: access(2) for writability, the folder
// the build installs programs to, the XDG data folder, and mkdir(2) with
// mode 0700 for the folders it creates.

#include "patternfolder.h"

#include <cerrno>
#include <cstdlib>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

// The folder "make install" and the Debian package put the programs in,
// given by the build (CMAKE_INSTALL_FULL_BINDIR).
#ifndef BLINKWERK_INSTALL_BINDIR
#error "BLINKWERK_INSTALL_BINDIR must name the folder programs are installed to"
#endif

namespace fs = std::filesystem;

namespace patterns {

namespace {

bool isFolder(const fs::path &path)
{
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

// The home folder of the account the process runs as, for when HOME is
// unset (a service, a stripped environment).
fs::path accountHome()
{
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? std::size_t(size) : 16384);
    struct passwd entry {};
    struct passwd *found = nullptr;
    while (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &found) == ERANGE && buffer.size() < (1u << 20))
        buffer.resize(buffer.size() * 2);
    if (!found || !found->pw_dir)
        return {};
    return fs::path(found->pw_dir);
}

} // namespace

std::optional<fs::path> processEnvironment(const char *name)
{
    if (const char *value = std::getenv(name))
        return fs::path(value);
    return std::nullopt;
}

bool canCreateFilesIn(const fs::path &folder)
{
    // Creating a file takes write and search permission on the folder;
    // access() also answers EROFS for a read-only file system.
    return !folder.empty() && isFolder(folder) && ::access(folder.c_str(), W_OK | X_OK) == 0;
}

bool isSameFolder(const fs::path &a, const fs::path &b)
{
    struct stat first {}, second {};
    return !a.empty() && !b.empty() && ::stat(a.c_str(), &first) == 0 && ::stat(b.c_str(), &second) == 0
           && S_ISDIR(first.st_mode) && first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

InstallFolders installFolders(const EnvironmentLookup &)
{
    return {{fs::path(BLINKWERK_INSTALL_BINDIR)}, false};
}

fs::path userDataFolder(const EnvironmentLookup &lookup)
{
    if (const auto dataHome = lookup("XDG_DATA_HOME"); dataHome && dataHome->is_absolute())
        return *dataHome / "blinkwerk";
    fs::path home;
    if (const auto fromEnvironment = lookup("HOME"); fromEnvironment && fromEnvironment->is_absolute())
        home = *fromEnvironment;
    else
        home = accountHome();
    if (!home.is_absolute())
        return {};
    return home / ".local" / "share" / "blinkwerk";
}

std::error_code createDataFolder(const fs::path &folder)
{
    if (folder.empty())
        return std::make_error_code(std::errc::no_such_file_or_directory);
    fs::path prefix;
    for (const fs::path &part : folder.lexically_normal()) {
        prefix /= part;
        if (part.empty())
            continue; // the element after a trailing separator
        if (::mkdir(prefix.c_str(), 0700) == 0)
            continue;
        const int error = errno;
        // An existing folder is fine, whatever mkdir said about it (EEXIST,
        // or EACCES/EROFS where the file system checks permission first).
        if (isFolder(prefix))
            continue;
        return std::error_code(error == EEXIST ? ENOTDIR : error, std::generic_category());
    }
    return {};
}

} // namespace patterns
