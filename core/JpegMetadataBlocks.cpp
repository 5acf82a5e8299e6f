// SPDX-License-Identifier: GPL-3.0-or-later
#include "JpegMetadataBlocks.h"

#include "ByteReader.h"
#include "ExifTransplant.h"

#include <algorithm>
#include <cstring>

namespace lumivane {

namespace {

constexpr char kExifId[] = {'E', 'x', 'i', 'f', 0, 0};
// The identifiers with their terminating zero; an ICC chunk's identifier is
// followed by its number and the number of chunks.
constexpr std::size_t kIccHead = sizeof "ICC_PROFILE" + 2;
constexpr std::size_t kXmpHead = sizeof "http://ns.adobe.com/xap/1.0/";
constexpr std::size_t kIptcHead = sizeof "Photoshop 3.0";

// The payload of the first EXIF APP1 before the start of scan.
std::vector<std::uint8_t> exifPayload(const std::uint8_t* source, std::size_t size)
{
    std::size_t pos = 2;
    while (pos + 4 <= size && source[pos] == 0xFF) {
        const std::uint8_t code = source[pos + 1];
        if (code == 0xFF) {
            ++pos;
            continue;
        }
        if (code == 0xDA || code == 0xD9)
            break;
        const std::size_t length = std::size_t(source[pos + 2]) << 8 | source[pos + 3];
        if (length < 2 || length > size - pos - 2)
            break;
        const std::uint8_t* payload = source + pos + 4;
        if (code == 0xE1 && length - 2 >= sizeof kExifId && std::memcmp(payload, kExifId, sizeof kExifId) == 0)
            return std::vector<std::uint8_t>(payload + sizeof kExifId, payload + length - 2);
        pos += 2 + length;
    }
    return {};
}

// The data of the IPTC-NAA resource (id 0x0404) among the Photoshop image
// resources `resources`: "8BIM", the id, a padded Pascal name, the size
// and the data padded to even.
std::vector<std::uint8_t> iptcRecords(const std::uint8_t* resources, std::size_t size)
{
    const ByteReader r(resources, size, true);
    std::int64_t pos = 1;
    while (r.Contains(pos, 8) && std::memcmp(resources + pos - 1, "8BIM", 4) == 0) {
        const unsigned id = r.Read16(pos + 4);
        const std::int64_t nameLength = r.Byte(pos + 6);
        // The name's length byte and the name, padded to an even count.
        const std::int64_t sizeAt = pos + 6 + ((nameLength + 2) & ~std::int64_t(1));
        if (!r.Contains(sizeAt, 4))
            break;
        const std::int64_t dataSize = std::uint32_t(r.Read32(sizeAt));
        if (!r.Contains(sizeAt + 4, dataSize))
            break;
        if (id == 0x0404)
            return std::vector<std::uint8_t>(resources + sizeAt + 3, resources + sizeAt + 3 + dataSize);
        pos = sizeAt + 4 + dataSize + (dataSize & 1);
    }
    return {};
}

} // namespace

SourceMetadata JpegMetadataBlocks(const std::uint8_t* source, std::size_t size, int width, int height,
                                const ThumbnailMaker& makeThumbnail)
{
    SourceMetadata blocks;
    if (size < 2 || source[0] != 0xFF || source[1] != 0xD8)
        return blocks;
    const std::vector<std::uint8_t> exif = exifPayload(source, size);
    if (!exif.empty()) {
        try {
            blocks.exif = DescribeWrittenPicture(exif.data(), exif.size(), width, height, makeThumbnail);
        } catch (const MetadataError&) {
            // An EXIF block that cannot be walked cannot be described either.
        }
    }
    std::vector<CarriedSection> icc;
    for (const CarriedSection& s : FindCarriedSections(source, size, 0).sections) {
        const std::uint8_t* payload = source + s.offset + 4;
        const std::size_t payloadSize = s.size - 4;
        if (s.kind == CarriedKind::IccProfile)
            icc.push_back(s);
        else if (s.kind == CarriedKind::Xmp && blocks.xmp.empty())
            blocks.xmp.assign(payload + kXmpHead, payload + payloadSize);
        else if (s.kind == CarriedKind::Iptc && blocks.iptc.empty())
            blocks.iptc = iptcRecords(payload + kIptcHead, payloadSize - kIptcHead);
    }
    // The chunks are complete (FindCarriedSections keeps no part of a
    // profile); they are joined in the order of their numbers.
    std::sort(icc.begin(), icc.end(), [&](const CarriedSection& a, const CarriedSection& b) {
        return source[a.offset + 4 + kIccHead - 2] < source[b.offset + 4 + kIccHead - 2];
    });
    for (const CarriedSection& s : icc)
        blocks.icc.insert(blocks.icc.end(), source + s.offset + 4 + kIccHead, source + s.offset + s.size);
    return blocks;
}

} // namespace lumivane
