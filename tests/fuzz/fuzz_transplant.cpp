// SPDX-License-Identifier: GPL-3.0-or-later
// libFuzzer harness: arbitrary bytes as the source photograph of an EXIF
// transplant, through lumivane::fuzz::RunTransplant.
#include "ImageFuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size)
{
    lumivane::fuzz::RunTransplant(data, size);
    return 0;
}
