// Puts a source photograph's EXIF segment (its first APP1 section) in front
// of a JPEG this program has just encoded, byte for byte and without parsing
// it.
//
// The encoder's output starts with a fixed 20-byte head: SOI and a JFIF APP0
// section whose length field is 16. The file written is the source's head up
// to and including its first APP1 section, followed by the encoded bytes
// without those 20. It is put together in memory and written in one atomic
// write (WriteFileAtomically), so the output is at every moment either
// absent, the complete old file or the complete new one.
#pragma once

#include "FileIO.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lumivane {

enum class TransplantResult {
    SourceMissing, // no file of the source's name: the caller shows SourceMissingMessage
    Transplanted,  // the output now carries the source's APP1 section
    NoExifFound,   // a JFIF source without an APP1 section: output as encoded
    NotApplicable, // the source is not a JPEG starting with APP1 or APP0 (BMP, TIFF, ...)
    Skipped,       // the source's head is truncated or malformed, or the encoded bytes
                   // lack the encoder's head: output as encoded
};

// "Can not access " + path + ". Exiting..."
std::string SourceMissingMessage(const std::string& path);

// The source head to put in front of an encoder's output.
struct ExifHead {
    TransplantResult result = TransplantResult::NotApplicable;
    // The bytes to copy from the start of the source when result is
    // Transplanted (SOI through the end of the first APP1 section).
    std::size_t size = 0;
};

// Finds the head to copy among the first bytes of a source photograph
// (65536 of them suffice): for SOI + APP1, the whole APP1 section; for
// SOI + APP0, everything through the first APP1 section found by a plain
// byte search for 0xFF 0xE1 in the first 65535 bytes (a pair whose length
// reads 0 does not count). Never looks past `size`.
ExifHead FindExifHead(const std::uint8_t* sourceHead, std::size_t size);

// How many bytes of the source FindExifHead needs at most.
inline constexpr std::size_t kExifHeadReadLimit = 65536;

// Writes the encoder's output `encoded` to `outPath` with the source's first
// APP1 section in front (see above); when there is nothing to transplant
// (any result but Transplanted) the encoded bytes are written as they are.
// `mode` decides whether an existing file at `outPath` may be replaced.
// Raises FileError naming the file on I/O errors (FileExistsError for a
// taken name in NoReplace mode), leaving an earlier file at `outPath` as it
// was and no temporary file behind. When only the source cannot be read,
// the encoded bytes are still written as they are before its error is
// raised, so the photograph is not lost.
TransplantResult WriteJpegWithExif(const std::uint8_t* encoded, std::size_t size,
                                   const std::string& sourceFile, const std::string& outPath,
                                   WriteMode mode = WriteMode::Replace);

inline TransplantResult WriteJpegWithExif(const std::vector<std::uint8_t>& encoded,
                                          const std::string& sourceFile, const std::string& outPath,
                                          WriteMode mode = WriteMode::Replace)
{
    return WriteJpegWithExif(encoded.data(), encoded.size(), sourceFile, outPath, mode);
}

} // namespace lumivane
