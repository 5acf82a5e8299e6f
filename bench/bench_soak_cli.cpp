// SPDX-License-Identifier: GPL-3.0-or-later
// lumivane-cli over 300 small photographs: its resident memory, sampled from
// /proc/<pid>/status as it reports each photograph written, may grow by at
// most 2 MiB after the first 20.
//
//   figure soak_rss_growth_cli_mib     largest VmRSS after photograph 20 minus
//                                      VmRSS at photograph 20
//   figure soak_rss_cli_mib            VmRSS at photograph 20
#include "BenchUtil.h"
#include "BmpCodec.h"
#include "HostileFiles.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

extern char** environ;

namespace fs = std::filesystem;
using namespace lumivane;

namespace {

const int kPhotos = bench::pick(300, 30);
const int kSettled = bench::pick(20, 10);

// Three sizes in turn, as a folder of mixed orientations holds them.
void sizeOf(int i, int& w, int& h)
{
    static const int sizes[3][2] = {{640, 480}, {800, 600}, {600, 800}};
    w = sizes[i % 3][0];
    h = sizes[i % 3][1];
}

} // namespace

int main()
{
    const fs::path dir = fs::temp_directory_path() / ("lumivane-soak-cli-" + std::to_string(::getpid()));
    fs::create_directories(dir / "out");
    std::vector<std::string> args = {LUMIVANE_CLI, "--mask", (dir / "mask.bmp").string(), "--out",
                                     (dir / "out").string(), "--settings", (dir / "defaults.ini").string()};
    {
        Bitmap24 mask(160, 120);
        mask.fill(packColour(200, 190, 180));
        WriteBmpFile(mask, (dir / "mask.bmp").string());
        const std::string ini = "25\r\n40\r\n90\r\nnone\r\n";
        std::FILE* f = std::fopen((dir / "defaults.ini").c_str(), "wb");
        std::fwrite(ini.data(), 1, ini.size(), f);
        std::fclose(f);
        for (int i = 0; i < kPhotos; ++i) {
            int w = 0, h = 0;
            sizeOf(i, w, h);
            const std::string path = (dir / ("p" + std::to_string(i) + ".jpg")).string();
            test_support::WritePatternJpeg(path, w, h, 85);
            args.push_back(path);
        }
    }

    // Standard error comes through a pipe: one line per photograph written.
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return 1;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], 2);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (posix_spawn(&pid, LUMIVANE_CLI, &actions, nullptr, argv.data(), environ) != 0)
        return 1;
    ::close(pipeFds[1]);
    std::FILE* err = ::fdopen(pipeFds[0], "r");
    const std::string self = std::to_string(pid);
    char line[4096];
    int written = 0;
    long settled = 0, highest = 0;
    while (std::fgets(line, sizeof line, err)) {
        if (line[0] != '[')
            continue;
        ++written;
        const long rss = bench::residentKiB(self);
        if (written == kSettled)
            settled = rss;
        else if (written > kSettled)
            highest = std::max(highest, rss);
    }
    std::fclose(err);
    int status = 0;
    ::waitpid(pid, &status, 0);
    fs::remove_all(dir);
    if (written != kPhotos || !WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "lumivane-cli wrote %d of %d photographs\n", written, kPhotos);
        return 1;
    }
    bench::figure("soak_rss_cli_mib", settled / 1024.0, "MiB");
    bench::figure("soak_rss_growth_cli_mib", std::max(0L, highest - settled) / 1024.0, "MiB");
    return 0;
}
