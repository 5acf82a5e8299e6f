// SPDX-License-Identifier: GPL-3.0-or-later
// Lens profiles: what the photograph says, what the database finds, and the
// mask made from the fall-off, held against the library's own values.
#include "LensProfile.h"

#include "CameraExif.h"
#include "ExactCorrection.h"
#include "MaskFolder.h"
#include "MaskGeometry.h"

#include <gtest/gtest.h>
#include <lensfun.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <set>

namespace lumivane {
namespace {

namespace fs = std::filesystem;

const LensDatabase& database()
{
    return LensDatabase::Instance();
}

LensFacts fullFrameZoom(double focal, double fNumber)
{
    LensFacts facts;
    facts.make = "Canon";
    facts.model = "Canon EOS 5D Mark II";
    facts.lens = "EF24-105mm f/4L IS USM";
    facts.lensSource = LensFacts::LensSource::Exif;
    facts.focalLength = focal;
    facts.fNumber = fNumber;
    return facts;
}

// Channel 0, 1, 2 (blue, green, red) of pixel (x, y).
int codeAt(const Bitmap24& picture, int x, int y, int channel)
{
    return picture.scanLine(y)[3 * x + channel];
}

LensProfile profileOf(const LensFacts& facts, const std::string& lens = {})
{
    const ProfileLookup lookup = database().Find(facts, lens);
    if (!lookup.profile)
        throw std::runtime_error(lookup.reason);
    return *lookup.profile;
}

// Which camera and lens the database finds for each camera JPEG of the
// sample corpus. None of these old cameras and lenses was measured for
// vignetting, so none has a profile: the table shows what the look-up
// finds and that it says so.
TEST(LensProfileSamples, EveryCameraJpegFindsItsCameraAndLens)
{
    struct Row {
        const char* file;
        const char* exifLens; // what the EXIF or the maker note names
        const char* camera;   // found by the database ("" none)
        const char* lens;     // found by the database ("" none)
    };
    const Row rows[] = {
#include "LensProfileSamples.inc"
    };
    const fs::path folder = fs::path(LUMIVANE_TEST_DATA_DIR) / "samples" / "exif";
    std::set<std::string> listed;
    for (const Row& row : rows) {
        SCOPED_TRACE(row.file);
        listed.insert(row.file);
        const LensFacts facts = ReadLensFacts((folder / row.file).string());
        EXPECT_EQ(facts.lens, row.exifLens);
        const ProfileLookup lookup = database().Find(facts);
        EXPECT_EQ(lookup.camera, row.camera);
        EXPECT_EQ(lookup.lens, row.lens);
        EXPECT_FALSE(lookup.profile.has_value());
        EXPECT_EQ(lookup.reason, NoProfileText(facts, {}));
    }
    // The table covers every JPEG of the folder.
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() == ".jpg") {
            EXPECT_TRUE(listed.count(entry.path().filename().string())) << entry.path();
        }
    }
}

TEST(LensProfileFacts, ReadFromTheExifAndItsLensTags)
{
    const fs::path dir = fs::path(::testing::TempDir()) / "lens_facts";
    fs::create_directories(dir);
    testing::CameraExif exif = testing::Camera("Canon", "Canon EOS 5D Mark II", 8, 50, "EF24-105mm f/4L IS USM");
    exif.lensMake = "Canon";
    exif.focal35 = 50;
    exif.distanceNumerator = 35;
    exif.distanceDenominator = 10;
    const std::string path = (dir / "taken.jpg").string();
    testing::WriteCameraJpeg(path, Bitmap24(16, 8), exif);
    const LensFacts facts = ReadLensFacts(path);
    EXPECT_EQ(facts.make, "Canon");
    EXPECT_EQ(facts.model, "Canon EOS 5D Mark II");
    EXPECT_EQ(facts.lensMake, "Canon");
    EXPECT_EQ(facts.lens, "EF24-105mm f/4L IS USM");
    EXPECT_EQ(facts.lensSource, LensFacts::LensSource::Exif);
    EXPECT_DOUBLE_EQ(facts.fNumber, 8);
    EXPECT_DOUBLE_EQ(facts.focalLength, 50);
    EXPECT_DOUBLE_EQ(facts.focal35, 50);
    EXPECT_DOUBLE_EQ(facts.focusDistance, 3.5);
    const ProfileLookup lookup = database().Find(facts);
    ASSERT_TRUE(lookup.profile) << lookup.reason;
    EXPECT_DOUBLE_EQ(lookup.profile->distance, 3.5);
    EXPECT_EQ(DescribeProfile(*lookup.profile), "Canon EF 24-105mm f/4L IS USM, 50 mm, F8");

    // Without a distance the focus is taken at infinity.
    exif.distanceDenominator = 0;
    testing::WriteCameraJpeg(path, Bitmap24(16, 8), exif);
    EXPECT_DOUBLE_EQ(profileOf(ReadLensFacts(path)).distance, kInfinityDistance);
}

TEST(LensProfileFacts, APhotographWithoutExifHasNoProfile)
{
    const fs::path dir = fs::path(::testing::TempDir()) / "lens_facts";
    fs::create_directories(dir);
    const std::string path = (dir / "bare.jpg").string();
    testing::WriteCameraJpeg(path, Bitmap24(16, 8), testing::CameraExif{});
    const LensFacts facts = ReadLensFacts(path);
    EXPECT_TRUE(facts.make.empty() && facts.model.empty() && facts.lens.empty());
    const ProfileLookup lookup = database().Find(facts);
    EXPECT_FALSE(lookup.profile);
    EXPECT_EQ(lookup.reason, "No lens profile for unknown camera / unknown lens");
    // Naming the lens is not enough without focal length and aperture.
    EXPECT_FALSE(database().Find(facts, "EF24-105mm f/4L IS USM").profile);
    // A file that is no picture at all says nothing either.
    EXPECT_TRUE(ReadLensFacts((dir / "missing.jpg").string()).make.empty());
}

TEST(LensProfileFacts, NikonLensInformationBecomesALensName)
{
    const struct {
        const char* shown;
        const char* lens;
    } rows[] = {
        {"18.0-55.0(mm)  F3.5-F5.6", "18-55mm f/3.5-5.6"},
        {"50.0-50.0(mm)  F1.8-F1.8", "50mm f/1.8"},
        {"17.0-35.0(mm)  F2.8-F2.8", "17-35mm f/2.8"},
        {"0.0-0.0(mm)  F0.0-F0.0", ""},
        {"", ""},
        {"garbage", ""},
    };
    for (const auto& row : rows)
        EXPECT_EQ(LensFromMakerNote(row.shown), row.lens) << row.shown;
}

TEST(LensProfileLookup, LensOptionOverridesTheExif)
{
    LensFacts facts = fullFrameZoom(50, 8);
    facts.lens = "no such lens at all";
    EXPECT_FALSE(database().Find(facts).profile);
    EXPECT_EQ(database().Find(facts).reason, "No lens profile for Canon EOS 5D Mark II / no such lens at all");
    const LensProfile named = profileOf(facts, "EF24-105mm f/4L IS USM");
    EXPECT_EQ(named.lensName, "Canon EF 24-105mm f/4L IS USM");
    EXPECT_EQ(named.camera, "Canon EOS 5D Mark II");
    EXPECT_DOUBLE_EQ(named.cropFactor, 1.0);
    // A wrong name given on purpose wins over a right one in the EXIF.
    EXPECT_EQ(database().Find(fullFrameZoom(50, 8), "no such lens at all").reason,
              "No lens profile for Canon EOS 5D Mark II / no such lens at all");
}

TEST(LensProfileLookup, UnknownCameraTakesItsCropFactorFromThe35mmFocalLength)
{
    LensFacts facts = fullFrameZoom(50, 8);
    facts.make = "Nobody";
    facts.model = "Prototype 1";
    facts.focal35 = 80;
    const LensProfile profile = profileOf(facts);
    EXPECT_TRUE(profile.camera.empty());
    EXPECT_DOUBLE_EQ(profile.cropFactor, 1.6);
}

// Camera and lens names come from the photograph's file, which may hold
// anything: the messages naming them show at most 200 characters of each,
// with "..." after a longer one, and no control character unescaped.
TEST(NamesFromFiles, MessagesQuoteThemShortAndVisible)
{
    const std::string longName = "Make" + std::string(300, 'x');
    const std::string hostile = std::string("Lens\x1b[2J\nname");
    LensFacts facts;
    facts.make = longName;
    facts.lens = hostile;
    CameraFacts camera;
    camera.make = longName;
    camera.model = hostile;
    for (const std::string& text : {NoProfileText(facts, {}), NoProfileText(facts, longName), DescribeCamera(camera)}) {
        SCOPED_TRACE(text);
        EXPECT_EQ(text.find(std::string(201, 'x')), std::string::npos);
        EXPECT_NE(text.find("xxx..."), std::string::npos);
        EXPECT_TRUE(std::none_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 32; }));
    }
    EXPECT_NE(NoProfileText(facts, {}).find("Lens\\x1b[2J\\nname"), std::string::npos);
}

TEST(LensProfileLookup, ListsLensesByPattern)
{
    const std::vector<std::string> names = database().ListLenses("24-105mm f/4L");
    ASSERT_FALSE(names.empty());
    EXPECT_NE(std::find(names.begin(), names.end(), "Canon EF 24-105mm f/4L IS USM"), names.end());
    EXPECT_TRUE(database().ListLenses("zzz-no-such-lens-zzz").empty());
}

// The fall-off the library's vignetting model gives at radius r (the
// half-diagonal 1) for a lens measured on the camera's own sensor size:
// 1 + k1 r^2 + k2 r^4 + k3 r^6 from the coefficients it interpolates.
double modelFalloff(const LensProfile& profile, double r)
{
    lfLensCalibVignetting terms{};
    EXPECT_TRUE(profile.lens->InterpolateVignetting(float(profile.focalLength), float(profile.fNumber),
                                                    float(profile.distance), terms));
    const double r2 = r * r;
    return 1 + terms.Terms[0] * r2 + terms.Terms[1] * r2 * r2 + terms.Terms[2] * r2 * r2 * r2;
}

TEST(LensProfileMask, MatchesTheLibrarysFalloffAtSeveralRadii)
{
    // A 3:2 full-frame camera and a lens measured on full frame: the
    // model's radius is the distance from the centre over the half-diagonal.
    for (const double fNumber : {4.0, 8.0}) {
        SCOPED_TRACE(fNumber);
        const LensProfile profile = profileOf(fullFrameZoom(24, fNumber));
        const int width = 1201, height = 801;
        const Bitmap24 mask = RenderProfileMask(profile, width, height);
        ASSERT_EQ(mask.width(), width);
        ASSERT_EQ(mask.height(), height);
        const double halfDiagonal = std::hypot(width - 1, height - 1) / 2;
        EXPECT_EQ(codeAt(mask, 600, 400, 2), 230);
        for (const double r : {0.0, 0.25, 0.5, 0.75, 0.9, 1.0}) {
            SCOPED_TRACE(r);
            // Along the diagonal towards the bottom right corner.
            const int x = int(std::lround(600 + r * halfDiagonal * (width - 1) / std::hypot(width - 1, height - 1)));
            const int y = int(std::lround(400 + r * halfDiagonal * (height - 1) / std::hypot(width - 1, height - 1)));
            const double radius = std::hypot(x - 600, y - 400) / halfDiagonal;
            const double expected = ProfileCentreLinear() * modelFalloff(profile, radius);
            EXPECT_EQ(codeAt(mask, x, y, 0), codeAt(mask, x, y, 1));
            EXPECT_EQ(codeAt(mask, x, y, 1), codeAt(mask, x, y, 2));
            EXPECT_NEAR(codeAt(mask, x, y, 2), 255 * (expected <= 0.0031308 ? 12.92 * expected
                                                          : 1.055 * std::pow(expected, 1 / 2.4) - 0.055),
                        0.5 + 1e-6);
        }
        // Wide open the corners lose light: the mask is darker there.
        EXPECT_LT(codeAt(mask, width - 1, height - 1, 2), 230);
    }
}

TEST(LensProfileMask, RadialTableStaysWithinTheStatedErrorOfTheLibraryOnEveryPixel)
{
    // Wide open at the short end: the steepest fall-off of this lens; and a
    // crop body, whose fall-off the crop factor stretches.
    LensFacts crop = fullFrameZoom(10, 4);
    crop.model = "Canon EOS 7D";
    crop.lens = "Sigma 10-20mm f/4-5.6 EX DC";
    for (const LensProfile& profile : {profileOf(fullFrameZoom(24, 4)), profileOf(crop)}) {
        for (const auto& [width, height] :
             {std::pair{1500, 1000}, std::pair{480, 640}, std::pair{99, 75}, std::pair{100, 75}, std::pair{1, 2}}) {
            SCOPED_TRACE(std::to_string(width) + " " + std::to_string(profile.cropFactor));
            const std::vector<float> library = ProfileLinearByLibrary(profile, width, height);
            const std::vector<float> table = ProfileLinear(profile, width, height);
            double worst = 0;
            for (std::size_t i = 0; i < library.size(); ++i)
                worst = std::max(worst, std::abs(std::log2(double(table[i]) / double(library[i]))));
            EXPECT_LT(worst, kProfileTableErrorEv);
            // The mask is those values encoded, whatever the number of threads.
            const Bitmap24 one = RenderProfileMask(profile, width, height, 1);
            const Bitmap24 three = RenderProfileMask(profile, width, height, 3);
            EXPECT_TRUE(one == three);
            // Every pixel of the small ones (the mask's halves are mirrored).
            const int stepY = width < 500 ? 1 : 7, stepX = width < 500 ? 1 : 5;
            for (int y = 0; y < height; y += stepY)
                for (int x = 0; x < width; x += stepX)
                    ASSERT_EQ(codeAt(one, x, y, 1),
                              CodeOfLinear(table[std::size_t(y) * std::size_t(width) + std::size_t(x)]))
                        << x << "," << y;
        }
    }
}

TEST(LensProfileMask, HotspotIsTheCentreAtCode230)
{
    const LensProfile profile = profileOf(fullFrameZoom(105, 4));
    const Bitmap24 mask = RenderProfileMask(profile, 600, 400);
    const HotspotLevels levels = SampleCentreLevels(mask);
    EXPECT_EQ(levels.r, 230);
    EXPECT_EQ(levels.g, 230);
    EXPECT_EQ(levels.b, 230);
}

} // namespace
} // namespace lumivane
