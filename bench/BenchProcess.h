// SPDX-License-Identifier: GPL-3.0-or-later
// Running a program in a fresh process, as a user starts it: its wall time
// from start to exit, its peak resident memory and what it printed.
#pragma once

#include <string>
#include <vector>

namespace bench {

struct ProcessRun {
    double ms = 0;
    double peakMiB = 0;
    std::string output; // standard output
};

// Runs `command` (the program's path first) and waits for it; throws when it
// cannot be started or does not exit with 0.
ProcessRun runProcess(const std::vector<std::string>& command);

double median(std::vector<double> values);

} // namespace bench
