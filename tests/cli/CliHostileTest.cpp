// SPDX-License-Identifier: GPL-3.0-or-later
// lumivane-cli against hostile inputs and a hostile system: photographs and
// masks above the memory budget, files that only claim a huge size, and a
// file-size limit that makes every write fail.
#include "BmpCodec.h"
#include "CliFolder.h"
#include "FileIO.h"
#include "HostileFiles.h"
#include "MemoryBudget.h"

#include "FileSizeLimit.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <sys/stat.h>

using namespace lumivane;
namespace ts = lumivane::test_support;
namespace fs = std::filesystem;

namespace {

class HostileCli : public ::testing::Test {
protected:
    static Bitmap24 flatMask()
    {
        Bitmap24 m(40, 30);
        m.fill(packColour(200, 190, 180));
        return m;
    }
    std::string file(const std::string& name) const { return folder.file(name); }
    std::string photo(const std::string& name, int w = 64, int h = 48) const { return folder.photo(name, w, h); }
    ts::ChildRun run(const std::vector<std::string>& photos, const std::vector<std::string>& env = {},
                     const std::string& mask = {}) const
    {
        return folder.run(LUMIVANE_CLI, photos, "out", env, mask);
    }
    std::vector<std::string> outFiles() const { return folder.names("out"); }

    ts::CliFolder folder{"lumivane-cli-hostile", flatMask()};
};

TEST_F(HostileCli, PhotographAboveTheBudget_IsNamedAndTheBatchGoesOn)
{
    const std::string big = photo("b.jpg", 8000, 6000);
    const ts::ChildRun r = run({photo("a.jpg"), big, photo("c.jpg")}, {"LUMIVANE_MEMORY_LIMIT_MIB=64"});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(outFiles(), (std::vector<std::string>{"a.jpg", "c.jpg"}));
    // The need named is that of the batch's path, only said to pass the
    // budget.
    for (const std::string& part : {"unreadable: " + big, std::string("8000 x 6000"), std::string("MiB of memory"),
                                    std::string("more than the 64 MiB available")})
        EXPECT_NE(r.err.find(part), std::string::npos) << part << " missing from: " << r.err;
    // Without the limit the same photograph is written.
    const ts::ChildRun again = run({big});
    EXPECT_EQ(again.status, 0) << again.err;
}

TEST_F(HostileCli, MaskAboveTheBudget_IsAUsageErrorNamingIt)
{
    const std::string bigMask = photo("big_mask.jpg", 8000, 6000);
    const ts::ChildRun r = run({photo("a.jpg")}, {"LUMIVANE_MEMORY_LIMIT_MIB=64"}, bigMask);
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("cannot read the mask " + bigMask), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("8000 x 6000"), std::string::npos) << r.err;
    EXPECT_TRUE(outFiles().empty());
}

// A batch counts what its path needs: with several jobs each JPEG is
// streamed a band at a time, so 12-megapixel photographs whose four
// full-size copies (137 MiB) are far above a 64 MiB budget are written
// beside their mask of the same size (34 MiB, held for the whole run),
// and the run's peak memory above that of a small run stays within the
// budget. A single job decodes each photograph whole and is refused.
TEST_F(HostileCli, StreamedJpegs_NeedTheirBandsNotFourCopies)
{
    constexpr int kWidth = 4000, kHeight = 3000;
    ASSERT_GT(MemoryNeededFor(kWidth, kHeight), std::uint64_t(64) << 20);
    const std::string first = photo("p1.jpg", kWidth, kHeight);
    std::vector<std::string> photos = {first};
    for (const char* name : {"p2.jpg", "p3.jpg", "p4.jpg"}) {
        fs::copy_file(first, file(name));
        photos.push_back(file(name));
    }
    const std::string mask = photo("mask.jpg", kWidth, kHeight);
    const std::vector<std::string> budget = {"LUMIVANE_MEMORY_LIMIT_MIB=64"};
    const ts::ChildRun small = run({"--jobs", "2", photo("a.jpg")}, budget);
    ASSERT_EQ(small.status, 0) << small.err;
    fs::remove(file("out/a.jpg"));

    std::vector<std::string> args = {"--jobs", "2"};
    args.insert(args.end(), photos.begin(), photos.end());
    const ts::ChildRun streamed = run(args, budget, mask);
    EXPECT_EQ(streamed.status, 0) << streamed.err;
    EXPECT_EQ(outFiles(), (std::vector<std::string>{"p1.jpg", "p2.jpg", "p3.jpg", "p4.jpg"}));
    // The sanitizers' shadow memory is not the program's.
    if (!ts::UnderSanitizer()) {
        EXPECT_LE(streamed.peakRssKiB, small.peakRssKiB + 64 * 1024)
            << "small run " << small.peakRssKiB << " KiB, streamed " << streamed.peakRssKiB << " KiB";
    }

    for (const std::string& name : outFiles())
        fs::remove(file("out/" + name));
    args[1] = "1";
    const ts::ChildRun whole = run(args, budget, mask);
    EXPECT_EQ(whole.status, 1) << whole.err;
    EXPECT_NE(whole.err.find(first + ": unreadable: '" + first + "' is too large"), std::string::npos)
        << whole.err;
    EXPECT_TRUE(outFiles().empty());
}

// Each file of a few hundred bytes claiming 65,000 x 65,000 pixels is
// reported by a fresh process within a fraction of a second, whose peak
// memory stays that of a small program.
TEST_F(HostileCli, ClaimedHugeFiles_AreRefusedQuicklyWithLittleMemory)
{
    const std::string small = photo("a.jpg");
    const ts::ChildRun baseline = run({small});
    ASSERT_EQ(baseline.status, 0) << baseline.err;
    for (const std::string& bomb : ts::ClaimedHugeFiles()) {
        SCOPED_TRACE(bomb);
        const ts::ChildRun r = run({bomb});
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_NE(r.err.find("unreadable: " + bomb), std::string::npos) << r.err;
        EXPECT_LT(r.seconds, ts::UnderSanitizer() ? 5.0 : 1.0);
        // A program that writes a small photograph is the yardstick; the
        // refusal may not need 64 MiB more than that.
        EXPECT_LT(r.peakRssKiB, baseline.peakRssKiB + 64 * 1024) << "baseline " << baseline.peakRssKiB << " KiB";
    }
}

// A real file-size limit (as `ulimit -f` sets it; the program starts with
// SIGXFSZ at its default action, which would kill it) makes the large
// photograph's write fail: the program says why, goes on with the next one,
// exits with 1 and leaves neither a partial output nor a temporary file; a
// file already there is untouched.
TEST_F(HostileCli, FileSizeLimit_FailsCleanlyLeavingNothingBehind)
{
    // As BMPs: 9 KiB for the small photographs, 352 KiB for the large one.
    const std::string a = photo("a.jpg", 64, 48);
    const std::string b = photo("b.jpg", 400, 300);
    const std::string c = photo("c.jpg", 64, 48);
    fs::create_directories(folder.path() / "out");
    const std::string earlier = "an earlier a.bmp";
    WriteFileAtomically(file("out/a.bmp"), earlier.data(), earlier.size());
    ts::ChildRun r;
    {
        lumivane::test_support::FileSizeLimit limit(20000);
        r = run({"--quality", "bmp", "--jobs", "1", a, b, c});
    }
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("write error: " + b), std::string::npos) << r.err;
    EXPECT_NE(r.err.find(file("out/b.bmp") + "\": file too large for this file system or limit"), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("2 written, 1 failed"), std::string::npos) << r.err;
    // a.jpg's output took the clash name a.<tick>.bmp; c.jpg was written
    // after the failure.
    const std::vector<std::string> names = outFiles();
    ASSERT_EQ(names.size(), 3u) << r.err;
    EXPECT_EQ(names[0].rfind("a.", 0), 0u) << names[0];
    EXPECT_EQ(names[1], "a.bmp");
    EXPECT_EQ(names[2], "c.bmp");
    for (const std::string& name : names)
        EXPECT_EQ(name.find(kTemporarySuffix), std::string::npos) << name;
    const std::vector<std::uint8_t> kept = ReadWholeFile(file("out/a.bmp"));
    EXPECT_EQ(std::string(kept.begin(), kept.end()), earlier);
}

// FIFOs named as photographs (whose plain open() would wait for a writer
// forever) and a folder are refused at once; the other photographs are
// written.
TEST_F(HostileCli, FifosAndFoldersAsPhotographs_AreRefusedWithoutBlocking)
{
    std::vector<std::string> photos = {photo("a.jpg")};
    std::vector<std::string> expected;
    for (const std::string name : {"pipe.jpg", "pipe.bmp", "pipe.tif"}) {
        photos.push_back(file(name));
        ASSERT_EQ(::mkfifo(photos.back().c_str(), 0600), 0);
        expected.push_back("unreadable: " + photos.back() + ": not a regular file");
    }
    photos.push_back(file("album.jpg"));
    fs::create_directory(photos.back());
    expected.push_back("unreadable: " + photos.back() + ": is a folder (use --recursive)");
    const ts::ChildRun r = run(photos);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_LT(r.seconds, ts::UnderSanitizer() ? 10.0 : 2.0);
    for (const std::string& line : expected)
        EXPECT_NE(r.err.find(line), std::string::npos) << line << " missing from: " << r.err;
    EXPECT_EQ(outFiles(), (std::vector<std::string>{"a.jpg"}));
}

// A FIFO as the settings file or the mask stops the program at once with a
// usage error naming it.
TEST_F(HostileCli, FifoAsSettingsOrMask_IsAUsageErrorWithoutBlocking)
{
    const std::string pipe = file("pipe.ini");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    const ts::ChildRun settings =
        ts::RunProgram(LUMIVANE_CLI, {"--settings", pipe, "--mask", file("mask.bmp"), "--out", file("out"),
                                      photo("a.jpg")});
    EXPECT_EQ(settings.status, 2) << settings.err;
    EXPECT_NE(settings.err.find(pipe + ": not a regular file"), std::string::npos) << settings.err;
    EXPECT_LT(settings.seconds, ts::UnderSanitizer() ? 10.0 : 2.0);

    const std::string maskPipe = file("pipe_mask.jpg");
    ASSERT_EQ(::mkfifo(maskPipe.c_str(), 0600), 0);
    const ts::ChildRun mask = run({photo("a.jpg")}, {}, maskPipe);
    EXPECT_EQ(mask.status, 2) << mask.err;
    EXPECT_NE(mask.err.find("cannot read the mask " + maskPipe + ": " + maskPipe + ": not a regular file"),
              std::string::npos)
        << mask.err;
    EXPECT_LT(mask.seconds, ts::UnderSanitizer() ? 10.0 : 2.0);
    EXPECT_TRUE(outFiles().empty());
}

// A run whose every write fails leaves no folder of its own making behind
// (however deep); a folder that was there before stays.
TEST_F(HostileCli, EveryWriteFailed_RemovesTheOutputFolderItMade)
{
    const std::string a = photo("a.jpg", 64, 48);
    ts::ChildRun made;
    ts::ChildRun existing;
    fs::create_directories(folder.path() / "there");
    {
        lumivane::test_support::FileSizeLimit limit(1000);
        made = ts::RunProgram(LUMIVANE_CLI, {"--settings", file("defaults.ini"), "--mask", file("mask.bmp"),
                                             "--quality", "bmp", "--out", file("new/deeper/"), a});
        existing = ts::RunProgram(LUMIVANE_CLI, {"--settings", file("defaults.ini"), "--mask", file("mask.bmp"),
                                                 "--quality", "bmp", "--out", file("there"), a});
    }
    EXPECT_EQ(made.status, 1) << made.err;
    EXPECT_FALSE(fs::exists(folder.path() / "new")) << made.err;
    EXPECT_EQ(existing.status, 1) << existing.err;
    EXPECT_TRUE(fs::is_directory(folder.path() / "there"));
}

// A JPEG cut in half and a TIFF whose strip lies past its end are written
// with the pixels their decoders made, each reported as damaged on standard
// error and counted in the summary; the run exits with 1 unless
// --allow-damaged, with one job (decoded whole) and two (streamed) alike.
TEST_F(HostileCli, DamagedPhotographs_AreWrittenReportedAndFailTheRunUnlessAllowed)
{
    const std::string intact = photo("a.jpg");
    const std::string cut = photo("cut.jpg");
    const std::vector<std::uint8_t> bytes = ts::CutInItsLastScan(ReadWholeFile(cut));
    WriteFileAtomically(file("cut.jpg"), bytes.data(), bytes.size(), WriteMode::Replace);
    const std::string tiff = ts::DamagedTiffFiles().front();
    for (const char* jobs : {"1", "2"})
        for (const bool allowed : {false, true}) {
            SCOPED_TRACE(std::string("--jobs ") + jobs + (allowed ? " --allow-damaged" : ""));
            fs::remove_all(folder.path() / "out");
            const std::string report = file("report.jsonl");
            std::vector<std::string> args = {"--jobs", jobs, "--report", report};
            if (allowed)
                args.push_back("--allow-damaged");
            args.insert(args.end(), {intact, cut, tiff});
            const ts::ChildRun r = run(args);
            // The report calls the damaged photographs so, with their damage.
            std::ifstream lines(report);
            std::map<std::string, std::string> outcomes;
            for (std::string line; std::getline(lines, line);)
                for (const std::string& source : {intact, cut, tiff})
                    if (line.find("\"source\":\"" + source + "\"") != std::string::npos)
                        outcomes[source] = line;
            EXPECT_NE(outcomes[intact].find("\"outcome\":\"written\",\"reason\":\"\""), std::string::npos)
                << outcomes[intact];
            EXPECT_NE(outcomes[cut].find("\"outcome\":\"damaged\",\"reason\":\"JPEG ends early: "),
                      std::string::npos)
                << outcomes[cut];
            EXPECT_NE(outcomes[tiff].find("\"outcome\":\"damaged\",\"reason\":\"TIFF strip unreadable\""),
                      std::string::npos)
                << outcomes[tiff];
            EXPECT_EQ(r.status, allowed ? 0 : 1) << r.err;
            EXPECT_EQ(outFiles().size(), 3u) << r.err;
            for (const std::string& part :
                 {cut + ": damaged, written as decoded: JPEG ends early: ", std::string(" of 48 rows\n"),
                  tiff + ": damaged, written as decoded: TIFF strip unreadable\n",
                  std::string("3 written, 0 failed, 2 damaged")})
                EXPECT_NE(r.err.find(part), std::string::npos) << part << " missing from: " << r.err;
            EXPECT_EQ(r.err.find(intact + ": damaged"), std::string::npos) << r.err;
        }
}

// A photograph wider than a JPEG can be is refused naming the limit, and
// written once the crop brings it within it; the other photograph is
// written either way.
TEST_F(HostileCli, PhotographTheOutputCannotHold_IsRefusedUnlessTheCropFitsIt)
{
    Bitmap24 wide(70000, 2);
    wide.fill(packColour(120, 130, 140));
    WriteBmpFile(wide, file("wide.bmp"));
    const ts::ChildRun refused = run({file("wide.bmp"), photo("a.jpg")});
    EXPECT_EQ(refused.status, 1) << refused.err;
    EXPECT_NE(refused.err.find("a JPEG of 70000 x 2 pixels cannot be written: a JPEG holds at most 65500 pixels"),
              std::string::npos)
        << refused.err;
    EXPECT_EQ(outFiles(), std::vector<std::string>{"a.jpg"});
    const ts::ChildRun cropped = run({"--crop", "0,0,4500,0", file("wide.bmp")});
    EXPECT_EQ(cropped.status, 0) << cropped.err;
    EXPECT_EQ(outFiles().size(), 2u) << cropped.err;
}

// A settings file that cannot be read (here a folder in its place) stops
// nothing whose every value is on the command line; once a value must come
// from it, the run stops naming it.
TEST_F(HostileCli, UnreadableSettings_MatterOnlyForValuesNotGiven)
{
    fs::create_directories(folder.path() / "settings.ini");
    const std::vector<std::string> given = {"--settings", file("settings.ini"), "--mask", file("mask.bmp"),
                                            "--brightness", "20", "--strength", "30", "--hotspot", "160,120",
                                            "--out", file("out")};
    std::vector<std::string> args = given;
    args.insert(args.end(), {"--quality", "80", photo("a.jpg")});
    const ts::ChildRun all = ts::RunProgram(LUMIVANE_CLI, args);
    EXPECT_EQ(all.status, 0) << all.err;
    EXPECT_EQ(outFiles(), std::vector<std::string>{"a.jpg"});
    args = given;
    args.push_back(photo("b.jpg"));
    const ts::ChildRun missing = ts::RunProgram(LUMIVANE_CLI, args);
    EXPECT_EQ(missing.status, 2) << missing.err;
    EXPECT_NE(missing.err.find(file("settings.ini") + ": is a folder"), std::string::npos) << missing.err;
}

// A stored default mask whose path holds a NUL (the name before it exists)
// is named whole in the message, the NUL shown as an escape.
TEST_F(HostileCli, NulInAStoredPath_DoesNotCutTheMessage)
{
    WriteFileAtomically(file("broken.bmp"), "BM not really", 13, WriteMode::Replace);
    const std::string settings = "30\r\n40\r\n85\r\n" + file("broken.bmp") + std::string(1, '\0') + "tail\r\n";
    WriteFileAtomically(file("nul.ini"), settings.data(), settings.size());
    const ts::ChildRun r = ts::RunProgram(LUMIVANE_CLI, {"--settings", file("nul.ini"), "--out", file("out"),
                                                         photo("a.jpg")});
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("cannot read the mask " + file("broken.bmp") + "\\x00tail: "), std::string::npos) << r.err;
}

// A photograph whose name holds a newline and an escape byte is named with
// visible escapes: nothing of the name reaches the terminal as a control.
TEST_F(HostileCli, ControlCharactersInNames_AreShownAsEscapes)
{
    const std::string hostile = file("bad\nname\x1b[2J.txt");
    WriteFileAtomically(hostile, "x", 1);
    const ts::ChildRun r = run({hostile});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find(file("bad\\nname\\x1b[2J.txt")), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find('\x1b'), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("bad\n"), std::string::npos) << r.err;
}

// A memory limit that is no positive whole number stops the program with a
// usage error naming the variable; nothing is written.
TEST_F(HostileCli, MalformedMemoryLimit_IsAUsageErrorNamingIt)
{
    const ts::ChildRun r = run({photo("a.jpg")}, {"LUMIVANE_MEMORY_LIMIT_MIB=64MB"});
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_NE(r.err.find("LUMIVANE_MEMORY_LIMIT_MIB=\"64MB\" is not a positive whole number of mebibytes"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(fs::exists(folder.path() / "out"));
}

} // namespace
