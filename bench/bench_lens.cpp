// SPDX-License-Identifier: GPL-3.0-or-later
// Lens profiles: what they cost and how well they correct.
//
//   figure lens_db_load_ms              loading the lens-profile database, the
//                                       first time this process asks for it
//   figure profile_mask_ms              the profile mask of a 24-megapixel
//                                       photograph, on two threads
//   figure profile_mask_decode_ms       decoding that photograph (JPEG)
//   figure profile_mask_vs_decode       the first over the second (at most 1.0)
//   figure cli_batch_profile_vs_flat    eight 24-megapixel photographs through
//                                       lumivane-cli --lens-profile, against the
//                                       same with a flat field and the exact
//                                       method, each a fresh process (so the
//                                       database load is included; at most 1.05);
//                                       after one untimed run of each, the two
//                                       alternate, five runs each
//   figure lens_profile_worst_ring_ev, lens_profile_corner_shadow_ev,
//          lens_profile_rms_codes       a ground-truth scene darkened by the
//                                       library's own fall-off for three lenses
//                                       at two apertures each, written as TIFF
//                                       with EXIF naming camera and lens, through
//                                       lumivane-cli --lens-profile: the worst of
//                                       the six (limits 0.02 EV, 0.03 EV, 1.0)
//
// A smoke run works on 600 x 400 pictures.
#include "BenchFiles.h"
#include "BenchProcess.h"
#include "BenchUtil.h"

#include "BmpCodec.h"
#include "CameraExif.h"
#include "FileIO.h"
#include "GroundTruth.h"
#include "ImageFile.h"
#include "LensProfile.h"

#include <chrono>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <unistd.h>

using namespace lumivane;
namespace fs = std::filesystem;

namespace {

struct Shot {
    const char* lens; // as the EXIF LensModel names it
    double focalLength;
    double fNumber;
};

// Three lenses at two apertures, on one full-frame body.
const Shot kShots[] = {
    {"EF24-105mm f/4L IS USM", 24, 4},   {"EF24-105mm f/4L IS USM", 105, 8},
    {"EF50mm f/1.4 USM", 50, 1.4},       {"EF50mm f/1.4 USM", 50, 4},
    {"EF70-200mm f/4L IS USM", 70, 4},   {"EF70-200mm f/4L IS USM", 200, 8},
};
const char* const kMake = "Canon";
const char* const kModel = "Canon EOS 5D Mark II";

LensProfile profileOf(const Shot& shot)
{
    LensFacts facts;
    facts.make = kMake;
    facts.model = kModel;
    facts.lens = shot.lens;
    facts.lensSource = LensFacts::LensSource::Exif;
    facts.focalLength = shot.focalLength;
    facts.fNumber = shot.fNumber;
    const ProfileLookup lookup = LensDatabase::Instance().Find(facts);
    if (!lookup.profile)
        throw std::runtime_error(lookup.reason);
    return *lookup.profile;
}

// The bench photograph with the EXIF of the first shot put in front.
void writeWithExif(const std::string& jpeg, const std::string& to)
{
    std::vector<std::uint8_t> bytes = ReadWholeFile(jpeg);
    const std::vector<std::uint8_t> segment =
        lumivane::testing::ExifSegment(lumivane::testing::Camera(kMake, kModel, kShots[0].fNumber,
                                                                 kShots[0].focalLength, kShots[0].lens));
    bytes.insert(bytes.begin() + 2, segment.begin(), segment.end());
    std::ofstream(to, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

void accuracy(const fs::path& work)
{
    const int width = bench::pick(1800, 360), height = bench::pick(1200, 240);
    const truth::Scene scene = truth::MakeScene(width, height, 1);
    truth::Score worst;
    for (const Shot& shot : kShots) {
        const std::string photo = (work / "truth.tif").string();
        lumivane::testing::WriteCameraTiff(
            photo, truth::PhotographThroughProfile(scene, profileOf(shot)),
            lumivane::testing::Camera(kMake, kModel, shot.fNumber, shot.focalLength, shot.lens));
        const fs::path out = work / "truth_out";
        fs::remove_all(out);
        bench::runProcess({LUMIVANE_CLI, "--quiet", "--settings", (work / "defaults.ini").string(), "--lens-profile",
                           "--quality", "bmp", "--out", out.string(), photo});
        const truth::Score s = truth::ScoreCorrection(scene, ReadBmpFile((out / "truth.bmp").string()));
        if (std::fabs(s.worstRingEv) > std::fabs(worst.worstRingEv))
            worst.worstRingEv = s.worstRingEv;
        if (std::fabs(s.cornerShadowEv) > std::fabs(worst.cornerShadowEv))
            worst.cornerShadowEv = s.cornerShadowEv;
        worst.rmsCodes = std::max(worst.rmsCodes, s.rmsCodes);
    }
    bench::figure("lens_profile_worst_ring_ev", worst.worstRingEv, "EV");
    bench::figure("lens_profile_corner_shadow_ev", worst.cornerShadowEv, "EV");
    bench::figure("lens_profile_rms_codes", worst.rmsCodes, "codes");
}

} // namespace

int main()
{
    const auto t0 = std::chrono::steady_clock::now();
    LensDatabase::Instance();
    bench::figure("lens_db_load_ms",
                  std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count(), "ms");

    const bench::BenchFiles files = bench::writeBenchFiles();
    const fs::path work = files.folder;
    const std::string settings = (work / "defaults.ini").string();
    std::ofstream(settings) << "25\r\n0\r\n90\r\nnone\r\n";

    const LensProfile profile = profileOf(kShots[0]);
    const double maskMs = bench::medianMs(3, [&] {
        bench::keep(RenderProfileMask(profile, bench::kFileWidth, bench::kFileHeight, 2));
    });
    const double decodeMs = bench::medianMs(3, [&] {
        Bitmap24 photo;
        DecodeBySuffix(files.photo, photo, JpegSmoothing::Off);
        bench::keep(photo);
    });
    bench::figure("profile_mask_ms", maskMs, "ms");
    bench::figure("profile_mask_decode_ms", decodeMs, "ms");
    bench::figure("profile_mask_vs_decode", maskMs / decodeMs, "ratio");

    // Eight photographs of one lens at one setting, as a shoot gives them.
    std::vector<std::string> photos;
    for (int i = 0; i < bench::pick(8, 2); ++i) {
        photos.push_back((work / ("shot" + std::to_string(i) + ".jpg")).string());
        writeWithExif(files.photo, photos.back());
    }
    const auto batch = [&](const std::vector<std::string>& maskArgs) {
        const fs::path out = work / "out";
        fs::remove_all(out);
        std::vector<std::string> command = {LUMIVANE_CLI, "--quiet", "--settings", settings, "--jobs", "2"};
        command.insert(command.end(), maskArgs.begin(), maskArgs.end());
        command.insert(command.end(), {"--out", out.string()});
        command.insert(command.end(), photos.begin(), photos.end());
        return bench::runProcess(command).ms;
    };
    const std::vector<std::string> profileArgs = {"--lens-profile"};
    const std::vector<std::string> flatArgs = {"--mask", files.mask, "--method", "exact"};
    // One untimed run of each first, so both find their files (the
    // database's, the mask) in the page cache as the photographs already
    // are; then the two alternate, so a slower stretch of the machine falls
    // on both.
    batch(profileArgs);
    batch(flatArgs);
    std::vector<double> profileTimes, flatTimes;
    for (int run = 0; run < bench::pick(5, 1); ++run) {
        profileTimes.push_back(batch(profileArgs));
        flatTimes.push_back(batch(flatArgs));
    }
    const double profileMs = bench::median(profileTimes);
    const double flatMs = bench::median(flatTimes);
    bench::figure("cli_batch_profile_ms", profileMs, "ms");
    bench::figure("cli_batch_flat_ms", flatMs, "ms");
    bench::figure("cli_batch_profile_vs_flat", profileMs / flatMs, "ratio");

    accuracy(work);
    fs::remove_all(work); // the bench files and everything written beside them
    return 0;
}
