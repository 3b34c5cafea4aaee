#include "childprocess.h"
#include "filepanel.h"
#include "patternfile.h"
#include "patterns_tests.h"

#include "portio.h"
#include "recordingport.h"
#include "sequencer.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>

namespace fs = std::filesystem;
using namespace patterns;
using sequencer::Sequencer;

namespace {

class Folder
{
public:
    Folder()
    {
        static int counter = 0;
        m_path = fs::temp_directory_path()
                 / ("patterns-tests-" + testsupport::uniqueSuffix() + "-" + std::to_string(counter++));
        fs::remove_all(m_path);
        fs::create_directories(m_path);
    }
    ~Folder() { fs::remove_all(m_path); }
    const fs::path &path() const { return m_path; }
    void write(const std::string &name, const std::string &bytes) const
    {
        std::ofstream(m_path / name, std::ios::binary) << bytes;
    }
    std::string read(const std::string &name) const
    {
        std::ifstream in(m_path / name, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), {}};
    }
    std::vector<std::string> names() const
    {
        std::vector<std::string> all;
        for (const auto &entry : fs::directory_iterator(m_path))
            all.push_back(entry.path().filename().string());
        std::sort(all.begin(), all.end());
        return all;
    }

private:
    fs::path m_path;
};

// A sequencer that went through start-up and then got a recognisable
// state, so that a load that leaves something alone can be seen to.
struct Rig
{
    portio::RecordingPort port;
    portio::ScopedPortBackend scope{port};
    Sequencer seq;
    Rig()
    {
        seq.startUp();
        for (int c = 1; c <= 8; ++c)
            for (int i = 0; i < 20; ++i)
                seq.setCell(c, i, std::int16_t((c + i) % 3 == 0));
        seq.setLastActiveStep(7);
        seq.setFirstActiveStep(3);
        seq.selectStepTime(5);
    }
};

std::string cellsOf(const Sequencer &seq)
{
    return patternLine(seq).substr(0, 160);
}

} // namespace

TEST(PatternFile, savesTheExampleBytes)
{
    Folder folder;
    Rig rig;
    Sequencer fresh;
    fresh.selectStepTime(0);
    EXPECT_EQ(savePatternFile(fresh, folder.path(), "leer"), std::nullopt);
    const std::string empty = std::string(160, '0') + "|20|1|0\r\n";
    EXPECT_EQ(folder.read("leer.bw2"), empty);
    EXPECT_EQ(empty.size(), 169u);

    fresh.setCell(1, 0, 1);
    fresh.setCell(8, 19, 1);
    fresh.setCell(3, 4, 2);
    ASSERT_EQ(savePatternFile(fresh, folder.path(), "zwei"), std::nullopt);
    std::string expected = std::string(160, '0');
    expected[0] = '1';
    expected[159] = '1';
    expected[44] = '2';
    EXPECT_EQ(folder.read("zwei.bw2"), expected + "|20|1|0\r\n");

    Sequencer none; // no step time selected
    none.setLastActiveStep(9);
    none.setFirstActiveStep(4);
    ASSERT_EQ(savePatternFile(none, folder.path(), "ohne"), std::nullopt);
    EXPECT_EQ(folder.read("ohne.bw2"), std::string(160, '0') + "|9|4|-1\r\n");
}

TEST(PatternFile, appendsTheExtensionInEveryCaseAndReplacesWithoutAsking)
{
    Folder folder;
    Rig rig;
    ASSERT_EQ(savePatternFile(rig.seq, folder.path(), "abc.bw2"), std::nullopt);
    ASSERT_EQ(savePatternFile(rig.seq, folder.path(), "Lauflicht ä"), std::nullopt);
    folder.write("alt.bw2", "old content that is longer than a pattern line" + std::string(300, 'x'));
    ASSERT_EQ(savePatternFile(rig.seq, folder.path(), "alt"), std::nullopt);
    EXPECT_EQ(folder.names(), (std::vector<std::string>{"Lauflicht ä.bw2", "abc.bw2.bw2", "alt.bw2"}));
    EXPECT_EQ(folder.read("alt.bw2"), patternLine(rig.seq) + "\r\n");
}

TEST(PatternFile, roundTripOfRandomPatterns)
{
    Folder folder;
    portio::RecordingPort port;
    portio::ScopedPortBackend scope(port);
    std::mt19937 random(20261207);
    for (int round = 0; round < 300; ++round) {
        Sequencer saved;
        for (int c = 1; c <= 8; ++c)
            for (int i = 0; i < 20; ++i)
                saved.setCell(c, i, std::int16_t(random() % 3));
        saved.setLastActiveStep(std::int16_t(2 + random() % 19));
        saved.setFirstActiveStep(std::int16_t(1 + random() % 20));
        saved.selectStepTime(std::int16_t(int(random() % 12) - 1));
        ASSERT_EQ(savePatternFile(saved, folder.path(), "p"), std::nullopt);

        Sequencer loaded; // a different state beforehand
        loaded.setFirstActiveStep(std::int16_t(1 + random() % 19));
        loaded.selectStepTime(std::int16_t(random() % 11));
        for (int c = 1; c <= 8; ++c)
            loaded.setCell(c, int(random() % 20), 1);
        EXPECT_FALSE(loadPatternFile(loaded, folder.path(), "p.bw2")) << patternLine(saved);
        EXPECT_EQ(patternLine(loaded), patternLine(saved));
        EXPECT_EQ(loaded.firstActiveStepText(), std::to_string(saved.firstActiveStep()));
        EXPECT_EQ(loaded.lastActiveStepText(), std::to_string(saved.lastActiveStep()));
    }
}

TEST(PatternFile, loadCases)
{
    const std::string zeros(160, '0');
    std::string three45 = std::string(160, '1');
    three45[44] = '3';
    struct Case
    {
        const char *name;
        std::optional<std::string> content; // nullopt: no file of that name
        std::optional<std::string> cells;   // nullopt: the cells stay as they were
        int last, first, speed;
        bool message;
        int untouchedChannel = 0, untouchedIndex = 0; // a cell that keeps its old value
    };
    const Case cases[] = {
        {"saved pattern", zeros + "|20|1|0\r\n", zeros, 20, 1, 0, false},
        {"short cell field", "1|20|1|0\r\n", std::string(160, '1'), 20, 1, 0, false},
        {"short field repeats its last character", "0120|20|1|0\r\n", "012" + std::string(157, '0'), 20, 1, 0, false},
        {"long field, extra fields and lines", zeros + "2222|20|1|0|9|x\r\nrubbish\r\n", zeros, 20, 1, 0, false},
        {"a 3 at position 45", three45 + "|20|1|0\r\n", std::string(160, '1'), 20, 1, 0, true, 3, 4},
        {"blanks around numbers", zeros + "| 12 |\t3 | 4 \r\n", zeros, 12, 3, 4, false},
        {"lone line feed", zeros + "|20|1|0\n", zeros, 20, 1, 0, false},
        {"5|10|3", zeros + "|5|10|3\r\n", zeros, 5, 4, 3, false},
        {"1|1|0", zeros + "|1|1|0\r\n", zeros, 2, 1, 0, false},
        {"21|1|0 fails only the last step", zeros + "|21|5|2\r\n", zeros, 20, 5, 2, true},
        {"-1 leaves no speed selected", zeros + "|20|1|-1\r\n", zeros, 20, 1, -1, false},
        {"speed 11", zeros + "|20|1|11\r\n", zeros, 20, 1, 5, true},
        {"not whole numbers", zeros + "|+5|1.0|1e1\r\n", zeros, 20, 1, 5, true},
        {"beyond 16 bits", zeros + "|70000|-99999|0\r\n", zeros, 20, 1, 0, true},
        {"missing file", std::nullopt, std::nullopt, 20, 1, 5, true},
        {"empty file", "", std::nullopt, 20, 1, 5, true},
        {"empty first line", "\r\n" + zeros + "|20|1|0\r\n", std::nullopt, 20, 1, 5, true},
        {"line without separator", "1", std::string(160, '1'), 20, 1, 5, true},
        {"empty cell field", "|9|2|1\r\n", std::nullopt, 9, 2, 1, true},
    };
    for (const Case &c : cases) {
        Folder folder;
        Rig rig;
        const std::string before = cellsOf(rig.seq);
        if (c.content)
            folder.write("t.bw2", *c.content);
        const bool failed = loadPatternFile(rig.seq, folder.path(), "t.bw2");
        std::string expectedCells = c.cells.value_or(before);
        if (c.untouchedChannel) {
            const std::size_t k = std::size_t(20 * (c.untouchedChannel - 1) + c.untouchedIndex);
            expectedCells[k] = before[k];
        }
        EXPECT_EQ(cellsOf(rig.seq), expectedCells) << c.name;
        EXPECT_EQ(rig.seq.lastActiveStep(), c.last) << c.name;
        EXPECT_EQ(rig.seq.firstActiveStep(), c.first) << c.name;
        EXPECT_EQ(rig.seq.lastActiveStepText(), std::to_string(c.last)) << c.name;
        EXPECT_EQ(rig.seq.firstActiveStepText(), std::to_string(c.first)) << c.name;
        EXPECT_EQ(rig.seq.stepTimePosition(), c.speed) << c.name;
        EXPECT_EQ(failed, c.message) << c.name;
        if (c.content) {
            EXPECT_EQ(folder.read("t.bw2"), *c.content) << c.name << ": the load changed the file";
        }
    }
}

TEST(PatternFile, speedMinusOneKeepsTheIntervalAndSavesBackAsMinusOne)
{
    Folder folder;
    Rig rig;
    folder.write("t.bw2", std::string(160, '0') + "|20|1|-1\r\n");
    ASSERT_FALSE(loadPatternFile(rig.seq, folder.path(), "t.bw2"));
    EXPECT_EQ(rig.seq.tickIntervalMs(), 250);
    EXPECT_EQ(rig.seq.intervalText(), "250");
    ASSERT_EQ(savePatternFile(rig.seq, folder.path(), "u"), std::nullopt);
    EXPECT_EQ(folder.read("u.bw2"), std::string(160, '0') + "|20|1|-1\r\n");
}

TEST(PatternFile, wholeNumbers)
{
    const std::pair<const char *, std::optional<int>> cases[] = {
        {"0", 0},         {"20", 20},   {"-1", -1},        {" 7 ", 7},          {"\t\r\n7\v\f", 7},
        {"007", 7},       {"-0", 0},    {"32767", 32767},  {"-32768", -32768},  {"32768", std::nullopt},
        {"-32769", std::nullopt},       {"", std::nullopt}, {" ", std::nullopt}, {"-", std::nullopt},
        {"+5", std::nullopt}, {"1.0", std::nullopt}, {"1e1", std::nullopt}, {"1 2", std::nullopt},
        {"- 5", std::nullopt}, {"--5", std::nullopt}, {"99999999999999999999", std::nullopt},
    };
    for (auto [text, expected] : cases) {
        const auto value = parseWholeNumber(text);
        EXPECT_EQ(value ? std::optional<int>(*value) : std::nullopt, expected) << '"' << text << '"';
    }
}

TEST(PatternFile, refusesNamesThatLeaveTheFolder)
{
    Folder folder;
    fs::create_directories(folder.path() / "sub");
    Rig rig;
    for (const std::string &name : std::vector<std::string>{"a/b", "a\\b", ".", "..", "../x", "/tmp/x", "sub/", std::string("a\0b", 3)}) {
        const SaveError error = savePatternFile(rig.seq, folder.path() / "sub", name);
        ASSERT_TRUE(error) << name;
        EXPECT_NE(error->find("\"" + name + "\""), std::string::npos) << *error;
    }
    EXPECT_EQ(folder.names(), std::vector<std::string>{"sub"});
    EXPECT_TRUE(fs::is_empty(folder.path() / "sub"));
}

TEST(PatternFile, aFailedSaveKeepsTheOldFileWholeAndLeavesNoTemporary)
{
    Folder folder;
    Rig rig;
    const std::string old = std::string(160, '2') + "|9|8|7\r\n";
    folder.write("alt.bw2", old);

    const SaveError error = saveFailingAsTheDiskDoes(rig.seq, folder.path(), "alt");

    ASSERT_TRUE(error);
    EXPECT_NE(error->find("\"alt.bw2\""), std::string::npos) << *error;
    EXPECT_NE(error->find(FailedSaveReason), std::string::npos) << *error;
    EXPECT_EQ(folder.read("alt.bw2"), old);
    EXPECT_EQ(folder.names(), std::vector<std::string>{"alt.bw2"});
}

TEST(PatternFile, saveFailuresAreReportedWithTheirReason)
{
    Folder folder;
    Rig rig;
    struct Case { fs::path folder; std::string name; const char *reason; };
    const Case cases[] = {
        {folder.path() / "missing", "abc", "No such file or directory"},
        {folder.path(), std::string(260, 'n'), LongNameReason},
    };
    fs::create_directories(folder.path() / "dir.bw2"); // a folder in the way
    for (const Case &c : cases) {
        const SaveError error = savePatternFile(rig.seq, c.folder, c.name);
        ASSERT_TRUE(error) << c.name;
        EXPECT_NE(error->find("konnte nicht gespeichert werden"), std::string::npos) << *error;
        EXPECT_NE(error->find(c.reason), std::string::npos) << *error;
    }
    EXPECT_TRUE(savePatternFile(rig.seq, folder.path(), "dir"));
    EXPECT_EQ(folder.names(), std::vector<std::string>{"dir.bw2"});
}

TEST(FilePanel, listsOnlyVisibleRegularPatternFilesSorted)
{
    Folder folder;
    for (const char *name : {"b.bw2", "a.bw2", "C.BW2", "notes.txt", "x.bw2.txt", "bw2"})
        folder.write(name, "1|20|1|0\r\n");
    for (const std::string &name : HiddenFileNames) {
        folder.write(name, "1|20|1|0\r\n");
        markHidden(folder.path() / name);
    }
    fs::create_directories(folder.path() / "folder.bw2");
    EXPECT_EQ(FilePanel::listPatternFiles(folder.path()), (std::vector<std::string>{"C.BW2", "a.bw2", "b.bw2"}));
    EXPECT_TRUE(FilePanel::listPatternFiles(folder.path() / "missing").empty());
}

TEST(FilePanel, buttonsFollowTheNameFieldAndThePick)
{
    Folder folder;
    folder.write("eins.bw2", std::string(160, '1') + "|20|1|0\r\n");
    Rig rig;
    FilePanel panel(rig.seq);
    std::vector<std::string> seen; // the panel's state after each change
    panel.setChangedCallback([&] {
        seen.push_back(std::string(panel.saveEnabled() ? "S" : "s") + (panel.loadEnabled() ? "L" : "l") + ":"
                       + panel.nameText() + ":" + std::to_string(panel.entries().size()));
    });
    panel.pointAt(folder.path());
    EXPECT_FALSE(panel.saveEnabled());
    EXPECT_FALSE(panel.loadEnabled());
    EXPECT_EQ(panel.entries(), std::vector<std::string>{"eins.bw2"});

    panel.setNameText("a");
    EXPECT_TRUE(panel.saveEnabled());
    panel.setNameText("");
    EXPECT_FALSE(panel.saveEnabled());

    folder.write("kopiert.bw2", "1|20|1|0\r\n"); // shows only after the next save
    panel.pick(0);
    EXPECT_TRUE(panel.loadEnabled());
    EXPECT_EQ(panel.entries().size(), 1u);

    seen.clear();
    panel.setNameText("zwei");
    EXPECT_EQ(panel.save(), std::nullopt);
    const std::vector<std::string> afterSave = {"SL:zwei:1", "sL:zwei:1", "sL::1", "sL::3"};
    EXPECT_EQ(seen, afterSave) << "disabled, then cleared, then re-read";
    EXPECT_EQ(panel.entries(), (std::vector<std::string>{"eins.bw2", "kopiert.bw2", "zwei.bw2"}));
    EXPECT_EQ(panel.pickedName(), "eins.bw2") << "the pick stays on its name";

    panel.setNameText("zwei"); // saved again: replaced, listed once
    EXPECT_EQ(panel.save(), std::nullopt);
    EXPECT_EQ(panel.entries().size(), 3u);

    EXPECT_EQ(panel.load(), std::nullopt);
    EXPECT_EQ(cellsOf(rig.seq), std::string(160, '1'));
}

TEST(FilePanel, failedSaveKeepsTheNameAndTheButton)
{
    Folder folder;
    Rig rig;
    FilePanel panel(rig.seq);
    panel.pointAt(folder.path());
    for (const std::string &name : std::vector<std::string>{"../raus", "a/b", std::string(300, 'x')}) {
        panel.setNameText(name);
        const auto message = panel.save();
        ASSERT_TRUE(message) << name;
        EXPECT_EQ(message->title, "Error");
        EXPECT_EQ(panel.nameText(), name);
        EXPECT_TRUE(panel.saveEnabled());
    }
    EXPECT_TRUE(folder.names().empty());
}

TEST(FilePanel, loadWithoutAPickReportsTheEmptyName)
{
    Folder folder;
    folder.write("a.bw2", "1|20|1|0\r\n");
    Rig rig;
    FilePanel panel(rig.seq);
    panel.pointAt(folder.path());
    panel.pick(0);
    fs::remove(folder.path() / "a.bw2");
    panel.setNameText("b");
    ASSERT_EQ(panel.save(), std::nullopt); // re-read: a.bw2 is gone, no pick
    EXPECT_EQ(panel.pickedIndex(), -1);
    EXPECT_TRUE(panel.loadEnabled()) << "nothing disables Laden once enabled";
    const std::string cells = cellsOf(rig.seq);
    const auto message = panel.load();
    ASSERT_TRUE(message);
    EXPECT_EQ(message->title, "Error");
    EXPECT_EQ(message->text, "Syntaxerror in Datei ");
    EXPECT_EQ(cellsOf(rig.seq), cells);
    EXPECT_EQ(rig.seq.firstActiveStep(), 1);
    EXPECT_EQ(rig.seq.lastActiveStep(), 20);

    panel.pick(0);
    fs::remove(folder.path() / "b.bw2");
    const auto missing = panel.load();
    ASSERT_TRUE(missing);
    EXPECT_EQ(missing->text, "Syntaxerror in Datei b.bw2");
}
