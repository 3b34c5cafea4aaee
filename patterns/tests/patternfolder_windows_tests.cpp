// Windows side of the pattern folder: Program Files and the folders below
// it count as installed, and the data folder is spelt as the simulated
// register's folder is.

#include "patternfolder.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

#include <windows.h>

namespace fs = std::filesystem;
using namespace patterns;

TEST(PatternFolderWindows, ProgramFilesFoldersAndFoldersBelowThemAreInstalled)
{
    std::random_device entropy;
    const fs::path scratch = fs::temp_directory_path() / ("patternfolder-windows-" + std::to_string(entropy()));
    for (const char *folder : {"pf/Blinkwerk", "pf86/Hersteller/Blinkwerk", "w6432", "other"})
        fs::create_directories(scratch / folder);
    const std::map<std::string, fs::path> environment = {
        {"ProgramFiles", scratch / "pf"},
        {"ProgramFiles(x86)", scratch / "PF86"}, // case as the user's system spells it
        {"ProgramW6432", "w6432"},               // relative: not a folder to trust
    };
    const InstallFolders places = installFolders([&](const char *name) -> std::optional<fs::path> {
        const auto found = environment.find(name);
        return found == environment.end() ? std::nullopt : std::optional<fs::path>(found->second);
    });
    EXPECT_TRUE(places.withSubfolders);
    EXPECT_EQ(places.folders.size(), 2u);
    const std::pair<fs::path, bool> cases[] = {
        {scratch / "pf", true},
        {scratch / "pf/Blinkwerk", true},
        {scratch / "PF/BLINKWERK/", true},
        {scratch / "pf86/Hersteller/Blinkwerk", true},
        {scratch / "w6432", false},
        {scratch / "other", false},
        {scratch, false},
    };
    for (const auto &[program, installed] : cases)
        EXPECT_EQ(isInstalledIn(program, places), installed) << program.string();
    fs::remove_all(scratch);
}

TEST(PatternFolderWindows, DataFolderIsSpeltAsTheRegistersFolder)
{
    wchar_t local[MAX_PATH * 4];
    const DWORD length = ::GetEnvironmentVariableW(L"LOCALAPPDATA", local, DWORD(std::size(local)));
    ASSERT_GT(length, 0u);
    EXPECT_EQ(userDataFolder().wstring(), (fs::path(std::wstring(local, length)) / L"Blinkwerk").wstring());
}
