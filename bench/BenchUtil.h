// SPDX-License-Identifier: GPL-3.0-or-later
// Small helpers shared by the benchmark programs: timing a callable several
// times and printing figures as "figure <name> <value> <unit>".
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace bench {

// A smoke run (bench/run --smoke, which sets LUMIVANE_BENCH_SMOKE=1) only
// shows that every benchmark still builds, runs and prints its figures: each
// timing runs once, without a warm-up, on a small picture. Its figures say
// nothing about speed.
inline bool smokeRun()
{
    const char* smoke = std::getenv("LUMIVANE_BENCH_SMOKE");
    return smoke != nullptr && *smoke != '\0' && std::string(smoke) != "0";
}

// `full` in a real run, `small` in a smoke run (sizes, counts of files).
template <typename T>
T pick(T full, T small)
{
    return smokeRun() ? small : full;
}

// Runs `fn` once to warm up, then `runs` times, and returns the median time
// of one call in milliseconds (one call and no warm-up in a smoke run).
template <typename Fn>
double medianMs(int runs, Fn&& fn)
{
    if (smokeRun())
        runs = 1;
    else
        fn();
    std::vector<double> times;
    times.reserve(std::size_t(runs));
    for (int i = 0; i < runs; ++i) {
        const auto t0 = std::chrono::steady_clock::now();
        fn();
        const auto t1 = std::chrono::steady_clock::now();
        times.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// The median of timings (milliseconds), e.g. of two sides timed in turns.
inline double median(std::vector<double> times)
{
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// The milliseconds one call of `fn` takes.
template <typename Fn>
double msOf(Fn&& fn)
{
    const auto t0 = std::chrono::steady_clock::now();
    fn();
    return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

inline void figure(const std::string& name, double value, const std::string& unit)
{
    std::printf("figure %s %.4g %s\n", name.c_str(), value, unit.c_str());
    std::fflush(stdout);
}

// Prevents the optimiser from dropping a computed value.
template <typename T>
inline void keep(const T& value)
{
    asm volatile("" : : "g"(&value) : "memory");
}

// Resident memory of a process (VmRSS in /proc/<pid>/status) in KiB; "self"
// for this process. 0 when the process is gone.
inline long residentKiB(const std::string& pid = "self")
{
    std::ifstream status("/proc/" + pid + "/status");
    std::string key;
    while (status >> key) {
        if (key == "VmRSS:") {
            long kib = 0;
            status >> kib;
            return kib;
        }
        status.ignore(4096, '\n');
    }
    return 0;
}

} // namespace bench
