#pragma once
// The platform's part of the user's settings file (usersettings.h): where
// the configuration folder is, and reading and replacing the file's bytes
// under the checks described there. One file per platform implements this.
// Paths are UTF-8.

#include <functional>
#include <optional>
#include <string>
#include <utility>

namespace portio::usersettings {

// The configuration folder by the platform's rule, or empty when there is
// none. passedOver: set to one line when a folder the user configured was
// not taken, and why.
std::string configFolder(std::string &passedOver);

// <folder>/Blinkwerk/blinkwerk.ini, in the platform's spelling.
std::string settingsFile(const std::string &folder);

struct FileContent
{
    enum class State { Missing, Read, Refused };
    State state = State::Missing;
    std::string bytes; // Read: the whole file
    std::string where; // Refused: the path refused (the file or a folder)
    std::string why;   // Refused: why, one phrase

    static FileContent refused(std::string where, std::string why)
    {
        return {State::Refused, {}, std::move(where), std::move(why)};
    }
};

// Reads the settings file in folder, or says why not.
FileContent readSettingsFile(const std::string &folder);

// What the file is to become, given its present bytes (empty when it is
// missing); nothing, with why, to leave it as it is.
using Change = std::function<std::optional<std::string>(const std::string &present, std::string &why)>;

// What change makes of the present file: nothing, with why, when the file
// was refused or the change leaves it as it is.
inline std::optional<std::string> changed(const FileContent &present, const Change &change, std::string &why)
{
    if (present.state == FileContent::State::Refused) {
        why = present.why;
        return std::nullopt;
    }
    return change(present.bytes, why);
}

// Replaces the settings file in folder by what change makes of it, creating
// the folders that are missing. The file must be missing or pass the checks
// of reading; it is read and replaced while no other program of the user's
// does the same. False with where and why when it is left as it was.
bool replaceSettingsFile(const std::string &folder, const Change &change, std::string &where, std::string &why);

} // namespace portio::usersettings
