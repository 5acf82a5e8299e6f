// SPDX-License-Identifier: GPL-3.0-or-later
// One bounds-checked reader for every metadata byte string: the JPEG section
// scanner, the TIFF/EXIF directory walk, the maker-note walk and the IPTC
// reader all read through it, so no read can leave the bytes actually held.
//
// Positions are 1-based (position 1 is the first byte), as everywhere in the
// metadata readers. Positions are taken as 64-bit numbers so that an offset
// read from a file plus a base can never overflow before it is checked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace lumivane {

// A metadata byte string: each char holds one byte (texts in it are
// single-byte Windows-1252).
using Bytes = std::string;

// Raised whenever a read would leave its byte string or a structure is
// malformed beyond what the readers tolerate.
class MetadataError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// One-line parse check: raises MetadataError(message) unless condition holds.
inline void enforce(bool condition, const char* message)
{
    if (!condition)
        throw MetadataError(message);
}

// TIFF value type codes (entry field "type").
enum class TiffType : uint16_t {
    Byte = 1,
    Ascii,
    Short,
    Long,
    Rational,
    SByte,
    Undefined,
    SShort,
    SLong,
    SRational,
    Float,
    Double
};

// Bytes per component of a TIFF type code; 0 for code 0 and codes above 12,
// which makes the directory walk skip such entries.
constexpr int TiffTypeSize(int typeCode)
{
    switch (typeCode) {
    case 1: case 2: case 6: case 7:
        return 1;
    case 3: case 8:
        return 2;
    case 4: case 9: case 11:
        return 4;
    case 5: case 10: case 12:
        return 8;
    default:
        return 0;
    }
}

constexpr int TiffTypeSize(TiffType type) { return TiffTypeSize(int(type)); }

// A read-only view of a byte string with a byte order. It does not own the
// bytes: keep the string alive and unchanged while the reader is used.
class ByteReader {
public:
    ByteReader(const Bytes& data, bool bigEndian)
        : data_(reinterpret_cast<const unsigned char*>(data.data())),
          size_(int64_t(data.size())),
          bigEndian_(bigEndian)
    {
    }

    // Over raw bytes held elsewhere (a file head read into a buffer).
    ByteReader(const unsigned char* data, std::size_t size, bool bigEndian)
        : data_(data), size_(int64_t(size)), bigEndian_(bigEndian)
    {
    }

    int64_t Size() const { return size_; }
    bool BigEndian() const { return bigEndian_; }

    // True when the count bytes from pos on all lie inside the data.
    bool Contains(int64_t pos, int64_t count) const
    {
        return pos >= 1 && count >= 0 && pos - 1 <= size_ && count <= size_ - (pos - 1);
    }

    uint8_t Byte(int64_t pos) const
    {
        Check(pos, 1);
        return data_[pos - 1];
    }

    // 16-bit number at pos in the reader's byte order.
    uint16_t Read16(int64_t pos) const
    {
        Check(pos, 2);
        const unsigned char* p = data_ + (pos - 1);
        return bigEndian_ ? uint16_t(p[0] << 8 | p[1]) : uint16_t(p[1] << 8 | p[0]);
    }

    // 32-bit number at pos in the reader's byte order; the stored bits taken
    // as a signed number.
    int32_t Read32(int64_t pos) const
    {
        Check(pos, 4);
        const unsigned char* p = data_ + (pos - 1);
        const uint32_t v = bigEndian_
            ? uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3]
            : uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
        return int32_t(v);
    }

    // JPEG segment lengths and IPTC lengths: most significant byte first,
    // whatever order the data declares elsewhere.
    uint16_t Read16BigEndian(int64_t pos) const
    {
        Check(pos, 2);
        const unsigned char* p = data_ + (pos - 1);
        return uint16_t(p[0] << 8 | p[1]);
    }

    // Up to count bytes from pos on; fewer when the data ends earlier, none
    // when pos lies past the end. A position before the first byte or a
    // negative count raises.
    Bytes Copy(int64_t pos, int64_t count) const
    {
        enforce(pos >= 1, "Value position before the start of the data");
        enforce(count >= 0, "Negative value length");
        if (pos - 1 >= size_)
            return Bytes();
        const int64_t available = size_ - (pos - 1);
        const int64_t n = count < available ? count : available;
        return Bytes(reinterpret_cast<const char*>(data_ + (pos - 1)), std::size_t(n));
    }

private:
    void Check(int64_t pos, int64_t count) const
    {
        if (!Contains(pos, count))
            Fail(pos, count);
    }

    [[noreturn]] __attribute__((noinline, cold)) void Fail(int64_t pos, int64_t count) const
    {
        throw MetadataError("Read outside the data at position " + std::to_string(pos) + " ("
                            + std::to_string(count) + " bytes of " + std::to_string(size_) + ")");
    }

    const unsigned char* data_;
    int64_t size_;
    bool bigEndian_;
};

}  // namespace lumivane
