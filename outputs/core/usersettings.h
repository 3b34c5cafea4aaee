#pragma once
// The user's settings file: Blinkwerk/blinkwerk.ini in the platform's
// configuration folder, the file and the format of
// QSettings(QSettings::IniFormat, QSettings::UserScope, "Blinkwerk", "blinkwerk"),
// so that the files of earlier versions keep working. Keys in use: "output"
// (the output last chosen in the menu) and "sacn/cid" (the sACN component id).
//
// Where. POSIX: <config>/Blinkwerk/blinkwerk.ini, where <config> is
// $XDG_CONFIG_HOME when that is an absolute path to a folder of the
// effective user's that nobody else may write, or to nothing yet (made with
// mode 0700 when first written to), else <home>/.config; <home>
// is $HOME when that is an absolute path to a folder of the effective
// user's, else the effective user's home in the password database (so that
// a HOME kept across sudo does not lead root into the user's files). A set
// XDG_CONFIG_HOME that is passed over is said once. Windows: the roaming
// application data folder (%APPDATA%) as QSettings finds it.
//
// "Nobody else may write": neither others nor the group, except when the
// group is the user's private group (the user's primary group, named like
// the user and without other members: systems with umask 002 make files
// group-writable for it).
//
// Reading, on every call: the file is opened anew, never through a symbolic
// link and never waiting (a FIFO there cannot block the program), and is
// read only when it is a regular file with a single link, owned by the
// effective user, that nobody else may write, of at most MaxSettingsSize
// bytes, in a folder Blinkwerk and a configuration folder of the user's that
// nobody else may write. Anything else is ignored: one line on standard
// error (once per process for each file and reason), and the program goes
// on as if nothing were remembered. A missing file or folder is nothing
// remembered, without a word. Not read: QSettings' fallbacks (Blinkwerk.ini
// beside the folder, the system's /etc/xdg), which nobody writes for us.
// On Windows a reparse point (a symbolic link, a junction) is refused
// instead; ownership and the write permission of others are not checked
// there: the profile folder's access control keeps other users out.
//
// Writing: into the user's own folder and file only, under the same checks
// (a file refused for reading is left as it is: nothing is written through
// a link or into a FIFO); a missing configuration or Blinkwerk folder is
// made with mode 0700 and a missing file with 0600, a replaced file keeps
// its permissions. Atomic: a new file beside it, holding every other key as
// it was, is renamed over it. A failure is one line on standard error.
//
// Blocking: only on the file system (a few small reads and writes); a write
// waits at most about a second for another program of the user's that
// writes the same file at that moment, then gives up (said).

#include <cstddef>
#include <optional>
#include <string>

namespace portio {

inline constexpr std::size_t MaxSettingsSize = 64 * 1024;

// The settings file by the rules above (UTF-8), or empty when the user has
// no folder for it (no home).
std::string userSettingsFile();

// The value of key ("output", "sacn/cid") as text, or nothing when it is not
// set, or the file is missing or refused.
std::optional<std::string> userSetting(const std::string &key);

// Sets key to value. False (said on standard error) when it could not.
bool setUserSetting(const std::string &key, const std::string &value);

// For tests: the configuration folder to use instead of the platform's
// (the file is <folder>/Blinkwerk/blinkwerk.ini, under the same checks);
// empty for the platform's again.
void setUserSettingsFolderForTests(const std::string &folder);

} // namespace portio
