// SPDX-License-Identifier: GPL-3.0-or-later
#include "CameraExif.h"

#include "TestOracles.h"

#include <cmath>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <sys/stat.h>
#include <utime.h>

namespace lumivane::testing {

namespace {

enum : std::uint16_t { kAscii = 2, kShort = 3, kLong = 4, kRational = 5 };

struct Field {
    std::uint16_t tag;
    std::uint16_t type;
    std::uint32_t count;
    std::vector<std::uint8_t> value; // the value's bytes
};

void put16(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    out.push_back(std::uint8_t(v & 0xFF));
    out.push_back(std::uint8_t(v >> 8));
}

void put32(std::vector<std::uint8_t>& out, std::uint32_t v)
{
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

Field ascii(std::uint16_t tag, const std::string& text)
{
    std::vector<std::uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0); // ASCII values end with NUL and count it
    return {tag, kAscii, std::uint32_t(bytes.size()), bytes};
}

Field rational(std::uint16_t tag, std::uint32_t numerator, std::uint32_t denominator)
{
    std::vector<std::uint8_t> bytes;
    put32(bytes, numerator);
    put32(bytes, denominator);
    return {tag, kRational, 1, bytes};
}

// Appends one directory at out.size() - tiffStart (offsets count from the
// TIFF header); values longer than 4 bytes follow the directory.
void appendDirectory(std::vector<std::uint8_t>& out, std::size_t tiffStart, std::vector<Field> fields)
{
    const std::size_t start = out.size() - tiffStart;
    std::size_t data = start + 2 + 12 * fields.size() + 4; // entries, then the next-directory offset
    std::vector<std::uint8_t> values;
    put16(out, std::uint32_t(fields.size()));              // entry count
    for (const Field& f : fields) {
        put16(out, f.tag);                                 // tag
        put16(out, f.type);                                // type
        put32(out, f.count);                               // count
        if (f.value.size() <= 4) {
            std::vector<std::uint8_t> inline4 = f.value;   // value in the entry, padded
            inline4.resize(4, 0);
            out.insert(out.end(), inline4.begin(), inline4.end());
        } else {
            put32(out, std::uint32_t(data + values.size())); // offset of the value
            values.insert(values.end(), f.value.begin(), f.value.end());
            if (values.size() % 2)
                values.push_back(0);                       // values start on even offsets
        }
    }
    put32(out, 0);                                         // no next directory
    out.insert(out.end(), values.begin(), values.end());
}

std::size_t directoryBytes(const std::vector<Field>& fields)
{
    std::size_t n = 2 + 12 * fields.size() + 4;
    for (const Field& f : fields)
        if (f.value.size() > 4)
            n += f.value.size() + f.value.size() % 2;
    return n;
}

} // namespace

CameraExif Camera(const std::string& make, const std::string& model, double fNumber, double focalLength,
                  const std::string& lens)
{
    CameraExif exif;
    exif.make = make;
    exif.model = model;
    exif.lens = lens;
    if (fNumber > 0) {
        exif.fNumerator = std::uint32_t(std::lround(fNumber * 10));
        exif.fDenominator = 10;
    }
    if (focalLength > 0) {
        exif.focalNumerator = std::uint32_t(std::lround(focalLength * 10));
        exif.focalDenominator = 10;
    }
    return exif;
}

std::vector<std::uint8_t> ExifSegment(const CameraExif& exif)
{
    std::vector<Field> first, sub;
    if (!exif.make.empty())
        first.push_back(ascii(0x010F, exif.make));        // Make
    if (!exif.model.empty())
        first.push_back(ascii(0x0110, exif.model));       // Model
    if (exif.fDenominator)
        sub.push_back(rational(0x829D, exif.fNumerator, exif.fDenominator));          // FNumber
    if (exif.focalDenominator)
        sub.push_back(rational(0x920A, exif.focalNumerator, exif.focalDenominator)); // FocalLength
    if (exif.distanceDenominator)
        sub.push_back(rational(0x9206, exif.distanceNumerator, exif.distanceDenominator)); // SubjectDistance
    if (exif.focal35) {
        std::vector<std::uint8_t> value;
        put16(value, exif.focal35);
        sub.push_back({0xA405, kShort, 1, value});        // FocalLengthIn35mmFilm
    }
    if (!exif.lensMake.empty())
        sub.push_back(ascii(0xA433, exif.lensMake));      // LensMake
    if (!exif.lens.empty())
        sub.push_back(ascii(0xA434, exif.lens));          // LensModel
    if (!sub.empty()) {
        // ExifOffset: the EXIF directory follows the first one.
        std::vector<Field> withPointer = first;
        withPointer.push_back({0x8769, kLong, 1, {0, 0, 0, 0}});
        const std::uint32_t subStart = std::uint32_t(8 + directoryBytes(withPointer));
        std::vector<std::uint8_t> offset;
        put32(offset, subStart);
        withPointer.back().value = offset;
        first = withPointer;
    }

    std::vector<std::uint8_t> body = {'E', 'x', 'i', 'f', 0, 0};
    const std::size_t tiffStart = body.size();
    body.push_back('I');                                   // little-endian
    body.push_back('I');
    put16(body, 0x002A);                                   // TIFF magic
    put32(body, 8);                                        // offset of the first directory
    appendDirectory(body, tiffStart, first);
    if (!sub.empty())
        appendDirectory(body, tiffStart, sub);

    std::vector<std::uint8_t> segment = {0xFF, 0xE1};      // APP1
    const std::size_t length = body.size() + 2;            // the length counts itself
    segment.push_back(std::uint8_t(length >> 8));
    segment.push_back(std::uint8_t(length & 0xFF));
    segment.insert(segment.end(), body.begin(), body.end());
    return segment;
}

void WriteCameraJpeg(const std::string& path, const Bitmap24& image, const CameraExif& exif)
{
    SaveJpegFile(image, 90, path);
    std::ifstream in(path, std::ios::binary);
    std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    if (bytes.size() < 2 || bytes[0] != 0xFF || bytes[1] != 0xD8)
        throw std::runtime_error("the encoder wrote no JPEG to " + path);
    const std::vector<std::uint8_t> segment = ExifSegment(exif);
    bytes.insert(bytes.begin() + 2, segment.begin(), segment.end());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
}

void SetModified(const std::string& path, long long secondsSinceEpoch)
{
    utimbuf times{};
    times.actime = time_t(secondsSinceEpoch);
    times.modtime = time_t(secondsSinceEpoch);
    if (::utime(path.c_str(), &times) != 0)
        throw std::runtime_error("cannot set the time of " + path);
}

} // namespace lumivane::testing
