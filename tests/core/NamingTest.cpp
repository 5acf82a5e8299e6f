// SPDX-License-Identifier: GPL-3.0-or-later
#include "Naming.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace lumivane {
namespace {

TEST(Naming, FileNamePartTakesTextAfterLastSlash)
{
    EXPECT_EQ(FileNamePart("/photos/2024/IMG_5.tif"), "IMG_5.tif");
    EXPECT_EQ(FileNamePart("IMG_5.tif"), "IMG_5.tif");
    EXPECT_EQ(FileNamePart("/photos/"), "");
    EXPECT_EQ(FileNamePart(""), "");
}

TEST(Naming, OutNameReplacesOnlyTheLastThreeCharacters)
{
    struct Row {
        const char* currentFile;
        bool bmp;
        const char* expected;
    };
    const Row rows[] = {
        {"/photos/IMG_5.tif", false, "IMG_5.jpg"},
        {"/photos/IMG_5.tif", true, "IMG_5.bmp"},
        {"/photos/IMG_1.TIF", false, "IMG_1.jpg"},
        {"/photos/IMG_1.jpeg", false, "IMG_1.jpg"},
        {"/photos/IMG_1.JPEG", true, "IMG_1.bmp"},
        {"/photos/IMG_1.jpe", false, "IMG_1.jpg"},
        {"/photos/IMG_1.tiff", true, "IMG_1.bmp"},
        {"/photos/IMG.2.Tiff", false, "IMG.2.jpg"},
        {"/photos.jpeg/IMG_3.ppm", false, "IMG_3.jpg"},
        {"/photos/IMG_1.jpeg2", false, "IMG_1.jpjpg"},
        {"shot.png", false, "shot.jpg"},
        {"/photos/ab", false, "jpg"},
        {"", true, "bmp"},
    };
    for (const Row& row : rows)
        EXPECT_EQ(OutNameFor(row.currentFile, row.bmp), row.expected) << row.currentFile;
}

TEST(Naming, UpperSuffixDecidesTheFileType)
{
    EXPECT_EQ(UpperSuffix3("/p/IMG.jpg"), "JPG");
    EXPECT_EQ(UpperSuffix3("/p/IMG.Bmp"), "BMP");
    EXPECT_EQ(UpperSuffix3("/p/IMG.TIF"), "TIF");
    EXPECT_EQ(UpperSuffix3("/p/IMG.jpeg"), "PEG");
    EXPECT_EQ(UpperSuffix3("/p/IMG.tiff"), "IFF");
    EXPECT_EQ(UpperSuffix3("ab"), "AB");
    EXPECT_EQ(UpperSuffix3(""), "");
}

TEST(Naming, FinalOutputPathKeepsCroppedBmpPathAsGiven)
{
    EXPECT_EQ(FinalOutputPath("/o/a.bmp", false, false), "/o/a.jpg");
    EXPECT_EQ(FinalOutputPath("/o/a.bmp", false, true), "/o/a.jpg");
    EXPECT_EQ(FinalOutputPath("/o/a.jpg", true, false), "/o/a.bmp");
    EXPECT_EQ(FinalOutputPath("/o/a.jpg", true, true), "/o/a.jpg");
}

TEST(Naming, BatchCandidatePath_PlainThenTickThenNumberedTick)
{
    struct Row {
        const char* outName;
        bool bmp;
        bool cropped;
        std::uint32_t tick;
        const char* expected[4]; // attempts 0 to 3
    };
    const Row rows[] = {
        {"IMG_7.jpg", false, false, 123456,
         {"/out/IMG_7.jpg", "/out/IMG_7.123456.jpg", "/out/IMG_7.123456-2.jpg", "/out/IMG_7.123456-3.jpg"}},
        {"IMG_7.jpg", false, true, 0, {"/out/IMG_7.jpg", "/out/IMG_7.0.jpg", "/out/IMG_7.0-2.jpg", "/out/IMG_7.0-3.jpg"}},
        {"IMG_7.bmp", true, false, 4294967295u,
         {"/out/IMG_7.bmp", "/out/IMG_7.4294967295.bmp", "/out/IMG_7.4294967295-2.bmp",
          "/out/IMG_7.4294967295-3.bmp"}},
        // The name was fixed for JPEG at load time and BMP was chosen later:
        // the tick names keep the old four characters, and only an uncropped
        // BMP has its extension replaced again when written.
        {"IMG_7.jpg", true, false, 42, {"/out/IMG_7.bmp", "/out/IMG_7.42.bmp", "/out/IMG_7.42-2.bmp", "/out/IMG_7.42-3.bmp"}},
        {"IMG_7.jpg", true, true, 42, {"/out/IMG_7.bmp", "/out/IMG_7.42.jpg", "/out/IMG_7.42-2.jpg", "/out/IMG_7.42-3.jpg"}},
        // A name shorter than four characters does not crash: the tick name
        // is "." + tick + the whole name, whose last three characters the
        // writer then replaces.
        {"a.j", false, false, 9, {"/out/jpg", "/out/.9jpg", "/out/.9-2jpg", "/out/.9-3jpg"}},
    };
    for (const Row& row : rows)
        for (int attempt = 0; attempt < 4; ++attempt)
            EXPECT_EQ(BatchCandidatePath("/out", row.outName, row.bmp, row.tick, attempt, row.cropped),
                      row.expected[attempt])
                << row.outName << " attempt " << attempt;
}

TEST(Naming, TiffOutputsEndInTif_WhereverTheNameCameFrom)
{
    const auto tiff = OutputFormat::Tiff;
    EXPECT_EQ(OutNameFor("/p/IMG_1.JPG", tiff), "IMG_1.tif");
    EXPECT_EQ(OutNameFor("/p/scan.tiff", tiff), "scan.tif");
    EXPECT_EQ(OutNameFor("/p/a.jpeg", tiff), "a.tif");
    // Unlike a BMP, a cropped TIFF gets its extension too.
    EXPECT_EQ(FinalOutputPath("/o/a.jpg", tiff, true), "/o/a.tif");
    EXPECT_EQ(BatchCandidatePath("/out", "IMG_7.tif", tiff, 42, 0, true), "/out/IMG_7.tif");
    EXPECT_EQ(BatchCandidatePath("/out", "IMG_7.tif", tiff, 42, 2, true), "/out/IMG_7.42-2.tif");

    struct Row {
        const char* confirmed;
        bool tiff;           // NamesTiff
        const char* written; // SaveDialogOutputPath as a TIFF
    } rows[] = {
        {"/o/a.tif", true, "/o/a.tif"},      {"/o/a.TIF", true, "/o/a.tif"},
        {"/o/a.tiff", true, "/o/a.tif"},     {"/o/a.TiFf", true, "/o/a.tif"},
        {"/o/a.jpg", false, "/o/a.tif"},     {"/o.tif/a", false, "/o.tif/a.tif"},
        {"/o/.tif", false, "/o/.tif"},       {"/o/x.tif.jpg", false, "/o/x.tif.tif"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.confirmed);
        EXPECT_EQ(NamesTiff(r.confirmed), r.tiff);
        EXPECT_EQ(SaveDialogOutputPath(r.confirmed, tiff, true), r.written);
    }
}

TEST(Naming, ShortenedMaskLabelKeepsLastFourteenCharacters)
{
    // Names arrive as UTF-8; the limit counts characters, not bytes, and a
    // character is never cut in two.
    struct Row {
        const char* name;
        const char* expected;
    };
    const Row rows[] = {
        {"mask_14_chars_", "mask_14_chars_"},
        {"a_long_mask_name.jpg", "..._mask_name.jpg"},
        {"mask_15_chars__", "...ask_15_chars__"},
        {"", ""},
        {"Wei\u00DFwand_1.jpg", "Wei\u00DFwand_1.jpg"},                   // 14 characters, 15 bytes
        {"Objektiv_Wei\u00DFabgleich.bmp", "...i\u00DFabgleich.bmp"},     // 25 characters, 26 bytes
        {"\u30DE\u30B9\u30AF\u753B\u50CF.jpg", "\u30DE\u30B9\u30AF\u753B\u50CF.jpg"}, // 9 characters, 19 bytes
        {"flat_\u30EC\u30F3\u30BA_\u30DE\u30B9\u30AF\u753B\u50CF.jpg",
         "..._\u30EC\u30F3\u30BA_\u30DE\u30B9\u30AF\u753B\u50CF.jpg"},
        {"mask_\U0001F305\U0001F305_sunset.jpg", "..._\U0001F305\U0001F305_sunset.jpg"}, // 4-byte characters
    };
    for (const Row& row : rows)
        EXPECT_EQ(ShortenedMaskLabel(row.name), row.expected) << row.name;
}

TEST(Naming, LensProfileClauseNamesThreeAndCountsTheRest)
{
    const struct {
        std::vector<std::string> names;
        const char* clause;
    } rows[] = {
        {{}, ""},
        {{"a.jpg"}, " (lens profile: a.jpg)"},
        {{"a.jpg", "b.jpg", "c.jpg"}, " (lens profile: a.jpg, b.jpg, c.jpg)"},
        {{"a.jpg", "b.jpg", "c.jpg", "d.jpg", "e.jpg"}, " (lens profile: a.jpg, b.jpg, c.jpg and 2 more)"},
    };
    for (const auto& row : rows)
        EXPECT_EQ(LensProfileClause(row.names), row.clause) << row.names.size();
}

} // namespace
} // namespace lumivane
