// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer harness: arbitrary bytes through lumivane::fuzz::RunTiff.
#include "FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    lumivane::fuzz::RunTiff(data, size);
    return 0;
}
