// SPDX-License-Identifier: GPL-3.0-or-later
// lumivane-cli --lens-profile against ground truth: a scene in linear light
// darkened by the lens-profile library's own fall-off (its reverse
// modification, every row computed by the library), written as a lossless
// TIFF whose EXIF names camera, lens, focal length and aperture, corrected
// by the program through the profile it finds. The result must meet the
// exact method's accuracy with a flat field: worst ring within 0.02 EV,
// corner shadows within 0.03 EV, 1.0 code RMS. The camera and lens are not
// among those the accuracy benchmark uses.
#include "BmpCodec.h"
#include "CameraExif.h"
#include "GroundTruth.h"
#include "LensProfile.h"
#include "TemporaryFolder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <unistd.h>

namespace lumivane {
namespace {

namespace fs = std::filesystem;

struct Case {
    const char* make;
    const char* model;
    const char* lens; // as the EXIF LensModel names it
    double focalLength;
    double fNumber;
    double cropFactor; // the camera's, as the database knows it
};

TEST(LensProfileAccuracy, GroundTruthThroughTheLibrarysFalloff_CorrectedByTheCliWithinTheExactFigures)
{
    const lumivane::test_support::TemporaryFolder folder("lumivane-lens-accuracy");
    const fs::path dir = folder.path();
    fs::create_directories(dir / "out");
    // Brightness 25 and no stored mask: the settings the accuracy benchmark uses.
    const std::string settings = (dir / "defaults.ini").string();
    std::ofstream(settings) << "25\r\n0\r\n90\r\nnone\r\n";

    const Case cases[] = {
        // A full-frame body with a wide zoom wide open, and a crop body with
        // an ultra-wide zoom: the crop factor scales the fall-off's radius.
        {"NIKON CORPORATION", "NIKON Z 6", "NIKKOR Z 14-24mm f/2.8 S", 14, 2.8, 1.0},
        {"Canon", "Canon EOS 7D", "Sigma 10-20mm f/4-5.6 EX DC", 10, 4, 1.62},
    };
    const truth::Scene scene = truth::MakeScene(360, 240, 7);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.lens);
        const lumivane::testing::CameraExif exif = lumivane::testing::Camera(c.make, c.model, c.fNumber,
                                                                             c.focalLength, c.lens);
        const std::string photoPath = (dir / "photo.tif").string();
        const ProfileLookup lookup = LensDatabase::Instance().Find(
            LensFacts{c.make, c.model, LensFacts::LensSource::Exif, "", c.lens, c.focalLength, c.fNumber, 0, 0});
        ASSERT_TRUE(lookup.profile) << lookup.reason;
        ASSERT_NEAR(lookup.profile->cropFactor, c.cropFactor, 1e-5);
        const Bitmap24 photo = truth::PhotographThroughProfile(scene, *lookup.profile);
        lumivane::testing::WriteCameraTiff(photoPath, photo, exif);

        const std::string out = (dir / "out").string();
        fs::remove_all(out);
        const std::string err = (dir / "err.txt").string();
        const std::string command = std::string(LUMIVANE_CLI) + " --settings '" + settings +
                                    "' --lens-profile --quality bmp --out '" + out + "' '" + photoPath + "' 2> '" +
                                    err + "'";
        ASSERT_EQ(std::system(command.c_str()), 0) << std::ifstream(err).rdbuf();
        const Bitmap24 corrected = ReadBmpFile(out + "/photo.bmp");
        const truth::Score score = truth::ScoreCorrection(scene, corrected);
        EXPECT_LE(std::fabs(score.worstRingEv), 0.02);
        EXPECT_LE(std::fabs(score.cornerShadowEv), 0.03);
        EXPECT_LE(score.rmsCodes, 1.0);
        // The fall-off was there to correct: uncorrected, the corners miss it.
        EXPECT_GT(std::fabs(truth::ScoreCorrection(scene, photo).worstRingEv), 0.2);
    }
}

} // namespace
} // namespace lumivane
