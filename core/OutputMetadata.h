// SPDX-License-Identifier: GPL-3.0-or-later
// The metadata an output carries, made to describe the picture written
// rather than the source's: its EXIF pixel dimensions give the written size
// and its EXIF thumbnail shows the corrected, cropped picture.
//
// Two sources are handled. A JPEG's EXIF block (the TIFF structure after
// "Exif\0\0") is kept byte for byte where it can be, so the maker note and
// every value keep their offsets from the TIFF header: the dimensions are
// patched in place, a directory that must grow is copied to the end, and
// the new thumbnail goes last. A TIFF photograph's EXIF block is built
// anew from its EXIF directory and the EXIF-legal tags of its first
// directory (never the strip, tile or layout tags, which describe the
// TIFF's own pixels); its ICC profile, XMP and IPTC come along as raw
// blocks, ready to be made into JPEG sections or TIFF tags.
#pragma once

#include "Bitmap24.h"
#include "TiffWriter.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace lumivane {

// Makes the thumbnail: a baseline JPEG (starting with SOI) of exactly
// width x height pixels of the written picture at `quality`.
using ThumbnailMaker = std::function<std::vector<std::uint8_t>(int width, int height, int quality)>;

enum class ThumbnailFate {
    None,    // the source had no thumbnail, so the output has none
    Rebuilt, // a thumbnail of the written picture replaces the source's
    Removed, // the source's could not be replaced (no room, not a JPEG): the output has none
};

// The largest EXIF block a JPEG's APP1 section holds: 65535 bytes less the
// length field (2) and "Exif\0\0" (6).
inline constexpr std::size_t kMaxExifBlock = 65535 - 2 - 6;

// The largest box a thumbnail is made in when the source's own size is not
// known.
inline constexpr int kThumbnailMaxWidth = 160;
inline constexpr int kThumbnailMaxHeight = 120;

struct ExifBlock {
    std::vector<std::uint8_t> tiff; // the TIFF structure, header first
    ThumbnailFate thumbnail = ThumbnailFate::None;
    bool makerNoteDropped = false;  // the source had one that could not come along
};

// The EXIF block `tiff` (size bytes) of a JPEG source rewritten for an
// output of width x height: PixelXDimension and PixelYDimension (and the
// first directory's ImageWidth and ImageLength when present) give that
// size, added to the EXIF directory when missing; a JPEG thumbnail is made
// anew by `makeThumbnail` at the source thumbnail's size (its aspect fitted
// to the output's), or within 160 x 120 when that size is unknown, and
// placed last. An old thumbnail that ends the block is replaced there; one
// that does not stays where it is, unreferenced. A thumbnail that would
// take the block past `maxSize` is made at lower qualities, then dropped
// with its directory; an uncompressed thumbnail is dropped too. Every
// other byte keeps its place. Raises MetadataError for a malformed block.
ExifBlock DescribeWrittenPicture(const std::uint8_t* tiff, std::size_t size, int width, int height,
                                 const ThumbnailMaker& makeThumbnail, std::size_t maxSize = kMaxExifBlock);

// Reads `n` bytes of a file from byte `offset` on; fewer (or none) where
// the file ends.
using RangeReader = std::function<std::vector<std::uint8_t>(std::uint64_t offset, std::size_t n)>;

// The metadata of a TIFF photograph.
struct SourceMetadata {
    ExifBlock exif;                 // empty tiff when there is nothing to carry
    std::vector<std::uint8_t> icc;  // tag 34675
    std::vector<std::uint8_t> xmp;  // tag 700
    std::vector<std::uint8_t> iptc; // tag 33723, IPTC-IIM records
};

// True for bytes starting with a TIFF header ("II*\0" or "MM\0*").
bool IsTiffHead(const std::uint8_t* head, std::size_t size);

// Reads the first directory of the TIFF read through `read` and builds the
// EXIF block for an output of width x height (in the TIFF's byte order,
// with the EXIF and GPS directories, without thumbnail, and with the maker
// note only when it survives relocation: makerNoteDropped says when one
// was left out), and takes its ICC profile, XMP and IPTC. Its Orientation
// is what the pixels as read still need (OrientationAfterTiffRead). A
// block that would pass `maxSize` loses its largest values first. Raises
// MetadataError for a malformed file.
SourceMetadata ReadSourceMetadataOfTiff(const RangeReader& read, int width, int height, std::size_t maxSize = kMaxExifBlock);

// JPEG sections (marker first) carrying metadata blocks: the ICC profile
// in APP2 chunks numbered from 1 (none for an empty or a profile of more
// than 255 chunks), XMP in one APP1 (none when it does not fit one), IPTC
// in an APP13 Photoshop resource block (none when it does not fit).
std::vector<std::uint8_t> IccSections(const std::vector<std::uint8_t>& profile);
std::vector<std::uint8_t> XmpSection(const std::vector<std::uint8_t>& packet);
std::vector<std::uint8_t> IptcSection(const std::vector<std::uint8_t>& records);
// The APP1 section of an EXIF block.
std::vector<std::uint8_t> ExifSection(const std::vector<std::uint8_t>& tiff);

// Whether a maker note stays readable wherever it is placed: one that
// carries its own TIFF header (Nikon's "Nikon\0" kind) or counts its
// offsets from its own start (Olympus's and OM System's newer kinds,
// Fujifilm's). Any other counts from the file's TIFF header, so its values
// are lost once it moves to another offset.
bool MakerNoteSurvivesRelocation(const std::uint8_t* note, std::size_t size);

// The EXIF block `tiff` (as DescribeWrittenPicture or
// ReadSourceMetadataOfTiff make it, so its pixel dimensions already give
// the written size) as a TIFF output holds it: the EXIF-legal first-
// directory tags but Orientation, which the output's own first directory
// gives (TiffExif::orientation, the block's value), the EXIF directory
// without its interoperability pointer and the tags that only describe
// compressed data (ComponentsConfiguration, CompressedBitsPerPixel and the
// pixel dimensions: a TIFF's own ImageWidth and ImageLength give its size),
// and the GPS directory. Tags a TIFF's EXIF requires are added when
// missing (resolution 72 dpi, EXIF 2.3, Flashpix 1.0, colour space sRGB or
// uncalibrated with `hasProfile`, GPS version 2.3). The maker note moves to another offset, so it comes along only when it
// survives that; `makerNoteDropped` is set when one is left out. Entries
// whose values lie outside the block are left out; raises MetadataError
// for a block whose directories cannot be read.
TiffExif TiffExifOfBlock(const std::uint8_t* tiff, std::size_t size, bool hasProfile, bool& makerNoteDropped);

// A thumbnail maker over the JPEG `encoded` (the output itself): decoded
// reduced, averaged down to the size asked, encoded without a JFIF head.
ThumbnailMaker ThumbnailOfJpeg(const std::uint8_t* encoded, std::size_t size);

// A thumbnail maker over `picture`, a reduced copy of the written picture
// made while it was written (ReducedPictureBuilder): averaged down to the
// size asked and encoded as above; a size larger than `picture` is left to
// `otherwise`.
ThumbnailMaker ThumbnailOfReducedPicture(std::shared_ptr<const Bitmap24> picture, ThumbnailMaker otherwise);

} // namespace lumivane
