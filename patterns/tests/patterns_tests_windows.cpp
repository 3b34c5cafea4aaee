// Windows: the hidden and the system attribute hide a file, a leading dot
// does not. A save is refused at its last step while another program holds
// the old file open without letting it be replaced, as an editor or a virus
// scanner does; a full disk cannot be made without administrator rights.

#include "filepanel.h"
#include "patterns_tests.h"

#include <gtest/gtest.h>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <fstream>

namespace fs = std::filesystem;

const std::vector<std::string> HiddenFileNames = {"versteckt.bw2", "system.bw2"};

void markHidden(const fs::path &file)
{
    const DWORD attribute = file.filename() == "system.bw2" ? FILE_ATTRIBUTE_SYSTEM : FILE_ATTRIBUTE_HIDDEN;
    ASSERT_TRUE(::SetFileAttributesW(file.c_str(), attribute)) << file.string();
}

patterns::SaveError saveFailingAsTheDiskDoes(const sequencer::Sequencer &seq, const fs::path &folder,
                                             const std::string &name)
{
    const fs::path target = folder / (name + ".bw2");
    HANDLE holder = ::CreateFileW(target.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    EXPECT_NE(holder, INVALID_HANDLE_VALUE);
    const patterns::SaveError error = patterns::savePatternFile(seq, folder, name);
    ::CloseHandle(holder);
    return error;
}

const char *const FailedSaveReason = "konnte nicht gespeichert werden";
// The rename reports no reason of its own for a name too long to store.
const char *const LongNameReason = "konnte nicht gespeichert werden";

TEST(FilePanel, aLeadingDotDoesNotHideAFileOnWindows)
{
    const fs::path folder = fs::temp_directory_path() / ("patterns-dot-" + std::to_string(::GetCurrentProcessId()));
    fs::create_directories(folder);
    std::ofstream(folder / ".punkt.bw2", std::ios::binary) << "1|20|1|0\r\n";
    EXPECT_EQ(patterns::FilePanel::listPatternFiles(folder), std::vector<std::string>{".punkt.bw2"});
    fs::remove_all(folder);
}
