// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer harness: arbitrary bytes through lumivane::fuzz::RunTiffRead.
#include "ImageFuzzTargets.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    lumivane::fuzz::LimitMemoryForFuzzing();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    lumivane::fuzz::RunTiffRead(data, size);
    return 0;
}
