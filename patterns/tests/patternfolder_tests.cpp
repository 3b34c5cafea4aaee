// The choice of the pattern folder against real folders: the program's
// folder while the user may create files in it, else the data folder,
// created on first use.

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

    const PatternFolder chosen = choosePatternFolder(program, data);
    EXPECT_EQ(chosen.folder, program);
    EXPECT_TRUE(chosen.beside);
    EXPECT_FALSE(chosen.createError);
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
        {"program folder missing, data folder created with its parents", false, false},
        {"program path is a file, data folder created with its parents", true, false},
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

        const PatternFolder chosen = choosePatternFolder(program, data);
        EXPECT_EQ(chosen.folder, data);
        EXPECT_FALSE(chosen.beside);
        EXPECT_FALSE(chosen.createError) << chosen.createError.message();
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
    const PatternFolder blocked = choosePatternFolder(program, blocker / "blinkwerk");
    EXPECT_EQ(blocked.folder, blocker / "blinkwerk");
    EXPECT_FALSE(blocked.beside);
    EXPECT_TRUE(blocked.createError);

    // The data folder's own name taken by a file.
    const PatternFolder taken = choosePatternFolder(program, blocker);
    EXPECT_EQ(taken.folder, blocker);
    EXPECT_TRUE(taken.createError);
    EXPECT_TRUE(fs::is_regular_file(blocker)) << "the file in the way must be left alone";

    // No data folder known at all: the program's folder stays, with an error.
    const PatternFolder none = choosePatternFolder(program, {});
    EXPECT_EQ(none.folder, program);
    EXPECT_TRUE(none.createError);
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
