// SPDX-License-Identifier: GPL-3.0-or-later
// Builders for crafted maker notes and APP13 sections in the tests: each
// field is appended with its own call, so a test reads like a commented byte
// listing of the format.
#pragma once

#include "ByteReader.h"

#include <cstdint>
#include <initializer_list>
#include <string>

namespace lumivane::testing {

class ByteWriter {
public:
    explicit ByteWriter(bool bigEndian = false) : bigEndian_(bigEndian) {}

    ByteWriter& Text(const std::string& text)
    {
        bytes_ += text;
        return *this;
    }
    // Text and one 0x00 byte.
    ByteWriter& TextZ(const std::string& text)
    {
        bytes_ += text;
        bytes_ += '\0';
        return *this;
    }
    ByteWriter& Raw(std::initializer_list<int> values)
    {
        for (int v : values)
            bytes_ += char(v & 0xFF);
        return *this;
    }
    ByteWriter& Zeros(std::size_t count)
    {
        bytes_.append(count, '\0');
        return *this;
    }
    ByteWriter& U16(uint32_t v)
    {
        if (bigEndian_)
            return Raw({int(v >> 8), int(v)});
        return Raw({int(v), int(v >> 8)});
    }
    ByteWriter& U32(uint32_t v)
    {
        if (bigEndian_)
            return Raw({int(v >> 24), int(v >> 16), int(v >> 8), int(v)});
        return Raw({int(v), int(v >> 8), int(v >> 16), int(v >> 24)});
    }
    // Always most significant byte first (JPEG and IPTC lengths).
    ByteWriter& BE16(uint32_t v) { return Raw({int(v >> 8), int(v)}); }
    ByteWriter& Shorts(std::initializer_list<uint32_t> values)
    {
        for (uint32_t v : values)
            U16(v);
        return *this;
    }
    // A directory entry: tag, type, count and the value or offset field.
    ByteWriter& Entry(uint16_t tag, TiffType type, uint32_t count, uint32_t valueOrOffset)
    {
        U16(tag);
        U16(uint16_t(type));
        U32(count);
        return U32(valueOrOffset);
    }
    // An entry whose inline value is two SHORTs (or one, followed by 0).
    ByteWriter& ShortEntry(uint16_t tag, uint32_t count, uint16_t first, uint16_t second = 0)
    {
        U16(tag);
        U16(uint16_t(TiffType::Short));
        U32(count);
        U16(first);
        return U16(second);
    }
    // One IPTC record: marker, record and dataset numbers, length, data.
    ByteWriter& IptcRecord(int record, int dataset, const std::string& data)
    {
        Raw({0x1C, record, dataset});
        BE16(uint32_t(data.size()));
        return Text(data);
    }

    std::size_t Size() const { return bytes_.size(); }
    const Bytes& bytes() const { return bytes_; }

private:
    bool bigEndian_;
    Bytes bytes_;
};

}  // namespace lumivane::testing
