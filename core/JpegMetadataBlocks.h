// SPDX-License-Identifier: GPL-3.0-or-later
// A JPEG photograph's metadata as whole blocks, the form a TIFF output
// stores them in (one tag each): the EXIF block made to describe the
// written picture, the ICC profile joined from its APP2 chunks, the XMP
// packet and the IPTC records from the Photoshop resource block.
#pragma once

#include "OutputMetadata.h"

#include <cstddef>
#include <cstdint>

namespace lumivane {

// The blocks of the JPEG `source` (its bytes through the start of scan at
// least) for an output of width x height with a thumbnail from
// `makeThumbnail` (see DescribeWrittenPicture). A block the source lacks,
// or holds malformed, stays empty; an ICC profile is joined only when all
// its chunks are there. Never reads past `size`.
SourceMetadata JpegMetadataBlocks(const std::uint8_t* source, std::size_t size, int width, int height,
                                const ThumbnailMaker& makeThumbnail);

} // namespace lumivane
