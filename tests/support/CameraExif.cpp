// SPDX-License-Identifier: GPL-3.0-or-later
#include "CameraExif.h"

#include "TestOracles.h"

#include <algorithm>
#include <cmath>
#include <functional>
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

namespace {

Field shortField(std::uint16_t tag, std::uint16_t value)
{
    std::vector<std::uint8_t> bytes;
    put16(bytes, value);
    return {tag, kShort, 1, bytes};
}

Field longField(std::uint16_t tag, std::uint32_t value)
{
    std::vector<std::uint8_t> bytes;
    put32(bytes, value);
    return {tag, kLong, 1, bytes};
}

// A little-endian TIFF block: header, the first directory (`image` fields,
// then Make, Model and the pointer to the EXIF directory, in tag order) and
// the EXIF directory. `placeTrailer`, when set, is told the offset where the
// block ends (where the caller appends pixel data) before the directories are
// written, so a strip offset can point there.
std::vector<std::uint8_t> tiffBlock(const CameraExif& exif, std::vector<Field> image,
                                    const std::function<void(std::vector<Field>&, std::uint32_t)>& placeTrailer)
{
    std::vector<Field> first = std::move(image), sub;
    if (!exif.make.empty())
        first.push_back(ascii(0x010F, exif.make));        // Make
    if (!exif.model.empty())
        first.push_back(ascii(0x0110, exif.model));       // Model
    if (exif.orientation) {
        std::vector<std::uint8_t> value;
        put16(value, exif.orientation);
        first.push_back({0x0112, kShort, 1, value});      // Orientation
    }
    if (exif.fDenominator)
        sub.push_back(rational(0x829D, exif.fNumerator, exif.fDenominator));          // FNumber
    if (exif.focalDenominator)
        sub.push_back(rational(0x920A, exif.focalNumerator, exif.focalDenominator)); // FocalLength
    if (exif.distanceDenominator)
        sub.push_back(rational(0x9206, exif.distanceNumerator, exif.distanceDenominator)); // SubjectDistance
    if (exif.focal35)
        sub.push_back(shortField(0xA405, exif.focal35));  // FocalLengthIn35mmFilm
    if (!exif.lensMake.empty())
        sub.push_back(ascii(0xA433, exif.lensMake));      // LensMake
    if (!exif.lens.empty())
        sub.push_back(ascii(0xA434, exif.lens));          // LensModel
    if (!sub.empty())
        first.push_back(longField(0x8769, 0));            // ExifOffset, set below
    std::sort(first.begin(), first.end(), [](const Field& a, const Field& b) { return a.tag < b.tag; });
    if (placeTrailer) {
        // The trailer follows both directories; the fields that point at it
        // keep their size, so the layout does not move when they are set.
        placeTrailer(first, std::uint32_t(8 + directoryBytes(first) + (sub.empty() ? 0 : directoryBytes(sub))));
    }
    if (!sub.empty()) {
        // The EXIF directory follows the first one.
        for (Field& f : first)
            if (f.tag == 0x8769)
                f = longField(0x8769, std::uint32_t(8 + directoryBytes(first)));
    }

    std::vector<std::uint8_t> body;
    body.push_back('I');                                   // little-endian
    body.push_back('I');
    put16(body, 0x002A);                                   // TIFF magic
    put32(body, 8);                                        // offset of the first directory
    appendDirectory(body, 0, first);
    if (!sub.empty())
        appendDirectory(body, 0, sub);
    return body;
}

} // namespace

std::vector<std::uint8_t> ExifSegment(const CameraExif& exif)
{
    std::vector<std::uint8_t> body = {'E', 'x', 'i', 'f', 0, 0};
    const std::vector<std::uint8_t> tiff = tiffBlock(exif, {}, {});
    body.insert(body.end(), tiff.begin(), tiff.end());

    std::vector<std::uint8_t> segment = {0xFF, 0xE1};      // APP1
    const std::size_t length = body.size() + 2;            // the length counts itself
    segment.push_back(std::uint8_t(length >> 8));
    segment.push_back(std::uint8_t(length & 0xFF));
    segment.insert(segment.end(), body.begin(), body.end());
    return segment;
}

void WriteCameraTiff(const std::string& path, const Bitmap24& image, const CameraExif& exif)
{
    const int w = image.width(), h = image.height();
    const std::uint32_t stripBytes = std::uint32_t(w) * std::uint32_t(h) * 3;
    std::vector<std::uint8_t> bitsPerSample;
    for (int i = 0; i < 3; ++i)
        put16(bitsPerSample, 8);
    std::vector<Field> fields = {
        longField(0x0100, std::uint32_t(w)),               // ImageWidth
        longField(0x0101, std::uint32_t(h)),               // ImageLength
        {0x0102, kShort, 3, bitsPerSample},                // BitsPerSample 8, 8, 8
        shortField(0x0103, 1),                             // Compression: none
        shortField(0x0106, 2),                             // PhotometricInterpretation: RGB
        longField(0x0111, 0),                              // StripOffsets, set when placed
        shortField(0x0115, 3),                             // SamplesPerPixel
        longField(0x0116, std::uint32_t(h)),               // RowsPerStrip: one strip
        longField(0x0117, stripBytes),                     // StripByteCounts
    };
    std::vector<std::uint8_t> bytes =
        tiffBlock(exif, fields, [](std::vector<Field>& first, std::uint32_t trailer) {
            for (Field& f : first)
                if (f.tag == 0x0111)
                    f = longField(0x0111, trailer);
        });
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const std::uint8_t* bgr = image.scanLine(y) + 3 * x;
            bytes.insert(bytes.end(), {bgr[2], bgr[1], bgr[0]}); // stored red, green, blue
        }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path);
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
