#pragma once
// The folder blinkwerk keeps its pattern files in.
//
// A pattern file lives beside the program file, as long as the user may
// create files there (a build tree, a copy unpacked into the user's own
// folder). An installed program sits in a folder the user cannot write
// (/usr/bin, C:\Program Files); there the user's data folder of the
// platform takes its place, which is how the platform itself redirects
// programs that write beside themselves in a protected folder:
//
//   Linux and other POSIX:  $XDG_DATA_HOME/blinkwerk, by default
//                           ~/.local/share/blinkwerk
//   Windows:                %LOCALAPPDATA%\blinkwerk
//
// The data folder is created on first use, private to the user where the
// platform knows such a thing (mode 0700, as the XDG rules ask).

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <system_error>

namespace patterns {

struct PatternFolder
{
    std::filesystem::path folder; // where patterns are listed, saved and loaded
    bool beside = false;          // true when folder is the program's folder
    // Set when the data folder was needed but could not be created; folder
    // is still the data folder then (the program's folder when there is no
    // data folder at all), so a save reports the failure to the user
    // instead of writing somewhere unexpected.
    std::error_code createError;
};

// Reads one environment variable as a path; nullopt when it is unset.
using EnvironmentLookup = std::function<std::optional<std::filesystem::path>(const char *name)>;

// The process environment.
std::optional<std::filesystem::path> processEnvironment(const char *name);

// True when folder is an existing folder in which the user may create files.
// Never creates the folder and leaves no file behind.
bool canCreateFilesIn(const std::filesystem::path &folder);

// The user's data folder of the platform for blinkwerk (see above), read
// through lookup. Empty when the platform names none (no home folder at all).
// POSIX: $XDG_DATA_HOME when it holds an absolute path (a relative one is
// invalid by the XDG rules and ignored), else $HOME/.local/share, else the
// home folder of the user's account entry; "/blinkwerk" appended.
// Windows: the known folder LocalAppData, else %LOCALAPPDATA%; "\blinkwerk"
// appended.
std::filesystem::path userDataFolder(const EnvironmentLookup &lookup = processEnvironment);

// Creates folder and every missing parent; success when it exists as a
// folder afterwards. New folders are private to the user where the platform
// has such a mode.
std::error_code createDataFolder(const std::filesystem::path &folder);

// The rule itself: programFolder when the user may create files in it,
// otherwise dataFolder, created when missing.
PatternFolder choosePatternFolder(const std::filesystem::path &programFolder,
                                  const std::filesystem::path &dataFolder);

// choosePatternFolder with this user's data folder.
PatternFolder patternFolderFor(const std::filesystem::path &programFolder);

} // namespace patterns
