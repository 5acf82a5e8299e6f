// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer harness: arbitrary bytes through lumivane::fuzz::RunIptc.
#include "FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    lumivane::fuzz::RunIptc(data, size);
    return 0;
}
