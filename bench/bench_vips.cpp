// SPDX-License-Identifier: GPL-3.0-or-later
// The correction job against a peer written on libvips (vips_job), both on
// the 24-megapixel benchmark files:
//   vips_job_24mp_ms           vips_job in a fresh process, decode of the
//                              photograph and the mask, stretch, correction,
//                              JPEG at quality 90; wall time from start to
//                              exit, median of 5
//   lumivane_job_24mp_ms       the same job done by the program's core in a
//                              fresh process (this program re-executed):
//                              decode both files, hotspot levels, band-wise
//                              correction and encode, write with the EXIF
//                              head; median of 5
//   vips_max_pixel_diff        the largest difference of one channel value
//                              between libvips' corrected picture and the
//                              program's, both written once as uncompressed
//                              files before any encoding
//   vips_formula_max_diff      the same, with the program's correction run
//                              on libvips' own decoded pictures: what the
//                              floating-point formula alone accounts for
//   vips_decode_max_diff       libvips' decoded photograph against the
//                              program's decoder
#include "BenchFiles.h"
#include "BenchUtil.h"

#include "BmpCodec.h"
#include "CorrectionKernel.h"
#include "FileIO.h"
#include "JpegCodec.h"
#include "MaskGeometry.h"
#include "SavePipeline.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using namespace lumivane;

namespace {

const int kRuns = bench::pick(5, 1);
constexpr int kStrength = 40;
constexpr int kBrightness = 25;

struct Job {
    float damping = 0;
    CorrectionTargets targets;
};

Bitmap24 decodeFile(const std::string& path, bool smoothing)
{
    TJPEGImage jpeg;
    jpeg.Smoothing = smoothing;
    jpeg.LoadFromFile(path);
    return jpeg.Decode();
}

Job jobFor(const Bitmap24& mask)
{
    const HotspotLevels levels = SampleCentreLevels(mask);
    return Job{DampingForStrength(kStrength), TargetsFor(levels.r, levels.g, levels.b, kBrightness)};
}

// The program's job: the photograph and the mask decoded (the benchmark
// files have one size, so the mask needs no stretch), corrected against the
// centre levels, encoded at quality 90 and written with the EXIF head.
int runOurJob(const std::string& photoPath, const std::string& maskPath, const std::string& out)
{
    const Bitmap24 photo = decodeFile(photoPath, false);
    const Bitmap24 mask = decodeFile(maskPath, true);
    if (photo.width() != mask.width() || photo.height() != mask.height())
        throw std::runtime_error("the benchmark's photograph and mask differ in size");
    const Job job = jobFor(mask);
    SavePipeline pipeline;
    pipeline.SaveCorrectedJpeg(photo, mask, CorrectionRegion{}, job.damping, job.targets, CropMargins{}, 90,
                               photoPath, OutputTarget(out));
    return 0;
}

// Runs the command in a fresh process and returns its wall time from start
// to exit in milliseconds.
double runMs(const std::vector<std::string>& command)
{
    std::vector<char*> args;
    for (const std::string& a : command)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const auto t0 = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid < 0)
        throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::execv(args[0], args.data());
        std::_Exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    const auto t1 = std::chrono::steady_clock::now();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error(command[0] + " failed");
    return std::chrono::duration<double, std::milli>(t1 - t0).count();
}

double medianRunMs(const std::vector<std::string>& command)
{
    std::vector<double> times;
    for (int i = 0; i < kRuns; ++i)
        times.push_back(runMs(command));
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// A binary PPM (P6, maxval 255) as written by libvips, into a bitmap.
Bitmap24 readPpm(const std::string& path)
{
    const std::vector<std::uint8_t> file = ReadWholeFile(path);
    std::size_t pos = 0;
    auto token = [&]() {
        for (;;) {
            while (pos < file.size() && std::isspace(file[pos]))
                ++pos;
            if (pos < file.size() && file[pos] == '#') {
                while (pos < file.size() && file[pos] != '\n')
                    ++pos;
                continue;
            }
            break;
        }
        std::string t;
        while (pos < file.size() && !std::isspace(file[pos]))
            t.push_back(char(file[pos++]));
        return t;
    };
    if (token() != "P6")
        throw std::runtime_error(path + ": not a binary PPM");
    const int width = std::stoi(token());
    const int height = std::stoi(token());
    if (token() != "255")
        throw std::runtime_error(path + ": not 8 bits per sample");
    ++pos; // the one blank after the header
    if (width <= 0 || height <= 0 || file.size() - pos < std::size_t(width) * std::size_t(height) * 3)
        throw std::runtime_error(path + ": pixel data missing");
    Bitmap24 picture(width, height);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = picture.scanLine(y);
        const std::uint8_t* rgb = file.data() + pos + std::size_t(y) * std::size_t(width) * 3;
        for (int x = 0; x < width; ++x) {
            row[x * 3] = rgb[x * 3 + 2];
            row[x * 3 + 1] = rgb[x * 3 + 1];
            row[x * 3 + 2] = rgb[x * 3];
        }
    }
    return picture;
}

int maxDifference(Bitmap24& a, Bitmap24& b, long long& differing)
{
    if (a.width() != b.width() || a.height() != b.height())
        throw std::runtime_error("the compared pictures differ in size");
    int largest = 0;
    differing = 0;
    for (int y = 0; y < a.height(); ++y) {
        const std::uint8_t* p = a.scanLine(y);
        const std::uint8_t* q = b.scanLine(y);
        for (std::size_t i = 0; i < a.rowBytes(); ++i) {
            const int d = std::abs(int(p[i]) - int(q[i]));
            largest = std::max(largest, d);
            differing += d != 0;
        }
    }
    return largest;
}

std::string number(double v)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.9g", v);
    return text;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        if (argc == 5 && std::string(argv[1]) == "--our-job")
            return runOurJob(argv[2], argv[3], argv[4]);

        const bench::BenchFiles files = bench::writeBenchFiles();
        const std::string dir = files.folder;
        const std::string vipsJob = LUMIVANE_VIPS_JOB;

        // The program's corrected picture, written uncompressed.
        Bitmap24 photo = decodeFile(files.photo, false);
        const Bitmap24 mask = decodeFile(files.mask, true);
        const Job job = jobFor(mask);
        Bitmap24 ours = photo;
        ApplyCorrection(ours, mask, CorrectionRegion{}, job.damping, job.targets);
        WriteBmpFile(ours, dir + "/ours.bmp");

        const std::vector<std::string> vipsArgs = {vipsJob,
                                                   files.photo,
                                                   files.mask,
                                                   "",
                                                   std::to_string(job.targets.r),
                                                   std::to_string(job.targets.g),
                                                   std::to_string(job.targets.b),
                                                   number(job.damping)};
        std::vector<std::string> toPpm = vipsArgs;
        toPpm[3] = dir + "/vips.ppm";
        runMs(toPpm);
        runMs({vipsJob, "--decoded", files.photo, files.mask, dir + "/vips-photo.ppm", dir + "/vips-mask.ppm"});

        Bitmap24 oursRead = ReadBmpFile(dir + "/ours.bmp");
        Bitmap24 theirs = readPpm(dir + "/vips.ppm");
        long long differing = 0;
        const int jobDiff = maxDifference(oursRead, theirs, differing);
        const long long jobDiffering = differing;

        Bitmap24 vipsPhoto = readPpm(dir + "/vips-photo.ppm");
        Bitmap24 vipsMask = readPpm(dir + "/vips-mask.ppm");
        const int decodeDiff = maxDifference(photo, vipsPhoto, differing);
        const Job vipsInputJob = jobFor(vipsMask);
        ApplyCorrection(vipsPhoto, vipsMask, CorrectionRegion{}, vipsInputJob.damping, vipsInputJob.targets);
        const int formulaDiff = maxDifference(vipsPhoto, theirs, differing);
        const long long formulaDiffering = differing;
        for (const char* name : {"/ours.bmp", "/vips.ppm", "/vips-photo.ppm", "/vips-mask.ppm"})
            std::remove((dir + name).c_str());

        std::vector<std::string> toJpeg = vipsArgs;
        toJpeg[3] = dir + "/vips.jpg";
        const double vipsMs = medianRunMs(toJpeg);
        const double ourMs = medianRunMs({"/proc/self/exe", "--our-job", files.photo, files.mask, dir + "/ours.jpg"});
        std::remove((dir + "/vips.jpg").c_str());
        std::remove((dir + "/ours.jpg").c_str());
        // The same job as a user runs it: lumivane-cli started fresh, with
        // the strength and brightness the peer was given.
        const std::string ini = dir + "/defaults.ini";
        const std::string stored = "25\r\n40\r\n90\r\nnone\r\n";
        WriteFileAtomically(ini, stored.data(), stored.size());
        const double cliMs = medianRunMs({LUMIVANE_CLI, "--quiet", "--settings", ini, "--mask", files.mask,
                                          "--strength", "40", "--brightness", "25", "--quality", "90", "--out",
                                          dir + "/cli", files.photo});
        std::filesystem::remove_all(dir + "/cli");
        std::remove(ini.c_str());
        bench::removeBenchFiles(files);

        bench::figure("vips_job_24mp_ms", vipsMs, "ms");
        bench::figure("lumivane_job_24mp_ms", ourMs, "ms");
        bench::figure("cli_job_24mp_ms", cliMs, "ms");
        bench::figure("cli_job_vs_vips", cliMs / vipsMs, "x");
        bench::figure("vips_max_pixel_diff", jobDiff, "levels");
        std::printf("  channel values differing: %lld of %lld\n", jobDiffering,
                    (long long)(ours.byteCount()));
        bench::figure("vips_formula_max_diff", formulaDiff, "levels");
        std::printf("  channel values differing: %lld\n", formulaDiffering);
        bench::figure("vips_decode_max_diff", decodeDiff, "levels");
        return 0;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_vips: %s\n", e.what());
        return 1;
    }
}
