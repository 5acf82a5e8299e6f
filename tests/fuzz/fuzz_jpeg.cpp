// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer harness: arbitrary bytes through lumivane::fuzz::RunJpeg.
#include "FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    lumivane::fuzz::RunJpeg(data, size);
    return 0;
}
