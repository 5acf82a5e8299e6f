// SPDX-License-Identifier: GPL-3.0-or-later
#include "ImageFuzzTargets.h"

#include "BmpCodec.h"
#include "ExifTransplant.h"
#include "FileIO.h"
#include "ImageFile.h"
#include "JpegCodec.h"
#include "MaskFolder.h"
#include "MemoryBudget.h"
#include "ProgramSettings.h"
#include "Settings.h"
#include "TiffReader.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace lumivane::fuzz {

namespace {

// One scratch file per process and name, rewritten for every input.
std::string ScratchPath(const char* name)
{
    const std::filesystem::path dir = std::filesystem::temp_directory_path();
    return (dir / ("lumivane_fuzz_" + std::to_string(::getpid()) + "_" + name)).string();
}

void WriteScratch(const std::string& path, const uint8_t* data, std::size_t size)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
}

// A broken promise of a reader: report it and abort, so the fuzzer keeps
// the input and the replay test fails.
[[noreturn]] void broken(const char* what)
{
    std::fprintf(stderr, "fuzz check failed: %s\n", what);
    std::abort();
}

bool samePixels(const Bitmap24& a, const Bitmap24& b)
{
    return a.width() == b.width() && a.height() == b.height() &&
           (a.byteCount() == 0 || std::memcmp(a.data(), b.data(), a.byteCount()) == 0);
}

// Round trips are skipped for pictures this large, to keep each run quick.
constexpr std::size_t kRoundTripPixels = 1 << 20;

} // namespace

void LimitMemoryForFuzzing()
{
    ::setenv(kMemoryLimitVariable, kFuzzMemoryLimitMib, 0);
}

void RunBmp(const uint8_t* data, std::size_t size)
{
    Bitmap24 decoded;
    try {
        DecodeBmp(data, size, decoded);
    } catch (const BmpError&) {
        return;
    } catch (const MemoryBudgetError&) {
        return;
    }
    if (decoded.empty())
        broken("a BMP decoded without error to an empty picture");
    if (std::size_t(decoded.width()) * std::size_t(decoded.height()) > kRoundTripPixels)
        return;
    const std::vector<std::uint8_t> written = EncodeBmp(decoded);
    if (!samePixels(DecodeBmp(written.data(), written.size()), decoded))
        broken("a decoded BMP written and read again changed");
}

void RunJpegDecode(const uint8_t* data, std::size_t size)
{
    TJPEGImage image;
    try {
        image.LoadFromBytes(std::vector<std::uint8_t>(data, data + size));
    } catch (const JpegError&) {
        return;
    }
    if (image.Width() <= 0 || image.Height() <= 0)
        broken("a JPEG header was accepted with an empty size");
    image.Smoothing = size > 0 && (data[size - 1] & 1) != 0;
    Bitmap24 decoded;
    try {
        image.DecodeInto(decoded);
    } catch (const JpegError&) {
        return;
    } catch (const MemoryBudgetError&) {
        return;
    }
    if (decoded.width() != image.Width() || decoded.height() != image.Height())
        broken("a decoded JPEG does not have its header's size");
}

void RunTiffRead(const uint8_t* data, std::size_t size)
{
    const std::string path = ScratchPath("read.tif");
    WriteScratch(path, data, size);
    Bitmap24 decoded;
    try {
        if (!DecodeBySuffix(path, decoded, JpegSmoothing::Off))
            broken("a .tif name was not taken as a TIFF");
        if (decoded.empty())
            broken("a TIFF was read without error to an empty picture");
    } catch (const TiffError&) {
    } catch (const MemoryBudgetError&) {
    }
    std::filesystem::remove(path);
}

void RunPhotoFile(const uint8_t* data, std::size_t size)
{
    if (size == 0)
        return;
    static const char* const kNames[] = {"photo.jpg", "photo.bmp", "photo.tif"};
    const std::string path = ScratchPath(kNames[data[0] % 3]);
    WriteScratch(path, data + 1, size - 1);
    if (data[0] % 3 == 0) {
        JpegEndFinder end;
        const std::size_t needed = end.NeededOf(data + 1, size - 1);
        if (needed > size - 1)
            broken("a JPEG's end lies beyond its bytes");
    }
    Bitmap24 decoded;
    try {
        if (!DecodeBySuffix(path, decoded, (data[0] & 4) != 0 ? JpegSmoothing::On : JpegSmoothing::Off))
            broken("a picture name was not decoded");
        if (decoded.empty() && data[0] % 3 != 2)
            broken("a JPEG or BMP decoded without error to an empty picture");
    } catch (const FileError&) {
    } catch (const JpegError&) {
    } catch (const BmpError&) {
    } catch (const TiffError&) {
    } catch (const MemoryBudgetError&) {
    }
    std::filesystem::remove(path);
}

void RunSettings(const uint8_t* data, std::size_t size)
{
    const std::string path = ScratchPath("defaults.ini");
    WriteScratch(path, data, size);
    // A stored mask "exists" when its name is odd in length: both answers
    // are reached without touching the disk.
    const auto exists = [](const std::string& name) { return name.size() % 2 == 1; };
    SettingsValues read;
    bool parsed = true;
    try {
        read = ReadSettingsFile(path, exists);
    } catch (const SettingsError&) {
        parsed = false;
    }
    if (parsed && !read.fileExisted)
        broken("an existing defaults.ini was read as missing");
    // Lines are read one by one: the slider texts kept are always numbers,
    // and every line passed over is one of the nine, listed once in order.
    int sliders[3] = {};
    bool slidersAreNumbers = parsed;
    const std::string* texts[3] = {&read.iniBrightness, &read.iniStrength, &read.iniQuality};
    for (int k = 0; k < 3 && slidersAreNumbers; ++k) {
        try {
            sliders[k] = ParseStoredInteger(*texts[k]);
        } catch (const SettingsError&) {
            broken("a slider line that is no integer was kept");
        }
    }
    for (std::size_t k = 0; k < read.ignoredLines.size(); ++k)
        if (read.ignoredLines[k] < 1 || read.ignoredLines[k] > 9 || read.ignoredLines[k] == 4 ||
            (k > 0 && read.ignoredLines[k] <= read.ignoredLines[k - 1]))
            broken("ignored lines out of order or out of the file's nine");
    // What was read, stored again in the full form, reads back the same
    // whenever the mask name is one line (it cannot hold a line ending).
    const bool oneLine = read.defaultMask.find_first_of("\r\n") == std::string::npos;
    if (slidersAreNumbers && read.hasHotspot && !read.defaultMask.empty() && oneLine) {
        const std::string text =
            FullSettingsText(sliders[0], sliders[1], sliders[2], read.defaultMask, read.hotspotR, read.hotspotG,
                             read.hotspotB, read.hotspotX, read.hotspotY);
        WriteScratch(path, reinterpret_cast<const uint8_t*>(text.data()), text.size());
        const SettingsValues again = ReadSettingsFile(path, exists);
        // A one-digit red level reads as "no hotspot", as the window's files do.
        const bool keepsHotspot = std::to_string(read.hotspotR).size() >= 2;
        if (again.defaultMask != read.defaultMask || again.hasHotspot != keepsHotspot ||
            (keepsHotspot && (again.hotspotR != read.hotspotR || again.hotspotG != read.hotspotG ||
                              again.hotspotB != read.hotspotB || again.hotspotX != read.hotspotX ||
                              again.hotspotY != read.hotspotY)) ||
            ParseStoredInteger(again.iniBrightness) != sliders[0] || ParseStoredInteger(again.iniStrength) != sliders[1] ||
            ParseStoredInteger(again.iniQuality) != sliders[2])
            broken("defaults.ini stored again reads back differently");
    }
    std::filesystem::remove(path);
}

void RunMaskSettings(const uint8_t* data, std::size_t size)
{
    const MaskSettings read = ParseMaskSettings(std::string_view(reinterpret_cast<const char*>(data), size));
    if (read.folder.find_first_of("\r\n") != std::string::npos)
        broken("a masks.ini folder holds a line ending");
    if (ParseMaskSettings(MaskSettingsText(read)) != read)
        broken("masks.ini written again reads back differently");
    // The same bytes as lumivane.ini, whose lines are alike.
    const ProgramSettings program = ParseProgramSettings(std::string_view(reinterpret_cast<const char*>(data), size));
    if (ParseProgramSettings(ProgramSettingsText(program)) != program)
        broken("lumivane.ini written again reads back differently");
}

namespace {

// The picture every transplant carries: small, with detail in every block,
// so a file that decodes to anything else is seen.
struct EncodedPicture {
    std::vector<std::uint8_t> bytes;
    Bitmap24 decoded;
};

bool decodeJpeg(const std::vector<std::uint8_t>& bytes, Bitmap24& out)
{
    try {
        TJPEGImage image;
        image.LoadFromBytes(bytes);
        image.DecodeInto(out);
        return true;
    } catch (const JpegError&) {
        return false;
    }
}

const EncodedPicture& encodedPicture()
{
    static const EncodedPicture picture = [] {
        EncodedPicture p;
        Bitmap24 image(40, 24);
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x)
                image.setPixel(x, y, packColour(std::uint8_t(x * 6), std::uint8_t(y * 10), std::uint8_t(x * y)));
        p.bytes = EncodeJpeg(image, 90);
        if (!decodeJpeg(p.bytes, p.decoded))
            broken("the encoder's own picture does not decode");
        return p;
    }();
    return picture;
}

} // namespace

void RunTransplant(const uint8_t* data, std::size_t size)
{
    const EncodedPicture& picture = encodedPicture();
    const std::vector<std::uint8_t> file =
        AssembleJpegWithExif(picture.bytes.data(), picture.bytes.size(), data, size);
    // Whatever goes in front, the encoder's tables and scan close the file.
    const std::size_t tail = picture.bytes.size() - 20;
    if (file.size() < tail || !std::equal(picture.bytes.end() - std::ptrdiff_t(tail), picture.bytes.end(),
                                          file.end() - std::ptrdiff_t(tail)))
        broken("a transplant does not end with the encoded picture");
    Bitmap24 decoded;
    if (!decodeJpeg(file, decoded))
        broken("a transplant does not decode");
    if (!samePixels(decoded, picture.decoded))
        broken("a transplant decodes to another picture than the one encoded");
    // The ICC, XMP and IPTC sections of the source's head reach the output
    // whole, once each and in their order, whether they came with the
    // copied head or after it: the output's own walk finds the same bytes.
    // An ICC profile is carried only complete, so the output never holds
    // part of one.
    const CarriedSections inSource = FindCarriedSections(data, size, 0);
    CarriedSections inOutput = FindCarriedSections(file.data(), file.size(), 0);
    // A source whose ICC chunks do not make one whole profile (two profiles
    // of one chunk each, say) has none to carry; a chunk that came with the
    // copied head keeps its bytes there, and the output's own walk may find
    // it whole. Only the other sections are compared then.
    const auto isIcc = [](const CarriedSection& s) { return s.kind == CarriedKind::IccProfile; };
    if (std::none_of(inSource.sections.begin(), inSource.sections.end(), isIcc))
        std::erase_if(inOutput.sections, isIcc);
    if (inOutput.sections.size() != inSource.sections.size())
        broken("a transplant carries another number of ICC, XMP and IPTC sections than its source holds");
    for (std::size_t i = 0; i < inSource.sections.size(); ++i) {
        const CarriedSection& from = inSource.sections[i];
        const CarriedSection& to = inOutput.sections[i];
        if (from.kind != to.kind || from.size != to.size ||
            !std::equal(data + from.offset, data + from.offset + from.size, file.begin() + std::ptrdiff_t(to.offset)))
            broken("a carried ICC, XMP or IPTC section differs from the source's");
    }
}

} // namespace lumivane::fuzz
