// SPDX-License-Identifier: GPL-3.0-or-later
// lumivane-cli as a user meets it: whole processes started fresh, wall time
// from start to exit, on the 24-megapixel benchmark files.
//   cli_job_24mp_ms              one photograph corrected into a JPEG, quality 90
//   cli_batch_24mp_per_photo_ms  eight photographs with the default jobs, per photograph
//   cli_batch_peak_rss_mib       peak resident memory of that batch
//   codec_24mp_ms                decode plus encode of one photograph, one thread, in process
//   cli_batch_vs_codec           the batch's time per photograph against that codec time
//   cli_batch_100mib_peak_rss_mib    the batch with two jobs under a 100 MiB budget
//                                    (LUMIVANE_MEMORY_LIMIT_MIB): its peak resident memory,
//   cli_batch_100mib_per_photo_ms    and its time per photograph; every one is written
#include "BenchFiles.h"
#include "BenchUtil.h"

#include "FileIO.h"
#include "JpegCodec.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <spawn.h>
#include <stdexcept>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct ProcessRun {
    double ms = 0;
    double peakMiB = 0;
};

ProcessRun runCli(std::vector<std::string> args)
{
    args.insert(args.begin(), LUMIVANE_CLI);
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    const auto start = Clock::now();
    pid_t pid = -1;
    if (posix_spawn(&pid, LUMIVANE_CLI, nullptr, nullptr, argv.data(), environ) != 0)
        throw std::runtime_error("cannot start lumivane-cli");
    int status = 0;
    rusage usage{};
    ::wait4(pid, &status, 0, &usage);
    ProcessRun run;
    run.ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    run.peakMiB = double(usage.ru_maxrss) / 1024.0;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("lumivane-cli failed");
    return run;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

} // namespace

int main()
{
    const bench::BenchFiles files = bench::writeBenchFiles();
    const fs::path folder = files.folder;
    const std::string settings = (folder / "defaults.ini").string();
    const std::string stored = "25\r\n50\r\n90\r\nnone\r\n";
    lumivane::WriteFileAtomically(settings, stored.data(), stored.size());
    std::vector<std::string> eight;
    for (int i = 0; i < bench::pick(8, 2); ++i) {
        const fs::path copy = folder / ("photo" + std::to_string(i) + ".jpg");
        fs::copy_file(files.photo, copy);
        eight.push_back(copy.string());
    }
    // The files just written go to disk now: otherwise the first fsync of a
    // measured run waits for them (ext4 commits other files' data with it),
    // a cost of this set-up, not of the program.
    ::sync();
    const std::vector<std::string> common = {"--quiet", "--settings", settings, "--mask", files.mask,
                                             "--strength", "50", "--quality", "90"};
    auto outFolder = [&](int run) { return (folder / ("out" + std::to_string(run))).string(); };

    std::vector<double> job;
    for (int run = 0; run < bench::pick(5, 1); ++run) {
        std::vector<std::string> args = common;
        args.insert(args.end(), {"--out", outFolder(run), files.photo});
        job.push_back(runCli(args).ms);
        fs::remove_all(outFolder(run));
    }
    bench::figure("cli_job_24mp_ms", median(job), "ms");

    // The batch and the codec alone, measured in turns: on a shared machine
    // the speed drifts over seconds, and a drift then moves both alike. The
    // ratio is the median of each turn's ratio.
    std::vector<double> perPhoto, peak, codec, ratio;
    lumivane::Bitmap24 decoded;
    for (int run = 0; run < bench::pick(5, 1); ++run) {
        std::vector<std::string> args = common;
        args.insert(args.end(), {"--out", outFolder(run)});
        args.insert(args.end(), eight.begin(), eight.end());
        const ProcessRun r = runCli(args);
        perPhoto.push_back(r.ms / double(eight.size()));
        peak.push_back(r.peakMiB);
        fs::remove_all(outFolder(run));
        // Decode and encode on one thread, storage reused: the first turn
        // pays for the fresh pages, the rest are warm.
        codec.push_back(bench::medianMs(3, [&] {
            lumivane::TJPEGImage jpeg;
            jpeg.Smoothing = false;
            jpeg.LoadFromFile(files.photo);
            jpeg.DecodeInto(decoded);
            bench::keep(lumivane::EncodeJpeg(decoded, 90));
        }));
        ratio.push_back(perPhoto.back() / codec.back());
    }
    bench::figure("cli_batch_24mp_per_photo_ms", median(perPhoto), "ms");
    bench::figure("cli_batch_peak_rss_mib", median(peak), "MiB");
    bench::figure("codec_24mp_ms", median(codec), "ms");
    bench::figure("cli_batch_vs_codec", median(ratio), "x");

    // A small budget: the mask (as large as the photographs) held for the
    // run, each photograph streamed beside it; the two jobs take turns
    // where both do not fit.
    std::vector<double> tightPeak, tightPerPhoto;
    ::setenv("LUMIVANE_MEMORY_LIMIT_MIB", "100", 1);
    for (int run = 0; run < bench::pick(3, 1); ++run) {
        std::vector<std::string> args = common;
        args.insert(args.end(), {"--jobs", "2", "--out", outFolder(run)});
        args.insert(args.end(), eight.begin(), eight.end());
        const ProcessRun r = runCli(args);
        tightPeak.push_back(r.peakMiB);
        tightPerPhoto.push_back(r.ms / double(eight.size()));
        fs::remove_all(outFolder(run));
    }
    ::unsetenv("LUMIVANE_MEMORY_LIMIT_MIB");
    bench::figure("cli_batch_100mib_peak_rss_mib", median(tightPeak), "MiB");
    bench::figure("cli_batch_100mib_per_photo_ms", median(tightPerPhoto), "ms");

    for (const std::string& p : eight)
        fs::remove(p);
    fs::remove(settings);
    bench::removeBenchFiles(files);
    return 0;
}
