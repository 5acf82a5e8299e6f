// Copies a source photograph's EXIF segment (its first APP1 section) into a
// JPEG this program has just written, byte for byte and without parsing it.
//
// The encoder's output starts with a fixed 20-byte head: SOI and a JFIF APP0
// section whose length field is 16. The new file is the source's head up to
// and including its first APP1 section, followed by the output without those
// 20 bytes. It is built as outPath + ".temp" and renamed over the output in
// one step, so the output is at every moment either the complete old file or
// the complete new one.
#pragma once

#include <stdexcept>
#include <cstdint>
#include <string>
#include <vector>

namespace lumivane {

enum class TransplantResult {
    SourceMissing, // no file of the source's name: the caller shows SourceMissingMessage
    Transplanted,  // the output now carries the source's APP1 section
    NoExifFound,   // a JFIF source without an APP1 section: output as written
    NotApplicable, // the source is not a JPEG starting with APP1 or APP0 (BMP, TIFF, ...)
    Skipped,       // the source's head is truncated or malformed, or the output lacks the
                   // encoder's head: output as written
};

// Raised for read and write errors on the source, the output or the
// temporary file, after the temporary file has been removed; the message
// names the file concerned.
class TransplantError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The operations of one transplant, for tests that make one of them fail as
// the file system would (the call then sees EIO).
enum class TransplantStep {
    None,
    OpenSource,
    ReadSource,
    CreateTemp,
    WriteTemp,
    OpenOutput,
    ReadOutput,
    CloseTemp,
    Rename,
};

struct TransplantFault {
    TransplantStep step = TransplantStep::None;
    // Which call of that operation fails, counted from 1. The output is read
    // first for its 20-byte head and then block by block, so ReadOutput 2
    // fails on the first block and higher numbers in the middle of the copy.
    int occurrence = 1;
};

// "Can not access " + path + ". Exiting..."
std::string SourceMissingMessage(const std::string& path);

// Transplants the first APP1 section of `sourceFile` into the JPEG at
// `outPath`. Reads at most 65535 bytes of the source and streams the output
// once through one 64 KiB buffer.
TransplantResult CopyExif(const std::string& sourceFile, const std::string& outPath);

// Same, failing the operation named by `fault` (tests only).
TransplantResult CopyExif(const std::string& sourceFile, const std::string& outPath,
                          const TransplantFault& fault);

// Writes a JPEG the encoder made in memory to `outPath` with the source's
// first APP1 section in front: the file CopyExif would leave after the
// encoded bytes had been written to `outPath`, made in one atomic write
// instead of writing the file and then rebuilding it. When there is nothing
// to transplant (any result but Transplanted) the encoded bytes are written
// as they are. Raises TransplantError naming the file on I/O errors, leaving
// an earlier file at `outPath` as it was and no ".temp" file behind; when
// only the source cannot be read, the encoded bytes are still written as
// they are before the error is raised.
TransplantResult WriteJpegWithExif(const std::vector<std::uint8_t>& encoded,
                                   const std::string& sourceFile, const std::string& outPath);
TransplantResult WriteJpegWithExif(const std::vector<std::uint8_t>& encoded,
                                   const std::string& sourceFile, const std::string& outPath,
                                   const TransplantFault& fault);
// Same, for an encoder's buffer that is not a vector (no copy is made).
TransplantResult WriteJpegWithExif(const std::uint8_t* encoded, std::size_t size,
                                   const std::string& sourceFile, const std::string& outPath);
TransplantResult WriteJpegWithExif(const std::uint8_t* encoded, std::size_t size,
                                   const std::string& sourceFile, const std::string& outPath,
                                   const TransplantFault& fault);

} // namespace lumivane
