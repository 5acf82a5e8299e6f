// SPDX-License-Identifier: GPL-3.0-or-later
#include "Settings.h"

#include "FileSizeLimit.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <sys/resource.h>
#include <unistd.h>

using namespace lumivane;
namespace fs = std::filesystem;

using lumivane::test_support::FileSizeLimit;

namespace {

// A fresh folder per test, removed with everything in it afterwards.
class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "lumivane-settings-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir = pattern;
        ini = (dir / "defaults.ini").string();
    }
    void TearDown() override
    {
        std::error_code ignored;
        fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(dir, ignored);
    }

    void writeText(const std::string& text) const
    {
        std::ofstream out(ini, std::ios::binary);
        out << text;
    }
    std::string readText() const
    {
        std::ifstream in(ini, std::ios::binary);
        return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    }
    std::vector<std::string> folderEntries() const
    {
        std::vector<std::string> names;
        for (const auto& entry : fs::directory_iterator(dir))
            names.push_back(entry.path().filename().string());
        return names;
    }

    fs::path dir;
    std::string ini;
};

// The existence check of the platform, scripted: only the listed names exist.
std::function<bool(const std::string&)> existing(std::set<std::string> names)
{
    return [names = std::move(names)](const std::string& name) { return names.count(name) > 0; };
}

void expectDefaultHotspot(const SettingsValues& v)
{
    EXPECT_FALSE(v.hasHotspot);
    EXPECT_EQ(v.hotspotR, 0);
    EXPECT_EQ(v.hotspotG, 0);
    EXPECT_EQ(v.hotspotB, 0);
    EXPECT_EQ(v.hotspotX, kNoHotspotX);
    EXPECT_EQ(v.hotspotY, kNoHotspotY);
    EXPECT_FALSE(v.storedHotspotPending());
}

} // namespace

TEST_F(SettingsFile, ReadSettings_GivesDefaults_WhenNoFile)
{
    bool asked = false;
    const SettingsValues v = ReadSettingsFile(ini, [&](const std::string&) {
        asked = true;
        return true;
    });
    EXPECT_FALSE(v.fileExisted);
    EXPECT_EQ(v.iniBrightness, "25");
    EXPECT_EQ(v.iniStrength, "0");
    EXPECT_EQ(v.iniQuality, "90");
    EXPECT_EQ(v.defaultMask, "");
    EXPECT_FALSE(asked);
    expectDefaultHotspot(v);
    EXPECT_EQ(QualityLabelAtStart(v.iniQuality), "Image quality: 90% (JPEG)");
}

TEST_F(SettingsFile, FullForm_IsNineCrLfLines_AndReadsBack)
{
    const std::string mask = (dir / "default_mask.bmp").string();
    WriteFullSettings(ini, 31, 77, 85, mask, 250, 248, 17, 12, -3);
    EXPECT_EQ(readText(), "31\r\n77\r\n85\r\n" + mask + "\r\n250\r\n248\r\n17\r\n12\r\n-3\r\n");

    const SettingsValues v = ReadSettingsFile(ini, existing({mask}));
    EXPECT_TRUE(v.fileExisted);
    EXPECT_EQ(v.iniBrightness, "31");
    EXPECT_EQ(v.iniStrength, "77");
    EXPECT_EQ(v.iniQuality, "85");
    EXPECT_EQ(v.defaultMask, mask);
    EXPECT_TRUE(v.hasHotspot);
    EXPECT_EQ(v.hotspotR, 250);
    EXPECT_EQ(v.hotspotG, 248);
    EXPECT_EQ(v.hotspotB, 17);
    EXPECT_EQ(v.hotspotX, 12);
    EXPECT_EQ(v.hotspotY, -3);
    EXPECT_TRUE(v.storedHotspotPending());
    // Only the temporary file's rename produced the file: nothing else stays.
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"defaults.ini"});
}

TEST_F(SettingsFile, FullForm_DropsMaskButKeepsHotspot_WhenMaskFileGone)
{
    WriteFullSettings(ini, 25, 0, 90, "/gone/default_mask.bmp", 200, 201, 202, 40, 50);
    const SettingsValues v = ReadSettingsFile(ini, existing({}));
    EXPECT_EQ(v.defaultMask, "");
    EXPECT_TRUE(v.hasHotspot);
    EXPECT_EQ(v.hotspotX, 40);
    EXPECT_EQ(v.hotspotY, 50);
    EXPECT_FALSE(v.storedHotspotPending());
}

TEST_F(SettingsFile, ShortForm_EndsInNone_AndLoadsNoMask)
{
    WriteShortSettings(ini, 10, 20, 101);
    EXPECT_EQ(readText(), "10\r\n20\r\n101\r\nnone\r\n");

    std::vector<std::string> asked;
    const SettingsValues v = ReadSettingsFile(ini, [&](const std::string& name) {
        asked.push_back(name);
        return false;
    });
    EXPECT_EQ(asked, std::vector<std::string>{"none"});
    EXPECT_EQ(v.iniBrightness, "10");
    EXPECT_EQ(v.iniStrength, "20");
    EXPECT_EQ(v.iniQuality, "101");
    EXPECT_EQ(v.defaultMask, "");
    expectDefaultHotspot(v);
    EXPECT_EQ(QualityLabelAtStart(v.iniQuality), "No compression (BMP)");
}

TEST_F(SettingsFile, Store_ReplacesEarlierFileWhole)
{
    WriteFullSettings(ini, 1, 2, 3, "/a/very/long/folder/name/default_mask.bmp", 100, 100, 100,
                      1, 1);
    WriteShortSettings(ini, 4, 5, 6);
    EXPECT_EQ(readText(), "4\r\n5\r\n6\r\nnone\r\n");
}

TEST_F(SettingsFile, ReadSettings_TakesAnyLineEnding)
{
    const std::string mask = "/m/default_mask.bmp";
    const std::vector<std::string> endings = {"\r\n", "\n", "\r"};
    for (const std::string& eol : endings) {
        for (bool endingAfterLast : {true, false}) {
            SCOPED_TRACE(testing::Message() << "ending " << testing::PrintToString(eol)
                                            << (endingAfterLast ? " after last" : " not after last"));
            std::string text = "30" + eol + "40" + eol + "95" + eol + mask + eol + "11" + eol +
                               "22" + eol + "33" + eol + "44" + eol + "55";
            if (endingAfterLast)
                text += eol;
            writeText(text);
            const SettingsValues v = ReadSettingsFile(ini, existing({mask}));
            EXPECT_EQ(v.iniBrightness, "30");
            EXPECT_EQ(v.iniStrength, "40");
            EXPECT_EQ(v.iniQuality, "95");
            EXPECT_EQ(v.defaultMask, mask);
            EXPECT_EQ(v.hotspotR, 11);
            EXPECT_EQ(v.hotspotG, 22);
            EXPECT_EQ(v.hotspotB, 33);
            EXPECT_EQ(v.hotspotX, 44);
            EXPECT_EQ(v.hotspotY, 55);
        }
    }
}

TEST_F(SettingsFile, ReadSettings_MissingOrBrokenSliderLinesKeepTheirDefaults)
{
    struct Row {
        std::string text;
        std::string brightness, strength, quality;
        std::vector<int> ignored;
    };
    const std::vector<Row> rows = {
        {"", "25", "0", "90", {1, 2, 3}},
        {"12\r\n", "12", "0", "90", {2, 3}},
        {"12\r\n34", "12", "34", "90", {3}},
        {"12\r\n34\r\n56\r\n", "12", "34", "56", {}},
        {"\r\n\r\n\r\n\r\n", "25", "0", "90", {1, 2, 3}},
        {"12\r\nabc\r\n56\r\nnone\r\n", "12", "0", "56", {2}},
        {"1.5\r\n34\r\n9x\r\nnone\r\n", "25", "34", "90", {1, 3}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.text));
        writeText(row.text);
        const SettingsValues v = ReadSettingsFile(ini, existing({""}));
        EXPECT_TRUE(v.fileExisted);
        EXPECT_EQ(v.iniBrightness, row.brightness);
        EXPECT_EQ(v.iniStrength, row.strength);
        EXPECT_EQ(v.iniQuality, row.quality);
        EXPECT_EQ(v.ignoredLines, row.ignored);
        // An empty line 4 never counts as an existing file.
        EXPECT_EQ(v.defaultMask, "");
        expectDefaultHotspot(v);
    }
}

TEST_F(SettingsFile, ReadSettings_BrokenLinesElsewhereKeepTheDefaultMask)
{
    const std::string mask = "/m/default_mask.bmp";
    writeText("x\r\n0\r\n90\r\n" + mask + "\r\n120\r\n");
    const SettingsValues v = ReadSettingsFile(ini, existing({mask}));
    EXPECT_EQ(v.defaultMask, mask);
    EXPECT_EQ(v.iniBrightness, "25");
    EXPECT_EQ(v.ignoredLines, (std::vector<int>{1, 6, 7, 8, 9}));
    expectDefaultHotspot(v);
}

TEST(IgnoredLinesText, NamesEachLineOfTheFile)
{
    EXPECT_EQ(IgnoredLinesText("defaults.ini", {}), "");
    EXPECT_EQ(IgnoredLinesText("defaults.ini", {2}), "defaults.ini line 2 ignored");
    EXPECT_EQ(IgnoredLinesText("other.ini", {1, 7}), "other.ini line 1 ignored; other.ini line 7 ignored");
}

TEST_F(SettingsFile, BrokenFile_IsCopiedBeforeItIsReplaced_SoundFileIsNot)
{
    const std::string broken = "12\r\nabc\r\n";
    writeText(broken);
    KeepBrokenSettingsCopy(ini);
    WriteShortSettings(ini, 1, 2, 3);
    std::ifstream in(ini + ".broken", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()), broken);

    // A sound file, or none, leaves no copy.
    fs::remove(ini + ".broken");
    KeepBrokenSettingsCopy(ini);
    fs::remove(ini);
    KeepBrokenSettingsCopy(ini);
    EXPECT_TRUE(folderEntries().empty());
}

TEST_F(SettingsFile, ReadSettings_IgnoresWholeHotspot_WhenRedLevelHasOneCharacter)
{
    const std::string mask = "/m/default_mask.bmp";
    // Lines 6 to 9 are not even looked at, so text there raises nothing.
    writeText("25\r\n0\r\n90\r\n" + mask + "\r\n7\r\n200\r\nxx\r\n300\r\n400\r\n");
    const SettingsValues v = ReadSettingsFile(ini, existing({mask}));
    EXPECT_EQ(v.defaultMask, mask);
    expectDefaultHotspot(v);
}

TEST_F(SettingsFile, ReadSettings_DropsTheHotspot_WhenAHotspotLineIsNotInteger)
{
    const std::string mask = "/m/default_mask.bmp";
    for (int bad = 5; bad <= 9; ++bad) {
        SCOPED_TRACE(bad);
        std::string text = "30\r\n40\r\n95\r\n" + mask + "\r\n";
        for (int line = 5; line <= 9; ++line)
            text += (line == bad ? std::string("1x") : std::string("10")) + "\r\n";
        writeText(text);
        const SettingsValues v = ReadSettingsFile(ini, existing({mask}));
        EXPECT_EQ(v.ignoredLines, std::vector<int>{bad});
        expectDefaultHotspot(v);
        // The rest of the file still counts.
        EXPECT_EQ(v.iniBrightness, "30");
        EXPECT_EQ(v.iniStrength, "40");
        EXPECT_EQ(v.iniQuality, "95");
        EXPECT_EQ(v.defaultMask, mask);
    }
}

TEST_F(SettingsFile, ReadSettings_DropsTheHotspot_WhenHotspotLinesMissing)
{
    writeText("25\r\n0\r\n90\r\nnone\r\n100\r\n100\r\n");
    const SettingsValues v = ReadSettingsFile(ini, existing({}));
    EXPECT_EQ(v.ignoredLines, (std::vector<int>{7, 8, 9}));
    expectDefaultHotspot(v);
}

TEST_F(SettingsFile, ReadSettings_BinaryGarbage_GivesValuesOrSettingsError)
{
    static const char garbage[] = "\x01\x02\r\n\xff\n\x00\x00\r\n\r\n\xfe\xfd\x80\r\n\x7f";
    writeText(std::string(garbage, sizeof garbage - 1));
    const SettingsValues read = ReadSettingsFile(ini, existing({}));
    EXPECT_EQ(read.ignoredLines, (std::vector<int>{1, 2, 3, 5, 6, 7, 8, 9}));
    EXPECT_EQ(read.iniBrightness, "25");

    std::mt19937 random(1234);
    std::uniform_int_distribution<int> byte(0, 255);
    std::uniform_int_distribution<int> length(0, 300);
    for (int round = 0; round < 300; ++round) {
        std::string text(std::size_t(length(random)), '\0');
        for (char& c : text) {
            const int b = byte(random);
            // Plenty of line breaks so that later lines are reached too.
            c = b < 40 ? '\n' : (b < 60 ? '\r' : char(b));
        }
        writeText(text);
        try {
            const SettingsValues v = ReadSettingsFile(ini, existing({}));
            EXPECT_EQ(v.defaultMask, "");
        } catch (const SettingsError&) {
        }
    }
}

TEST_F(SettingsFile, ReadSettings_RaisesNamingFile_WhenNotReadable)
{
    fs::create_directory(ini); // a folder where the file should be
    try {
        ReadSettingsFile(ini, existing({}));
        ADD_FAILURE() << "no error";
    } catch (const SettingsError& e) {
        EXPECT_NE(std::string(e.what()).find(ini), std::string::npos) << e.what();
    }
}

TEST_F(SettingsFile, ReadSettings_RefusesHugeFile)
{
    writeText(std::string((1 << 20) + 10, '7'));
    EXPECT_THROW(ReadSettingsFile(ini, existing({})), SettingsError);
}

TEST_F(SettingsFile, Write_RaisesNamingFile_WhenFolderMissing)
{
    const std::string nowhere = (dir / "no-such-folder" / "defaults.ini").string();
    for (bool full : {true, false}) {
        try {
            if (full)
                WriteFullSettings(nowhere, 1, 2, 3, "x", 4, 5, 6, 7, 8);
            else
                WriteShortSettings(nowhere, 1, 2, 3);
            ADD_FAILURE() << "no error";
        } catch (const SettingsError& e) {
            EXPECT_NE(std::string(e.what()).find(nowhere), std::string::npos) << e.what();
        }
    }
}

TEST_F(SettingsFile, Write_KeepsOldFileAndLeavesNoTemporary_WhenWriteFails)
{
    WriteShortSettings(ini, 1, 2, 3);
    const std::string before = readText();
    {
        // Room for a few bytes only: the new text cannot be written whole.
        FileSizeLimit limit(8);
        EXPECT_THROW(WriteFullSettings(ini, 25, 50, 90, std::string(200, 'm'), 1, 2, 3, 4, 5),
                     SettingsError);
    }
    EXPECT_EQ(readText(), before);
    EXPECT_EQ(folderEntries(), std::vector<std::string>{"defaults.ini"});
}

TEST_F(SettingsFile, Write_KeepsOldFile_WhenFolderNotWritable)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "folder permissions do not stop the superuser";
    WriteShortSettings(ini, 1, 2, 3);
    fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_THROW(WriteShortSettings(ini, 9, 9, 9), SettingsError);
    fs::permissions(dir, fs::perms::owner_all);
    EXPECT_EQ(readText(), "1\r\n2\r\n3\r\nnone\r\n");
}

TEST_F(SettingsFile, WriteFull_RefusesMaskPathWithLineBreak)
{
    EXPECT_THROW(WriteFullSettings(ini, 1, 2, 3, "a\nb", 4, 5, 6, 7, 8), SettingsError);
    EXPECT_FALSE(fs::exists(ini));
}

TEST(SettingsText, ClampedSliderPosition_ClampsIntoRange)
{
    struct Row {
        const char* text;
        int min, max, expected;
    };
    const Row rows[] = {
        {"25", 0, 50, 25},   {"0", 0, 50, 0},      {"50", 0, 50, 50},
        {"-5", 0, 50, 0},    {"51", 0, 50, 50},    {"200", 0, 100, 100},
        {"0", 1, 101, 1},    {"101", 1, 101, 101}, {" 7 ", 0, 50, 7},
        {"+3", 0, 50, 3},    {"-2147483648", 1, 101, 1}, {"2147483647", 1, 101, 101},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(ClampedSliderPosition(row.text, row.min, row.max), row.expected);
    }
}

TEST(SettingsText, ParseStoredInteger_RejectsNonIntegers)
{
    for (const char* text : {"", " ", "-", "+", "abc", "1x", "x1", "1 2", "1.5", "0x10", "$10",
                             "2147483648", "-2147483649", "99999999999999999999"}) {
        SCOPED_TRACE(text);
        try {
            ParseStoredInteger(text);
            ADD_FAILURE() << "no error";
        } catch (const SettingsError& e) {
            EXPECT_EQ(std::string(e.what()), "'" + std::string(text) + "' is not a valid integer value");
        }
    }
    EXPECT_THROW(ClampedSliderPosition("abc", 0, 50), SettingsError);
    // A line of a hostile file is quoted with its control characters
    // visible and at most 200 characters long.
    try {
        ParseStoredInteger("\x1b[31m" + std::string(300, '7') + "x");
        ADD_FAILURE() << "no error";
    } catch (const SettingsError& e) {
        EXPECT_EQ(std::string(e.what()),
                  "'\\x1b[31m" + std::string(195, '7') + "...' is not a valid integer value");
    }
    EXPECT_EQ(ParseStoredInteger("-2147483648"), -2147483647 - 1);
    EXPECT_EQ(ParseStoredInteger("007"), 7);
}

TEST(SettingsText, QualityLabels_DistinguishStartMaskLoadAndSlider)
{
    struct Row {
        int position;
        const char* afterMaskLoad;
        const char* forSlider;
        bool warning;
    };
    const Row rows[] = {
        {1, "Save quality: 1% (JPEG)", "Save quality: 1% (JPEG)", false},
        {90, "Save quality: 90% (JPEG)", "Save quality: 90% (JPEG)", false},
        {100, "Save quality: 100% (JPEG)", "Save quality: 100% (JPEG)", false},
        {101, "No compression (BMP)", "No compression (Save as BMP)", true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.position);
        EXPECT_EQ(QualityLabelAfterMaskLoad(row.position), row.afterMaskLoad);
        EXPECT_EQ(QualityLabelForPosition(row.position), row.forSlider);
        EXPECT_EQ(QualityLabelIsWarning(row.position), row.warning);
    }
    EXPECT_EQ(QualityLabelAtStart("90"), "Image quality: 90% (JPEG)");
    EXPECT_EQ(QualityLabelAtStart("101"), "No compression (BMP)");
    // The stored text is shown as stored; only its value decides BMP.
    EXPECT_EQ(QualityLabelAtStart("075"), "Image quality: 075% (JPEG)");
    EXPECT_EQ(QualityLabelAtStart("0101"), "No compression (BMP)");
    EXPECT_THROW(QualityLabelAtStart(""), SettingsError);
    EXPECT_THROW(QualityLabelAtStart("high"), SettingsError);
}

