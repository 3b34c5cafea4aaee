#pragma once
// Where this user's runtime files (the simulated register, the sequencer's
// lock) live, and how they are opened so that no other user holds them.
// POSIX only.

#include <string>

namespace portio::posix {

struct RuntimeFolder
{
    std::string path;
    // True for a folder only this user may write into: names need no user
    // id there. False for a folder every user shares (/dev/shm, /tmp).
    bool isPrivate = false;
};

// $XDG_RUNTIME_DIR when it names, by an absolute path, a folder that the
// effective user owns and that neither group nor others may write (a
// variable inherited across su or sudo names another user's folder and is
// passed over). Otherwise /dev/shm where it is a folder (Linux: memory that
// lasts until the machine restarts), else /tmp.
RuntimeFolder runtimeFolder();

// "<folder>/<stem>" in a private folder, "<folder>/<stem>-<uid>" in a shared one.
std::string runtimeFile(const std::string &stem);

// Opens path for reading and writing, creating it with mode 0600 when it is
// missing; never follows a symbolic link in its last component. What is
// found there is accepted only when it is a regular file with a single name
// that the effective user owns and that neither group nor others may write,
// so a file planted by another user (in a shared folder) is refused.
// Returns a close-on-exec descriptor, or -1 with the reason in error.
int openOwnFile(const std::string &path, std::string &error);

} // namespace portio::posix
