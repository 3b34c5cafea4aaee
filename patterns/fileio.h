#pragma once
// The few file operations the pattern files need, with the same contract on
// every platform; one file per platform (fileio_posix.cpp,
// fileio_windows.cpp), chosen by the build. Descriptors are the C library's
// small integers; failures return -1 (or false) with errno set.

#include <cstddef>
#include <filesystem>
#include <string_view>

namespace patterns::fileio {

// Opens path for reading without ever waiting: a FIFO, a device, a folder or
// anything else that is not a regular file is refused (closed again, errno
// EINVAL), as is a missing or unreadable file.
int openRegularForReading(const std::filesystem::path &path);

// Reads up to size bytes; 0 at the end of the file, -1 on failure. A read
// interrupted by a signal is repeated.
long readSome(int fd, char *buffer, std::size_t size);

// Creates a new, empty file with a random name starting with ".bw2-save-" in
// folder, readable and writable by the user; sets path to it.
int createTemporary(const std::filesystem::path &folder, std::filesystem::path &path);

// Writes all of text and forces it to the disk.
bool writeAllAndSync(int fd, std::string_view text);

int closeFile(int fd);

// Whether an existing regular file at path may not be written by the user:
// write permission missing (POSIX; also for root, who could write anyway) or
// the read-only attribute set (Windows). Anything else is not read-only.
bool isReadOnly(const std::filesystem::path &path);

// Puts the file from over the file to, replacing it in one step. 0 on
// success, otherwise an errno value.
int replaceFile(const std::filesystem::path &from, const std::filesystem::path &to);

// Makes a replacement in folder durable across a power loss, where the
// platform needs that separately. Best effort.
void syncFolder(const std::filesystem::path &folder);

} // namespace patterns::fileio
