// SPDX-License-Identifier: GPL-3.0-or-later
// How quickly the three files of a few hundred bytes whose headers claim
// 65,000 x 65,000 pixels (BMP, JPEG, TIFF) are refused.
//
//   figure refuse_bomb_ms       in-process: DecodeBySuffix until it raises,
//                               median of 21 runs, the slowest of the three
//   figure refuse_bomb_cli_ms   a fresh lumivane-cli process given the file
//                               as its only photograph (start-up, mask and
//                               settings included), median of 7, slowest
#include "BenchUtil.h"
#include "BmpCodec.h"
#include "FileIO.h"
#include "HostileFiles.h"
#include "ImageFile.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>

using namespace lumivane;
namespace ts = lumivane::test_support;
namespace fs = std::filesystem;

int main()
{
    double slowest = 0;
    for (const std::string& bomb : ts::ClaimedHugeFiles()) {
        const double ms = bench::medianMs(21, [&] {
            Bitmap24 into;
            try {
                DecodeBySuffix(bomb, into, JpegSmoothing::Off);
                std::fprintf(stderr, "%s was decoded\n", bomb.c_str());
            } catch (const std::exception&) {
            }
        });
        std::printf("  in-process %s: %.3f ms\n", fs::path(bomb).filename().c_str(), ms);
        slowest = std::max(slowest, ms);
    }
    bench::figure("refuse_bomb_ms", slowest, "ms");

    const fs::path dir = fs::temp_directory_path() / ("lumivane-refuse-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    Bitmap24 mask(64, 48);
    mask.fill(packColour(200, 190, 180));
    WriteBmpFile(mask, (dir / "mask.bmp").string());
    const std::string ini = "25\r\n40\r\n90\r\nnone\r\n";
    WriteFileAtomically((dir / "defaults.ini").string(), ini.data(), ini.size());
    double slowestCli = 0;
    for (const std::string& bomb : ts::ClaimedHugeFiles()) {
        const double ms = bench::medianMs(7, [&] {
            const ts::ChildRun run = ts::RunProgram(LUMIVANE_CLI, {"--settings", (dir / "defaults.ini").string(),
                                                                  "--mask", (dir / "mask.bmp").string(), "--out",
                                                                  (dir / "out").string(), "--quiet", bomb});
            if (run.status != 1)
                std::fprintf(stderr, "lumivane-cli ended with %d: %s\n", run.status, run.err.c_str());
        });
        std::printf("  lumivane-cli %s: %.1f ms\n", fs::path(bomb).filename().c_str(), ms);
        slowestCli = std::max(slowestCli, ms);
    }
    fs::remove_all(dir);
    bench::figure("refuse_bomb_cli_ms", slowestCli, "ms");
    return 0;
}
