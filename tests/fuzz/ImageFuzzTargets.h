// SPDX-License-Identifier: GPL-3.0-or-later
// Entry points of the picture-file harnesses (BMP, JPEG decoding, TIFF
// reading) and of the defaults.ini and masks.ini harnesses, shared by the libFuzzer targets
// and the test that replays their saved findings. Each takes arbitrary bytes;
// an expected refusal (the reader's own error, a picture above the memory
// budget) is a normal outcome, anything else that escapes is a finding.
// Where the bytes decode, the result is checked against what the reader
// promises, and a broken promise aborts.
#pragma once

#include <cstddef>
#include <cstdint>

namespace lumivane::fuzz {

// The memory budget the harnesses and their replay run under (mebibytes):
// small, so a header claiming a huge picture is refused instead of filling
// the fuzzer's memory limit.
inline constexpr const char* kFuzzMemoryLimitMib = "64";
// Sets LUMIVANE_MEMORY_LIMIT_MIB to kFuzzMemoryLimitMib unless it is set.
void LimitMemoryForFuzzing();

// The bytes through DecodeBmp; a decoded picture is written with EncodeBmp
// and read back, which must give the same pixels.
void RunBmp(const uint8_t* data, std::size_t size);
// The bytes through TJPEGImage::LoadFromBytes and DecodeInto (smoothing on
// or off by the first byte); the result must have the header's size.
void RunJpegDecode(const uint8_t* data, std::size_t size);
// The bytes as a file named *.tif through DecodeBySuffix (ReadTiffToBitmap).
void RunTiffRead(const uint8_t* data, std::size_t size);
// The bytes after the first as a photograph file read whole the way the
// program reads one (ReadWholeFileInto, the JPEG end finder, DecodeBySuffix):
// named *.jpg, *.bmp or *.tif by the first byte. A JPEG's end must lie
// within the file, and a decoded picture must be of its header's size.
void RunPhotoFile(const uint8_t* data, std::size_t size);
// The bytes as defaults.ini through ReadSettingsFile; when they parse, the
// values are stored again in the full form and must read back the same.
void RunSettings(const uint8_t* data, std::size_t size);
// The bytes as masks.ini through ParseMaskSettings; the settings written
// again with MaskSettingsText must parse to the same settings; the same for
// the bytes as lumivane.ini.
void RunMaskSettings(const uint8_t* data, std::size_t size);

// The bytes as a source photograph whose EXIF head and carried sections
// (ICC, XMP, IPTC) are put in front of a small encoded picture
// (AssembleJpegWithExif); the result must decode to exactly that picture.
void RunTransplant(const uint8_t* data, std::size_t size);

} // namespace lumivane::fuzz
