// SPDX-License-Identifier: GPL-3.0-or-later
// Real camera files: our reader against the values an independent reader
// (ExifTool) wrote into tests/data/metadata/exif_expected.tsv. Where our own
// rules give another answer for a file, exif_expected_notes.tsv names the
// file, the field, our answer and the reason, and our answer is checked.
#include "ExifReader.h"
#include "ValueFormat.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

namespace lumivane {
namespace {

const std::string kDataDir = std::string(LUMIVANE_TEST_DATA_DIR) + "/metadata/";
const std::string kExifSamples = std::string(LUMIVANE_SAMPLES_DIR) + "/exif/";

std::vector<std::vector<std::string>> ReadTsv(const std::string& path)
{
    std::ifstream in(path);
    std::vector<std::vector<std::string>> rows;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string> cells;
        std::stringstream cellStream(line);
        std::string cell;
        while (std::getline(cellStream, cell, '\t'))
            cells.push_back(cell);
        rows.push_back(cells);
    }
    return rows;
}

// Texts padded with blanks or NULs (NULs show as "." in our texts) match the
// independent reader's trimmed text.
bool SameTextUpToPadding(const std::string& ours, const std::string& theirs)
{
    if (ours.compare(0, theirs.size(), theirs) != 0)
        return false;
    return ours.find_first_not_of(" .", theirs.size()) == std::string::npos;
}

// Our display text turned back into a number: "F2.8" -> 2.8, "1/60 sec" ->
// 0.01667, " 7.50 mm" -> 7.5, "72.00" -> 72.
bool OurNumber(std::string text, double& value)
{
    if (!text.empty() && text[0] == 'F')
        text.erase(0, 1);
    for (const char* unit : {" sec", " mm"}) {
        const auto at = text.find(unit);
        if (at != std::string::npos)
            text.erase(at);
    }
    if (text.find('/') != std::string::npos) {
        value = FractionValue(text);
        return true;
    }
    std::istringstream in(text);
    in >> value;
    return !in.fail();
}

struct Field {
    const char* column;                         // column name in the table
    std::string (*ours)(const TImageMetadata&); // our answer as text
    double tolerance;                           // < 0: compare as text
};

std::string TagOf(const TImageMetadata& meta, const char* key)
{
    return meta.ExifFound() && meta.exif ? meta.exif->TagText(key) : std::string();
}

const Field kFields[] = {
    {"Make", [](const TImageMetadata& m) { return m.exif ? m.exif->make : std::string(); }, -1},
    {"Model", [](const TImageMetadata& m) { return m.exif ? m.exif->model : std::string(); }, -1},
    {"ExposureTime", [](const TImageMetadata& m) { return TagOf(m, "ExposureTime"); }, 1e-9},
    {"FNumber", [](const TImageMetadata& m) { return TagOf(m, "FNumber"); }, 0.05 + 1e-9},
    {"ISO", [](const TImageMetadata& m) { return TagOf(m, "ISOSpeedRatings"); }, 0},
    {"FocalLength", [](const TImageMetadata& m) { return TagOf(m, "FocalLength"); }, 0.005 + 1e-9},
    {"DateTime", [](const TImageMetadata& m) { return TagOf(m, "DateTime"); }, -1},
    {"XResolution", [](const TImageMetadata& m) { return TagOf(m, "XResolution"); }, 0.005 + 1e-9},
    {"YResolution", [](const TImageMetadata& m) { return TagOf(m, "YResolution"); }, 0.005 + 1e-9},
    {"ExifImageWidth",
     [](const TImageMetadata& m) { return m.exif ? std::to_string(m.exif->width) : std::string("0"); },
     0},
    {"ExifImageHeight",
     [](const TImageMetadata& m) { return m.exif ? std::to_string(m.exif->height) : std::string("0"); },
     0},
};

TEST(RealFiles, EveryCameraJpegAgreesWithTheIndependentReader)
{
    const auto table = ReadTsv(kDataDir + "exif_expected.tsv");
    ASSERT_GT(table.size(), 1u) << "missing " << kDataDir << "exif_expected.tsv";
    const auto& header = table[0];

    // Notes: file, field, our answer, reason.
    std::map<std::pair<std::string, std::string>, std::string> notes;
    for (const auto& row : ReadTsv(kDataDir + "exif_expected_notes.tsv")) {
        ASSERT_EQ(row.size(), 4u) << "notes rows have four cells";
        notes[{row[0], row[1]}] = row[2];
    }
    std::size_t notesUsed = 0;

    // Every JPEG of the corpus has a row: no file is left out.
    std::size_t sampleCount = 0;
    for (const auto& entry : std::filesystem::directory_iterator(kExifSamples))
        sampleCount += entry.path().extension() == ".jpg";
    EXPECT_EQ(table.size() - 1, sampleCount);

    for (std::size_t r = 1; r < table.size(); ++r) {
        const auto& row = table[r];
        ASSERT_EQ(row.size(), header.size());
        const std::string& file = row[0];
        TImageMetadata meta;
        meta.ReadMetadata(kExifSamples + file);
        for (const Field& field : kFields) {
            const auto column = std::find(header.begin(), header.end(), field.column);
            ASSERT_NE(column, header.end()) << field.column;
            const std::string expected = row[std::size_t(column - header.begin())];
            const std::string ours = field.ours(meta);
            const std::string where = file + " " + field.column;

            const auto note = notes.find({file, field.column});
            if (note != notes.end()) {
                ++notesUsed;
                EXPECT_EQ(ours, note->second) << where << " (noted difference)";
                continue;
            }
            if (expected == "-") {
                // Absent tags give empty texts; absent sizes stay 0.
                const bool isSize = std::string(field.column).rfind("ExifImage", 0) == 0;
                EXPECT_EQ(ours, isSize ? "0" : "") << where;
                continue;
            }
            if (field.tolerance < 0) {
                EXPECT_TRUE(SameTextUpToPadding(ours, expected))
                    << where << ": ours [" << ours << "] theirs [" << expected << "]";
                continue;
            }
            double ourValue = 0;
            ASSERT_TRUE(OurNumber(ours, ourValue)) << where << ": [" << ours << "]";
            const double theirs = std::stod(expected);
            // Exposure times compare relatively (they span 1/8000 to seconds).
            const bool relative = std::string(field.column) == "ExposureTime";
            EXPECT_LE(std::fabs(ourValue - theirs),
                      field.tolerance * (relative ? std::fabs(theirs) : 1.0))
                << where << ": ours [" << ours << "] theirs " << expected;
        }
    }
    EXPECT_EQ(notesUsed, notes.size()) << "every note names a file and field of the table";
}

TEST(RealFiles, EveryFileReadsCompletely)
{
    // The E-420's note is of the newer Olympus layout (its own "II" header
    // inside a big-endian block), which the Olympus geometry does not know:
    // its walk meets entries pointing outside the data, and says so.
    const std::string olympusNewLayout = "mde_Issue_339.jpg";
    for (const auto& entry : std::filesystem::directory_iterator(kExifSamples)) {
        if (entry.path().extension() != ".jpg")
            continue;
        TImageMetadata meta;
        EXPECT_TRUE(meta.ReadMetadata(entry.path().string())) << entry.path();
        EXPECT_EQ(meta.readStatus, entry.path().filename() == olympusNewLayout
                                       ? "Error Detected = Maker note value outside the EXIF data"
                                       : "<none>")
            << entry.path();
    }
}

TEST(RealFiles, DisplayTextsOfFormattedTags)
{
    // Numeric values checked by hand against `exiftool -n` (12.57): Flash 9 and
    // 16, ShutterSpeedValue 0.0078125 (2^-7), GPSLatitude 43 deg 28' 2.81" and
    // 54 deg 59' 22.80", FocalLengthIn35mmFormat 112, Orientation 6.
    struct Case {
        const char* file;
        const char* key;
        const char* text;
    } cases[] = {
        {"exiftool_Canon1DmkIII.jpg", "Flash", "On, forced"},
        {"exiftool_Canon1DmkIII.jpg", "ShutterSpeedValue", "0.0078 sec (1/128)"},
        {"exiftool_Canon1DmkIII.jpg", "ExposureTime", "1/125 sec"},
        {"ianare_DSCN0010.jpg", "Flash", "Off, surpressed"},
        {"ianare_DSCN0010.jpg", "GPSLatitude", "43 Degrees 28 Minutes 3 Seconds"},
        {"ianare_DSCN0010.jpg", "FocalLengthin35mmFilm", "112.00 mm"},
        {"exiftool_GPS.jpg", "GPSLatitude", "54 Degrees 59 Minutes 23 Seconds"},
        {"ianare_landscape_6.jpg", "Orientation", "CounterClockwise 90\xB0"},
    };
    for (const auto& c : cases) {
        TImageMetadata meta;
        ASSERT_TRUE(meta.ReadMetadata(kExifSamples + c.file)) << c.file;
        ASSERT_TRUE(meta.exif) << c.file;
        EXPECT_EQ(meta.exif->TagText(c.key), c.text) << c.file << " " << c.key;
    }
}

}  // namespace
}  // namespace lumivane
