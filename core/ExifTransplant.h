// SPDX-License-Identifier: GPL-3.0-or-later
// Puts a source photograph's EXIF segment (its first APP1 section) in front
// of a JPEG this program has just encoded, byte for byte and without parsing
// it.
//
// The encoder's output starts with a fixed 20-byte head: SOI and a JFIF APP0
// section whose length field is 16. The file written is the source's head up
// to and including its first APP1 section, followed by the encoded bytes
// without those 20, when that head holds nothing but APPn and comment
// sections (see FindExifHead); otherwise the encoder's head stays and only
// the source's EXIF section follows it. It is put together in memory and written in one atomic
// write (WriteFileAtomically), so the output is at every moment either
// absent, the complete old file or the complete new one.
//
// The source's colour profile (ICC, all its APP2 chunks), XMP (APP1, also
// the extended XMP chunks) and IPTC (APP13) sections go along: they follow
// the EXIF head in the source's order, or the encoder's own 20-byte head
// when there is no EXIF head to copy. A source without such sections gives
// exactly the file described above.
#pragma once

#include "FileIO.h"
#include "OutputMetadata.h"
#include "TiffWriter.h"

#include <cstddef>
#include <cstdint>
#include <memory>
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

// The source bytes to put in front of an encoder's output.
struct ExifHead {
    TransplantResult result = TransplantResult::NotApplicable;
    // When result is Transplanted: the bytes [offset, offset + size) of the
    // source. From offset 0 (SOI through the end of an APP1 section) they
    // replace the encoder's 20-byte head; from a later offset they are an
    // EXIF APP1 section alone, put right after the encoder's head.
    std::size_t offset = 0;
    std::size_t size = 0;
};

// Finds the bytes to copy among the first bytes of a source photograph
// (65536 of them suffice). For SOI + APP1: the whole APP1 section with SOI.
// For SOI + APP0 the sections are walked (within the first 65535 bytes):
// an APP1 in the run of APPn and comment sections right after SOI is copied
// with everything before it, unless that run holds an Adobe APP14; any
// other APP1 never takes the source's head along, and only a section
// carrying "Exif\0\0" is copied, alone. Never looks past `size`.
ExifHead FindExifHead(const std::uint8_t* sourceHead, std::size_t size);

// How many bytes of the source FindExifHead needs at most.
inline constexpr std::size_t kExifHeadReadLimit = 65536;

// The kinds of section a saved JPEG carries over from its source besides the
// EXIF head.
enum class CarriedKind {
    IccProfile,  // APP2 "ICC_PROFILE\0", one chunk of the profile
    Xmp,         // APP1 "http://ns.adobe.com/xap/1.0/\0"
    ExtendedXmp, // APP1 "http://ns.adobe.com/xmp/extension/\0"
    Iptc,        // APP13 "Photoshop 3.0\0"
};

// One section of the source to carry: `offset` is where its marker starts,
// `size` counts the marker and the whole section.
struct CarriedSection {
    CarriedKind kind = CarriedKind::Xmp;
    std::size_t offset = 0;
    std::size_t size = 0;
};

struct CarriedSections {
    // In the source's order.
    std::vector<CarriedSection> sections;
    // When the section list ran past `size`: how many bytes of the source
    // are needed to read the section it stopped at; 0 when the list ended
    // (at the start of scan, end of image or a malformed marker).
    std::size_t bytesNeeded = 0;
};

// Walks the section list of the JPEG head `head` (SOI first) up to the start
// of scan and collects the sections of the kinds above that start at or
// after `from`. A malformed marker, a length field below 2 or a section
// running past `size` ends the walk; the sections before it still count.
// The ICC chunks are kept only as a complete profile (every chunk 1..n of
// one count n, each once); otherwise none of them is carried. Never looks
// past `size`; a head that does not start with SOI gives nothing.
CarriedSections FindCarriedSections(const std::uint8_t* head, std::size_t size, std::size_t from);

// The most of the source's head read to find the sections to carry.
inline constexpr std::size_t kCarryReadLimit = std::size_t(8) << 20;

// The picture an output holds, for metadata that describe it rather than
// the source (see OutputMetadata.h). Without one (width 0) the source's
// sections are copied byte for byte.
struct OutputPicture {
    OutputPicture() = default;
    OutputPicture(int w, int h, std::shared_ptr<const Bitmap24> picture = nullptr)
        : width(w), height(h), reduced(std::move(picture))
    {
    }
    int width = 0;
    int height = 0;
    // The written picture reduced while it was written, for its thumbnail
    // (null: the thumbnail is made by decoding the written file reduced).
    std::shared_ptr<const Bitmap24> reduced;
};

// What the metadata of an output became besides the EXIF head's result.
struct MetadataReport {
    ThumbnailFate thumbnail = ThumbnailFate::None;
    bool makerNoteDropped = false; // the source's maker note could not come along
    bool fromTiff = false;         // the metadata came from a TIFF photograph
};

// What lumivane-cli's warning line says of a photograph whose maker note
// could not be kept: "<photograph>: " followed by this.
inline constexpr char kMakerNoteDroppedWarning[] = "its maker note could not be kept";

// A status line ("IMG_1.tif saved.", with or without its full stop) with
// "; the photograph's maker note could not be kept." appended when
// `makerNoteDropped`; otherwise as it is.
std::string WithMakerNoteClause(std::string status, bool makerNoteDropped);

// Writes the encoder's output `encoded` to `outPath` with the source's first
// APP1 section in front (see above), followed by the sections carried along;
// when there is nothing to transplant or carry (any result but Transplanted
// and no section found) the encoded bytes are written as they are. The
// result tells about the EXIF head only.
// `mode` decides whether an existing file at `outPath` may be replaced.
// Raises FileError naming the file on I/O errors (FileExistsError for a
// taken name in NoReplace mode), leaving an earlier file at `outPath` as it
// was and no temporary file behind. When only the source cannot be read,
// the encoded bytes are still written as they are before its error is
// raised, so the photograph is not lost.
//
// With `picture` the EXIF block is rewritten to describe it (its size and a
// thumbnail made from `encoded`; a block that cannot be parsed is copied as
// it is), and a TIFF source's EXIF, ICC profile, XMP and IPTC are made into
// sections after the encoder's head (the result is then Transplanted when
// an EXIF block was made). `report`, when given, says what became of the
// thumbnail and the maker note.
TransplantResult WriteJpegWithExif(const std::uint8_t* encoded, std::size_t size,
                                   const std::string& sourceFile, const std::string& outPath,
                                   WriteMode mode = WriteMode::Replace, const OutputPicture& picture = {},
                                   MetadataReport* report = nullptr);

// The file WriteJpegWithExif writes, made in memory from the encoder's
// output and the source's bytes `source` (the whole file, or at least its
// head through the start of scan); `result` (when given) receives the
// transplant's result.
std::vector<std::uint8_t> AssembleJpegWithExif(const std::uint8_t* encoded, std::size_t size,
                                               const std::uint8_t* source, std::size_t sourceSize,
                                               TransplantResult* result = nullptr,
                                               const OutputPicture& picture = {}, MetadataReport* report = nullptr);

inline TransplantResult WriteJpegWithExif(const std::vector<std::uint8_t>& encoded,
                                          const std::string& sourceFile, const std::string& outPath,
                                          WriteMode mode = WriteMode::Replace, const OutputPicture& picture = {},
                                          MetadataReport* report = nullptr)
{
    return WriteJpegWithExif(encoded.data(), encoded.size(), sourceFile, outPath, mode, picture, report);
}

// The sections a TIFF output carries from its source, as TIFF tags hold
// them: from a JPEG its ICC profile (the chunks joined), XMP packet and
// IPTC records (resource 0x0404 of the Photoshop section); from a TIFF the
// same three tags. Nothing for any other source, or one that is missing.
// Raises FileError when the source exists but cannot be read.
// With `picture` the source's EXIF comes along too (see TiffExifOfBlock),
// its pixel dimensions giving the picture's size; an EXIF block that
// cannot be read gives none. `report`, when given, says whether the
// source's maker note had to be dropped.
TiffMetadata TiffMetadataOfSource(const std::string& sourceFile, const OutputPicture& picture = {},
                                  MetadataReport* report = nullptr);
// The same from sections as FindCarriedSections finds them, back to back
// (marker, length field and payload each).
TiffMetadata TiffMetadataOfJpegSections(const std::uint8_t* sections, std::size_t size);

} // namespace lumivane
