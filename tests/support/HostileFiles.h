// SPDX-License-Identifier: GPL-3.0-or-later
// Large and hostile inputs for the tests of the memory budget, the write
// faults and the long runs: pictures far larger than any test keeps in
// memory as a bitmap, the crafted headers kept with the fuzzing seeds, an
// environment variable set for one scope, and a child process's peak memory.
#pragma once

#include "TemporaryFolder.h"

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace lumivane::test_support {

// A baseline JPEG of width x height written row band by row band (the
// picture never exists as a bitmap): a smooth gradient that differs from row
// to row, so the file stays small. Returns the number of bytes written.
std::uint64_t WritePatternJpeg(const std::string& path, int width, int height, int quality = 75);

// The same pattern as a progressive JPEG (libjpeg's own ten-scan script),
// with a restart marker every `restartRows` MCU rows when above 0. Returned
// as bytes.
std::vector<std::uint8_t> PatternProgressiveJpeg(int width, int height, int quality = 75, int restartRows = 0);

// A scan bomb: the JPEG's last scan (its SOS segment and entropy-coded data)
// repeated until the file holds `scans` scans. libjpeg decodes every
// repetition again, with only a warning.
std::vector<std::uint8_t> RepeatLastScan(const std::vector<std::uint8_t>& jpeg, int scans);

// The JPEG cut half-way through the entropy-coded data of its last scan: a
// file that ends early (cut inside its headers, a file is refused instead).
std::vector<std::uint8_t> CutInItsLastScan(const std::vector<std::uint8_t>& jpeg);

// An uncompressed 8-bit RGB TIFF of width x height, one grey level per row.
void WritePatternTiff(const std::string& path, int width, int height);

// A file of the fuzzing seeds: tests/data/fuzz/<folder>/<name>.
std::string FuzzSeed(const std::string& folder, const std::string& name);

// The three files of a few hundred bytes whose headers claim 65,000 x 65,000
// pixels (BMP, JPEG, TIFF), as made by tests/data/fuzz/make_bombs.py.
std::vector<std::string> ClaimedHugeFiles();
inline constexpr int kClaimedSide = 65000;

// Damaged 8 x 8 TIFFs whose pixels are kept and reported ("TIFF strip
// unreadable"): a strip past the end of the file and an unknown
// compression, as made by tests/data/fuzz/make_bombs.py.
std::vector<std::string> DamagedTiffFiles();

// Sets (or, given no value, removes) an environment variable while the
// object lives and puts the earlier value back.
class ScopedEnv {
public:
    ScopedEnv(std::string name, std::optional<std::string> value);
    ~ScopedEnv();
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
    std::string name_;
    std::optional<std::string> earlier_;
};

// What a child process did.
struct ChildRun {
    int status = -1;            // exit status, or 128 + signal
    std::uint64_t peakRssKiB = 0; // the child's peak resident memory
    double seconds = 0;         // wall-clock time from start to exit
    std::string err;            // what it wrote to standard error
};

// A child process started and not yet waited for.
struct StartedChild {
    int pid = -1;         // -1 when it could not be started
    std::string errFile;  // where its standard error goes
    std::chrono::steady_clock::time_point started;
};

// Starts `program` with `args`, the current environment plus `env`
// ("NAME=value" entries), standard output discarded and standard error
// kept in a file of its own. The caller may signal the child by its pid and
// must wait for it with WaitForChild.
StartedChild StartProgram(const std::string& program, const std::vector<std::string>& args,
                          const std::vector<std::string>& env = {});

// Waits for the child to end; what it did, its standard error file removed.
ChildRun WaitForChild(const StartedChild& child);

// Starts `program` as StartProgram does and waits for it.
ChildRun RunProgram(const std::string& program, const std::vector<std::string>& args,
                    const std::vector<std::string>& env = {});

// Runs `work` in a forked child whose address space is limited to
// `addressSpaceBytes`, so any larger allocation fails there. Returns the
// child's exit status: `work`'s result, or 128 + signal when it died.
int RunWithAddressSpaceLimit(std::uint64_t addressSpaceBytes, const std::function<int()>& work);

// Whether this build runs under AddressSanitizer or ThreadSanitizer, which
// reserve address space of their own and slow big pictures down.
bool UnderSanitizer();

} // namespace lumivane::test_support
