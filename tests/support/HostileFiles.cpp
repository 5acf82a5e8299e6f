// SPDX-License-Identifier: GPL-3.0-or-later
#include "HostileFiles.h"

#include "FileIO.h"
#include "JpegCodec.h"

#include <csignal>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <tiffio.h>
#include <cstdio>
#include <jpeglib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

extern char** environ;

namespace lumivane::test_support {

namespace {

// The pattern's row y, blue, green, red.
void patternRow(std::vector<std::uint8_t>& row, int width, int y)
{
    for (int x = 0; x < width; ++x) {
        row[std::size_t(x) * 3] = std::uint8_t(x / 64);
        row[std::size_t(x) * 3 + 1] = std::uint8_t(y / 64);
        row[std::size_t(x) * 3 + 2] = std::uint8_t(128 + (x + y) / 256);
    }
}

// A libjpeg error here is a fault of the test itself: it ends the program.
[[noreturn]] void failEncoding(j_common_ptr)
{
    std::fputs("libjpeg failed to encode a test picture\n", stderr);
    std::abort();
}

} // namespace

std::uint64_t WritePatternJpeg(const std::string& path, int width, int height, int quality)
{
    std::vector<std::uint8_t> encoded;
    JpegBandEncoder encoder(width, height, quality, encoded);
    std::vector<std::uint8_t> row(std::size_t(width) * 3);
    for (int y = 0; y < height; ++y) {
        patternRow(row, width, y);
        const std::uint8_t* rows[] = {row.data()};
        encoder.WriteRows(rows, 1);
    }
    const std::vector<std::uint8_t>& bytes = encoder.Finish();
    WriteFileAtomically(path, bytes);
    return bytes.size();
}

std::vector<std::uint8_t> PatternProgressiveJpeg(int width, int height, int quality, int restartRows)
{
    jpeg_compress_struct cinfo{};
    jpeg_error_mgr err{};
    cinfo.err = jpeg_std_error(&err);
    err.error_exit = failEncoding;
    jpeg_create_compress(&cinfo);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&cinfo, &buffer, &size);
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    cinfo.in_color_space = JCS_EXT_BGR;
    cinfo.input_components = 3;
    jpeg_set_defaults(&cinfo);
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_simple_progression(&cinfo);
    cinfo.restart_in_rows = restartRows;
    jpeg_start_compress(&cinfo, TRUE);
    std::vector<std::uint8_t> row(std::size_t(width) * 3);
    for (int y = 0; y < height; ++y) {
        patternRow(row, width, y);
        JSAMPROW rows[] = {row.data()};
        jpeg_write_scanlines(&cinfo, rows, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    std::vector<std::uint8_t> bytes(buffer, buffer + size);
    std::free(buffer);
    return bytes;
}

namespace {

// Where the file's last SOS marker stands, and how many there are (FF DA
// never stands in entropy-coded data, where every FF is followed by 00 or a
// restart code).
std::pair<std::size_t, int> lastScanOf(const std::vector<std::uint8_t>& jpeg)
{
    std::size_t lastScan = 0;
    int found = 0;
    for (std::size_t i = 0; i + 1 < jpeg.size(); ++i)
        if (jpeg[i] == 0xFF && jpeg[i + 1] == 0xDA) {
            lastScan = i;
            ++found;
        }
    return {lastScan, found};
}

} // namespace

std::vector<std::uint8_t> CutInItsLastScan(const std::vector<std::uint8_t>& jpeg)
{
    const auto [lastScan, found] = lastScanOf(jpeg);
    if (found == 0 || lastScan + 4 > jpeg.size())
        throw std::runtime_error("not a JPEG with scans");
    const std::size_t data = lastScan + 2 + (std::size_t(jpeg[lastScan + 2]) << 8 | jpeg[lastScan + 3]);
    if (data >= jpeg.size())
        throw std::runtime_error("a JPEG whose last scan holds no data");
    return std::vector<std::uint8_t>(jpeg.begin(), jpeg.begin() + std::ptrdiff_t(data + (jpeg.size() - data) / 2));
}

std::vector<std::uint8_t> RepeatLastScan(const std::vector<std::uint8_t>& jpeg, int scans)
{
    // The last scan and the EOI that closes the file.
    const auto [lastScan, found] = lastScanOf(jpeg);
    if (found == 0 || jpeg.size() < 2 || jpeg[jpeg.size() - 2] != 0xFF || jpeg.back() != 0xD9)
        throw std::runtime_error("not a JPEG with scans");
    const std::size_t end = jpeg.size() - 2;
    std::vector<std::uint8_t> out(jpeg.begin(), jpeg.begin() + std::ptrdiff_t(end));
    for (int i = found; i < scans; ++i)
        out.insert(out.end(), jpeg.begin() + std::ptrdiff_t(lastScan), jpeg.begin() + std::ptrdiff_t(end));
    out.push_back(0xFF);
    out.push_back(0xD9);
    return out;
}

void WritePatternTiff(const std::string& path, int width, int height)
{
    TIFF* tif = TIFFOpen(path.c_str(), "w");
    if (!tif)
        throw std::runtime_error("cannot write " + path);
    TIFFSetField(tif, TIFFTAG_IMAGEWIDTH, std::uint32_t(width));
    TIFFSetField(tif, TIFFTAG_IMAGELENGTH, std::uint32_t(height));
    TIFFSetField(tif, TIFFTAG_BITSPERSAMPLE, 8);
    TIFFSetField(tif, TIFFTAG_SAMPLESPERPIXEL, 3);
    TIFFSetField(tif, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
    TIFFSetField(tif, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
    TIFFSetField(tif, TIFFTAG_ROWSPERSTRIP, 16);
    std::vector<std::uint8_t> row(std::size_t(width) * 3);
    for (int y = 0; y < height; ++y) {
        std::fill(row.begin(), row.end(), std::uint8_t(y));
        TIFFWriteScanline(tif, row.data(), std::uint32_t(y), 0);
    }
    TIFFClose(tif);
}

std::string FuzzSeed(const std::string& folder, const std::string& name)
{
    return std::string(LUMIVANE_TEST_DATA_DIR) + "/fuzz/" + folder + "/" + name;
}

std::vector<std::string> ClaimedHugeFiles()
{
    return {FuzzSeed("bmp", "bomb_65000x65000.bmp"), FuzzSeed("jpegdecode", "bomb_65000x65000.jpg"),
            FuzzSeed("tiffread", "bomb_65000x65000.tif")};
}

std::vector<std::string> DamagedTiffFiles()
{
    return {FuzzSeed("tiffread", "strip_past_end.tif"), FuzzSeed("tiffread", "unknown_compression.tif")};
}

ScopedEnv::ScopedEnv(std::string name, std::optional<std::string> value) : name_(std::move(name))
{
    if (const char* old = std::getenv(name_.c_str()))
        earlier_ = old;
    if (value)
        ::setenv(name_.c_str(), value->c_str(), 1);
    else
        ::unsetenv(name_.c_str());
}

ScopedEnv::~ScopedEnv()
{
    if (earlier_)
        ::setenv(name_.c_str(), earlier_->c_str(), 1);
    else
        ::unsetenv(name_.c_str());
}

StartedChild StartProgram(const std::string& program, const std::vector<std::string>& args,
                          const std::vector<std::string>& env)
{
    std::vector<std::string> argStore = args;
    argStore.insert(argStore.begin(), program);
    std::vector<char*> argv;
    for (std::string& a : argStore)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> envStore;
    for (char** e = environ; *e; ++e)
        envStore.emplace_back(*e);
    envStore.insert(envStore.end(), env.begin(), env.end());
    std::vector<char*> envp;
    for (std::string& e : envStore)
        envp.push_back(e.data());
    envp.push_back(nullptr);

    char errName[] = "/tmp/lumivane-child-err-XXXXXX";
    const int errFd = ::mkstemp(errName);
    if (errFd < 0)
        throw std::runtime_error("cannot make a file for standard error");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, errFd, 2);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    StartedChild child;
    child.errFile = errName;
    child.started = std::chrono::steady_clock::now();
    pid_t pid = -1;
    // The child starts with the file-size signal's default action (killing
    // the process), whatever this test process does with it: the program
    // must protect itself as it would when started from a shell.
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    sigset_t defaults;
    sigemptyset(&defaults);
    sigaddset(&defaults, SIGXFSZ);
    posix_spawnattr_setsigdefault(&attributes, &defaults);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
    const int spawned = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv.data(), envp.data());
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    ::close(errFd);
    if (spawned == 0)
        child.pid = int(pid);
    return child;
}

ChildRun WaitForChild(const StartedChild& child)
{
    ChildRun run;
    if (child.pid > 0) {
        int status = 0;
        rusage usage{};
        ::wait4(pid_t(child.pid), &status, 0, &usage);
        run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - child.started).count();
        run.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        run.peakRssKiB = std::uint64_t(usage.ru_maxrss);
    }
    std::ifstream in(child.errFile);
    run.err.assign(std::istreambuf_iterator<char>(in), {});
    ::unlink(child.errFile.c_str());
    return run;
}

ChildRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                    const std::vector<std::string>& env)
{
    return WaitForChild(StartProgram(program, args, env));
}

int RunWithAddressSpaceLimit(std::uint64_t addressSpaceBytes, const std::function<int()>& work)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        rlimit limit{addressSpaceBytes, addressSpaceBytes};
        ::setrlimit(RLIMIT_AS, &limit);
        int result = 100;
        try {
            result = work();
        } catch (...) {
            result = 101;
        }
        ::_exit(result);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool UnderSanitizer()
{
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
    return true;
#else
    return false;
#endif
#else
    return false;
#endif
}

} // namespace lumivane::test_support
