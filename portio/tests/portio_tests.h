#pragma once
// Shared by the port layer's tests and their platform parts.

#include <filesystem>
#include <string>

// A scratch folder of this test process, created on demand.
std::filesystem::path scratchDir();
std::string readFile(const std::filesystem::path &path);
std::string utf8(const std::filesystem::path &path);

// The platform's words for a folder that does not exist.
extern const char *const MissingFolderReason;

// The simulated register of that name admits its owner only.
void expectOnlyThisUserMayOpen(const std::string &sharedName);
