#pragma once
// What the platform's file system makes of a pattern's name. Every rule that
// differs between platforms lives behind this header, in one file per
// platform (filerules_posix.cpp, filerules_windows.cpp), chosen by the build.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace patterns::filerules {

// Why typedName + ".bw2" cannot be stored on this platform as a plain file
// of the folder that the file list shows: a German sentence for the error
// box (ending in a full stop), or nullopt when the platform can store it.
// Decided from the name alone, before anything is written.
std::optional<std::string> nameRefusal(std::string_view typedName);

// Whether the directory entry at path, named name (UTF-8), counts as hidden:
// hidden entries are never listed.
bool isHiddenEntry(const std::filesystem::path &path, std::string_view name);

// A German sentence for a failure that only this platform reports (error is
// an errno value), or nullopt to fall back to the shared reasons.
std::optional<std::string> platformReason(int error);

} // namespace patterns::filerules
