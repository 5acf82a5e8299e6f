// SPDX-License-Identifier: GPL-3.0-or-later
// lumivane-cli as a batch tool, through the real program: results that do not
// depend on the rest of the list, output names, existing files, folders
// walked, checks made before any photograph is read, and the report file.
#include "CliOptions.h"
#include "OutputPlan.h"

#include "BmpCodec.h"
#include "CliFolder.h"
#include "FileIO.h"
#include "HostileFiles.h"
#include "JpegCodec.h"
#include "MaskGeometry.h"
#include "SavePipeline.h"
#include "CameraExif.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

using namespace lumivane;
using namespace lumivane::cli;
namespace ts = lumivane::test_support;
namespace fs = std::filesystem;

namespace {

class BatchTool : public ::testing::Test {
protected:
    // A fall-off with grain from column to column: the five centre pixels
    // of the mask fitted to a photograph, and so the levels, differ with its
    // size (64 x 48: 228, 120 x 40: 222, 31 x 21: 235).
    static Bitmap24 grainyMask()
    {
        Bitmap24 m(60, 40);
        for (int y = 0; y < 40; ++y)
            for (int x = 0; x < 60; ++x) {
                const int fall = (x - 30) * (x - 30) / 24 + (y - 20) * (y - 20) / 16 + (x * 37 % 11) * 4;
                m.setPixel(x, y, packColour(std::uint8_t(250 - fall), std::uint8_t(240 - fall), std::uint8_t(230 - fall)));
            }
        return m;
    }
    std::string file(const std::string& name) const { return folder.file(name); }
    std::string photo(const std::string& name, int w = 64, int h = 48) const { return folder.photo(name, w, h); }
    ts::ChildRun run(const std::vector<std::string>& extra, const std::string& out = "out") const
    {
        return folder.run(LUMIVANE_CLI, extra, out);
    }
    std::vector<std::uint8_t> bytes(const std::string& name) const { return ReadWholeFile(file(name)); }
    // Every file under `under`, relative to it, sorted.
    std::vector<std::string> tree(const std::string& under = "out") const
    {
        std::vector<std::string> names;
        if (fs::exists(file(under)))
            for (const auto& e : fs::recursive_directory_iterator(file(under)))
                if (e.is_regular_file())
                    names.push_back(e.path().lexically_relative(file(under)).string());
        std::sort(names.begin(), names.end());
        return names;
    }

    ts::CliFolder folder{"lumivane-cli-batch", grainyMask()};
};

// A photograph corrected alone and the same photograph within a list of other
// sizes (first or later) come out byte for byte alike, with either method.
TEST_F(BatchTool, ResultDependsOnlyOnThePhotographMaskAndSettings)
{
    const std::string a = photo("a.jpg", 64, 48);
    const std::string wide = photo("wide.jpg", 120, 40);
    const std::string small = photo("small.jpg", 31, 21);
    for (const std::string method : {"additive", "exact"}) {
        SCOPED_TRACE(method);
        for (int jobs : {1, 2}) {
            const std::string j = std::to_string(jobs);
            ASSERT_EQ(run({"--method", method, "--jobs", j, a}, "alone").status, 0);
            const ts::ChildRun mixed = run({"--method", method, "--jobs", j, wide, a, small}, "mixed");
            ASSERT_EQ(mixed.status, 0) << mixed.err;
            EXPECT_EQ(bytes("alone/a.jpg"), bytes("mixed/a.jpg")) << "jobs " << j;
            // The first photograph of the list is no different.
            ASSERT_EQ(run({"--method", method, "--jobs", j, wide}, "wide").status, 0);
            EXPECT_EQ(bytes("wide/wide.jpg"), bytes("mixed/wide.jpg")) << "jobs " << j;
            fs::remove_all(file("alone"));
            fs::remove_all(file("mixed"));
            fs::remove_all(file("wide"));
        }
    }
}

// --levels gives the levels themselves: the file is the one an in-process
// save with those levels writes; --verbose names what each photograph got.
TEST_F(BatchTool, GivenLevels_AreUsedAndVerboseNamesThem)
{
    const std::string a = photo("a.jpg", 64, 48);
    const ts::ChildRun r = run({"--levels", "200,190,180", "-v", a});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("lumivane-cli: " + a + ": mask " + file("mask.bmp") +
                         ", levels 200,190,180, method additive, output " + file("out") + "/a.jpg\n"),
              std::string::npos)
        << r.err;

    TJPEGImage jpeg;
    jpeg.Smoothing = false;
    jpeg.LoadFromFile(a);
    const Bitmap24 photoBitmap = jpeg.Decode();
    Bitmap24 maskFull(64, 48);
    stretchDraw(ReadBmpFile(file("mask.bmp")), maskFull);
    SavePipeline pipeline(1);
    pipeline.SaveCorrectedJpeg(photoBitmap, maskFull, FullSizeRegion(0, 0, 64, 48), DampingForStrength(40),
                               TargetsFor(200, 190, 180, 30), CropMargins{}, 85, a, OutputTarget(file("expected.jpg")));
    EXPECT_EQ(bytes("out/a.jpg"), bytes("expected.jpg"));

    // Without --levels, verbose names the levels of the mask fitted to it.
    const HotspotLevels own = SampleCentreLevels(maskFull);
    const ts::ChildRun sampled = run({"--verbose", a}, "sampled");
    EXPECT_NE(sampled.err.find(", levels " + std::to_string(own.r) + "," + std::to_string(own.g) + "," +
                               std::to_string(own.b) + ", method additive"),
              std::string::npos)
        << sampled.err;
}

// The command line's new options and their conflicts.
TEST(CliOptionsBatch, NewOptionsAndTheirConflicts)
{
    const CliOptions o = ParseCommandLine({"--out", "d", "-v", "-r", "--overwrite", "--name", "{n}-{stem}.{ext}",
                                           "--report=r.jsonl", "--levels", "1,2,255", "a"});
    EXPECT_TRUE(o.verbose);
    EXPECT_TRUE(o.recursive);
    EXPECT_EQ(o.existing, ExistingOutputs::Overwrite);
    EXPECT_EQ(o.nameTemplate, "{n}-{stem}.{ext}");
    EXPECT_EQ(o.reportFile, "r.jsonl");
    ASSERT_TRUE(o.levels);
    EXPECT_EQ(o.levels->b, 255);
    EXPECT_TRUE(ParseCommandLine({"-V"}).version);
    EXPECT_EQ(ParseCommandLine({"--out", "d", "--skip-existing", "a"}).existing, ExistingOutputs::Skip);

    struct Case {
        std::vector<std::string> args;
        const char* says;
    };
    const std::vector<Case> bad = {
        {{"--out", "d", "a", "--bogus"}, "unknown option --bogus"}, // last, where a value would follow
        {{"--bogus", "--out", "d", "a"}, "unknown option --bogus"},
        {{"--out", "d", "--bogus=1", "a"}, "unknown option --bogus"},
        {{"--out", "d", "--levels", "1,2,256", "a"}, "--levels"},
        {{"--out", "d", "--levels", "1,2", "a"}, "--levels"},
        {{"--out", "d", "--levels", "1,2,3", "--hotspot", "1,1", "a"}, "--levels and --hotspot"},
        {{"--out", "d", "--overwrite", "--skip-existing", "a"}, "exclude each other"},
        {{"--out", "d", "--name", "", "a"}, "--name"},
    };
    for (const Case& c : bad) {
        SCOPED_TRACE(c.args[2]);
        try {
            ParseCommandLine(c.args);
            ADD_FAILURE() << "accepted";
        } catch (const UsageError& e) {
            EXPECT_NE(std::string(e.what()).find(c.says), std::string::npos) << e.what();
        }
    }
}

TEST(OutputPlan, NameTemplates)
{
    const InputPhoto plain{"shoot/IMG_1.JPG", ""};
    const InputPhoto deep{"shoot/day1/IMG_2.tiff", "day1"};
    struct Case {
        const char* pattern;
        const InputPhoto& photo;
        std::size_t n;
        bool bmp;
        const char* name;
    };
    const Case cases[] = {
        {"{stem}.{ext}", plain, 1, false, "IMG_1.jpg"},
        {"{stem}.{ext}", deep, 2, true, "IMG_2.bmp"},
        {"{dir}/{stem}.{ext}", plain, 1, false, "IMG_1.jpg"}, // no folder: no leading slash
        {"{dir}/{stem}.{ext}", deep, 7, false, "day1/IMG_2.jpg"},
        {"{n}_{stem}_fixed.{ext}", deep, 12, false, "12_IMG_2_fixed.jpg"},
        {"sub/../{stem}.jpeg", plain, 1, false, "IMG_1.jpeg"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(RenderName(c.pattern, c.photo, c.n, FormatOfQuality(c.bmp)), c.name) << c.pattern;
    for (const char* leaves : {"../{stem}.jpg", "/tmp/{stem}.jpg", "{dir}/../../x.jpg", "{dir}", "{stem}/", "{name}.jpg",
                               "{stem"})
        EXPECT_THROW(RenderName(leaves, plain, 1, OutputFormat::Jpeg), UsageError) << leaves;
}

TEST_F(BatchTool, NamesAndExistingOutputs)
{
    const std::string a = photo("a.jpg");
    const std::string b = photo("b.jpg", 50, 40);

    // --name: each photograph under its template name.
    ts::ChildRun r = run({"--name", "{n}-{stem}.{ext}", a, b});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(tree(), (std::vector<std::string>{"1-a.jpg", "2-b.jpg"}));
    // A name leaving --out: exit 2, nothing written.
    r = run({"--name", "../{stem}.jpg", a}, "left");
    EXPECT_EQ(r.status, 2) << r.err;
    EXPECT_FALSE(fs::exists(file("left")));
    EXPECT_FALSE(fs::exists(file("a.jpg.tmp")));

    // The default keeps what is there and writes a clash name.
    fs::remove_all(file("out"));
    fs::create_directories(file("out"));
    WriteFileAtomically(file("out/a.jpg"), std::vector<std::uint8_t>{'o', 'l', 'd'});
    r = run({a});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(tree().size(), 2u);
    EXPECT_EQ(bytes("out/a.jpg"), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
    const std::vector<std::uint8_t> fresh = bytes("out/" + (tree()[0] == "a.jpg" ? tree()[1] : tree()[0]));

    // --skip-existing: the stale file stays, the photograph is reported
    // skipped, exit 0; the other one is written.
    fs::remove_all(file("out"));
    fs::create_directories(file("out"));
    WriteFileAtomically(file("out/a.jpg"), std::vector<std::uint8_t>{'o', 'l', 'd'});
    r = run({"--skip-existing", "--report", file("report.jsonl"), a, b});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(tree(), (std::vector<std::string>{"a.jpg", "b.jpg"}));
    EXPECT_EQ(bytes("out/a.jpg"), (std::vector<std::uint8_t>{'o', 'l', 'd'}));
    EXPECT_NE(r.err.find("1 written, 0 failed, 1 skipped"), std::string::npos) << r.err;

    // --overwrite: replaced by the correction, no clash name.
    r = run({"--overwrite", a});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(tree(), (std::vector<std::string>{"a.jpg", "b.jpg"}));
    EXPECT_EQ(bytes("out/a.jpg"), fresh);
}

// The report: one JSON object a line, in the order photographs finish.
TEST_F(BatchTool, ReportFile_OneLinePerPhotograph)
{
    const std::string a = photo("a.jpg");
    const std::string quote = photo("q\"uote.jpg", 50, 40);
    fs::create_directories(file("out"));
    WriteFileAtomically(file("out/a.jpg"), std::vector<std::uint8_t>{'o', 'l', 'd'});
    WriteFileAtomically(file("bad.jpg"), std::vector<std::uint8_t>{'n', 'o'});
    const ts::ChildRun r =
        run({"--skip-existing", "--jobs", "1", "--levels", "200,190,180", "--report", file("r.jsonl"), a, quote,
             file("bad.jpg")});
    EXPECT_EQ(r.status, 1) << r.err;
    std::ifstream in(file("r.jsonl"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0].rfind("{\"source\":\"" + a + "\",\"output\":\"" + file("out") +
                                 "/a.jpg\",\"outcome\":\"skipped\",",
                             0),
              0u)
        << lines[0];
    EXPECT_NE(lines[1].find("\"source\":\"" + file("q\\\"uote.jpg") + "\",\"output\":\"" + file("out") +
                            "/q\\\"uote.jpg\",\"outcome\":\"written\",\"reason\":\"\",\"levels\":[200,190,180],"
                            "\"mask\":\"" + file("mask.bmp") + "\",\"method\":\"additive\",\"timings\":{\"seconds\":"),
              std::string::npos)
        << lines[1];
    EXPECT_NE(lines[2].find("\"outcome\":\"failed\",\"reason\":\""), std::string::npos) << lines[2];
    EXPECT_NE(lines[2].find("\"levels\":null"), std::string::npos) << lines[2];
}

// Outputs (or the report) that would land on a photograph of the run, two
// photographs that would share an output where nothing gets a clash name,
// and a report in an output's place are refused before anything is written.
TEST_F(BatchTool, OutputsOnInputsOrSharedAreRefusedBeforeWriting)
{
    const std::string a = photo("shoot/a.jpg");
    const std::string otherA = photo("other/a.JPG");
    const std::string bmpSource = photo("shoot/b.jpg");
    struct Case {
        const char* name;
        std::vector<std::string> args;
        const char* says;
    };
    const std::vector<Case> cases = {
        {"into its own folder", {"--settings", file("defaults.ini"), "--mask", file("mask.bmp"), "--out",
                                 file("shoot"), "--overwrite", a},
         "would be written over itself"},
        {"onto another input", {"--settings", file("defaults.ini"), "--mask", file("mask.bmp"), "--out",
                                file("shoot"), "--name", "a.jpg", bmpSource, a},
         "would be written over the photograph"},
        {"shared with --overwrite", {"--settings", file("defaults.ini"), "--mask", file("mask.bmp"), "--out",
                                     file("out"), "--overwrite", a, otherA},
         "would both be written as"},
        {"report over a photograph", {"--settings", file("defaults.ini"), "--mask", file("mask.bmp"), "--out",
                                      file("out"), "--report", a, a},
         "would be written over the photograph"},
        {"report where an output goes", {"--settings", file("defaults.ini"), "--mask", file("mask.bmp"), "--out",
                                         file("out"), "--report", file("out/a.jpg"), a},
         "where the output of"},
    };
    const auto before = tree("shoot");
    const std::vector<std::uint8_t> aBefore = bytes("shoot/a.jpg");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ts::ChildRun r = ts::RunProgram(LUMIVANE_CLI, c.args);
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(tree("shoot"), before);
        EXPECT_EQ(bytes("shoot/a.jpg"), aBefore);
        EXPECT_FALSE(fs::exists(file("out")));
    }
    // Without --overwrite two photographs of one name still both arrive.
    const ts::ChildRun r = run({a, otherA});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(tree().size(), 2u);
}

// --recursive mirrors the tree under --out: photograph names only, no link
// out of the tree, not the output folder when it lies inside.
TEST_F(BatchTool, RecursiveWalk_MirrorsTheTree)
{
    photo("shoot/a.jpg");
    photo("shoot/day1/b.JPEG");
    photo("shoot/day1/night/c.jpg");
    photo("elsewhere/outside.jpg");
    WriteFileAtomically(file("shoot/notes.txt"), std::vector<std::uint8_t>{'x'});
    fs::create_directory_symlink(file("elsewhere"), file("shoot/linked"));
    fs::create_symlink(file("elsewhere/outside.jpg"), file("shoot/day1/outside.jpg"));
    fs::create_symlink(file("shoot/a.jpg"), file("shoot/day1/inside.jpg"));

    // Without --recursive a folder is refused with the hint.
    ts::ChildRun r = run({file("shoot")}, "shoot/corrected");
    EXPECT_EQ(r.status, 1) << r.err;
    EXPECT_NE(r.err.find(file("shoot") + ": is a folder (use --recursive)"), std::string::npos) << r.err;

    r = run({"-r", file("shoot")}, "shoot/corrected");
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> mirrored = {"a.jpg", "day1/b.jpg", "day1/inside.jpg", "day1/night/c.jpg"};
    EXPECT_EQ(tree("shoot/corrected"), mirrored);
    // A second run does not walk into its own output folder.
    r = run({"-r", "--skip-existing", file("shoot")}, "shoot/corrected");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("0 written, 0 failed, 4 skipped"), std::string::npos) << r.err;
    EXPECT_EQ(tree("shoot/corrected"), mirrored);
    // {dir} in a template; walked from day1, inside.jpg links out of the
    // tree and is left out.
    r = run({"-r", "--name", "{dir}/x_{stem}.{ext}", file("shoot/day1")}, "named");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(tree("named"), (std::vector<std::string>{"night/x_c.jpg", "x_b.jpg"}));
}

// The output folder is made and proved writable before any photograph is
// decoded: failure is exit 2 with one sentence, nothing read.
TEST_F(BatchTool, UnwritableOutputFolder_IsFoundBeforeAnyPhotograph)
{
    // A photograph whose decode would be reported as unreadable.
    WriteFileAtomically(file("broken.jpg"), std::vector<std::uint8_t>{0xFF, 0xD8, 0xFF});
    struct Case {
        const char* name;
        std::string out;
        const char* says;
    };
    std::vector<Case> cases = {
        // Folders even the superuser cannot write into or make.
        {"a folder that takes no files", "/proc/self/fdinfo", "cannot write into the output folder /proc/self/fdinfo: "},
        {"a folder that cannot be made", "/proc/self/fdinfo/new", "cannot make the output folder /proc/self/fdinfo/new: "},
    };
    if (::geteuid() != 0) {
        fs::create_directories(file("locked"));
        fs::permissions(file("locked"), fs::perms::owner_read | fs::perms::owner_exec);
        cases.push_back({"a folder without write permission", file("locked"), "cannot write into the output folder"});
        fs::create_directories(file("hidden/inner"));
        fs::permissions(file("hidden"), fs::perms::none);
        cases.push_back({"below a folder that cannot be read", file("hidden/inner/out"), "output folder"});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ts::ChildRun r = ts::RunProgram(LUMIVANE_CLI, {"--settings", file("defaults.ini"), "--mask",
                                                             file("mask.bmp"), "--out", c.out, file("broken.jpg")});
        EXPECT_EQ(r.status, 2) << r.err;
        EXPECT_EQ(r.err.rfind("lumivane-cli: " + std::string(c.says), 0), 0u) << r.err;
        EXPECT_EQ(r.err.find("broken.jpg"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("filesystem error"), std::string::npos) << r.err;
    }
    if (::geteuid() != 0) {
        fs::permissions(file("hidden"), fs::perms::owner_all);
        fs::permissions(file("locked"), fs::perms::owner_all);
    }
}

// A mask of another shape or camera than a photograph gives a warning line;
// the texture warning names the option that cures it.
TEST_F(BatchTool, MaskWarnings_ShapeAndTheSmoothingOption)
{
    const std::string same = photo("same.jpg", 90, 60);
    const std::string square = photo("square.jpg", 48, 48);
    ts::ChildRun r = run({same, square});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("lumivane-cli: warning: " + square +
                         ": the mask's aspect ratio 1:1.5 differs from the photograph's 1:1\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find(same + ": the mask's"), std::string::npos) << r.err;

    // Taken with other cameras: named; a photograph without EXIF is not.
    using lumivane::testing::Camera;
    Bitmap24 flat(90, 60);
    flat.fill(packColour(220, 220, 220));
    lumivane::testing::WriteCameraJpeg(file("canon_mask.jpg"), flat, Camera("Canon", "EOS 5D", 8, 50));
    lumivane::testing::WriteCameraJpeg(file("pentax.jpg"), flat, Camera("PENTAX", "K-1", 8, 50));
    lumivane::testing::WriteCameraJpeg(file("canon.jpg"), flat, Camera("Canon", "EOS 5D", 4, 35));
    r = ts::RunProgram(LUMIVANE_CLI, {"--settings", file("defaults.ini"), "--mask", file("canon_mask.jpg"), "--out",
                                      file("c"), file("pentax.jpg"), file("canon.jpg"), same});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("lumivane-cli: warning: " + file("pentax.jpg") +
                         ": the mask was taken with Canon EOS 5D, the photograph with PENTAX K-1\n"),
              std::string::npos)
        << r.err;
    EXPECT_EQ(r.err.find(file("canon.jpg") + ": the mask was"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(same + ": the mask was"), std::string::npos) << r.err;

    Bitmap24 grainy(300, 200);
    for (int y = 0; y < 200; ++y)
        for (int x = 0; x < 300; ++x)
            grainy.setPixel(x, y, (x / 2 + y / 2) % 2 ? packColour(150, 150, 150) : packColour(230, 230, 230));
    WriteBmpFile(grainy, file("grainy.bmp"));
    r = ts::RunProgram(LUMIVANE_CLI,
                       {"--settings", file("defaults.ini"), "--mask", file("grainy.bmp"), "--out", file("g"), same});
    EXPECT_NE(r.err.find("Texture or dust: defocus the lens when taking the mask, or use --smooth-mask."),
              std::string::npos)
        << r.err;
}

} // namespace
