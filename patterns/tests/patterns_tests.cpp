// The pattern file and the file panel on every platform. Rules that differ
// between platforms are tested in patterns_<platform>_tests.cpp.

#include "filepanel.h"
#include "patternfile.h"

#include "testsupport.h"
#include "wholelinereference.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <random>

namespace fs = std::filesystem;
using namespace patterns;
using namespace testsupport;
using sequencer::Sequencer;

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
        {"5-", std::nullopt}, {" -12\t", -12}, {"000000000000000000000032767", 32767}, {"-3 -", std::nullopt},
    };
    const auto shown = [](std::optional<std::int16_t> v) { return v ? std::optional<int>(*v) : std::nullopt; };
    for (auto [text, expected] : cases) {
        EXPECT_EQ(shown(parseWholeNumber(text)), expected) << '"' << text << '"';
        // The same text fed one character at a time.
        WholeNumberParser parser;
        for (const char c : std::string_view(text))
            parser.feed(std::string_view(&c, 1));
        EXPECT_EQ(shown(parser.result()), expected) << '"' << text << "\" in pieces";
    }
}

namespace {

// A random first line in the shape of a pattern file and its near misses:
// cell fields of any length, number fields with long blank runs, signs,
// leading zeros and stray characters, any number of fields, CR, LF and
// further lines.
std::string randomContent(std::mt19937 &random)
{
    const auto pick = [&](std::string_view from) { return from[random() % from.size()]; };
    const auto blanks = [&] {
        const unsigned length = random() % 8 == 0 ? random() % 5000 : random() % 3;
        std::string run;
        for (unsigned i = 0; i < length; ++i)
            run += pick(" \t\v\f\n");
        return run;
    };
    std::string content;
    if (random() % 20 == 0)
        return content;
    const unsigned cellLength = random() % 6 == 0 ? random() % 2000 : 150 + random() % 20;
    for (unsigned i = 0; i < cellLength; ++i)
        content += random() % 50 == 0 ? pick("3x |-\n") : pick("012");
    const unsigned fields = random() % 7;
    for (unsigned f = 0; f < fields; ++f) {
        content += '|';
        content += blanks();
        if (random() % 4 == 0)
            content += '-';
        if (random() % 6 == 0)
            content += std::string(random() % 3000, '0');
        content += std::to_string(int(random() % 25) - 2);
        if (random() % 10 == 0)
            content += std::to_string(random());
        if (random() % 12 == 0)
            content += pick("+.e -x|");
        content += blanks();
    }
    switch (random() % 4) {
    case 0: content += "\r\n"; break;
    case 1: content += "\r\n" + std::string(160, '1') + "|9|2|3\r\n"; break;
    case 2: content += "\n"; break;
    default: break;
    }
    return content;
}

// Feeds content to the block reader in random pieces.
FirstLine readInPieces(std::string_view content, std::mt19937 &random)
{
    FirstLineReader reader;
    while (!content.empty()) {
        const std::size_t size = std::min<std::size_t>(content.size(), 1 + random() % (random() % 2 ? 7 : 4096));
        if (!reader.feed(content.substr(0, size)))
            break;
        content.remove_prefix(size);
    }
    return reader.finish();
}

} // namespace

TEST(PatternFile, blockReaderLoadsWhatTheWholeLineReaderLoads)
{
    std::vector<std::string> contents;
    std::mt19937 random(4711);
    for (int i = 0; i < 3000; ++i)
        contents.push_back(randomContent(random));
    // The fuzz corpus: its first byte sets the fuzz target up, the rest is
    // a file; both readings are files here.
    for (const auto &entry : fs::directory_iterator(fs::path(PATTERNS_FUZZ_CORPUS))) {
        std::ifstream in(entry.path(), std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), {}};
        contents.push_back(bytes);
        if (!bytes.empty())
            contents.push_back(bytes.substr(1));
    }
    ASSERT_GT(contents.size(), 3000u + 4);

    Folder folder;
    for (std::size_t i = 0; i < contents.size(); ++i) {
        const std::string &content = contents[i];
        const unsigned variant = unsigned(i);
        Rig expected(variant), pieces(variant), whole(variant);
        const bool expectedFailed = reference::loadWholeLine(expected.seq, content);
        const std::string state = loadedState(expected.seq);
        EXPECT_EQ(applyFirstLine(pieces.seq, readInPieces(content, random)), expectedFailed) << content;
        EXPECT_EQ(loadedState(pieces.seq), state) << content;
        EXPECT_EQ(loadPatternText(whole.seq, content), expectedFailed) << content;
        EXPECT_EQ(loadedState(whole.seq), state) << content;
        if (i % 10 == 0) { // and through a file
            Rig file(variant);
            folder.write("t.bw2", content);
            EXPECT_EQ(loadPatternFile(file.seq, folder.path(), "t.bw2"), expectedFailed) << content;
            EXPECT_EQ(loadedState(file.seq), state) << content;
        }
    }
}

TEST(PatternFile, longFieldsAcrossManyBlocksLoadAsWholeLines)
{
    // Built by appending: GCC 12 warns falsely (-Wrestrict) on "|" + string.
    std::string good = "|";
    good.append(700000, ' ').append("5|").append(300000, '0').append("3 \t|-1");
    const std::string contents[] = {
        std::string(900000, '1') + "|20|1|0",                        // a huge cell field, no line end
        std::string(160, '2') + good + "\r\n",                       // huge but good number fields
        std::string(160, '1') + "|" + std::string(600000, '7') + "|1|0\r\n", // a huge number
        std::string(160, '0') + "|20|1|0|" + std::string(800000, 'x'), // a huge fifth field
        std::string(1000000, '|'),                                    // nothing but separators
        std::string(700000, '1') + std::string(1, '\0') + "|20|1|0\r\n",
    };
    Folder folder;
    for (const std::string &content : contents) {
        Rig expected, file;
        const bool expectedFailed = reference::loadWholeLine(expected.seq, content);
        folder.write("gross.bw2", content);
        EXPECT_EQ(loadPatternFile(file.seq, folder.path(), "gross.bw2"), expectedFailed) << content.substr(0, 200);
        EXPECT_EQ(loadedState(file.seq), loadedState(expected.seq)) << content.substr(0, 200);
    }
}

TEST(PatternFile, theReaderKeepsOnlyWhatTheLoadUses)
{
    FirstLineReader reader;
    const std::string block(1 << 20, '1');
    for (int i = 0; i < 64; ++i)
        ASSERT_TRUE(reader.feed(block));
    const FirstLine line = reader.finish();
    EXPECT_EQ(line.cells, std::string(160, '1'));
    EXPECT_EQ(line.fieldCount, 1);

    FirstLineReader ended; // nothing after the fourth field is wanted
    EXPECT_TRUE(ended.feed("1|2|3"));
    EXPECT_FALSE(ended.feed("|4|"));
    EXPECT_FALSE(ended.feed("rest"));
    EXPECT_EQ(ended.finish().fieldCount, 4);
}

TEST(PatternFile, anythingButARegularFileIsAFileThatCannotBeOpened)
{
    Folder folder;
    fs::create_directories(folder.path() / "ordner.bw2");
    Rig rig;
    const std::string before = loadedState(rig.seq);
    EXPECT_TRUE(loadPatternFile(rig.seq, folder.path(), "ordner.bw2"));
    Rig missing;
    EXPECT_TRUE(loadPatternFile(missing.seq, folder.path(), "fehlt.bw2"));
    EXPECT_EQ(loadedState(rig.seq), loadedState(missing.seq)) << "the same as a missing file";
    EXPECT_NE(loadedState(rig.seq), before) << "the range became 1 to 20";
}

TEST(PatternFile, refusesNamesThatLeaveTheFolderOnEveryPlatform)
{
    Folder folder;
    fs::create_directories(folder.path() / "sub");
    Rig rig;
    for (const std::string &name : std::vector<std::string>{"a/b", "a\\b", "../x", "/tmp/x", "sub/", ""}) {
        const SaveError error = savePatternFile(rig.seq, folder.path() / "sub", name);
        ASSERT_TRUE(error) << name;
        EXPECT_NE(error->find(name.empty() ? "kein Dateiname" : "\"" + name + "\""), std::string::npos) << *error;
        EXPECT_NE(error->find("Es wurde nichts gespeichert."), std::string::npos) << *error;
    }
    EXPECT_EQ(folder.names(), std::vector<std::string>{"sub"});
    EXPECT_TRUE(fs::is_empty(folder.path() / "sub"));
}

TEST(PatternFile, saveFailuresNameFileAndFolderWithAGermanReason)
{
    Folder folder;
    Rig rig;
    const std::string longName = std::string(150, 'n') + std::string(150, 'e');
    struct Case
    {
        fs::path folder;
        std::string name;
        const char *reason;
        const char *shownName;
    };
    const Case cases[] = {
        {folder.path() / "fehlt", "abc", "Der Ordner existiert nicht.", "\"abc.bw2\""},
        {folder.path(), longName, "Der Name ist zu lang.",
         "\"nnnnnnnnnnnnnnnnnnnnnnnnnnnnnn\xE2\x80\xA6" "eeeeeeeeeeeeeeeeeeeeeeeee.bw2\""},
    };
    for (const Case &c : cases) {
        const SaveError error = savePatternFile(rig.seq, c.folder, c.name);
        ASSERT_TRUE(error) << c.name;
        EXPECT_NE(error->find("konnte im Ordner \"" + utf8FromPath(c.folder) + "\" nicht gespeichert werden. "),
                  std::string::npos) << *error;
        EXPECT_NE(error->find(c.reason), std::string::npos) << *error;
        EXPECT_NE(error->find(c.shownName), std::string::npos) << *error;
    }
    fs::create_directories(folder.path() / "dir.bw2"); // a folder in the way
    EXPECT_TRUE(savePatternFile(rig.seq, folder.path(), "dir"));
    EXPECT_EQ(folder.names(), std::vector<std::string>{"dir.bw2"});
}

TEST(PatternFile, germanReasonsForTheCommonFailures)
{
    const std::pair<std::errc, const char *> cases[] = {
        {std::errc::no_space_on_device, "Auf dem Datenträger ist kein Platz mehr frei."},
        {std::errc::permission_denied, "Es fehlt die Berechtigung, in diesem Ordner zu schreiben."},
        {std::errc::operation_not_permitted, "Es fehlt die Berechtigung, in diesem Ordner zu schreiben."},
        {std::errc::filename_too_long, "Der Name ist zu lang."},
        {std::errc::read_only_file_system, "Der Datenträger ist schreibgeschützt."},
        {std::errc::no_such_file_or_directory, "Der Ordner existiert nicht."},
        {std::errc::not_a_directory, "Der Ordner existiert nicht."},
        {std::errc::file_too_large, "Die Datei wäre größer, als das System erlaubt."},
        {std::errc::is_a_directory, "Dort liegt ein Ordner mit demselben Namen."},
        {std::errc::io_error, "Der Datenträger meldet einen Schreibfehler."},
    };
    for (auto [error, reason] : cases)
        EXPECT_EQ(saveFailureReason(int(error)), reason);
    // Any other failure in the system's own words.
    const int other = int(std::errc::too_many_files_open);
    EXPECT_EQ(saveFailureReason(other), std::generic_category().message(other) + ".");
}

TEST(PatternFile, longNamesAreShortenedInTheMiddle)
{
    const std::string sixty(60, 'a');
    const std::string ae = "\xC3\xA4"; // ä, two bytes
    std::string umlauts;
    for (int i = 0; i < 70; ++i)
        umlauts += ae;
    const std::string ellipsis = "\xE2\x80\xA6";
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"kurz.bw2", "kurz.bw2"},
        {sixty, sixty},
        {sixty + "b.bw2", std::string(30, 'a') + ellipsis + std::string(24, 'a') + "b.bw2"},
        {umlauts, umlauts.substr(0, 60) + ellipsis + umlauts.substr(0, 58)},
    };
    for (const auto &[name, shown] : cases)
        EXPECT_EQ(shortenMiddle(name), shown) << name;
    EXPECT_EQ(shortenMiddle("abcdefghij", 5), "ab" + ellipsis + "ij");
}

TEST(FilePanel, listsOnlyRegularPatternFilesSorted)
{
    Folder folder;
    for (const char *name : {"b.bw2", "a.bw2", "C.BW2", "notes.txt", "x.bw2.txt", "bw2"})
        folder.write(name, "1|20|1|0\r\n");
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

// The data folder is created by the first save into it, not when the panel
// lists it at start-up; a folder that cannot be created names its cause.
TEST(FilePanel, dataFolderIsCreatedByTheFirstSave)
{
    Folder scratch;
    scratch.write("datei", "x");
    struct Case
    {
        const char *what;
        fs::path folder;
        std::string name;
        const char *message; // part of the box's text; nullptr: saved
    };
    const Case cases[] = {
        {"missing with its parents", scratch.path() / "home" / ".local" / "blinkwerk", "muster", nullptr},
        {"a file in place of a parent", scratch.path() / "datei" / "blinkwerk", "muster",
         "f\xC3\xBCr die Muster konnte nicht angelegt werden. An seiner Stelle"},
        {"the folder's own name taken by a file", scratch.path() / "datei", "muster", "liegt eine Datei."},
        {"no data folder at all", fs::path(), "muster", "kein Ordner f\xC3\xBCr Muster bekannt"},
        {"a refused name creates nothing", scratch.path() / "neu", "a/b", "als Dateiname nicht m\xC3\xB6glich"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        Rig rig;
        FilePanel panel(rig.seq);
        panel.pointAt(PatternFolder{c.folder, false});
        EXPECT_TRUE(panel.entries().empty());
        EXPECT_TRUE(c.folder.empty() || !fs::is_directory(c.folder)) << "listing creates nothing";
        panel.setNameText(c.name);
        const auto message = panel.save();
        if (!c.message) {
            EXPECT_EQ(message, std::nullopt) << message->text;
            EXPECT_EQ(panel.entries(), std::vector<std::string>{c.name + ".bw2"});
            continue;
        }
        ASSERT_TRUE(message);
        EXPECT_NE(message->text.find(c.message), std::string::npos) << message->text;
        EXPECT_EQ(message->text.find("existiert nicht"), std::string::npos) << message->text;
        EXPECT_EQ(panel.nameText(), c.name);
        EXPECT_TRUE(c.folder.empty() || !fs::is_directory(c.folder));
    }
    EXPECT_TRUE(fs::is_regular_file(scratch.path() / "datei")) << "the file in the way is left alone";
}

TEST(FilePanel, germanReasonsForAFolderThatCannotBeCreated)
{
    const std::pair<std::errc, const char *> cases[] = {
        {std::errc::permission_denied, "Keine Berechtigung, ihn dort anzulegen."},
        {std::errc::operation_not_permitted, "Keine Berechtigung, ihn dort anzulegen."},
        {std::errc::not_a_directory, "An seiner Stelle oder an der Stelle eines \xC3\xBC" "bergeordneten Ordners liegt eine Datei."},
        {std::errc::file_exists, "An seiner Stelle oder an der Stelle eines \xC3\xBC" "bergeordneten Ordners liegt eine Datei."},
        {std::errc::read_only_file_system, "Der Datentr\xC3\xA4ger ist schreibgesch\xC3\xBCtzt."},
        {std::errc::no_space_on_device, "Auf dem Datentr\xC3\xA4ger ist kein Platz mehr frei."},
    };
    for (auto [error, reason] : cases)
        EXPECT_EQ(folderFailureReason(std::make_error_code(error)), reason);
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
