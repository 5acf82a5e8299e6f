// SPDX-License-Identifier: GPL-3.0-or-later
// Entry points shared by the libFuzzer harnesses and the regression test that
// replays their saved findings: each takes arbitrary bytes and runs them
// through the metadata readers the way the program uses them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lumivane::fuzz {

// The bytes as a file named *.jpg, read with ReadMetadata, then tag look-ups
// and the IPTC reader on the result.
void RunJpeg(const uint8_t* data, std::size_t size);
// The bytes as a file named *.tif, read with ReadMetadata and tag look-ups.
void RunTiff(const uint8_t* data, std::size_t size);
// The bytes as an APP13 section through ParseIptc and the record operations,
// then wrapped into a JPEG file and read again through ReadIptcFile.
void RunIptc(const uint8_t* data, std::size_t size);

}  // namespace lumivane::fuzz
