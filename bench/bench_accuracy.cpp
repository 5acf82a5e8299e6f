// SPDX-License-Identifier: GPL-3.0-or-later
// Accuracy of the correction against ground truth: a scene in linear light
// (deep shadow to near white, hard edges, fine texture) darkened by a known
// fall-off, and a grey card (centre code 208) through the same fall-off, both
// written as lossless 24-bit BMPs and corrected by lumivane-cli with the
// hotspot at the mask's centre, brightness 25. Scored ring by ring (ten equal
// steps of the radius, corners at 1): log2 of the output's mean linear light
// over the truth's, the three channels averaged.
//
//   figure exact_worst_ring_ev       --method exact --colour both: the ring
//                                    with the largest error, worst fall-off
//   figure exact_corner_shadow_ev    the outer fifth of the radius, pixels
//                                    whose truth is below 0.03 linear
//   figure exact_rms_codes           all pixels, sRGB codes, against the
//                                    unrounded truth
//   figure additive_worst_ring_ev, additive_corner_shadow_ev,
//          additive_rms_codes        the additive method at its best boost
//                                    (--strength 0, 10, ..., 100, the one
//                                    with the smallest worst-ring error)
// and the same per fall-off (suffixes _cos4, _poly, _zoom, _tinted), with
// additive_best_strength_<fall-off>, and additive_boost100_worst_ring_ev,
// _corner_shadow_ev and _rms_codes per fall-off: the additive method at
// --strength 100.
//
// Arguments: --small (or a smoke run) for a 360 x 240 scene instead of
// 1800 x 1200.
#include "BenchProcess.h"
#include "BenchUtil.h"

#include "BmpCodec.h"
#include "FileIO.h"
#include "GroundTruth.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

using namespace lumivane;
namespace fs = std::filesystem;

namespace {

// lumivane-cli on one photograph; returns the corrected picture it wrote.
Bitmap24 correctWithCli(const fs::path& work, const std::string& photo, const std::string& mask,
                        const std::vector<std::string>& methodArgs)
{
    const fs::path out = work / "out";
    fs::remove_all(out);
    std::vector<std::string> command = {LUMIVANE_CLI, "--quiet", "--settings", (work / "defaults.ini").string(),
                                        "--mask", mask, "--brightness", "25", "--quality", "bmp",
                                        "--hotspot", "160,120"};
    command.insert(command.end(), methodArgs.begin(), methodArgs.end());
    command.insert(command.end(), {"--out", out.string(), photo});
    bench::runProcess(command);
    for (const auto& entry : fs::directory_iterator(out))
        return ReadBmpFile(entry.path().string());
    throw std::runtime_error("lumivane-cli wrote nothing");
}

struct Worst {
    truth::Score score;
    void take(const truth::Score& s)
    {
        if (std::fabs(s.worstRingEv) > std::fabs(score.worstRingEv))
            score.worstRingEv = s.worstRingEv;
        if (std::fabs(s.cornerShadowEv) > std::fabs(score.cornerShadowEv))
            score.cornerShadowEv = s.cornerShadowEv;
        score.rmsCodes = std::max(score.rmsCodes, s.rmsCodes);
    }
};

void printScore(const std::string& prefix, const std::string& suffix, const truth::Score& s)
{
    bench::figure(prefix + "_worst_ring_ev" + suffix, s.worstRingEv, "EV");
    bench::figure(prefix + "_corner_shadow_ev" + suffix, s.cornerShadowEv, "EV");
    bench::figure(prefix + "_rms_codes" + suffix, s.rmsCodes, "codes");
}

} // namespace

int main(int argc, char** argv)
{
    bool small = bench::smokeRun();
    for (int i = 1; i < argc; ++i)
        small = small || std::string(argv[i]) == "--small";
    const int width = small ? 360 : 1800, height = small ? 240 : 1200;

    std::string pattern = (fs::temp_directory_path() / "lumivane-bench-accuracy-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        return 1;
    const fs::path work = pattern;
    const std::string stored = "25\r\n50\r\n90\r\nnone\r\n";
    WriteFileAtomically((work / "defaults.ini").string(), stored.data(), stored.size());

    // The exact method through lumivane-cli once it takes --method; until
    // then through the same kernel in this process.
    const bool cliHasMethod = bench::runProcess({LUMIVANE_CLI, "--help"}).output.find("--method") != std::string::npos;
    std::printf("exact method corrected %s\n",
                cliHasMethod ? "by lumivane-cli --method exact --colour both"
                             : "in this process through the kernel (lumivane-cli has no --method yet)");

    const truth::Scene scene = truth::MakeScene(width, height, 1);
    Worst exactWorst, additiveWorst;
    for (const truth::Falloff& falloff : truth::StandardFalloffs()) {
        const std::string photoPath = (work / ("photo_" + falloff.name + ".bmp")).string();
        const std::string maskPath = (work / ("mask_" + falloff.name + ".bmp")).string();
        const Bitmap24 photo = truth::Photograph(scene, falloff);
        const Bitmap24 mask = truth::FlatField(width, height, falloff);
        WriteBmpFile(photo, photoPath);
        WriteBmpFile(mask, maskPath);

        const Bitmap24 exact =
            cliHasMethod ? correctWithCli(work, photoPath, maskPath, {"--method", "exact", "--colour", "both"})
                         : truth::CorrectInProcess(photo, mask,
                                                   {CorrectionMethod::Exact, ColourOption::FalloffAndColour}, 0);
        const truth::Score exactScore = truth::ScoreCorrection(scene, exact);
        printScore("exact", "_" + falloff.name, exactScore);
        exactWorst.take(exactScore);

        truth::Score best;
        int bestStrength = -1;
        for (int strength = 0; strength <= 100; strength += 10) {
            std::vector<std::string> args = {"--strength", std::to_string(strength)};
            if (cliHasMethod)
                args.insert(args.begin(), {"--method", "additive"});
            const truth::Score s = truth::ScoreCorrection(scene, correctWithCli(work, photoPath, maskPath, args));
            if (strength == 100)
                printScore("additive_boost100", "_" + falloff.name, s);
            if (bestStrength < 0 || std::fabs(s.worstRingEv) < std::fabs(best.worstRingEv)) {
                best = s;
                bestStrength = strength;
            }
        }
        printScore("additive", "_" + falloff.name, best);
        bench::figure("additive_best_strength_" + falloff.name, bestStrength, "boost");
        additiveWorst.take(best);
    }
    printScore("exact", "", exactWorst.score);
    printScore("additive", "", additiveWorst.score);

    std::error_code ignored;
    fs::remove_all(work, ignored);
    return 0;
}
