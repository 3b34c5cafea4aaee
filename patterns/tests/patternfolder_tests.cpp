// The choice of the pattern folder against real folders: the program's
// folder while the user may create files in it and the program is not
// installed, else the data folder, created by the first save.

#include "patternfolder.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>

namespace fs = std::filesystem;
using namespace patterns;

namespace {

class Scratch
{
public:
    Scratch()
    {
        std::random_device entropy;
        m_path = fs::temp_directory_path() / ("patternfolder-tests-" + std::to_string(entropy()));
        fs::create_directories(m_path);
    }
    ~Scratch()
    {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    const fs::path &path() const { return m_path; }
    fs::path file(const std::string &name, const std::string &bytes = "x") const
    {
        std::ofstream(m_path / name, std::ios::binary) << bytes;
        return m_path / name;
    }

private:
    fs::path m_path;
};

std::size_t entries(const fs::path &folder)
{
    std::size_t count = 0;
    for ([[maybe_unused]] const auto &entry : fs::directory_iterator(folder))
        ++count;
    return count;
}

} // namespace

TEST(PatternFolder, WritableProgramFolderIsUsedAndNothingIsCreated)
{
    Scratch scratch;
    const fs::path program = scratch.path() / "app";
    fs::create_directory(program);
    const fs::path data = scratch.path() / "home" / ".local" / "share" / "blinkwerk";

    const PatternFolder chosen = choosePatternFolder(program, data, false);
    EXPECT_EQ(chosen.folder, program);
    EXPECT_TRUE(chosen.beside);
    EXPECT_FALSE(preparePatternFolder(chosen));
    EXPECT_FALSE(fs::exists(scratch.path() / "home"));
    EXPECT_EQ(entries(program), 0u) << "the writability probe left a file behind";
}

TEST(PatternFolder, ProgramFolderWithoutRoomForFilesGivesTheDataFolder)
{
    struct Case
    {
        const char *what;
        bool programIsFile;
        bool dataExists;
    };
    const Case cases[] = {
        {"program folder missing, data folder created with its parents by the save", false, false},
        {"program path is a file, data folder created with its parents by the save", true, false},
        {"program folder missing, data folder already there and kept", false, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Scratch scratch;
        const fs::path program = c.programIsFile ? scratch.file("blinkwerk") : scratch.path() / "gone";
        const fs::path data = scratch.path() / "home" / ".local" / "share" / "blinkwerk";
        if (c.dataExists) {
            fs::create_directories(data);
            std::ofstream(data / "kept.bw2") << "pattern";
        }

        const PatternFolder chosen = choosePatternFolder(program, data, false);
        EXPECT_EQ(chosen.folder, data);
        EXPECT_FALSE(chosen.beside);
        EXPECT_EQ(fs::exists(data), c.dataExists) << "choosing creates nothing";
        const std::error_code error = preparePatternFolder(chosen);
        EXPECT_FALSE(error) << error.message();
        EXPECT_TRUE(fs::is_directory(data));
        EXPECT_TRUE(canCreateFilesIn(data));
        EXPECT_EQ(fs::exists(data / "kept.bw2"), c.dataExists);
    }
}

TEST(PatternFolder, DataFolderThatCannotBeCreatedIsReported)
{
    Scratch scratch;
    const fs::path program = scratch.path() / "gone";
    // A file stands where a parent of the data folder would go.
    const fs::path blocker = scratch.file("share");
    const PatternFolder blocked = choosePatternFolder(program, blocker / "blinkwerk", false);
    EXPECT_EQ(blocked.folder, blocker / "blinkwerk");
    EXPECT_FALSE(blocked.beside);
    EXPECT_TRUE(preparePatternFolder(blocked));

    // The data folder's own name taken by a file.
    const PatternFolder taken = choosePatternFolder(program, blocker, false);
    EXPECT_EQ(taken.folder, blocker);
    EXPECT_TRUE(preparePatternFolder(taken));
    EXPECT_TRUE(fs::is_regular_file(blocker)) << "the file in the way must be left alone";

    // No data folder known at all: no folder, and an error, never the
    // program's folder.
    const PatternFolder none = choosePatternFolder(program, {}, false);
    EXPECT_TRUE(none.folder.empty());
    EXPECT_TRUE(preparePatternFolder(none));
}

// An installed program keeps no patterns beside itself, also where it may
// write there (root in /usr/bin); started from anywhere else the old rule
// holds. On POSIX only the install folder itself counts, on Windows any
// folder below Program Files.
TEST(PatternFolder, InstalledProgramKeepsItsPatternsInTheDataFolder)
{
    Scratch scratch;
    const fs::path bin = scratch.path() / "bin";
    fs::create_directories(bin / "sub");
    fs::create_directory(scratch.path() / "other");
    std::error_code linkError;
    fs::create_directory_symlink(bin, scratch.path() / "binlink", linkError);
    const fs::path data = scratch.path() / "data";
    struct Case
    {
        const char *what;
        fs::path program;
        bool withSubfolders;
        bool installed;
    };
    const Case cases[] = {
        {"the install folder", bin, false, true},
        {"the install folder, trailing separator", bin / "", false, true},
        {"the install folder through a link", scratch.path() / "binlink", false, true},
        {"the install folder spelt with ..", bin / "sub" / "..", false, true},
        {"below it, where only the folder counts", bin / "sub", false, false},
        {"below it, where subfolders count", bin / "sub", true, true},
        {"another folder", scratch.path() / "other", true, false},
        {"a missing folder", scratch.path() / "gone", true, false},
        {"no folder", fs::path(), true, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        if (linkError && c.program == scratch.path() / "binlink")
            continue; // no links here (Windows without the privilege)
        const bool installed = isInstalledIn(c.program, {{bin}, c.withSubfolders});
        EXPECT_EQ(installed, c.installed);
        EXPECT_FALSE(isInstalledIn(c.program, {{}, c.withSubfolders})) << "no install folder known";
        const PatternFolder chosen = choosePatternFolder(c.program, data, installed);
        const bool beside = !c.installed && canCreateFilesIn(c.program);
        EXPECT_EQ(chosen.beside, beside);
        EXPECT_EQ(chosen.folder, beside ? c.program : data);
    }
    EXPECT_FALSE(fs::exists(data)) << "choosing creates nothing";
    EXPECT_TRUE(fs::is_empty(bin / "sub"));
}

TEST(PatternFolder, WritabilityProbe)
{
    Scratch scratch;
    EXPECT_TRUE(canCreateFilesIn(scratch.path()));
    EXPECT_FALSE(canCreateFilesIn(scratch.path() / "missing"));
    EXPECT_FALSE(canCreateFilesIn(scratch.file("plain")));
    EXPECT_FALSE(canCreateFilesIn({}));
    EXPECT_EQ(entries(scratch.path()), 1u) << "only the file the test made";
}
