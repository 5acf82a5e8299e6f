// SPDX-License-Identifier: GPL-3.0-or-later
#include "TestOracles.h"

#include "FileIO.h"
#include "JpegCodec.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <utility>
#include <sys/stat.h>
#include <vector>

namespace lumivane {

namespace {

bool hasId(const std::vector<std::uint8_t>& src, std::size_t at, std::size_t payload, const char* id, std::size_t idSize)
{
    return payload >= idSize && std::equal(id, id + idSize, src.begin() + long(at), [](char a, std::uint8_t b) {
               return std::uint8_t(a) == b;
           });
}

// The ICC, XMP, extended XMP and IPTC sections of the source's head that
// start at or after `from`, back to back, found by walking its sections one
// by one up to the start of scan; the ICC chunks only when they make a whole
// profile.
std::vector<std::uint8_t> carriedSections(const std::vector<std::uint8_t>& src, std::size_t from)
{
    std::vector<std::uint8_t> out;
    if (src.size() < 2 || src[0] != 0xFF || src[1] != 0xD8)
        return out;
    const std::size_t n = std::min<std::size_t>(src.size(), kCarryReadLimit);
    std::vector<std::pair<std::size_t, std::size_t>> icc, all; // offset, size
    std::vector<bool> isIcc;
    std::size_t i = 2;
    while (i + 2 <= n && src[i] == 0xFF) {
        const unsigned code = src[i + 1];
        if (code == 0xFF) {
            ++i;
            continue;
        }
        if (code == 0xDA || code == 0xD9 || code == 0xD8 || code == 0x01 || code == 0x00 ||
            (code >= 0xD0 && code <= 0xD7) || i + 4 > n)
            break;
        const std::size_t length = std::size_t(src[i + 2]) * 256 + src[i + 3];
        if (length < 2 || i + 2 + length > n)
            break;
        const std::size_t payload = length - 2;
        const std::size_t at = i + 4;
        const bool iccChunk = code == 0xE2 && payload >= 14 && hasId(src, at, payload, "ICC_PROFILE", 12);
        const bool other = (code == 0xE1 && hasId(src, at, payload, "http://ns.adobe.com/xap/1.0/", 29)) ||
                           (code == 0xE1 && hasId(src, at, payload, "http://ns.adobe.com/xmp/extension/", 35)) ||
                           (code == 0xED && hasId(src, at, payload, "Photoshop 3.0", 14));
        if (i >= from && (iccChunk || other)) {
            all.emplace_back(i, length + 2);
            isIcc.push_back(iccChunk);
            if (iccChunk)
                icc.emplace_back(src[at + 12], src[at + 13]); // sequence number, count
        }
        i += 2 + length;
    }
    // Whole profile: the chunks are 1..count, each once, with one count.
    bool iccWhole = !icc.empty();
    for (std::size_t k = 0; k < icc.size() && iccWhole; ++k) {
        iccWhole = icc[k].second == icc.size() && icc[k].first >= 1 && icc[k].first <= icc.size();
        for (std::size_t m = 0; m < k && iccWhole; ++m)
            iccWhole = icc[m].first != icc[k].first;
    }
    for (std::size_t k = 0; k < all.size(); ++k)
        if (!isIcc[k] || iccWhole)
            out.insert(out.end(), src.begin() + long(all[k].first), src.begin() + long(all[k].first + all[k].second));
    return out;
}

} // namespace

TransplantResult CopyExif(const std::string& sourceFile, const std::string& outPath)
{
    struct stat st {};
    if (::stat(sourceFile.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
        return TransplantResult::SourceMissing;
    const std::vector<std::uint8_t> src = ReadWholeFile(sourceFile);
    auto at = [&](std::size_t i) { return unsigned(src[i]); };
    std::size_t head = 0;
    TransplantResult result = TransplantResult::Transplanted;
    if (src.size() < 4) {
        result = TransplantResult::Skipped;
    } else if (at(0) == 0xFF && at(1) == 0xD8 && at(2) == 0xFF && at(3) == 0xE1) {
        const std::size_t length = src.size() < 6 ? 0 : at(4) * 256 + at(5);
        if (length < 2 || length + 4 > 65536 || length + 4 > src.size())
            result = TransplantResult::Skipped;
        else
            head = length + 4;
    } else if (at(0) == 0xFF && at(1) == 0xD8 && at(2) == 0xFF && at(3) == 0xE0) {
        const std::size_t n = std::min<std::size_t>(src.size(), 65535);
        for (std::size_t j = 0; j + 1 < n && head == 0; ++j) {
            if (at(j) != 0xFF || at(j + 1) != 0xE1)
                continue;
            if (j + 3 >= n) {
                result = TransplantResult::Skipped;
                break;
            }
            const std::size_t length = at(j + 2) * 256 + at(j + 3);
            if (length == 0)
                continue;
            if (length < 2 || j + 2 + length > n) {
                result = TransplantResult::Skipped;
                break;
            }
            head = j + 2 + length;
        }
        if (head == 0 && result == TransplantResult::Transplanted)
            result = TransplantResult::NoExifFound;
    } else {
        result = TransplantResult::NotApplicable;
    }
    if (result != TransplantResult::Transplanted)
        head = 0;

    const std::vector<std::uint8_t> out = ReadWholeFile(outPath);
    static const std::uint8_t kEncoderHead[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10};
    if (out.size() < 20 || !std::equal(std::begin(kEncoderHead), std::end(kEncoderHead), out.begin()))
        return result == TransplantResult::Transplanted ? TransplantResult::Skipped : result;
    // The ICC, XMP and IPTC sections follow the EXIF head, or the encoder's
    // own head when there is none.
    const std::vector<std::uint8_t> carried = carriedSections(src, head);
    if (head == 0 && carried.empty())
        return result;
    std::vector<std::uint8_t> file;
    if (head > 0)
        file.assign(src.begin(), src.begin() + long(head));
    else
        file.assign(out.begin(), out.begin() + 20);
    file.insert(file.end(), carried.begin(), carried.end());
    file.insert(file.end(), out.begin() + 20, out.end());
    WriteFileAtomically(outPath, file);
    return result;
}

double SrgbLinearOfCode(double code)
{
    if (code <= 0)
        return 0;
    const double c = code / 255.0;
    if (c <= 0.04045)
        return c / 12.92;
    return std::pow((c + 0.055) / 1.055, 2.4);
}

double SrgbCodeOfLinear(double linear)
{
    linear = std::min(std::max(linear, 0.0), 1.0);
    const double encoded = linear <= 0.0031308 ? linear * 12.92 : 1.055 * std::pow(linear, 1 / 2.4) - 0.055;
    return encoded * 255.0;
}

Bitmap24 NoiseBitmap(int width, int height, std::uint32_t seed)
{
    Bitmap24 bmp(width, height);
    std::uint32_t s = seed;
    for (std::size_t i = 0; i < bmp.byteCount(); ++i) {
        s = s * 1664525u + 1013904223u;
        bmp.data()[i] = std::uint8_t(s >> 24);
    }
    return bmp;
}

Bitmap24 CropBitmap(const Bitmap24& source, int left, int top, int right, int bottom)
{
    const long long w = static_cast<long long>(source.width()) - left - right;
    const long long h = static_cast<long long>(source.height()) - top - bottom;
    if (left < 0 || top < 0 || right < 0 || bottom < 0 || w <= 0 || h <= 0)
        throw std::invalid_argument("Crop margins leave no pixels: " + std::to_string(source.width()) + "x" +
                                    std::to_string(source.height()) + " photograph with margins " +
                                    std::to_string(left) + ", " + std::to_string(top) + ", " +
                                    std::to_string(right) + ", " + std::to_string(bottom));
    Bitmap24 out(static_cast<int>(w), static_cast<int>(h));
    copyRect(source, Rect{left, top, left + int(w), top + int(h)}, out, 0, 0);
    return out;
}

void ApplyCorrectionRows(const Bitmap24& photoIn, Bitmap24& bandOut, int firstRow, int rowCount,
                         const Bitmap24& mask, const CorrectionRegion& region, float damping,
                         const CorrectionTargets& targets)
{
    const CorrectionPass pass(photoIn, mask, region, damping, targets);
    if (rowCount < 0 || firstRow < 0 || firstRow > photoIn.height() - rowCount)
        throw std::out_of_range("Correction rows " + std::to_string(firstRow) + " + " + std::to_string(rowCount) +
                                " outside a photograph of " + std::to_string(photoIn.height()) + " rows");
    bandOut.setSize(photoIn.width(), rowCount);
    pass.CorrectInto(Rect{0, firstRow, photoIn.width(), firstRow + rowCount}, bandOut.data(),
                     std::ptrdiff_t(bandOut.rowBytes()));
}

void SaveJpegFile(const Bitmap24& image, int quality, const std::string& path)
{
    WriteFileAtomically(path, EncodeJpeg(image, quality));
}

void PaintBrightnessZonesReference(const Bitmap24& panelMask, Bitmap24& target)
{
    int maxR = 0, maxG = 0, maxB = 0;
    for (int y = 0; y < panelMask.height(); ++y)
        for (int x = 0; x < panelMask.width(); ++x) {
            const Colour c = panelMask.pixel(x, y);
            maxR = std::max<int>(maxR, redOf(c));
            maxG = std::max<int>(maxG, greenOf(c));
            maxB = std::max<int>(maxB, blueOf(c));
        }
    const int depths[3] = {15, 10, 5};
    const Colour colours[3] = {packColour(255, 0, 0), packColour(255, 136, 0), packColour(255, 255, 0)};
    for (int pass = 0; pass < 3; ++pass) {
        const int d = depths[pass];
        const std::int32_t threshold = ((maxR - d) & 255) + 256 * ((maxG - d) & 255) + 65536 * ((maxB - d) & 255);
        for (int y = 0; y < panelMask.height(); ++y)
            for (int x = 0; x < panelMask.width(); ++x)
                if (std::int32_t(panelMask.pixel(x, y)) > threshold)
                    target.setPixel(x, y, colours[pass]);
    }
}

} // namespace lumivane
