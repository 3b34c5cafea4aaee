#pragma once
// The folder blinkwerk keeps its pattern files in.
//
// A program started from a build or from a copy unpacked into a folder of
// the user's own keeps its patterns beside its program file, as long as the
// user may create files there. An installed program never does, whoever
// runs it (root may write /usr/bin, but files left there outlive the
// package): it keeps them in the user's data folder of the platform, which
// is also where a program whose own folder is not writable keeps them:
//
//   Linux and other POSIX:  $XDG_DATA_HOME/blinkwerk, by default
//                           ~/.local/share/blinkwerk
//   Windows:                %LOCALAPPDATA%\Blinkwerk
//
// "Installed" means: on POSIX the program file lies in the folder the build
// installs programs to (CMake's CMAKE_INSTALL_FULL_BINDIR, /usr/bin for the
// Debian package); on Windows it lies in a Program Files folder
// (%ProgramFiles%, %ProgramFiles(x86)%, %ProgramW6432%) or below one.
//
// Choosing the folder creates nothing. The data folder is created when the
// first pattern is saved into it (a missing folder lists as empty), private
// to the user where the platform knows such a thing (mode 0700, as the XDG
// rules ask).

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <system_error>
#include <vector>

namespace patterns {

struct PatternFolder
{
    std::filesystem::path folder; // where patterns are listed, saved and loaded
    // true when folder is the program's folder, which exists; false for
    // the data folder, which a save creates when it is missing. Empty with
    // beside false when the platform names no data folder (no home folder
    // at all): a save then fails with a message, never writing elsewhere.
    bool beside = false;
};

// The folders installed programs lie in, and whether a folder below one
// counts too.
struct InstallFolders
{
    std::vector<std::filesystem::path> folders;
    bool withSubfolders = false;
};

// Reads one environment variable as a path; nullopt when it is unset.
using EnvironmentLookup = std::function<std::optional<std::filesystem::path>(const char *name)>;

// The process environment.
std::optional<std::filesystem::path> processEnvironment(const char *name);

// True when folder is an existing folder in which the user may create files.
// Never creates the folder and leaves no file behind.
bool canCreateFilesIn(const std::filesystem::path &folder);

// True when a and b name the same existing folder: the same file on POSIX
// (links resolved), the same folder on Windows (case ignored).
bool isSameFolder(const std::filesystem::path &a, const std::filesystem::path &b);

// Where this platform installs programs (see above); Windows reads the
// Program Files variables through lookup, POSIX names the build's install
// folder for programs.
InstallFolders installFolders(const EnvironmentLookup &lookup = processEnvironment);

// True when programFolder is one of places' folders (the same folder, also
// when reached through a link or spelt in another case where the platform
// ignores case) or, withSubfolders, lies below one.
bool isInstalledIn(const std::filesystem::path &programFolder, const InstallFolders &places);

// The user's data folder of the platform for blinkwerk (see above), read
// through lookup. Empty when the platform names none (no home folder at all).
// POSIX: $XDG_DATA_HOME when it holds an absolute path (a relative one is
// invalid by the XDG rules and ignored), else $HOME/.local/share, else the
// home folder of the user's account entry; "/blinkwerk" appended.
// Windows: the known folder LocalAppData, else %LOCALAPPDATA%; "\Blinkwerk"
// appended, the name the simulated register's folder has too.
std::filesystem::path userDataFolder(const EnvironmentLookup &lookup = processEnvironment);

// Creates folder and every missing parent; success when it exists as a
// folder afterwards. New folders are private to the user where the platform
// has such a mode.
std::error_code createDataFolder(const std::filesystem::path &folder);

// The rule itself: dataFolder for an installed program; otherwise
// programFolder when the user may create files in it, else dataFolder.
// Creates nothing.
PatternFolder choosePatternFolder(const std::filesystem::path &programFolder,
                                  const std::filesystem::path &dataFolder, bool installed);

// choosePatternFolder with this user's data folder and this platform's
// install folders.
PatternFolder patternFolderFor(const std::filesystem::path &programFolder);

// What a save does first: creates folder's data folder when it is missing.
// Nothing for the program's folder. An error when the data folder cannot be
// created, or when there is none.
std::error_code preparePatternFolder(const PatternFolder &folder);

} // namespace patterns
