// The pattern files' Windows rules: names Windows cannot store as a plain
// file of the folder, the read-only and the hidden attribute.

#include "filepanel.h"
#include "patternfile.h"

#include "testsupport.h"

#include <gtest/gtest.h>

#include <windows.h>

namespace fs = std::filesystem;
using namespace patterns;
using namespace testsupport;

// Which typed names Windows refuses, and why; every other name is saved and
// listed under the name typed.
TEST(WindowsFileRules, namesRefusedAndNamesSaved)
{
    expectNameRules({
        {"a:b", "Zeichen"},  {"a?b", "Zeichen"},   {"a*b", "Zeichen"},     {"a\"b", "Zeichen"},
        {"a<b", "Zeichen"},  {"a>b", "Zeichen"},   {"a|b", "Zeichen"},     {"a/b", "Zeichen"},
        {"a\\b", "Zeichen"}, {"a\tb", "Steuerzeichen"}, {std::string("a\x1f", 2), "Steuerzeichen"},
        {"CON", "Geräts"},   {"con", "Geräts"},    {"NUL", "Geräts"},      {"nul.txt", "Geräts"},
        {"PRN", "Geräts"},   {"aux", "Geräts"},    {"AUX.tar.gz", "Geräts"}, {"COM1", "Geräts"},
        {"com9", "Geräts"},  {"LPT1", "Geräts"},   {"lpt0", "Geräts"},     {"CON.", "Geräts"},
        {"CON ", "Geräts"},  {"NUL  .x", "Geräts"}, {"COM\xC2\xB9", "Geräts"},
        {"CONSOLE", nullptr}, {"COM10", nullptr},  {"xCON", nullptr},      {"a.CON", nullptr},
        {"LPT", nullptr},    {".versteckt", nullptr}, {"..", nullptr},     {"ende ", nullptr},
        {"a.", nullptr},     {"<b>x", "Zeichen"},  {"Lauflicht \xC3\xA4", nullptr},
    });
}

TEST(WindowsFileRules, entriesWithTheHiddenOrSystemAttributeAreHidden)
{
    Folder folder;
    for (const char *name : {"sichtbar.bw2", ".punkt.bw2", "versteckt.bw2", "system.bw2"})
        folder.write(name, "1|20|1|0\r\n");
    ASSERT_TRUE(::SetFileAttributesW(folder.file("versteckt.bw2").c_str(), FILE_ATTRIBUTE_HIDDEN));
    ASSERT_TRUE(::SetFileAttributesW(folder.file("system.bw2").c_str(), FILE_ATTRIBUTE_SYSTEM));
    EXPECT_EQ(FilePanel::listPatternFiles(folder.path()), (std::vector<std::string>{".punkt.bw2", "sichtbar.bw2"}));
    for (const char *name : {"versteckt.bw2", "system.bw2"})
        ::SetFileAttributesW(folder.file(name).c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST(WindowsPatternFile, aReadOnlyPatternIsNotReplaced)
{
    Folder folder;
    Rig rig;
    const std::string old = std::string(160, '2') + "|9|8|7\r\n";
    folder.write("alt.bw2", old);
    const fs::path file = folder.file("alt.bw2");
    ASSERT_TRUE(::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_READONLY));
    const SaveError error = savePatternFile(rig.seq, folder.path(), "alt");
    const DWORD attributes = ::GetFileAttributesW(file.c_str());
    ::SetFileAttributesW(file.c_str(), FILE_ATTRIBUTE_NORMAL);
    ASSERT_TRUE(error);
    EXPECT_NE(error->find("\"alt.bw2\""), std::string::npos) << *error;
    EXPECT_NE(error->find("schreibgeschützt"), std::string::npos) << *error;
    EXPECT_NE(attributes & FILE_ATTRIBUTE_READONLY, 0u);
    EXPECT_EQ(folder.read("alt.bw2"), old);
    EXPECT_EQ(folder.names(), std::vector<std::string>{"alt.bw2"});
}

// A save that fails at its last step, as a full disk makes it fail: here
// another program (an editor, a virus scanner) holds the old file open
// without letting it be replaced. A full disk cannot be made without
// administrator rights.
TEST(WindowsPatternFile, aFailedSaveKeepsTheOldFileWholeAndLeavesNoTemporary)
{
    Folder folder;
    Rig rig;
    const std::string old = std::string(160, '2') + "|9|8|7\r\n";
    folder.write("alt.bw2", old);
    HANDLE holder = ::CreateFileW(folder.file("alt.bw2").c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(holder, INVALID_HANDLE_VALUE);
    const SaveError error = savePatternFile(rig.seq, folder.path(), "alt");
    ::CloseHandle(holder);

    ASSERT_TRUE(error);
    EXPECT_NE(error->find("\"alt.bw2\""), std::string::npos) << *error;
    EXPECT_EQ(folder.read("alt.bw2"), old);
    EXPECT_EQ(folder.names(), std::vector<std::string>{"alt.bw2"});
}
