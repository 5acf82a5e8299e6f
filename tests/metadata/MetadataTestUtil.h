// SPDX-License-Identifier: GPL-3.0-or-later
// Helpers for crafted metadata inputs: a writer of TIFF fields in either byte
// order, JPEG segments, and temporary files.
#pragma once

#include "ByteReader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

namespace lumivane::testutil {

// Appends numbers in a chosen byte order, so one crafted layout serves for
// both "II" and "MM" data. Every call site comments the field it writes.
class TiffWriter {
public:
    explicit TiffWriter(bool bigEndian) : bigEndian_(bigEndian) {}

    TiffWriter& u8(int v)
    {
        out_ += char(uint8_t(v));
        return *this;
    }
    TiffWriter& u16(int v)
    {
        const auto x = uint16_t(v);
        if (bigEndian_) {
            u8(x >> 8);
            u8(x);
        } else {
            u8(x);
            u8(x >> 8);
        }
        return *this;
    }
    TiffWriter& u32(uint32_t v)
    {
        if (bigEndian_) {
            u16(int(v >> 16));
            u16(int(v & 0xFFFF));
        } else {
            u16(int(v & 0xFFFF));
            u16(int(v >> 16));
        }
        return *this;
    }
    TiffWriter& text(const std::string& s)
    {
        out_ += s;
        return *this;
    }
    // A TIFF header: byte-order mark, 0x002A and the first-directory offset.
    TiffWriter& header(uint32_t firstDirectoryOffset)
    {
        text(bigEndian_ ? "MM" : "II");  // byte-order mark
        u16(0x002A);                      // 0x002A, TIFF magic
        return u32(firstDirectoryOffset); // offset of IFD0
    }
    // One 12-byte directory entry.
    TiffWriter& entry(int tag, int type, uint32_t count, uint32_t valueOrOffset)
    {
        u16(tag);
        u16(type);
        u32(count);
        return u32(valueOrOffset);
    }
    // An entry whose value (at most 4 bytes) is stored left-aligned.
    TiffWriter& entryInline(int tag, int type, uint32_t count, const std::string& bytes)
    {
        u16(tag);
        u16(type);
        u32(count);
        std::string value = bytes;
        value.resize(4, '\0');
        return text(value);
    }
    // Pads with zero bytes up to a TIFF offset (relative to the header).
    TiffWriter& padTo(std::size_t offset)
    {
        EXPECT_LE(out_.size(), offset) << "crafted layout overlaps at offset " << offset;
        out_.resize(offset, '\0');
        return *this;
    }
    std::size_t size() const { return out_.size(); }
    const std::string& bytes() const { return out_; }

private:
    bool bigEndian_;
    std::string out_;
};

// One JPEG marker segment: 0xFF, the marker code, the big-endian length
// (counting itself) and the payload.
inline std::string Segment(int marker, const std::string& payload)
{
    const std::size_t length = payload.size() + 2;
    std::string s;
    s += char(0xFF);
    s += char(marker);
    s += char((length >> 8) & 0xFF);
    s += char(length & 0xFF);
    return s + payload;
}

inline std::string Soi() { return std::string("\xFF\xD8", 2); }
// Start of scan with a small header followed by some entropy-coded bytes.
inline std::string ScanAndEnd()
{
    return Segment(0xDA, std::string("\x01\x01\x00\x00\x3F\x00", 6)) + std::string("\x12\x34\x56", 3)
           + std::string("\xFF\xD9", 2);
}
// An APP1 EXIF payload: "Exif\0\0" followed by the TIFF structure.
inline std::string ExifPayload(const std::string& tiff) { return std::string("Exif\0\0", 6) + tiff; }

// Writes bytes to a file in the test's temporary folder and returns its path.
inline std::string WriteTempFile(const std::string& name, const std::string& bytes)
{
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string testName = std::string(info->test_suite_name()) + "." + info->name();
    for (char& c : testName)
        if (c == '/')
            c = '_';
    // One folder per process, so test runs from several build folders at
    // once never write into each other's files.
    // The process's folder goes when the process ends.
    struct ProcessFolder {
        std::filesystem::path path = std::filesystem::path(::testing::TempDir()) /
                                     ("lumivane_metadata_" + std::to_string(::getpid()));
        ~ProcessFolder()
        {
            std::error_code ignored;
            std::filesystem::remove_all(path, ignored);
        }
    };
    static const ProcessFolder processFolder;
    std::filesystem::path dir = processFolder.path / testName;
    std::error_code ignored;
    std::filesystem::create_directories(dir, ignored);
    const auto path = dir / name;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    return path.string();
}

}  // namespace lumivane::testutil
