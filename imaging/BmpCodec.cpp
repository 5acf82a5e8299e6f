// SPDX-License-Identifier: GPL-3.0-or-later
#include "BmpCodec.h"

#include "FileIO.h"
#include "MemoryBudget.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace lumivane {

namespace {

// Compression field values.
enum Compression : std::uint32_t {
    kRgb = 0,
    kRle8 = 1,
    kRle4 = 2,
    kBitFields = 3,
    kJpeg = 4,
    kPng = 5,
    kAlphaBitFields = 6,
};

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::uint32_t kOs2HeaderSize = 12;
constexpr std::uint32_t kInfoHeaderSize = 40;
// Run-length data may describe at most this many pixels per byte, and any
// picture up to kRleFreePixels.
constexpr std::uint64_t kRlePixelsPerByte = 4096;
constexpr std::uint64_t kRleFreePixels = std::uint64_t(1) << 20;

[[noreturn]] void invalid(const std::string& why)
{
    throw BmpError(why);
}

// Little-endian reads that never leave the file's bytes.
class ByteReader {
public:
    ByteReader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::size_t size() const { return size_; }
    const std::uint8_t* data() const { return data_; }

    std::uint16_t u16(std::size_t offset) const
    {
        need(offset, 2);
        return std::uint16_t(data_[offset] | (data_[offset + 1] << 8));
    }
    std::uint32_t u32(std::size_t offset) const
    {
        need(offset, 4);
        return std::uint32_t(data_[offset]) | (std::uint32_t(data_[offset + 1]) << 8) |
               (std::uint32_t(data_[offset + 2]) << 16) | (std::uint32_t(data_[offset + 3]) << 24);
    }
    std::int32_t i32(std::size_t offset) const { return std::int32_t(u32(offset)); }

private:
    void need(std::size_t offset, std::size_t count) const
    {
        if (offset > size_ || size_ - offset < count)
            invalid("Bitmap file is truncated");
    }

    const std::uint8_t* data_;
    std::size_t size_;
};

// One bit-field channel: the bits of the mask, scaled to 0..255 with
// rounding, so a 5-bit 31 becomes 255 and a 10-bit 1023 becomes 255.
class Channel {
public:
    explicit Channel(std::uint32_t mask) : mask_(mask)
    {
        if (mask == 0)
            return;
        shift_ = std::countr_zero(mask);
        max_ = mask >> shift_;
        if (max_ <= 0xFFFF) {
            table_.resize(max_ + 1);
            for (std::uint32_t v = 0; v <= max_; ++v)
                table_[v] = scale(v);
        }
    }

    std::uint8_t operator()(std::uint32_t pixel) const
    {
        if (mask_ == 0)
            return 0;
        const std::uint32_t v = (pixel & mask_) >> shift_;
        return table_.empty() ? scale(v) : table_[v];
    }

private:
    std::uint8_t scale(std::uint32_t v) const
    {
        return std::uint8_t((std::uint64_t(v) * 255 + max_ / 2) / max_);
    }

    std::uint32_t mask_ = 0;
    int shift_ = 0;
    std::uint32_t max_ = 1;
    std::vector<std::uint8_t> table_;
};

struct Header {
    std::uint32_t headerSize = 0;
    std::int64_t width = 0;
    std::int64_t height = 0; // negative: rows stored top-down
    std::uint32_t planes = 0;
    std::uint32_t bitCount = 0;
    std::uint32_t compression = kRgb;
    std::uint32_t coloursUsed = 0;
    std::array<std::uint32_t, 3> masks{}; // red, green, blue
    bool hasMasks = false;
    std::size_t paletteStart = 0;
    std::size_t paletteEntrySize = 4;
};

Header readHeader(const ByteReader& in)
{
    if (in.size() < kFileHeaderSize + 4)
        invalid("Bitmap file is truncated");
    if (in.data()[0] != 'B' || in.data()[1] != 'M')
        invalid("Not a bitmap file (no \"BM\" signature)");
    Header h;
    h.headerSize = in.u32(kFileHeaderSize);
    if (h.headerSize > in.size() - kFileHeaderSize)
        invalid("Bitmap file is truncated");
    constexpr std::size_t base = kFileHeaderSize;
    if (h.headerSize == kOs2HeaderSize) {
        h.width = in.u16(base + 4);
        h.height = in.u16(base + 6);
        h.planes = in.u16(base + 8);
        h.bitCount = in.u16(base + 10);
        h.paletteEntrySize = 3;
    } else if (h.headerSize >= 16) {
        // 40-byte and later headers; the OS/2 2.x header may be cut short
        // after any field, and fields it leaves out count as 0.
        h.width = in.i32(base + 4);
        h.height = in.i32(base + 8);
        h.planes = in.u16(base + 12);
        h.bitCount = in.u16(base + 14);
        if (h.headerSize >= 20)
            h.compression = in.u32(base + 16);
        if (h.headerSize >= 36)
            h.coloursUsed = in.u32(base + 32);
    } else {
        invalid("Unsupported bitmap header size " + std::to_string(h.headerSize));
    }
    h.paletteStart = base + h.headerSize;

    if (h.planes != 1)
        invalid("Bitmap image is not valid");

    if (h.compression == kBitFields || h.compression == kAlphaBitFields) {
        if (h.bitCount != 16 && h.bitCount != 32)
            invalid("Bit fields need 16 or 32 bits per pixel, not " + std::to_string(h.bitCount));
        h.hasMasks = true;
        if (h.headerSize >= 52) {
            for (std::size_t i = 0; i < 3; ++i)
                h.masks[i] = in.u32(base + 40 + 4 * i);
        } else if (h.headerSize == kInfoHeaderSize) {
            // The masks follow a 40-byte header, before any palette.
            for (std::size_t i = 0; i < 3; ++i)
                h.masks[i] = in.u32(h.paletteStart + 4 * i);
            h.paletteStart += h.compression == kAlphaBitFields ? 16 : 12;
        } else {
            invalid("Bit fields in an unsupported bitmap header");
        }
    } else if (h.compression == kRle8) {
        if (h.bitCount != 8)
            invalid("RLE8 compression needs 8 bits per pixel");
    } else if (h.compression == kRle4) {
        if (h.bitCount != 4)
            invalid("RLE4 compression needs 4 bits per pixel");
    } else if (h.compression == kJpeg || h.compression == kPng) {
        invalid("Bitmaps with embedded JPEG or PNG data are not supported");
    } else if (h.compression != kRgb) {
        invalid("Unsupported bitmap compression " + std::to_string(h.compression));
    }

    switch (h.bitCount) {
    case 1: case 2: case 4: case 8: case 16: case 24: case 32:
        break;
    default:
        invalid("Unsupported bitmap bit count " + std::to_string(h.bitCount));
    }
    if (h.width <= 0 || h.height == 0)
        invalid("Bitmap has an invalid size (" + std::to_string(h.width) + " x " + std::to_string(h.height) + ")");
    // Sides this long keep every byte count below (row stride times rows)
    // far from overflowing; whether the picture fits in memory is decided
    // once the file is known to hold its pixels.
    const std::uint64_t rows = std::uint64_t(h.height < 0 ? -h.height : h.height);
    if (std::uint64_t(h.width) > kMaxPictureSide || rows > kMaxPictureSide)
        invalid("Bitmap is too large (" + std::to_string(h.width) + " x " + std::to_string(rows) + " pixels)");
    if (h.height < 0 && (h.compression == kRle4 || h.compression == kRle8))
        invalid("Run-length encoded bitmaps cannot be stored top-down");
    return h;
}

// Bytes of one stored row: whole 32-bit words.
std::size_t rowStride(int width, std::uint32_t bitCount)
{
    return ((std::size_t(width) * bitCount + 31) / 32) * 4;
}

using Palette = std::array<std::array<std::uint8_t, 3>, 256>; // blue, green, red

// Colours the file gives; indices it does not give stay black.
Palette readPalette(const ByteReader& in, const Header& h, std::size_t& paletteEnd)
{
    Palette palette{};
    paletteEnd = h.paletteStart;
    if (h.bitCount > 8)
        return palette;
    const std::uint64_t declared = h.coloursUsed != 0 ? h.coloursUsed : (std::uint64_t(1) << h.bitCount);
    std::uint64_t count = std::min<std::uint64_t>(declared, 256);
    const std::size_t room = in.size() > h.paletteStart ? in.size() - h.paletteStart : 0;
    count = std::min<std::uint64_t>(count, room / h.paletteEntrySize);
    const std::uint8_t* p = in.data() + h.paletteStart;
    for (std::size_t i = 0; i < count; ++i, p += h.paletteEntrySize)
        palette[i] = {p[0], p[1], p[2]};
    paletteEnd = h.paletteStart + std::size_t(count) * h.paletteEntrySize;
    return palette;
}

inline void putColour(std::uint8_t* out, const std::array<std::uint8_t, 3>& c)
{
    out[0] = c[0];
    out[1] = c[1];
    out[2] = c[2];
}

void decodeRows(const ByteReader& in, const Header& h, const Palette& palette, std::size_t offset, Bitmap24& out)
{
    const int width = out.width();
    const int height = out.height();
    const std::size_t stride = rowStride(width, h.bitCount);

    const bool topDown = h.height < 0;
    std::array<std::uint32_t, 3> masks = h.masks;
    if (!h.hasMasks) {
        if (h.bitCount == 16)
            masks = {0x7C00, 0x03E0, 0x001F};
        else
            masks = {0xFF0000, 0x00FF00, 0x0000FF};
    }
    const Channel red(masks[0]), green(masks[1]), blue(masks[2]);

    for (int r = 0; r < height; ++r) {
        const std::uint8_t* src = in.data() + offset + stride * std::size_t(r);
        std::uint8_t* dst = out.data() + out.rowBytes() * std::size_t(topDown ? r : height - 1 - r);
        switch (h.bitCount) {
        case 1: case 2: case 4: case 8: {
            const unsigned bits = h.bitCount;
            const unsigned perByte = 8 / bits;
            const unsigned indexMask = (1u << bits) - 1;
            for (int x = 0; x < width; ++x) {
                const unsigned shift = 8 - bits * (unsigned(x) % perByte + 1);
                const unsigned index = (src[unsigned(x) / perByte] >> shift) & indexMask;
                putColour(dst + 3 * x, palette[index]);
            }
            break;
        }
        case 16:
            for (int x = 0; x < width; ++x) {
                const std::uint32_t v = std::uint32_t(src[2 * x] | (src[2 * x + 1] << 8));
                dst[3 * x] = blue(v);
                dst[3 * x + 1] = green(v);
                dst[3 * x + 2] = red(v);
            }
            break;
        case 24:
            std::memcpy(dst, src, std::size_t(width) * 3);
            break;
        case 32:
            if (!h.hasMasks) {
                for (int x = 0; x < width; ++x) {
                    dst[3 * x] = src[4 * x];
                    dst[3 * x + 1] = src[4 * x + 1];
                    dst[3 * x + 2] = src[4 * x + 2];
                }
            } else {
                for (int x = 0; x < width; ++x) {
                    const std::uint32_t v = std::uint32_t(src[4 * x]) | (std::uint32_t(src[4 * x + 1]) << 8) |
                                            (std::uint32_t(src[4 * x + 2]) << 16) |
                                            (std::uint32_t(src[4 * x + 3]) << 24);
                    dst[3 * x] = blue(v);
                    dst[3 * x + 1] = green(v);
                    dst[3 * x + 2] = red(v);
                }
            }
            break;
        }
    }
}

// Run-length decoding. Rows are counted from the bottom, as stored. A
// stream that ends early, or runs past the right or top edge, stops or
// clips quietly: the pixels it never reached keep palette colour 0.
void decodeRle(const ByteReader& in, const Header& h, const Palette& palette, std::size_t offset, Bitmap24& out)
{
    if (offset >= in.size())
        invalid("Bitmap file is truncated");
    const int width = out.width();
    const int height = out.height();
    const bool four = h.compression == kRle4;
    {
        // Fill with colour 0 row by row from a first row.
        std::uint8_t* first = out.data();
        for (int x = 0; x < width; ++x)
            putColour(first + 3 * x, palette[0]);
        for (int y = 1; y < height; ++y)
            std::memcpy(out.data() + out.rowBytes() * std::size_t(y), first, out.rowBytes());
    }
    const std::uint8_t* d = in.data();
    const std::size_t size = in.size();
    std::size_t pos = offset;
    int x = 0;
    int y = 0;
    auto put = [&](int column, unsigned index) {
        if (column < width)
            putColour(out.data() + out.rowBytes() * std::size_t(height - 1 - y) + 3 * std::size_t(column),
                      palette[index]);
    };
    while (y < height && size - pos >= 2) {
        const unsigned count = d[pos];
        const unsigned value = d[pos + 1];
        pos += 2;
        if (count > 0) {
            for (unsigned i = 0; i < count && x < width; ++i, ++x)
                put(x, four ? ((i & 1) ? value & 0x0F : value >> 4) : value);
            // Keep x bounded however long the runs past the edge are.
            x = std::min(x, width);
            continue;
        }
        switch (value) {
        case 0: // end of line
            x = 0;
            ++y;
            break;
        case 1: // end of bitmap
            return;
        case 2: // delta: move right and up
            if (size - pos < 2)
                return;
            x = std::min(x + int(d[pos]), width);
            y = std::min(y + int(d[pos + 1]), height);
            pos += 2;
            break;
        default: { // absolute run of `value` pixels, padded to a 16-bit boundary
            const std::size_t bytes = four ? (value + 1) / 2 : value;
            const std::size_t available = std::min(bytes, size - pos);
            for (unsigned i = 0; i < value; ++i) {
                const std::size_t byteIndex = four ? i / 2 : i;
                if (byteIndex >= available)
                    break;
                const unsigned b = d[pos + byteIndex];
                if (x < width)
                    put(x, four ? ((i & 1) ? b & 0x0F : b >> 4) : b);
                x = std::min(x + 1, width);
            }
            pos += std::min(bytes + (bytes & 1), size - pos);
            break;
        }
        }
    }
}

} // namespace

void DecodeBmp(const std::uint8_t* data, std::size_t size, Bitmap24& out)
{
    const ByteReader in(data, size);
    const Header h = readHeader(in);
    std::size_t paletteEnd = 0;
    const Palette palette = readPalette(in, h, paletteEnd);

    // The pixel data offset of the file header; a zero or one that points
    // into the headers is taken as "right after the palette".
    std::size_t offset = in.u32(10);
    if (offset < h.paletteStart)
        offset = paletteEnd;
    if (offset >= size)
        invalid("Bitmap pixel data lies beyond the end of the file");

    const int width = int(h.width);
    const int height = int(h.height < 0 ? -h.height : h.height);
    // Size only once the header is known good, so a refused file leaves
    // `out` as it was.
    if (h.compression == kRle4 || h.compression == kRle8) {
        // A few escape codes can claim any size; real run-length data, even
        // of an empty picture, needs a couple of bytes per row. Refuse
        // pictures far larger than the stream could sensibly describe
        // before allocating them.
        const std::uint64_t pixels = std::uint64_t(width) * std::uint64_t(height);
        if (pixels > std::max<std::uint64_t>(kRleFreePixels, std::uint64_t(size - offset) * kRlePixelsPerByte))
            invalid("Run-length encoded bitmap is too large for its data (" + std::to_string(width) + " x " +
                    std::to_string(height) + " pixels)");
        RequireMemoryFor(std::uint64_t(width), std::uint64_t(height), {}, kBytesPerPixel, std::uint64_t(size));
        // Both decoders set every pixel (run-length data starts from
        // palette colour 0), so nothing is painted first.
        out.setSizeForOverwrite(width, height);
        decodeRle(in, h, palette, offset, out);
    } else {
        // The last row's padding may be missing; its pixels may not.
        const std::size_t needed = rowStride(width, h.bitCount) * std::size_t(height - 1) +
                                   (std::size_t(width) * h.bitCount + 7) / 8;
        if (size - offset < needed)
            invalid("Bitmap file is truncated");
        RequireMemoryFor(std::uint64_t(width), std::uint64_t(height), {}, kBytesPerPixel, std::uint64_t(size));
        out.setSizeForOverwrite(width, height);
        decodeRows(in, h, palette, offset, out);
    }
}

Bitmap24 DecodeBmp(const std::uint8_t* data, std::size_t size)
{
    Bitmap24 out;
    DecodeBmp(data, size, out);
    return out;
}

void ReadBmpFile(const std::string& path, Bitmap24& out)
{
    const std::vector<std::uint8_t> bytes = ReadWholeFile(path);
    try {
        DecodeBmp(bytes.data(), bytes.size(), out);
    } catch (const MemoryBudgetError& e) {
        throw e.Named(path);
    }
}

Bitmap24 ReadBmpFile(const std::string& path)
{
    Bitmap24 out;
    ReadBmpFile(path, out);
    return out;
}

BmpLayout WriteBmpHeader(std::uint8_t* header, int width, int height)
{
    static_assert(kBmpHeaderSize == kFileHeaderSize + kInfoHeaderSize);
    if (width < 0 || height < 0)
        throw BmpError("Bitmap size " + std::to_string(width) + "x" + std::to_string(height) + " cannot be written");
    BmpLayout layout;
    layout.stride = (std::size_t(width) * 3 + 3) & ~std::size_t(3);
    layout.imageSize = layout.stride * std::size_t(height);
    if (layout.imageSize > 0xFFFFFFFFu - kBmpHeaderSize)
        throw BmpError("Bitmap is too large to be written as BMP");
    layout.fileSize = kBmpHeaderSize + layout.imageSize;

    auto put16 = [&](std::size_t at, std::uint32_t v) {
        header[at] = std::uint8_t(v);
        header[at + 1] = std::uint8_t(v >> 8);
    };
    auto put32 = [&](std::size_t at, std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            header[at + std::size_t(i)] = std::uint8_t(v >> (8 * i));
    };
    std::memset(header, 0, kBmpHeaderSize);
    // File header; bytes 6..9 are reserved and stay 0.
    header[0] = 'B';
    header[1] = 'M';
    put32(2, std::uint32_t(layout.fileSize));
    put32(10, std::uint32_t(kBmpHeaderSize)); // pixel data offset
    // Information header; resolution (bytes 38..45) and colour counts stay 0.
    put32(14, kInfoHeaderSize);
    put32(18, std::uint32_t(width));
    put32(22, std::uint32_t(height)); // positive: bottom-up rows
    put16(26, 1);                     // planes
    put16(28, 24);                    // bits per pixel
    put32(30, kRgb);
    put32(34, std::uint32_t(layout.imageSize));
    return layout;
}

std::vector<std::uint8_t> EncodeBmp(const Bitmap24& image)
{
    std::uint8_t header[kBmpHeaderSize];
    const BmpLayout layout = WriteBmpHeader(header, image.width(), image.height());
    std::vector<std::uint8_t> file(layout.fileSize, 0);
    std::memcpy(file.data(), header, kBmpHeaderSize);
    const std::size_t width = std::size_t(image.width());
    const std::size_t height = std::size_t(image.height());
    for (std::size_t r = 0; r < height; ++r)
        std::memcpy(&file[kBmpHeaderSize + layout.stride * r], image.data() + image.rowBytes() * (height - 1 - r),
                    width * 3);
    return file;
}

void WriteBmpFile(const Bitmap24& image, const std::string& path)
{
    WriteFileAtomically(path, EncodeBmp(image));
}

} // namespace lumivane
