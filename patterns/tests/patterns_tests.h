#pragma once
// The platform's part of the pattern tests: what a hidden file is, and how
// a save fails on this platform when the disk refuses it.

#include "patternfile.h"

#include <filesystem>
#include <string>
#include <vector>

namespace sequencer { class Sequencer; }

// Names of files that the platform hides once markHidden ran on them.
extern const std::vector<std::string> HiddenFileNames;
void markHidden(const std::filesystem::path &file);

// Saves name into folder while the platform makes the save fail after the
// temporary file was begun; returns what savePatternFile returned.
patterns::SaveError saveFailingAsTheDiskDoes(const sequencer::Sequencer &seq, const std::filesystem::path &folder,
                                             const std::string &name);
// Words of the platform's reason that the failure message carries.
extern const char *const FailedSaveReason;
// Words of the message for a name longer than the platform stores.
extern const char *const LongNameReason;
