// SPDX-License-Identifier: GPL-3.0-or-later
// The ICC profile, XMP and IPTC sections a saved JPEG takes over from its
// source, after the EXIF head: crafted section lists written through
// WriteJpegWithExif, a walk over every cut of a source, and a read-back of a
// saved file with exiftool.
#include "ExifTransplant.h"

#include "Bitmap24.h"
#include "JpegCodec.h"

#include "TestFiles.h"
#include "TemporaryFolder.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <unistd.h>
#include <vector>

using namespace lumivane;
namespace fs = std::filesystem;
using lumivane::testfiles::Bytes;
using lumivane::testfiles::readFile;
using lumivane::testfiles::writeFile;

namespace {

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

void append(Bytes& b, const std::string& text, bool withZero)
{
    b.insert(b.end(), text.begin(), text.end());
    if (withZero)
        b.push_back(0);
}

void put16(Bytes& b, std::size_t v)
{
    b.push_back(std::uint8_t(v >> 8));
    b.push_back(std::uint8_t(v));
}

void put32(Bytes& b, std::size_t v)
{
    put16(b, v >> 16);
    put16(b, v & 0xFFFF);
}

// A marker section: 0xFF, code, length, payload.
Bytes section(std::uint8_t code, const Bytes& payload)
{
    Bytes b = {0xFF, code};
    put16(b, payload.size() + 2);
    b.insert(b.end(), payload.begin(), payload.end());
    return b;
}

Bytes withId(const std::string& id, const Bytes& rest)
{
    Bytes p;
    append(p, id, true);
    p.insert(p.end(), rest.begin(), rest.end());
    return p;
}

// Payload bytes that differ from section to section, so that a section
// copied twice, in the wrong place or shifted shows. No 0xFF byte: the JFIF
// search for the EXIF head takes any 0xFF 0xE1 pair.
Bytes filler(std::size_t size, unsigned seed)
{
    Bytes b(size);
    for (std::size_t i = 0; i < size; ++i)
        b[i] = std::uint8_t((i * 13 + seed * 71 + 5) % 255);
    return b;
}

Bytes exifSection(std::size_t size = 300) { return section(0xE1, withId("Exif", Bytes(1, 0) + filler(size, 1))); }
Bytes jfifSection()
{
    return section(0xE0, withId("JFIF", {0x01, 0x02, 0x01, 0x00, 0x48, 0x00, 0x48, 0x00, 0x00}));
}
Bytes iccChunk(unsigned sequence, unsigned count, const Bytes& data)
{
    Bytes p = {std::uint8_t(sequence), std::uint8_t(count)};
    p.insert(p.end(), data.begin(), data.end());
    return section(0xE2, withId("ICC_PROFILE", p));
}
Bytes xmpSection(unsigned seed) { return section(0xE1, withId("http://ns.adobe.com/xap/1.0/", filler(120, seed))); }
Bytes extendedXmpSection(unsigned seed)
{
    return section(0xE1, withId("http://ns.adobe.com/xmp/extension/", filler(200, seed)));
}
Bytes iptcSection(unsigned seed) { return section(0xED, withId("Photoshop 3.0", filler(60, seed))); }
Bytes commentSection() { return section(0xFE, filler(20, 9)); }
Bytes quantSection() { return section(0xDB, filler(65, 3)); }
Bytes mpfSection() { return section(0xE2, withId("MPF", filler(40, 4))); }

// SOI, the sections, a start of scan and scan data. The scan data holds the
// bytes of an IPTC section: a walk that does not stop at the scan would
// carry it. (Not an APP1: the JFIF search for the EXIF head would take it.)
Bytes sourceWith(const std::vector<Bytes>& sections)
{
    Bytes b = {0xFF, 0xD8};
    for (const Bytes& s : sections)
        b.insert(b.end(), s.begin(), s.end());
    const Bytes sos = section(0xDA, filler(10, 6));
    b.insert(b.end(), sos.begin(), sos.end());
    const Bytes lookalike = iptcSection(99);
    b.insert(b.end(), lookalike.begin(), lookalike.end());
    b.push_back(0xFF);
    b.push_back(0xD9);
    return b;
}


const char* resultName(TransplantResult r)
{
    switch (r) {
    case TransplantResult::SourceMissing: return "SourceMissing";
    case TransplantResult::Transplanted: return "Transplanted";
    case TransplantResult::NoExifFound: return "NoExifFound";
    case TransplantResult::NotApplicable: return "NotApplicable";
    case TransplantResult::Skipped: return "Skipped";
    }
    return "?";
}

Bytes encodedPicture(int width, int height)
{
    Bitmap24 picture(width, height);
    for (int y = 0; y < height; ++y) {
        std::uint8_t* row = picture.scanLine(y);
        for (int x = 0; x < width * 3; ++x)
            row[x] = std::uint8_t(x * 5 + y * 3);
    }
    return EncodeJpeg(picture, 90);
}

class Carried : public ::testing::Test {
protected:
    void SetUp() override
    {
        source = (dir / "source.jpg").string();
        out = (dir / "out.jpg").string();
        encoded = encodedPicture(48, 32);
        ASSERT_GT(encoded.size(), 20u);
    }
    lumivane::test_support::TemporaryFolder folder{"lumivane-carry"};
    const fs::path dir = folder.path();
    std::string source;
    std::string out;
    Bytes encoded;
};

} // namespace

TEST_F(Carried, SectionLayouts_FollowTheHeadInTheSourcesOrder)
{
    struct Row {
        const char* name;
        std::vector<Bytes> sections;
        std::size_t headSections;      // sections copied as the EXIF head; 0: the encoder's head stays
        std::vector<std::size_t> carry; // indices of the sections carried, in output order
        TransplantResult result;
        std::size_t cut = 0; // bytes cut off the end of the source (0: none)
    };
    const Bytes profile = filler(500, 7);
    const Bytes firstHalf(profile.begin(), profile.begin() + 250);
    const Bytes secondHalf(profile.begin() + 250, profile.end());
    const Bytes big1 = filler(60000, 11), big2 = filler(60000, 12), big3 = filler(60000, 13);
    const auto T = TransplantResult::Transplanted;
    const std::vector<Row> rows = {
        {"EXIF, then ICC in two chunks", {exifSection(), iccChunk(1, 2, firstHalf), iccChunk(2, 2, secondHalf)}, 1,
         {1, 2}, T},
        {"XMP, IPTC and extended XMP among other sections keep their order",
         {exifSection(), commentSection(), iptcSection(1), mpfSection(), xmpSection(2), quantSection(),
          extendedXmpSection(3)},
         1, {2, 4, 6}, T},
        {"ICC chunks stored out of order are carried as stored",
         {exifSection(), iccChunk(2, 2, secondHalf), xmpSection(1), iccChunk(1, 2, firstHalf)}, 1, {1, 2, 3}, T},
        {"JFIF: an ICC chunk before the APP1 is in the head, not copied twice",
         {jfifSection(), iccChunk(1, 1, profile), exifSection(), xmpSection(1)}, 3, {3}, T},
        {"JFIF: a profile split around the APP1 keeps its later chunk",
         {jfifSection(), iccChunk(1, 2, firstHalf), exifSection(), iccChunk(2, 2, secondHalf)}, 3, {3}, T},
        {"no EXIF but ICC and IPTC", {jfifSection(), iccChunk(1, 1, profile), iptcSection(2)}, 0, {1, 2},
         TransplantResult::NoExifFound},
        {"a source starting with its ICC profile", {iccChunk(1, 1, profile), xmpSection(3)}, 0, {0, 1},
         TransplantResult::NotApplicable},
        {"a profile missing a chunk is not carried",
         {exifSection(), iccChunk(1, 2, firstHalf), xmpSection(1)}, 1, {2}, T},
        {"a chunk number twice is not a profile",
         {exifSection(), iccChunk(1, 2, firstHalf), iccChunk(1, 2, secondHalf)}, 1, {}, T},
        {"a truncated second chunk drops the whole profile",
         {exifSection(), xmpSection(1), iccChunk(1, 2, firstHalf), iccChunk(2, 2, secondHalf)}, 1, {1}, T, 100},
        {"a section running past the end stops the carrying",
         {exifSection(), iptcSection(1), xmpSection(2)}, 1, {1}, T, 50},
        {"a length field below 2 stops the carrying",
         {exifSection(), xmpSection(1), Bytes{0xFF, 0xED, 0x00, 0x01}, iptcSection(2)}, 1, {1}, T},
        {"a byte that is no marker stops the carrying",
         {exifSection(), iptcSection(1), Bytes{0x00, 0x12}, xmpSection(2)}, 1, {1}, T},
        {"fill bytes before a marker are passed over", {exifSection(), Bytes{0xFF, 0xFF}, xmpSection(2)}, 1, {2}, T},
        {"near-miss identifiers are not carried",
         {exifSection(), section(0xE1, filler(40, 2) + withId("http://ns.adobe.com/xap/1.0/", {})),
          section(0xED, Bytes{'P', 'h', 'o', 't', 'o', 's', 'h', 'o', 'p', ' ', '3', '.', '0', '!'}),
          section(0xE2, withId("ICC_PROFILE", {0x01})), section(0xE1, withId("http://ns.adobe.com/xap/1.0", {}))},
         1, {}, T},
        {"a profile of three 60000-byte chunks, beyond the first bytes read",
         {exifSection(), iccChunk(1, 3, big1), iccChunk(2, 3, big2), iccChunk(3, 3, big3), iptcSection(5)}, 1,
         {1, 2, 3, 4}, T},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        Bytes src = sourceWith(row.sections);
        if (row.cut > 0) {
            // The whole scan and the cut bytes of the last section go.
            const std::size_t scanBytes = section(0xDA, filler(10, 6)).size() + iptcSection(99).size() + 2;
            src.resize(src.size() - scanBytes - row.cut);
        }
        writeFile(source, src);
        const TransplantResult result = WriteJpegWithExif(encoded, source, out);
        EXPECT_STREQ(resultName(result), resultName(row.result));

        Bytes expected;
        if (row.headSections > 0) {
            expected = {0xFF, 0xD8};
            for (std::size_t i = 0; i < row.headSections; ++i)
                expected = expected + row.sections[i];
        } else {
            expected.assign(encoded.begin(), encoded.begin() + 20);
        }
        for (std::size_t i : row.carry)
            expected = expected + row.sections[i];
        expected.insert(expected.end(), encoded.begin() + 20, encoded.end());
        EXPECT_EQ(readFile(out), expected);
    }
}

TEST_F(Carried, OutputWithoutTheEncodersHead_IsWrittenAsItIs)
{
    writeFile(source, sourceWith({jfifSection(), iccChunk(1, 1, filler(100, 1)), iptcSection(2)}));
    Bytes foreign = encoded;
    foreign[5] = 0x11; // an APP0 of another length: no 20-byte head to replace
    EXPECT_STREQ(resultName(WriteJpegWithExif(foreign, source, out)), "NoExifFound");
    EXPECT_EQ(readFile(out), foreign);
}

TEST(CarriedSections, EveryCutOfASource_StaysInsideTheBytesGiven)
{
    const Bytes full = sourceWith({exifSection(), iccChunk(1, 2, filler(90, 1)), iccChunk(2, 2, filler(90, 2)),
                                   xmpSection(3), iptcSection(4)});
    const CarriedSections whole = FindCarriedSections(full.data(), full.size(), 0);
    ASSERT_EQ(whole.sections.size(), 4u);
    EXPECT_EQ(whole.bytesNeeded, 0u);
    for (std::size_t cut = 0; cut < full.size(); ++cut) {
        SCOPED_TRACE(cut);
        // A buffer of exactly the cut's size, so a read past it is a read
        // past an allocation.
        const Bytes part(full.begin(), full.begin() + long(cut));
        const CarriedSections found = FindCarriedSections(part.data(), part.size(), 0);
        std::size_t k = 0;
        for (const CarriedSection& s : found.sections) {
            EXPECT_LE(s.offset + s.size, cut);
            // Only whole sections of the full list, in order (the profile
            // appears only with both of its chunks).
            while (k < whole.sections.size() && whole.sections[k].offset != s.offset)
                ++k;
            ASSERT_LT(k, whole.sections.size());
            EXPECT_EQ(s.size, whole.sections[k].size);
        }
        // Where the head is cut, the walk asks for the bytes up to the end
        // of the section it stopped in.
        const std::size_t scanStart = full.size() - section(0xDA, filler(10, 6)).size() - iptcSection(99).size() - 2;
        if (cut >= 2 && cut < scanStart) {
            EXPECT_GT(found.bytesNeeded, cut);
            EXPECT_LE(found.bytesNeeded, scanStart);
        }
    }
}

namespace {

// A minimal ICC v2 display profile with one tag, its description.
Bytes iccProfile(const std::string& description)
{
    Bytes desc;
    append(desc, "desc", false);
    put32(desc, 0);
    put32(desc, description.size() + 1);
    append(desc, description, true);
    put32(desc, 0); // Unicode language
    put32(desc, 0); // Unicode count
    put16(desc, 0); // ScriptCode code
    desc.push_back(0);
    desc.resize(desc.size() + 67, 0);
    while (desc.size() % 4 != 0)
        desc.push_back(0);

    const std::size_t tagOffset = 128 + 4 + 12;
    Bytes p;
    put32(p, tagOffset + desc.size());
    put32(p, 0);
    put32(p, 0x02100000);
    append(p, "mntrRGB XYZ ", false);
    for (unsigned v : {2026u, 1u, 1u, 0u, 0u, 0u})
        put16(p, v);
    append(p, "acsp", false);
    p.resize(64, 0);
    put32(p, 0); // rendering intent
    put32(p, 0x0000F6D6); // D50 white point
    put32(p, 0x00010000);
    put32(p, 0x0000D32D);
    p.resize(128, 0);
    put32(p, 1);
    append(p, "desc", false);
    put32(p, tagOffset);
    put32(p, desc.size());
    return p + desc;
}

Bytes xmpPacket(const std::string& title)
{
    const std::string packet =
        "<?xpacket begin='' id='W5M0MpCehiHzreSzNTczkc9d'?>"
        "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'>"
        "<rdf:Description rdf:about='' xmlns:dc='http://purl.org/dc/elements/1.1/'>"
        "<dc:title><rdf:Alt><rdf:li xml:lang='x-default'>" +
        title +
        "</rdf:li></rdf:Alt></dc:title></rdf:Description></rdf:RDF></x:xmpmeta><?xpacket end='w'?>";
    Bytes b;
    append(b, packet, false);
    return b;
}

// A Photoshop resource block holding IPTC records 2:0 (version) and 2:120
// (caption).
Bytes iptcResources(const std::string& caption)
{
    Bytes iptc = {0x1C, 0x02, 0x00, 0x00, 0x02, 0x00, 0x04, 0x1C, 0x02, 0x78};
    put16(iptc, caption.size());
    append(iptc, caption, false);
    Bytes b;
    append(b, "8BIM", false);
    put16(b, 0x0404);
    put16(b, 0); // empty name, padded to an even size
    put32(b, iptc.size());
    b = b + iptc;
    if (b.size() % 2 != 0)
        b.push_back(0);
    return b;
}

// A minimal EXIF block: a little-endian TIFF header and an empty directory.
Bytes exifBlock()
{
    Bytes b;
    append(b, "Exif", true);
    b = b + Bytes{0x00, 'I', 'I', 0x2A, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00};
    return b;
}

// `exiftool -j` on the file, as text; empty when exiftool cannot be run.
std::string exiftoolJson(const std::string& path)
{
    const std::string command =
        "exiftool -j -ProfileDescription -Title -Caption-Abstract -Warning '" + path + "' 2>&1";
    std::FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe)
        return {};
    std::string text;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        text.append(buffer, n);
    ::pclose(pipe);
    return text;
}

// The value of "key": "value" in exiftool's JSON, or "(missing)".
std::string jsonValue(const std::string& json, const std::string& key)
{
    const std::string start = "\"" + key + "\": \"";
    const std::size_t at = json.find(start);
    if (at == std::string::npos)
        return "(missing)";
    const std::size_t from = at + start.size();
    return json.substr(from, json.find('"', from) - from);
}

} // namespace

TEST_F(Carried, Exiftool_ReadsProfileXmpAndCaptionFromTheSavedFile)
{
    ASSERT_EQ(std::system("command -v exiftool >/dev/null 2>&1"), 0)
        << "exiftool is needed (scripts/setup installs it)";
    const std::string description = "Lumivane test profile";
    const std::string title = "Lighthouse at dusk";
    const std::string caption = "Corrected without losing the caption";
    const Bytes profile = iccProfile(description);
    const std::size_t half = profile.size() / 2;
    // A camera-like source: EXIF first, the profile in two chunks, XMP and
    // IPTC, then a picture of its own.
    const Bytes picture = encodedPicture(24, 16);
    Bytes src = Bytes{0xFF, 0xD8} + section(0xE1, exifBlock()) +
                iccChunk(1, 2, Bytes(profile.begin(), profile.begin() + long(half))) +
                iccChunk(2, 2, Bytes(profile.begin() + long(half), profile.end())) +
                section(0xE1, withId("http://ns.adobe.com/xap/1.0/", xmpPacket(title))) +
                section(0xED, withId("Photoshop 3.0", iptcResources(caption)));
    src.insert(src.end(), picture.begin() + 20, picture.end());
    writeFile(source, src);
    ASSERT_STREQ(resultName(WriteJpegWithExif(encoded, source, out)), "Transplanted");

    // The source first: a failure there is in the test's own file.
    for (const std::string& path : {source, out}) {
        SCOPED_TRACE(path);
        const std::string json = exiftoolJson(path);
        EXPECT_EQ(jsonValue(json, "ProfileDescription"), description) << json;
        EXPECT_EQ(jsonValue(json, "Title"), title) << json;
        EXPECT_EQ(jsonValue(json, "Caption-Abstract"), caption) << json;
        EXPECT_EQ(jsonValue(json, "Warning"), "(missing)") << json;
    }
    // The saved file still decodes to the encoder's picture.
    TJPEGImage saved, plain;
    saved.LoadFromBytes(readFile(out));
    plain.LoadFromBytes(encoded);
    Bitmap24 a = saved.Decode();
    Bitmap24 b = plain.Decode();
    ASSERT_EQ(a.width(), b.width());
    ASSERT_EQ(a.height(), b.height());
    for (int y = 0; y < a.height(); ++y)
        EXPECT_EQ(std::memcmp(a.scanLine(y), b.scanLine(y), a.rowBytes()), 0);
}
