// SPDX-License-Identifier: GPL-3.0-or-later
// lumivane-cli: its command line, and the real program run in a temporary
// folder: exit statuses, what it writes and what it leaves alone.
#include "CliOptions.h"

#include "BmpCodec.h"
#include "CameraExif.h"
#include "FileIO.h"
#include "HostileFiles.h"
#include "GroundTruth.h"
#include "ImageFile.h"
#include "LensProfile.h"
#include "MaskFolder.h"
#include "MaskGeometry.h"
#include "SavePipeline.h"
#include "JpegCodec.h"
#include "Settings.h"
#include "TestOracles.h"

#include "TiffFiles.h"
#include "CliFolder.h"
#include "SyntheticPictures.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace lumivane;
using lumivane::test_support::GradientPicture;
using lumivane::test_support::GreyFalloffMask;
using lumivane::test_support::FlatPicture;
using namespace lumivane::cli;
namespace fs = std::filesystem;

extern char** environ;

namespace {

// ---- The command line ----

TEST(CliOptions, ValuesAreReadInBothForms)
{
    const CliOptions o = ParseCommandLine({"--out", "dir", "--mask=m.tif", "--brightness", "0", "--strength=100",
                                           "--quality", "bmp", "--crop", "1,2,3,4", "--offset=-150,150", "--turns",
                                           "3", "--hotspot", "319,239", "--jobs", "2", "--quiet", "a.jpg", "--",
                                           "--b.jpg"});
    EXPECT_EQ(o.outDir, "dir");
    EXPECT_EQ(o.maskFile, "m.tif");
    EXPECT_EQ(o.brightness, 0);
    EXPECT_EQ(o.strength, 100);
    EXPECT_EQ(o.quality, kBmpQuality);
    EXPECT_EQ(o.crop.left, 1);
    EXPECT_EQ(o.crop.bottom, 4);
    EXPECT_EQ(o.offsetX, -150);
    EXPECT_EQ(o.offsetY, 150);
    EXPECT_EQ(o.turns, 3);
    EXPECT_EQ(o.hotspot, std::make_pair(319, 239));
    EXPECT_EQ(o.jobs, 2);
    EXPECT_TRUE(o.quiet);
    EXPECT_EQ(o.photos, (std::vector<std::string>{"a.jpg", "--b.jpg"}));
    // Unset values stay unset: the stored ones apply.
    const CliOptions plain = ParseCommandLine({"--out", "d", "x.jpg"});
    EXPECT_FALSE(plain.brightness || plain.strength || plain.quality || plain.hotspot);
    EXPECT_TRUE(ParseCommandLine({"--help"}).help);
    EXPECT_TRUE(ParseCommandLine({"--version"}).version);
}

TEST(CliOptions, MalformedOrOutOfRangeIsAUsageError)
{
    const std::vector<std::vector<std::string>> bad = {
        {"x.jpg"},                                     // no --out
        {"--out", "d"},                                // no photograph
        {"--out"},                                     // no value
        {"--out", "d", "--brightness", "51", "x.jpg"}, // out of range
        {"--out", "d", "--strength", "-1", "x.jpg"},
        {"--out", "d", "--quality", "0", "x.jpg"},
        {"--out", "d", "--quality", "101", "x.jpg"},
        {"--out", "d", "--quality", "9x", "x.jpg"},
        {"--out", "d", "--crop", "1,2,3", "x.jpg"},
        {"--out", "d", "--crop", "1,2,3,-4", "x.jpg"},
        {"--out", "d", "--crop", "1,2,3,99999999999", "x.jpg"},
        {"--out", "d", "--offset", "151,0", "x.jpg"},
        {"--out", "d", "--turns", "4", "x.jpg"},
        {"--out", "d", "--hotspot", "10,240", "x.jpg"},
        {"--out", "d", "--jobs", "0", "x.jpg"},
        {"--out", "d", "--colour", "x.jpg"},
    };
    for (const auto& args : bad) {
        std::string line;
        for (const auto& a : args)
            line += a + " ";
        EXPECT_THROW(ParseCommandLine(args), UsageError) << line;
    }
}

TEST(CliOptions, FormatDepthAndQuality)
{
    const CliOptions tiff = ParseCommandLine({"--out", "d", "--format", "tiff", "--depth=16", "a.jpg"});
    EXPECT_EQ(tiff.format, OutputFormat::Tiff);
    EXPECT_EQ(tiff.depth, 16);
    EXPECT_EQ(ParseCommandLine({"--out", "d", "--format=tiff", "a.jpg"}).depth, 0);

    // The quality slider position of the run, from a stored 85 and a stored BMP.
    const struct {
        std::vector<std::string> args;
        int from85, fromBmp;
    } rows[] = {
        {{}, 85, kBmpQuality},
        {{"--format", "bmp"}, kBmpQuality, kBmpQuality},
        {{"--format", "jpeg"}, 85, 90},
        {{"--format", "jpeg", "--quality", "70"}, 70, 70},
        {{"--quality", "bmp", "--format", "bmp"}, kBmpQuality, kBmpQuality},
        {{"--format", "tiff"}, 85, kBmpQuality},
    };
    for (const auto& r : rows) {
        std::vector<std::string> args = {"--out", "d"};
        args.insert(args.end(), r.args.begin(), r.args.end());
        args.push_back("a.jpg");
        const CliOptions o = ParseCommandLine(args);
        EXPECT_EQ(ResolveQuality(o, 85), r.from85) << args[2];
        EXPECT_EQ(ResolveQuality(o, kBmpQuality), r.fromBmp) << args[2];
    }

    const std::vector<std::vector<std::string>> bad = {
        {"--out", "d", "--format", "tif", "a.jpg"},
        {"--out", "d", "--format", "TIFF", "a.jpg"},
        {"--out", "d", "--format", "tiff", "--depth", "12", "a.jpg"},
        {"--out", "d", "--depth", "16", "a.jpg"}, // a depth without TIFF
        {"--out", "d", "--format", "jpeg", "--depth", "8", "a.jpg"},
        {"--out", "d", "--format", "tiff", "--quality", "90", "a.jpg"},
        {"--out", "d", "--format", "jpeg", "--quality", "bmp", "a.jpg"},
        {"--out", "d", "--quality", "90", "--format", "bmp", "a.jpg"},
    };
    for (const auto& args : bad)
        EXPECT_THROW(ParseCommandLine(args), UsageError) << args[2] << " " << args[3] << " " << args[4];
}

TEST(CliOptions, MethodAndColourOption)
{
    const CliOptions o = ParseCommandLine({"--out", "d", "--method", "exact", "--colour=falloff", "a.jpg"});
    EXPECT_EQ(o.method, CorrectionMethod::Exact);
    EXPECT_EQ(o.colour, ColourOption::FalloffOnly);
    EXPECT_FALSE(ParseCommandLine({"--out", "d", "a.jpg"}).method);

    const std::vector<std::vector<std::string>> bad = {
        {"--out", "d", "--method", "linear", "a.jpg"},
        {"--out", "d", "--method", "Exact", "a.jpg"},
        {"--out", "d", "--method", "exact", "--colour", "grey", "a.jpg"},
        {"--out", "d", "--method", "additive", "--colour", "both", "a.jpg"}, // no colour in the additive method
        {"--out", "d", "--colour", "both", "--method=additive", "a.jpg"},
    };
    for (const auto& args : bad)
        EXPECT_THROW(ParseCommandLine(args), UsageError) << args[3] << " " << args[4];

    // The command line over the stored mode; a colour alone needs a stored
    // exact method.
    const CorrectionMode storedExact{CorrectionMethod::Exact, ColourOption::ColourOnly};
    const CorrectionMode additive{};
    EXPECT_EQ(ResolveMode(ParseCommandLine({"--out", "d", "a.jpg"}), storedExact), storedExact);
    EXPECT_EQ(ResolveMode(ParseCommandLine({"--out", "d", "--colour", "both", "a.jpg"}), storedExact),
              (CorrectionMode{CorrectionMethod::Exact, ColourOption::FalloffAndColour}));
    EXPECT_EQ(ResolveMode(ParseCommandLine({"--out", "d", "--method", "additive", "a.jpg"}), storedExact).method,
              CorrectionMethod::Additive);
    EXPECT_EQ(ResolveMode(ParseCommandLine({"--out", "d", "--method", "exact", "a.jpg"}), additive),
              (CorrectionMode{CorrectionMethod::Exact, ColourOption::FalloffAndColour}));
    EXPECT_THROW(ResolveMode(ParseCommandLine({"--out", "d", "--colour", "colour", "a.jpg"}), additive), UsageError);
}

// ---- The program ----

void writeText(const std::string& path, const std::string& text)
{
    WriteFileAtomically(path, text.data(), text.size());
}

struct Outcome {
    int status = -1;
    std::string err;
};

class Program : public ::testing::Test {
protected:
    static Bitmap24 roundMask()
    {
        Bitmap24 m(60, 40);
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 60; ++x) {
                const auto v = std::uint8_t(230 - ((x - 30) * (x - 30) + (y - 20) * (y - 20)) / 12);
                m.setPixel(x, y, packColour(v, v, std::uint8_t(v - 5)));
            }
        return m;
    }

    std::string photo(const std::string& name, int w = 60, int h = 40, int seed = 0)
    {
        const std::string path = (dir_ / name).string();
        SaveJpegFile(GradientPicture(w, h, seed), 90, path);
        return path;
    }

    // Starts the program; the caller waits (or signals first).
    pid_t start(std::vector<std::string> args)
    {
        args.insert(args.begin(), LUMIVANE_CLI);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        const std::string errFile = (dir_ / "stderr.txt").string();
        posix_spawn_file_actions_addopen(&actions, 2, errFile.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        pid_t pid = -1;
        EXPECT_EQ(posix_spawn(&pid, LUMIVANE_CLI, &actions, nullptr, argv.data(), environ), 0);
        posix_spawn_file_actions_destroy(&actions);
        return pid;
    }
    Outcome finish(pid_t pid)
    {
        Outcome r;
        int status = 0;
        waitpid(pid, &status, 0);
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        std::ifstream in(dir_ / "stderr.txt");
        r.err.assign(std::istreambuf_iterator<char>(in), {});
        return r;
    }
    Outcome run(const std::vector<std::string>& args) { return finish(start(args)); }

    std::vector<std::string> base() { return {"--settings", settings_, "--mask", mask_, "--out", out()}; }
    std::string out() const { return (dir_ / "out").string(); }
    std::vector<std::string> outFiles() const
    {
        std::vector<std::string> names;
        if (fs::exists(out()))
            for (const auto& e : fs::directory_iterator(out()))
                names.push_back(e.path().filename().string());
        std::sort(names.begin(), names.end());
        return names;
    }

    // The mask and the stored defaults (no stored mask: the program must not
    // read the defaults.ini of whoever runs the tests).
    lumivane::test_support::CliFolder folder_{"lumivane-cli", roundMask()};
    const fs::path dir_ = folder_.path();
    const std::string mask_ = folder_.file("mask.bmp");
    const std::string settings_ = folder_.file("defaults.ini");
};

TEST_F(Program, AllWritten_ExitsZero)
{
    auto args = base();
    args.push_back(photo("a.jpg"));
    args.push_back(photo("b.jpg", 90, 50, 3));
    args.push_back(photo("c.JPEG", 30, 20, 5)); // a long extension keeps its stem
    const Outcome r = run(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(outFiles(), (std::vector<std::string>{"a.jpg", "b.jpg", "c.jpg"}));
    EXPECT_NE(r.err.find("3 written, 0 failed"), std::string::npos) << r.err;
}

// A broken line of the settings file is named and passed over; the rest of
// the file (here the stored default mask) still serves.
TEST_F(Program, BrokenSettingsLines_AreNamedAndTheRestServes)
{
    const std::string p = photo("a.jpg");
    writeText(settings_, "30\r\nabc\r\n85\r\n" + mask_ + "\r\n120\r\n");
    const Outcome r = run({"--settings", settings_, "--out", out(), p});
    ASSERT_EQ(r.status, 0) << r.err;
    for (int line : {2, 6, 7, 8, 9})
        EXPECT_NE(r.err.find("lumivane-cli: warning: defaults.ini line " + std::to_string(line) + " ignored\n"),
                  std::string::npos)
            << r.err;
    EXPECT_EQ(r.err.find("line 1 "), std::string::npos) << r.err;

    // The same as a sound file with the broken line's default (strength 0).
    const std::string sound = (dir_ / "sound.ini").string();
    writeText(sound, "30\r\n0\r\n85\r\n" + mask_ + "\r\n");
    const std::string again = (dir_ / "again").string();
    const Outcome s = run({"--settings", sound, "--out", again, p});
    ASSERT_EQ(s.status, 0) << s.err;
    EXPECT_EQ(s.err.find("ignored"), std::string::npos) << s.err;
    EXPECT_EQ(ReadWholeFile(out() + "/a.jpg"), ReadWholeFile(again + "/a.jpg"));
}

TEST_F(Program, UnreadableInTheMiddle_OthersWrittenExitsOne)
{
    auto args = base();
    args.push_back(photo("a.jpg"));
    writeText((dir_ / "b.jpg").string(), "not a jpeg");
    args.push_back((dir_ / "b.jpg").string());
    args.push_back((dir_ / "c.gif").string());
    args.push_back(photo("d.jpg"));
    const Outcome r = run(args);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(outFiles(), (std::vector<std::string>{"a.jpg", "d.jpg"}));
    EXPECT_NE(r.err.find("unreadable: " + (dir_ / "b.jpg").string()), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("unsupported name: " + (dir_ / "c.gif").string()), std::string::npos) << r.err;
}

TEST_F(Program, UsageMaskAndFolderErrors_ExitTwoWritingNothing)
{
    const std::string p = photo("a.jpg");
    writeText((dir_ / "plain").string(), "a file");
    writeText((dir_ / "broken.jpg").string(), "\xFF\xD8 broken");
    struct Case {
        const char* name;
        std::vector<std::string> args;
        const char* says;
    };
    const std::vector<Case> cases = {
        {"no mask stored", {"--settings", settings_, "--out", out(), p}, "no mask"},
        {"missing mask", {"--settings", settings_, "--mask", (dir_ / "none.bmp").string(), "--out", out(), p},
         "cannot read the mask"},
        {"broken mask", {"--settings", settings_, "--mask", (dir_ / "broken.jpg").string(), "--out", out(), p},
         "cannot read the mask"},
        {"missing settings", {"--settings", (dir_ / "no.ini").string(), "--mask", mask_, "--out", out(), p},
         "settings file"},
        {"folder below a file", {"--settings", settings_, "--mask", mask_, "--out", (dir_ / "plain/sub").string(), p},
         "cannot make the output folder"},
        {"bad option", {"--strength", "300", "--out", out(), p}, "--strength"},
        {"mask is a folder", {"--settings", settings_, "--mask", dir_.string(), "--out", out(), p},
         ": is a folder (use --mask-folder)"},
        // Last, where a value would follow an option that takes one.
        {"unknown last option", {"--settings", settings_, "--mask", mask_, "--out", out(), p, "--bogus"},
         "unknown option --bogus"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Outcome r = run(c.args);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_TRUE(outFiles().empty());
    }
}

TEST_F(Program, FormatTiff_WritesTifFilesOfTheDepthAsked_BmpEqualsQualityBmp)
{
    const std::string a = photo("a.jpg"), b = photo("b.JPG", 31, 17, 9);
    const struct {
        std::vector<std::string> extra;
        std::vector<std::string> files;
        int bits; // of the TIFFs; 0: none
    } rows[] = {
        {{"--format", "tiff"}, {"a.tif", "b.tif"}, 8},
        {{"--format", "tiff", "--depth", "16"}, {"a.tif", "b.tif"}, 16},
        {{"--format", "bmp"}, {"a.bmp", "b.bmp"}, 0},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.extra.back());
        fs::remove_all(out());
        auto args = base();
        args.insert(args.end(), row.extra.begin(), row.extra.end());
        args.insert(args.end(), {a, b});
        const Outcome r = run(args);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(outFiles(), row.files);
        if (row.bits) {
            const auto back = lumivane::testing::ReadTiffBack(out() + "/b.tif");
            EXPECT_EQ(back.bits, row.bits);
            EXPECT_EQ(back.width, 31u);
            EXPECT_EQ(back.compression, COMPRESSION_ADOBE_DEFLATE);
        }
    }
    // --format bmp writes the files of --quality bmp.
    const std::vector<std::uint8_t> viaFormat = ReadWholeFile(out() + "/a.bmp");
    fs::remove_all(out());
    auto args = base();
    args.insert(args.end(), {"--quality", "bmp", a});
    EXPECT_EQ(run(args).status, 0);
    EXPECT_EQ(ReadWholeFile(out() + "/a.bmp"), viaFormat);
}

// A TIFF photograph's camera facts reach its JPEG output through the real
// program (read back by the program's own reader).
TEST_F(Program, TiffPhotograph_ItsCameraFactsReachItsJpegOutput)
{
    const std::string tiff = (dir_ / "scan.tif").string();
    lumivane::testing::WriteCameraTiff(tiff, GradientPicture(60, 40),
                                       lumivane::testing::Camera("OLYMPUS", "E-M5", 5.6, 25, "M.12-40mm F2.8"));
    const CameraFacts source = ReadCameraFacts(tiff);
    ASSERT_EQ(source.make, "OLYMPUS");
    auto args = base();
    args.insert(args.end(), {"--format", "jpeg", tiff});
    const Outcome r = run(args);
    ASSERT_EQ(r.status, 0) << r.err;
    const CameraFacts written = ReadCameraFacts(out() + "/scan.jpg");
    EXPECT_EQ(written.make, source.make);
    EXPECT_EQ(written.model, source.model);
    EXPECT_EQ(written.lens, source.lens);
    EXPECT_DOUBLE_EQ(written.fNumber, source.fNumber);
    EXPECT_DOUBLE_EQ(written.focalLength, source.focalLength);
}

// A maker note that cannot move into a TIFF output (Canon's counts its
// offsets from the file's TIFF header) is named on a warning line and in
// the report; a photograph without one is not.
TEST_F(Program, DroppedMakerNote_WarnedAndReported)
{
    const std::string canon = (dir_ / "canon.jpg").string();
    fs::copy_file(fs::path(LUMIVANE_SAMPLES_DIR) / "exif" / "ianare_Canon_PowerShot_S40.jpg", canon);
    const std::string plain = photo("plain.jpg");
    const std::string report = (dir_ / "report.jsonl").string();
    const struct {
        const char* format;
        bool dropped; // of canon.jpg
    } rows[] = {{"tiff", true}, {"jpeg", false}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.format);
        fs::remove_all(out());
        auto args = base();
        args.insert(args.end(), {"--format", row.format, "--report", report, canon, plain});
        const Outcome r = run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        const std::string warning = "lumivane-cli: warning: " + canon + ": its maker note could not be kept\n";
        EXPECT_EQ(r.err.find(warning) != std::string::npos, row.dropped) << r.err;
        EXPECT_EQ(r.err.find(plain + ": its maker note"), std::string::npos) << r.err;
        std::ifstream in(report);
        int lines = 0;
        for (std::string line; std::getline(in, line); ++lines) {
            const bool isCanon = line.find("canon.jpg") != std::string::npos;
            const bool expected = isCanon && row.dropped;
            EXPECT_NE(line.find(std::string("\"maker_note_dropped\":") + (expected ? "true" : "false")),
                      std::string::npos)
                << line;
        }
        EXPECT_EQ(lines, 2);
    }
}

TEST_F(Program, SixteenBitTiff_KeepsItsDepth_UnlessEightAreAsked)
{
    // A 16-bit RGB photograph and a 16-bit flat field of its size.
    const int width = 60, height = 40;
    auto write16 = [&](const std::string& name, bool flat) {
        const std::string path = (dir_ / name).string();
        TIFF* t = TIFFOpen(path.c_str(), "w");
        TIFFSetField(t, TIFFTAG_IMAGEWIDTH, width);
        TIFFSetField(t, TIFFTAG_IMAGELENGTH, height);
        TIFFSetField(t, TIFFTAG_SAMPLESPERPIXEL, 3);
        TIFFSetField(t, TIFFTAG_BITSPERSAMPLE, 16);
        TIFFSetField(t, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
        std::vector<std::uint16_t> row(std::size_t(width) * 3);
        for (int y = 0; y < height; ++y) {
            for (int x = 0; x < width; ++x)
                for (int c = 0; c < 3; ++c) {
                    const int r2 = (x - 30) * (x - 30) + (y - 20) * (y - 20);
                    row[std::size_t(x * 3 + c)] =
                        std::uint16_t(flat ? 52000 - r2 * 12 : 9000 + x * 700 + y * 300 + c * 1111 + (x * y) % 255);
                }
            TIFFWriteScanline(t, row.data(), std::uint32_t(y), 0);
        }
        TIFFClose(t);
        return path;
    };
    const std::string photo16 = write16("deep.tif", false);
    const std::string mask16 = write16("flat16.tif", true);
    const struct {
        std::vector<std::string> extra;
        int bits;
        bool between; // values between the 8-bit steps
    } rows[] = {
        {{"--method", "exact", "--format", "tiff"}, 16, true},
        {{"--method", "exact", "--format", "tiff", "--depth", "8"}, 8, false},
        {{"--method", "additive", "--format", "tiff"}, 16, false}, // the 8-bit result x 257
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.extra.front() + " " + row.extra[1] + " " + std::to_string(row.bits));
        fs::remove_all(out());
        std::vector<std::string> args = {"--settings", settings_, "--mask", mask16, "--out", out()};
        args.insert(args.end(), row.extra.begin(), row.extra.end());
        args.push_back(photo16);
        const Outcome r = run(args);
        ASSERT_EQ(r.status, 0) << r.err;
        const auto back = lumivane::testing::ReadTiffBack(out() + "/deep.tif");
        EXPECT_EQ(back.bits, row.bits);
        if (row.bits == 16) {
            const bool between = std::any_of(back.samples.begin(), back.samples.end(),
                                             [](std::uint16_t v) { return v % 257 != 0; });
            EXPECT_EQ(between, row.between);
        }
    }
}

TEST_F(Program, ExistingOutput_IsKeptAndTheNewOneTakesATickName)
{
    fs::create_directories(out());
    writeText(out() + "/a.jpg", "mine");
    auto args = base();
    args.push_back(photo("a.jpg"));
    args.push_back("--quality");
    args.push_back("bmp");
    writeText(out() + "/a.bmp", "mine too");
    const Outcome r = run(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadWholeFile(out() + "/a.bmp"), std::vector<std::uint8_t>({'m', 'i', 'n', 'e', ' ', 't', 'o', 'o'}));
    const auto files = outFiles();
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0].rfind("a.", 0), 0u);
    EXPECT_EQ(files[0].substr(files[0].size() - 4), ".bmp");
    EXPECT_NE(files[0], "a.bmp");
}

// The stored settings apply unless given, and the photograph's EXIF is
// carried: the file equals a save made in process with the same values.
TEST_F(Program, StoredSettingsAndExif_MatchAnInProcessSave)
{
    const std::string source = (dir_ / "camera.jpg").string();
    fs::copy_file(LUMIVANE_SAMPLES_DIR "/exif/ianare_canon-ixus.jpg", source);
    auto args = base();
    args.push_back(source);
    args.push_back("--offset=5,-3");
    const Outcome r = run(args);
    ASSERT_EQ(r.status, 0) << r.err;

    TJPEGImage jpeg;
    jpeg.Smoothing = false;
    jpeg.LoadFromFile(source);
    const Bitmap24 photoBitmap = jpeg.Decode();
    Bitmap24 maskFull(photoBitmap.width(), photoBitmap.height());
    stretchDraw(ReadBmpFile(mask_), maskFull);
    const HotspotLevels levels = SampleCentreLevels(maskFull);
    SavePipeline pipeline(1);
    const std::string expected = (dir_ / "expected.jpg").string();
    pipeline.SaveCorrectedJpeg(photoBitmap, maskFull,
                               FullSizeRegion(5, -3, photoBitmap.width(), photoBitmap.height()),
                               DampingForStrength(40), TargetsFor(levels.r, levels.g, levels.b, 30), CropMargins{},
                               85, source, OutputTarget(expected));
    EXPECT_EQ(ReadWholeFile(out() + "/camera.jpg"), ReadWholeFile(expected));
}

// Ctrl-C in the middle: finished outputs stay whole, nothing temporary is
// left, the summary says what was not done.
TEST_F(Program, Interrupt_LeavesFinishedFilesAndNoTemporaries)
{
    auto args = base();
    args.push_back("--jobs=1");
    for (int i = 0; i < 40; ++i)
        args.push_back(photo("p" + std::to_string(i) + ".jpg", 800, 600, i));
    const pid_t pid = start(args);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (outFiles().size() < 2 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    ::kill(pid, SIGINT);
    const Outcome r = finish(pid);
    const auto files = outFiles();
    if (files.size() == 40u) // finished before the signal landed: nothing to check
        GTEST_SKIP() << "the batch ended before the interrupt";
    EXPECT_EQ(r.status, 130) << r.err;
    EXPECT_NE(r.err.find("not done (stopped)"), std::string::npos) << r.err;
    for (const auto& name : files) {
        EXPECT_EQ(name.find(kTemporarySuffix), std::string::npos) << name;
        TJPEGImage check;
        EXPECT_NO_THROW(check.LoadFromFile(out() + "/" + name)) << name;
        EXPECT_EQ(check.Width(), 800) << name;
    }
}

// A second Ctrl-C abandons the decode in progress: the large progressive
// photograph being read is not written and is listed as not done, while the
// one finished before stays.
TEST_F(Program, SecondInterrupt_AbandonsTheDecodeInProgress)
{
    const std::vector<std::uint8_t> large = lumivane::test_support::PatternProgressiveJpeg(6000, 4000, 90);
    const std::string slow = (dir_ / "slow.jpg").string();
    WriteFileAtomically(slow, large);
    auto args = base();
    args.insert(args.end(), {"--jobs=1", photo("first.jpg"), slow});
    const pid_t pid = start(args);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (outFiles().empty() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    // The large photograph is being read now: stop, then abandon.
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ::kill(pid, SIGINT);
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    ::kill(pid, SIGINT);
    const Outcome r = finish(pid);
    const auto files = outFiles();
    if (files.size() == 2u)
        GTEST_SKIP() << "the large photograph was written before the interrupts landed";
    EXPECT_EQ(files, std::vector<std::string>{"first.jpg"});
    EXPECT_EQ(r.status, 130) << r.err;
    EXPECT_NE(r.err.find("not done: " + slow + " (stopped while it was read)"), std::string::npos) << r.err;
}

TEST_F(Program, HelpAndVersion)
{
    Outcome r = run({"--help"});
    EXPECT_EQ(r.status, 0);
    r = run({"--version"});
    EXPECT_EQ(r.status, 0);
    // -V is --version (not an unknown option, which is exit 2).
    r = run({"-V"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    r = run({});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--out DIR is missing"), std::string::npos) << r.err;
}

// ---- The mask folder and the mask check ----

TEST(CliOptions, MaskFolderAndSmoothing)
{
    const CliOptions o = ParseCommandLine({"--out", "d", "--mask-folder=masks", "--smooth-mask", "a.jpg"});
    EXPECT_EQ(o.maskFolder, "masks");
    EXPECT_TRUE(o.smoothMask);
    EXPECT_FALSE(ParseCommandLine({"--out", "d", "a.jpg"}).smoothMask);
    EXPECT_THROW(ParseCommandLine({"--out", "d", "a.jpg", "--mask-folder"}), UsageError);
}

TEST_F(Program, MaskFolder_EachPhotographGetsItsMask)
{
    using lumivane::testing::Camera;
    const fs::path masks = dir_ / "masks";
    fs::create_directories(masks);
    const int centres[] = {220, 200, 180};
    const double stops[] = {4, 8, 16};
    std::vector<std::string> photos;
    for (int i = 0; i < 3; ++i) {
        const std::string name = "f" + std::to_string(int(stops[i])) + ".jpg";
        lumivane::testing::WriteCameraJpeg((masks / name).string(), GreyFalloffMask(60, 40, centres[i]),
                                           Camera("Canon", "EOS 5D", stops[i], 50));
        photos.push_back((dir_ / ("p" + std::to_string(i) + ".jpg")).string());
        lumivane::testing::WriteCameraJpeg(photos.back(), GreyFalloffMask(60, 40, 120 + 20 * i),
                                           Camera("Canon", "EOS 5D", stops[i], 50));
    }
    const std::string stranger = (dir_ / "stranger.jpg").string();
    lumivane::testing::WriteCameraJpeg(stranger, GreyFalloffMask(60, 40, 100), Camera("PENTAX", "K-1", 4, 50));

    // Without a fallback the stranger fails and the others are written.
    std::vector<std::string> args = {"--settings", settings_, "--mask-folder", masks.string(), "--out", out()};
    args.insert(args.end(), photos.begin(), photos.end());
    args.push_back(stranger);
    Outcome r = run(args);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(outFiles(), (std::vector<std::string>{"p0.jpg", "p1.jpg", "p2.jpg"}));
    for (int i = 0; i < 3; ++i)
        EXPECT_NE(r.err.find("  " + photos[std::size_t(i)] + ": f" + std::to_string(int(stops[i])) + ".jpg\n"),
                  std::string::npos)
            << r.err;
    EXPECT_NE(r.err.find("  " + stranger + ": none\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("no mask: " + stranger + " (no mask of the folder matches PENTAX K-1, F4, 50 mm)"),
              std::string::npos)
        << r.err;

    // Each output is what the chosen mask alone gives.
    const std::vector<std::uint8_t> chosen = ReadWholeFile(out() + "/p1.jpg");
    fs::remove_all(out());
    r = run({"--settings", settings_, "--mask", (masks / "f8.jpg").string(), "--out", out(), photos[1]});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(ReadWholeFile(out() + "/p1.jpg"), chosen);

    // --mask is the fallback for the photograph that matches nothing.
    fs::remove_all(out());
    args = {"--settings", settings_, "--mask-folder", masks.string(), "--mask", mask_, "--out", out(), stranger};
    r = run(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("  " + stranger + ": mask.bmp (no match in the folder)\n"), std::string::npos) << r.err;
    // --quiet: nothing on success, the mask list with the counts on failure.
    args.push_back("--quiet");
    r = run(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");
    args = {"--quiet", "--settings", settings_, "--mask-folder", masks.string(), "--out", out(), stranger};
    r = run(args);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("  " + stranger + ": none\n"), std::string::npos) << r.err;

    // A folder that is not there is a usage error.
    r = run({"--settings", settings_, "--mask-folder", (dir_ / "nowhere").string(), "--out", out(), stranger});
    EXPECT_EQ(r.status, 2) << r.err;
}

TEST_F(Program, MaskCheck_WarnsOnStandardErrorAndSmoothingQuietsTexture)
{
    // A dark mask with a coarse checker texture.
    Bitmap24 bad = GreyFalloffMask(300, 200, 50);
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 300; ++x)
            if ((x / 2 + y / 2) % 2)
                bad.setPixel(x, y, packColour(30, 30, 30));
    const std::string badMask = (dir_ / "bad.bmp").string();
    WriteFileAtomically(badMask, EncodeBmp(bad));
    const std::string p = photo("a.jpg");

    Outcome r = run({"--settings", settings_, "--mask", badMask, "--out", out(), p});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("lumivane-cli: warning: mask " + badMask + ": Too dark"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("lumivane-cli: warning: mask " + badMask + ": Texture or dust"), std::string::npos) << r.err;

    r = run({"--settings", settings_, "--mask", badMask, "--smooth-mask", "--out", out(), p});
    EXPECT_EQ(r.err.find("Texture or dust"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("Too dark"), std::string::npos) << r.err;

    r = run({"--settings", settings_, "--mask", mask_, "--out", out(), p});
    EXPECT_EQ(r.err.find("warning"), std::string::npos) << r.err;
}

TEST_F(Program, MethodFromTheLumivaneIniBesideTheSettings_FlagsOverIt_ColourWithAdditiveIsAUsageError)
{
    const std::string p = photo("a.jpg");
    const std::string ini = (dir_ / "lumivane.ini").string();
    const auto runWith = [&](const std::vector<std::string>& extra) {
        fs::remove_all(out());
        std::vector<std::string> args = {"--settings", settings_, "--mask", mask_, "--out", out()};
        args.insert(args.end(), extra.begin(), extra.end());
        args.push_back(p);
        return run(args);
    };
    const auto written = [&](const std::vector<std::string>& extra) {
        const Outcome r = runWith(extra);
        EXPECT_EQ(r.status, 0) << r.err;
        return std::make_pair(ReadWholeFile(out() + "/a.jpg"), r.err);
    };

    // No lumivane.ini: the additive method, --strength used.
    const auto additive = written({});
    EXPECT_NE(written({"--strength", "90"}).first, additive.first);
    const auto exactByFlags = written({"--method", "exact", "--colour", "falloff"});
    EXPECT_NE(exactByFlags.first, additive.first);
    EXPECT_NE(written({"--method", "exact"}).first, exactByFlags.first);
    // The exact method ignores --strength with a warning line.
    const auto withStrength = written({"--method", "exact", "--colour", "falloff", "--strength", "90"});
    EXPECT_EQ(withStrength.first, exactByFlags.first);
    EXPECT_NE(withStrength.second.find("lumivane-cli: warning: --strength is ignored"), std::string::npos)
        << withStrength.second;
    EXPECT_EQ(exactByFlags.second.find("warning"), std::string::npos) << exactByFlags.second;

    // The same mode stored beside the settings file gives the same bytes.
    writeText(ini, "method=exact\r\ncolour=falloff\r\n");
    EXPECT_EQ(written({}).first, exactByFlags.first);
    EXPECT_EQ(written({"--method", "additive"}).first, additive.first);
    EXPECT_EQ(written({"--colour", "falloff"}).first, exactByFlags.first);
    // A file without the method's lines: additive.
    writeText(ini, "mask_folder=/nowhere\r\n");
    EXPECT_EQ(written({}).first, additive.first);

    // --colour with the additive method, given or stored: exit 2, nothing written.
    for (const std::vector<std::string>& extra :
         {std::vector<std::string>{"--colour", "both"}, std::vector<std::string>{"--method", "additive", "--colour", "colour"}}) {
        const Outcome r = runWith(extra);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_NE(r.err.find("--colour"), std::string::npos) << r.err;
        EXPECT_TRUE(outFiles().empty());
    }
}

// ---- Lens profiles ----

TEST(CliOptions, LensProfileOptions)
{
    const CliOptions o = ParseCommandLine({"--out", "d", "--lens-profile", "--lens", "EF 50mm f/1.8", "a.jpg"});
    EXPECT_TRUE(o.lensProfile);
    EXPECT_EQ(o.lens, "EF 50mm f/1.8");
    EXPECT_FALSE(ParseCommandLine({"--out", "d", "a.jpg"}).lensProfile);
    // Listing lenses needs neither an output folder nor photographs.
    EXPECT_EQ(ParseCommandLine({"--list-lenses", "24-105"}).listLenses, "24-105");
    EXPECT_TRUE(ParseCommandLine({"--out", "d", "--mask-folder", "m", "--mask", "f.jpg", "--lens-profile", "a.jpg"})
                    .lensProfile);

    const std::vector<std::vector<std::string>> bad = {
        {"--out", "d", "--method", "additive", "--lens-profile", "a.jpg"}, // a profile is corrected exactly
        {"--out", "d", "--lens-profile", "--method=additive", "a.jpg"},
        {"--out", "d", "--lens", "EF 50mm f/1.8", "a.jpg"},                // --lens without --lens-profile
        {"--out", "d", "--lens-profile", "--mask", "f.jpg", "a.jpg"},      // a mask for no one
        {"--out", "d", "--lens-profile", "a.jpg", "--lens"},
        {"--list-lenses"},
    };
    for (const auto& args : bad)
        EXPECT_THROW(ParseCommandLine(args), UsageError) << args.size();
}

namespace lens {

// A full-frame camera and a zoom the database holds a vignetting profile
// for, wide open at the short end.
lumivane::testing::CameraExif zoomWideOpen(const std::string& lensName = "EF24-105mm f/4L IS USM")
{
    return lumivane::testing::Camera("Canon", "Canon EOS 5D Mark II", 4, 24, lensName);
}

} // namespace lens

TEST_F(Program, LensProfile_EachPhotographItsProfileTheOthersNamedAndSkipped)
{
    const std::string zoom = (dir_ / "zoom.jpg").string();
    lumivane::testing::WriteCameraJpeg(zoom, FlatPicture(90, 60, 150), lens::zoomWideOpen());
    const std::string bare = (dir_ / "bare.jpg").string();
    lumivane::testing::WriteCameraJpeg(bare, FlatPicture(90, 60, 150), lumivane::testing::CameraExif{});
    const std::string noLens = (dir_ / "nolens.jpg").string();
    lumivane::testing::WriteCameraJpeg(noLens, FlatPicture(90, 60, 150), lens::zoomWideOpen(""));

    Outcome r = run({"--settings", settings_, "--brightness", "25", "--quality", "bmp", "--lens-profile", "--out",
                     out(), zoom, bare, noLens});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(outFiles(), (std::vector<std::string>{"zoom.bmp"}));
    // The stored method is additive: the profile switches it, and says so.
    EXPECT_NE(r.err.find("Lens profile: exact correction used\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("  " + zoom + ": lens profile (Canon EF 24-105mm f/4L IS USM, 24 mm, F4)\n"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("no mask: " + bare + " (No lens profile for unknown camera / unknown lens)"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("no mask: " + noLens + " (No lens profile for Canon EOS 5D Mark II / unknown lens)"),
              std::string::npos)
        << r.err;

    // The output is the photograph divided by the profile's mask in linear
    // light, as the exact method corrects it in this process.
    Bitmap24 photo;
    ASSERT_TRUE(DecodeBySuffix(zoom, photo, JpegSmoothing::Off));
    const ProfileLookup lookup = LensDatabase::Instance().Find(ReadLensFacts(zoom));
    ASSERT_TRUE(lookup.profile);
    const Bitmap24 expected = truth::CorrectInProcess(
        photo, RenderProfileMask(*lookup.profile, 90, 60), CorrectionMode{CorrectionMethod::Exact, {}}, 0);
    const Bitmap24 written = ReadBmpFile(out() + "/zoom.bmp");
    EXPECT_TRUE(written == expected);
    // Wide open the corners were dark: they are lifted.
    EXPECT_GT(written.scanLine(0)[0], photo.scanLine(0)[0] + 5);

    // --lens names the lens the EXIF left out.
    fs::remove_all(out());
    r = run({"--settings", settings_, "--quality", "bmp", "--lens-profile", "--lens", "EF24-105mm f/4L IS USM",
             "--out", out(), noLens});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(outFiles(), (std::vector<std::string>{"nolens.bmp"}));

    // And wins over the lens the EXIF names.
    fs::remove_all(out());
    r = run({"--settings", settings_, "--lens-profile", "--lens", "no such lens", "--out", out(), zoom});
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find("No lens profile for Canon EOS 5D Mark II / no such lens"), std::string::npos) << r.err;

    // The additive method asked for with a profile is a usage error.
    r = run({"--settings", settings_, "--method", "additive", "--lens-profile", "--out", out(), zoom});
    EXPECT_EQ(r.status, 2) << r.err;
}

TEST_F(Program, LensProfile_MaskFolderFallsBackToTheProfile)
{
    using lumivane::testing::Camera;
    const fs::path masks = dir_ / "masks";
    fs::create_directories(masks);
    lumivane::testing::WriteCameraJpeg((masks / "flat.jpg").string(), GreyFalloffMask(60, 40, 220),
                             Camera("Canon", "EOS 5D", 8, 50));
    const std::string matched = (dir_ / "matched.jpg").string();
    lumivane::testing::WriteCameraJpeg(matched, GreyFalloffMask(60, 40, 150), Camera("Canon", "EOS 5D", 8, 50));
    const std::string zoom = (dir_ / "zoom.jpg").string();
    lumivane::testing::WriteCameraJpeg(zoom, FlatPicture(60, 40, 150), lens::zoomWideOpen());
    const std::string stranger = (dir_ / "stranger.jpg").string();
    lumivane::testing::WriteCameraJpeg(stranger, FlatPicture(60, 40, 150), Camera("PENTAX", "K-1", 4, 50));

    const std::vector<std::string> folderArgs = {"--settings", settings_, "--mask-folder", masks.string(),
                                                 "--out", out()};
    std::vector<std::string> args = folderArgs;
    args.insert(args.end(), {"--lens-profile", matched, zoom, stranger});
    Outcome r = run(args);
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_EQ(outFiles(), (std::vector<std::string>{"matched.jpg", "zoom.jpg"}));
    EXPECT_NE(r.err.find("  " + matched + ": flat.jpg\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("  " + zoom + ": lens profile (Canon EF 24-105mm f/4L IS USM, 24 mm, F4)\n"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("No lens profile for PENTAX K-1 / unknown lens"), std::string::npos) << r.err;
    // The flat field keeps the stored (additive) method: its file is the one
    // the folder alone writes.
    const std::vector<std::uint8_t> withFallback = ReadWholeFile(out() + "/matched.jpg");
    fs::remove_all(out());
    args = folderArgs;
    args.push_back(matched);
    ASSERT_EQ(run(args).status, 0);
    EXPECT_EQ(ReadWholeFile(out() + "/matched.jpg"), withFallback);

    // With --mask as well, the photograph without a profile gets it.
    fs::remove_all(out());
    args = folderArgs;
    args.insert(args.end(), {"--lens-profile", "--mask", mask_, zoom, stranger});
    r = run(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("  " + stranger + ": mask.bmp (no match in the folder)\n"), std::string::npos) << r.err;

    // The window's choice in lumivane.ini does the same without --lens-profile.
    fs::remove_all(out());
    {
        std::ofstream ini(fs::path(settings_).parent_path() / "lumivane.ini", std::ios::binary);
        ini << "method=additive\r\nmask_folder_profiles=1\r\n";
    }
    args = folderArgs;
    args.push_back(zoom);
    r = run(args);
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("  " + zoom + ": lens profile (Canon EF 24-105mm f/4L IS USM, 24 mm, F4)\n"),
              std::string::npos)
        << r.err;
}

TEST_F(Program, ListLenses)
{
    Outcome r = run({"--list-lenses", "24-105mm f/4L"});
    EXPECT_EQ(r.status, 0) << r.err;
    r = run({"--list-lenses", "zzz-no-such-lens-zzz"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("no lens of the database matches"), std::string::npos) << r.err;
}

} // namespace
