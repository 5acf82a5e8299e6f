// SPDX-License-Identifier: GPL-3.0-or-later
#include "ExifTransplant.h"

#include "FileSizeLimit.h"
#include "TestOracles.h"

#include "TestFiles.h"
#include "TemporaryFolder.h"

#include <gtest/gtest.h>

#include <csetjmp>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

#include <jpeglib.h>

using namespace lumivane;
namespace fs = std::filesystem;
using lumivane::testfiles::Bytes;
using lumivane::testfiles::readFile;
using lumivane::testfiles::writeFile;

using lumivane::test_support::FileSizeLimit;

namespace {

// ---------------------------------------------------------------------------
// libjpeg used directly, so these tests do not lean on the program's codec.

struct ErrorTrap {
    jpeg_error_mgr mgr{};
    std::jmp_buf jump{};
};

void trapError(j_common_ptr cinfo)
{
    std::longjmp(reinterpret_cast<ErrorTrap*>(cinfo->err)->jump, 1);
}

// The way the program's encoder writes: RGB input, float DCT, baseline
// tables; libjpeg's default JFIF APP0 follows SOI.
Bytes encodeJpeg(int width, int height, int quality, unsigned seed)
{
    std::vector<std::uint8_t> rgb(std::size_t(width) * height * 3);
    unsigned state = seed * 2654435761u + 1;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            state = state * 1103515245u + 12345u;
            std::uint8_t* p = &rgb[(std::size_t(y) * width + x) * 3];
            p[0] = std::uint8_t(x * 255 / width);
            p[1] = std::uint8_t(y * 255 / height);
            p[2] = std::uint8_t(state >> 24); // noise keeps the file large
        }
    jpeg_compress_struct cinfo{};
    ErrorTrap trap;
    cinfo.err = jpeg_std_error(&trap.mgr);
    trap.mgr.error_exit = trapError;
    unsigned char* out = nullptr;
    unsigned long outSize = 0;
    if (setjmp(trap.jump)) {
        jpeg_destroy_compress(&cinfo);
        std::free(out);
        ADD_FAILURE() << "libjpeg could not encode";
        return {};
    }
    jpeg_create_compress(&cinfo);
    jpeg_mem_dest(&cinfo, &out, &outSize);
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    cinfo.input_components = 3;
    cinfo.in_color_space = JCS_RGB;
    jpeg_set_defaults(&cinfo);
    cinfo.dct_method = JDCT_FLOAT;
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
    while (cinfo.next_scanline < cinfo.image_height) {
        JSAMPROW row = &rgb[std::size_t(cinfo.next_scanline) * width * 3];
        jpeg_write_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_compress(&cinfo);
    jpeg_destroy_compress(&cinfo);
    Bytes result(out, out + outSize);
    std::free(out);
    return result;
}

struct Decoded {
    bool ok = false;
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;
};

Decoded decodeJpeg(const Bytes& data)
{
    Decoded result;
    jpeg_decompress_struct cinfo{};
    ErrorTrap trap;
    cinfo.err = jpeg_std_error(&trap.mgr);
    trap.mgr.error_exit = trapError;
    trap.mgr.emit_message = [](j_common_ptr, int) {};
    if (setjmp(trap.jump)) {
        jpeg_destroy_decompress(&cinfo);
        return Decoded{};
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, data.data(), static_cast<unsigned long>(data.size()));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.out_color_space = JCS_RGB;
    jpeg_start_decompress(&cinfo);
    result.width = int(cinfo.output_width);
    result.height = int(cinfo.output_height);
    result.pixels.resize(std::size_t(result.width) * result.height * 3);
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW row = &result.pixels[std::size_t(cinfo.output_scanline) * result.width * 3];
        jpeg_read_scanlines(&cinfo, &row, 1);
    }
    jpeg_finish_decompress(&cinfo);
    // A transplant must not make libjpeg complain about the file.
    result.ok = cinfo.err->num_warnings == 0;
    jpeg_destroy_decompress(&cinfo);
    return result;
}

// ---------------------------------------------------------------------------
// Marker sections, walked properly (not by the transplant's byte search).

struct Section {
    std::uint8_t marker = 0;
    std::size_t offset = 0; // of the 0xFF byte
    std::size_t size = 0;   // marker and section, length field included
};

std::vector<Section> sectionsBeforeScan(const Bytes& file)
{
    std::vector<Section> sections;
    std::size_t i = 2;
    while (i + 4 <= file.size() && file[i] == 0xFF && file[i + 1] != 0xDA) {
        const std::size_t length = (std::size_t(file[i + 2]) << 8) | file[i + 3];
        sections.push_back({file[i + 1], i, length + 2});
        i += length + 2;
    }
    return sections;
}

Bytes firstApp1(const Bytes& file)
{
    for (const Section& s : sectionsBeforeScan(file))
        if (s.marker == 0xE1 && s.offset + s.size <= file.size())
            return Bytes(file.begin() + long(s.offset), file.begin() + long(s.offset + s.size));
    return {};
}

// ---------------------------------------------------------------------------
// Crafted sources.

void put16(Bytes& b, unsigned value)
{
    b.push_back(std::uint8_t(value >> 8));
    b.push_back(std::uint8_t(value));
}

// An APP1 section of the given length field: marker, length, "Exif\0\0" and
// a counting pattern that makes any shifted copy visible.
Bytes app1Section(unsigned length)
{
    Bytes b;
    b.reserve(std::size_t(length) + 2);
    b.push_back(0xFF);
    b.push_back(0xE1);
    put16(b, length);
    const char exif[] = {'E', 'x', 'i', 'f', 0, 0};
    for (unsigned i = 0; i + 2 < length; ++i)
        b.push_back(i < 6 ? std::uint8_t(exif[i]) : std::uint8_t(i * 7 + 3));
    return b;
}

Bytes sourceJfifApp0()
{
    return {0xFF, 0xE0, 0x00, 0x10,        // APP0, length 16
            'J',  'F',  'I',  'F',  0x00,  // identifier
            0x01, 0x02,                    // version 1.02 (the encoder writes 1.01)
            0x01,                          // density in dots per inch
            0x01, 0x2C, 0x01, 0x2C,        // 300 x 300
            0x00, 0x00};                   // no thumbnail
}

// SOI, then the given sections, then a stand-in for the image data (never
// looked at by the transplant).
Bytes sourceWith(const std::vector<Bytes>& sections, std::size_t imageBytes = 64)
{
    std::size_t total = imageBytes + 6;
    for (const Bytes& s : sections)
        total += s.size();
    Bytes b;
    b.reserve(total);
    b.push_back(0xFF);
    b.push_back(0xD8);
    for (const Bytes& s : sections)
        b.insert(b.end(), s.begin(), s.end());
    b.push_back(0xFF);
    b.push_back(0xDB);
    for (std::size_t i = 0; i < imageBytes; ++i)
        b.push_back(std::uint8_t(i % 251));
    b.push_back(0xFF);
    b.push_back(0xD9);
    return b;
}

// A comment section: not one of the sections carried along with the EXIF head.
Bytes commentSection()
{
    return {0xFF, 0xFE, 0x00, 0x08, 'n', 'o', 't', 'e', ' ', '1'};
}

Bytes app13Section()
{
    return {0xFF, 0xED, 0x00, 0x10, // APP13, length 16
            'P',  'h',  'o',  't',  'o', 's', 'h', 'o', 'p', ' ', '3', '.', '0', 0x00};
}

// ---------------------------------------------------------------------------


Bytes concat(const Bytes& head, const Bytes& output)
{
    Bytes b = head;
    b.insert(b.end(), output.begin() + 20, output.end());
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

class Transplant : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        encoded_ = new Bytes(encodeJpeg(96, 64, 90, 1));
        large_ = new Bytes(encodeJpeg(800, 600, 95, 2));
    }
    static void TearDownTestSuite()
    {
        delete encoded_;
        delete large_;
    }

    void SetUp() override
    {
        source = (dir / "IMG_0001.JPG").string();
        out = (dir / "IMG_0001.jpg.out.jpg").string();
    }

    // The encoder output the transplant works on: small (one block) or large
    // (several 64 KiB blocks).
    static const Bytes& encoded() { return *encoded_; }
    static const Bytes& large() { return *large_; }

    // Runs the transplant and checks that the output was left exactly as
    // written and that no temporary file remains.
    void expectOutputUntouched(const Bytes& sourceBytes, TransplantResult expected)
    {
        writeFile(source, sourceBytes);
        writeFile(out, encoded());
        EXPECT_EQ(resultName(rewriteWithExif()), std::string(resultName(expected)));
        EXPECT_EQ(readFile(out), encoded());
        EXPECT_FALSE(hasTemporary());
    }

    // The encoder's output already at `out`, written again with the
    // source's head in front: the transplant as the save does it.
    TransplantResult rewriteWithExif() { return WriteJpegWithExif(readFile(out), source, out); }

    // Whether a temporary file of the writer is left in the folder.
    bool hasTemporary() const
    {
        for (const auto& entry : fs::directory_iterator(dir))
            if (entry.path().string().ends_with(kTemporarySuffix))
                return true;
        return false;
    }

    lumivane::test_support::TemporaryFolder folder{"lumivane-exif"};
    const fs::path dir = folder.path();
    std::string source;
    std::string out;

private:
    static inline Bytes* encoded_ = nullptr;
    static inline Bytes* large_ = nullptr;
};

} // namespace

TEST(TransplantText, SourceMissingMessage_NamesPath)
{
    EXPECT_EQ(SourceMissingMessage("/photos/IMG_7.JPG"), "Can not access /photos/IMG_7.JPG. Exiting...");
}

TEST_F(Transplant, EncoderOutput_StartsWithTheTwentyByteHeadItReplaces)
{
    const Bytes expected = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 0x4A, 0x46, 0x49, 0x46,
                            0x00, 0x01, 0x01, 0x00, 0x00, 0x01, 0x00, 0x01, 0x00, 0x00};
    ASSERT_GE(encoded().size(), 22u);
    EXPECT_EQ(Bytes(encoded().begin(), encoded().begin() + 20), expected);
    EXPECT_EQ(encoded()[20], 0xFF);
    EXPECT_EQ(encoded()[21], 0xDB);
}

TEST_F(Transplant, App1First_CopiesSourceHeadAndDropsEncoderHead)
{
    const Bytes src = sourceWith({app1Section(12000)});
    writeFile(source, src);
    writeFile(out, large());

    EXPECT_EQ(rewriteWithExif(), TransplantResult::Transplanted);
    const Bytes result = readFile(out);
    ASSERT_EQ(result.size(), large().size() - 20 + 12004);
    EXPECT_TRUE(std::equal(src.begin(), src.begin() + 12004, result.begin()));
    EXPECT_TRUE(std::equal(large().begin() + 20, large().end(), result.begin() + 12004));
    EXPECT_FALSE(hasTemporary());
    EXPECT_EQ(readFile(source), src); // the source is only read
}

TEST_F(Transplant, Jfif_CopiesHeadThroughFirstApp1)
{
    struct Row {
        const char* name;
        std::vector<Bytes> sections;
        std::size_t headSize; // bytes of the source the new file starts with
    };
    const Bytes app0 = sourceJfifApp0();
    const Bytes app1 = app1Section(3000);
    const Bytes app13 = app13Section();
    const std::vector<Row> rows = {
        {"APP0 then APP1", {app0, app1}, 2 + app0.size() + app1.size()},
        {"APP0, APP13, APP1", {app0, app13, app1}, 2 + app0.size() + app13.size() + app1.size()},
        {"other sections after the APP1 are not carried",
         {app0, app1, commentSection(), app1Section(40)},
         2 + app0.size() + app1.size()},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Bytes src = sourceWith(row.sections);
        writeFile(source, src);
        writeFile(out, encoded());
        EXPECT_EQ(rewriteWithExif(), TransplantResult::Transplanted);
        const Bytes result = readFile(out);
        EXPECT_EQ(result, concat(Bytes(src.begin(), src.begin() + long(row.headSize)), encoded()));
        // The source's own APP0 (version 1.02, 300 dpi) replaces the encoder's.
        EXPECT_EQ(result[12], 0x02);
        EXPECT_EQ(result[15], 0x2C);
        EXPECT_EQ(firstApp1(result), app1);
        EXPECT_FALSE(hasTemporary());
    }
}

TEST_F(Transplant, Jfif_SkipsPairWithZeroLength_AndTakesNextApp1)
{
    // 0xFF 0xE1 0x00 0x00 inside the APP13 payload is no APP1 section.
    Bytes app13 = {0xFF, 0xED, 0x00, 0x08, 'x', 'y', 0xFF, 0xE1, 0x00, 0x00};
    const Bytes app1 = app1Section(100);
    const Bytes src = sourceWith({sourceJfifApp0(), app13, app1});
    writeFile(source, src);
    writeFile(out, encoded());
    EXPECT_EQ(rewriteWithExif(), TransplantResult::Transplanted);
    const std::size_t head = 2 + sourceJfifApp0().size() + app13.size() + app1.size();
    EXPECT_EQ(readFile(out), concat(Bytes(src.begin(), src.begin() + long(head)), encoded()));
}

TEST_F(Transplant, App1EndingExactlyAtBufferLimits_IsTransplanted)
{
    struct Row {
        const char* name;
        Bytes src;
        std::size_t headSize;
    };
    // APP1-first: the largest section whose head (L + 4) fills the buffer.
    Bytes big = sourceWith({app1Section(65532)});
    // JFIF: an APP1 whose last byte is byte 65535 of the file, the last one
    // searched; the file goes on beyond it.
    const std::size_t app1Start = 2 + 18;
    Bytes edge = sourceWith({sourceJfifApp0(), app1Section(unsigned(65535 - app1Start - 2))}, 5000);
    const std::vector<Row> rows = {
        {"APP1 length 65532", big, 65536},
        {"JFIF APP1 ending at byte 65535", edge, 65535},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        writeFile(source, row.src);
        writeFile(out, large());
        EXPECT_EQ(rewriteWithExif(), TransplantResult::Transplanted);
        EXPECT_EQ(readFile(out),
                  concat(Bytes(row.src.begin(), row.src.begin() + long(row.headSize)), large()));
        EXPECT_FALSE(hasTemporary());
    }
}

TEST_F(Transplant, JfifWithoutApp1_LeavesOutputAsWritten)
{
    expectOutputUntouched(sourceWith({sourceJfifApp0(), commentSection()}), TransplantResult::NoExifFound);
    // A real JFIF file from the encoder itself carries no APP1 either.
    expectOutputUntouched(encodeJpeg(16, 16, 50, 9), TransplantResult::NoExifFound);
}

TEST_F(Transplant, OtherSources_AreNotApplicable)
{
    struct Row {
        const char* name;
        Bytes bytes;
    };
    const std::vector<Row> rows = {
        {"BMP", {'B', 'M', 0x36, 0x00, 0x00, 0x00, 0, 0, 0, 0, 0x36, 0, 0, 0}},
        {"TIFF little-endian", {'I', 'I', 0x2A, 0x00, 0x08, 0x00, 0x00, 0x00}},
        {"TIFF big-endian", {'M', 'M', 0x00, 0x2A, 0x00, 0x00, 0x00, 0x08}},
        {"JPEG starting with DQT", {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x43, 0x00}},
        {"JPEG starting with APP2", {0xFF, 0xD8, 0xFF, 0xE2, 0x00, 0x04, 0xFF, 0xE1, 0x00, 0x04, 1, 2}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        expectOutputUntouched(row.bytes, TransplantResult::NotApplicable);
    }
    {
        SCOPED_TRACE("camera TIFF");
        expectOutputUntouched(readFile(LUMIVANE_SAMPLES_DIR "/tiff/pc260001.tif"),
                              TransplantResult::NotApplicable);
    }
}

TEST_F(Transplant, MalformedSourceHead_IsSkipped)
{
    struct Row {
        const char* name;
        Bytes bytes;
    };
    Bytes app1Truncated = sourceWith({app1Section(3000)});
    app1Truncated.resize(1500);
    Bytes jfifApp1PastEnd = sourceWith({sourceJfifApp0(), app1Section(3000)});
    jfifApp1PastEnd.resize(2 + 18 + 2000);
    // The APP1 starts inside the 65535 bytes searched but ends beyond them,
    // although the file itself is long enough.
    Bytes pastSearched = sourceWith({sourceJfifApp0(), app1Section(65000 - 20), app1Section(2000)});
    pastSearched.resize(pastSearched.size() + 10);
    {
        // Turn the first APP1 into APP2 so that the first match is the second one.
        pastSearched[2 + 18 + 1] = 0xE2;
    }
    Bytes jfifPairAtEnd = sourceWith({sourceJfifApp0()}, 0);
    jfifPairAtEnd.resize(2 + 18);
    jfifPairAtEnd.push_back(0xFF);
    jfifPairAtEnd.push_back(0xE1);
    Bytes jfifOneLengthByte = jfifPairAtEnd;
    jfifOneLengthByte.push_back(0x10);

    const std::vector<Row> rows = {
        {"empty file", {}},
        {"three bytes", {0xFF, 0xD8, 0xFF}},
        {"APP1 without length", {0xFF, 0xD8, 0xFF, 0xE1}},
        {"APP1 with one length byte", {0xFF, 0xD8, 0xFF, 0xE1, 0x00}},
        {"APP1 length 0", sourceWith({{0xFF, 0xE1, 0x00, 0x00}})},
        {"APP1 length 1", sourceWith({{0xFF, 0xE1, 0x00, 0x01}})},
        {"APP1 length 65533", sourceWith({app1Section(65533)})},
        {"APP1 length 65535", sourceWith({app1Section(65535)})},
        {"APP1 longer than the file", app1Truncated},
        {"JFIF APP1 past the end of the file", jfifApp1PastEnd},
        {"JFIF APP1 past the bytes searched", pastSearched},
        {"JFIF pair in the last two bytes", jfifPairAtEnd},
        {"JFIF pair with one length byte", jfifOneLengthByte},
        {"JFIF APP1 length 1", sourceWith({sourceJfifApp0(), {0xFF, 0xE1, 0x00, 0x01}})},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        expectOutputUntouched(row.bytes, TransplantResult::Skipped);
    }
}

TEST_F(Transplant, OutputWithoutEncoderHead_IsLeftAlone)
{
    writeFile(source, sourceWith({app1Section(500)}));
    struct Row {
        const char* name;
        Bytes output;
    };
    Bytes exifOutput = concat(sourceWith({app1Section(500)}), encoded());
    const std::vector<Row> rows = {
        {"empty output", {}},
        {"shorter than the head", Bytes(encoded().begin(), encoded().begin() + 19)},
        {"already transplanted", exifOutput},
        {"APP0 of another length", sourceWith({{0xFF, 0xE0, 0x00, 0x12, 'J', 'F', 'I', 'F', 0, 1, 1,
                                                 0, 0, 1, 0, 1, 0, 0, 0, 0}})},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        writeFile(out, row.output);
        EXPECT_EQ(rewriteWithExif(), TransplantResult::Skipped);
        EXPECT_EQ(readFile(out), row.output);
        EXPECT_FALSE(hasTemporary());
    }
}

TEST_F(Transplant, MissingSource_LeavesOutputUntouched)
{
    writeFile(out, encoded());
    EXPECT_EQ(rewriteWithExif(), TransplantResult::SourceMissing);
    fs::create_directory(source); // a folder of that name is no file either
    EXPECT_EQ(rewriteWithExif(), TransplantResult::SourceMissing);
    EXPECT_EQ(readFile(out), encoded());
    EXPECT_FALSE(hasTemporary());
}

TEST_F(Transplant, LeftoverTemporaryFile_IsNeitherUsedNorTouched)
{
    // A temporary file of an earlier run that never finished: the writer
    // makes a name of its own and leaves that file as it is.
    const std::string leftover = out + ".AAAAAA" + kTemporarySuffix;
    writeFile(leftover, Bytes(300000, 0xAB));
    const Bytes src = sourceWith({app1Section(700)});
    writeFile(source, src);
    writeFile(out, encoded());
    EXPECT_EQ(rewriteWithExif(), TransplantResult::Transplanted);
    EXPECT_EQ(readFile(out), concat(Bytes(src.begin(), src.begin() + 704), encoded()));
    EXPECT_EQ(readFile(leftover), Bytes(300000, 0xAB));
}

TEST_F(Transplant, CameraSamples_KeepPixelsAndCarryFirstApp1)
{
    const fs::path samples = fs::path(LUMIVANE_SAMPLES_DIR) / "exif";
    ASSERT_TRUE(fs::is_directory(samples)) << samples;
    const Decoded before = decodeJpeg(large());
    ASSERT_TRUE(before.ok);
    int transplanted = 0;
    for (const auto& entry : fs::directory_iterator(samples)) {
        if (entry.path().extension() != ".jpg")
            continue;
        SCOPED_TRACE(entry.path().filename().string());
        const Bytes src = readFile(entry.path().string());
        writeFile(source, src);
        writeFile(out, large());
        const TransplantResult r = rewriteWithExif();
        const Bytes result = readFile(out);
        EXPECT_FALSE(hasTemporary());
        if (firstApp1(src).empty()) {
            EXPECT_EQ(r, TransplantResult::NoExifFound);
            // The encoder's own head, perhaps the source's ICC, XMP or IPTC
            // sections, then the rest of the encoder's output.
            EXPECT_TRUE(std::equal(large().begin(), large().begin() + 20, result.begin()));
            EXPECT_TRUE(std::equal(large().begin() + 20, large().end(),
                                   result.end() - long(large().size() - 20)));
            continue;
        }
        ASSERT_EQ(r, TransplantResult::Transplanted);
        ++transplanted;
        EXPECT_EQ(firstApp1(result), firstApp1(src));
        // Everything after the copied head is the encoder's output after its own head.
        EXPECT_TRUE(std::equal(large().begin() + 20, large().end(),
                               result.end() - long(large().size() - 20)));
        const Decoded after = decodeJpeg(result);
        ASSERT_TRUE(after.ok);
        EXPECT_EQ(after.width, before.width);
        EXPECT_EQ(after.height, before.height);
        EXPECT_TRUE(after.pixels == before.pixels);
    }
    EXPECT_GE(transplanted, 30);
}

TEST_F(Transplant, InjectedFailure_KeepsCompleteOutputAndNoTemporary)
{
    // Every write step under a full disk, an I/O error and a short write
    // followed by a full disk; the source read under an I/O error.
    struct Row {
        FileStep step;
        int call; // which call of that step fails, from 1
        int error;
        bool shortFirst; // the failing write call writes half its bytes first
    };
    const std::vector<Row> rows = {
        {FileStep::Create, 1, ENOSPC, false}, {FileStep::Create, 1, EIO, false},
        {FileStep::Write, 1, ENOSPC, false},  {FileStep::Write, 1, EIO, false},
        {FileStep::Write, 2, ENOSPC, true},   {FileStep::Write, 2, EIO, true},
        {FileStep::Sync, 1, ENOSPC, false},   {FileStep::Sync, 1, EIO, false},
        {FileStep::Rename, 1, ENOSPC, false}, {FileStep::Rename, 1, EIO, false},
    };
    const Bytes src = sourceWith({app1Section(12000)});
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::Message() << "step " << int(row.step) << " call " << row.call << " error "
                                        << row.error << (row.shortFirst ? " after a short write" : ""));
        writeFile(source, src);
        writeFile(out, large());
        int calls = 0;
        {
            ScopedFileFault fault([&](FileStep step, const std::string&, std::size_t& bytes) {
                if (step != row.step)
                    return 0;
                ++calls;
                if (row.shortFirst && calls == row.call - 1) {
                    bytes /= 2;
                    return 0;
                }
                return calls == row.call ? row.error : 0;
            });
            try {
                rewriteWithExif();
                ADD_FAILURE() << "no error";
            } catch (const FileError& e) {
                EXPECT_NE(std::string(e.what()).find(out), std::string::npos) << e.what();
                EXPECT_NE(std::string(e.what()).find(std::strerror(row.error)), std::string::npos) << e.what();
            }
        }
        EXPECT_EQ(readFile(out), large());
        EXPECT_FALSE(hasTemporary());
        EXPECT_EQ(readFile(source), src);
    }
    // The same files without a fault: the injected runs changed nothing that
    // stops the real one.
    EXPECT_EQ(rewriteWithExif(), TransplantResult::Transplanted);
}

TEST_F(Transplant, ShortWrites_StillGiveTheWholeFile)
{
    // The system may write fewer bytes than asked without an error; the
    // writer goes on with the rest.
    const Bytes src = sourceWith({app1Section(12000)});
    writeFile(source, src);
    writeFile(out, large());
    int writes = 0;
    {
        ScopedFileFault fault([&](FileStep step, const std::string&, std::size_t& bytes) {
            if (step == FileStep::Write) {
                ++writes;
                bytes = std::min<std::size_t>(bytes, 4093);
            }
            return 0;
        });
        EXPECT_EQ(rewriteWithExif(), TransplantResult::Transplanted);
    }
    EXPECT_GT(writes, int(large().size() / 4093));
    EXPECT_EQ(readFile(out), concat(Bytes(src.begin(), src.begin() + 12004), large()));
}

TEST_F(Transplant, FullDisk_KeepsCompleteOutputAndNoTemporary)
{
    const Bytes src = sourceWith({app1Section(12000)});
    writeFile(source, src);
    writeFile(out, large());
    {
        FileSizeLimit limit(100000); // the new file needs more
        EXPECT_THROW(rewriteWithExif(), FileError);
    }
    EXPECT_EQ(readFile(out), large());
    EXPECT_FALSE(hasTemporary());
}

TEST_F(Transplant, OutputThatIsAFolder_RaisesWithoutTemporary)
{
    writeFile(source, sourceWith({app1Section(100)}));
    fs::create_directory(out);
    EXPECT_THROW(WriteJpegWithExif(encoded(), source, out), FileError);
    EXPECT_TRUE(fs::is_directory(out));
    EXPECT_FALSE(hasTemporary());
}

TEST_F(Transplant, FolderNotWritable_KeepsOutput)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "folder permissions do not stop the superuser";
    writeFile(source, sourceWith({app1Section(100)}));
    writeFile(out, encoded());
    fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_THROW(rewriteWithExif(), FileError);
    fs::permissions(dir, fs::perms::owner_all);
    EXPECT_EQ(readFile(out), encoded());
    EXPECT_FALSE(hasTemporary());
}

// Writing the encoder's bytes with the head in front in one go must leave
// exactly the file that writing them and then transplanting leaves.
TEST_F(Transplant, WriteWithExif_EqualsWriteThenCopyExif)
{
    struct Row {
        std::string name;
        Bytes source; // empty: no source file at all
    };
    Bytes app1Truncated = sourceWith({app1Section(3000)});
    app1Truncated.resize(1000);
    std::vector<Row> rows = {
        {"APP1 first", sourceWith({app1Section(12000)})},
        {"JFIF with APP1", sourceWith({sourceJfifApp0(), app13Section(), app1Section(900)})},
        {"JFIF without APP1", sourceWith({sourceJfifApp0()})},
        {"BMP", {'B', 'M', 0, 0, 0, 0, 0, 0}},
        {"truncated APP1", app1Truncated},
        {"missing source", {}},
    };
    const fs::path samples = fs::path(LUMIVANE_SAMPLES_DIR) / "exif";
    for (const auto& entry : fs::directory_iterator(samples))
        rows.push_back({entry.path().filename().string(), readFile(entry.path().string())});

    const std::string viaCopy = (dir / "via-copy.jpg").string();
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        fs::remove(source);
        if (!row.source.empty())
            writeFile(source, row.source);
        writeFile(viaCopy, encoded());
        const TransplantResult expected = CopyExif(source, viaCopy);
        writeFile(out, Bytes{1, 2, 3}); // an older file that is replaced
        EXPECT_EQ(resultName(WriteJpegWithExif(encoded(), source, out)),
                  std::string(resultName(expected)));
        EXPECT_EQ(readFile(out), readFile(viaCopy));
        EXPECT_FALSE(hasTemporary());
    }
}

TEST_F(Transplant, WriteWithExif_NoReplace_RefusesTakenNameAndKeepsIt)
{
    writeFile(source, sourceWith({app1Section(5000)}));
    const Bytes older = encodeJpeg(32, 32, 70, 5);
    writeFile(out, older);
    EXPECT_THROW(WriteJpegWithExif(large(), source, out, WriteMode::NoReplace), FileExistsError);
    EXPECT_EQ(readFile(out), older);
    EXPECT_FALSE(hasTemporary());
    fs::remove(out);
    EXPECT_EQ(WriteJpegWithExif(large(), source, out, WriteMode::NoReplace), TransplantResult::Transplanted);
    EXPECT_EQ(firstApp1(readFile(out)), firstApp1(readFile(source)));
}

TEST_F(Transplant, WriteWithExif_UnreadableSource_StillWritesPhotograph)
{
    writeFile(source, sourceWith({app1Section(5000)}));
    for (FileStep failing : {FileStep::OpenRead, FileStep::Read}) {
        SCOPED_TRACE(int(failing));
        fs::remove(out);
        {
            ScopedFileFault fault([&](FileStep step, const std::string& path, std::size_t&) {
                return step == failing && path == source ? EIO : 0;
            });
            try {
                WriteJpegWithExif(encoded(), source, out);
                ADD_FAILURE() << "no error";
            } catch (const FileError& e) {
                EXPECT_NE(std::string(e.what()).find(source), std::string::npos) << e.what();
            }
        }
        EXPECT_EQ(readFile(out), encoded());
        EXPECT_FALSE(hasTemporary());
    }
}

namespace {

// `sections` put into the real JPEG `file` after its first `after` marker
// sections (0: right after SOI), walked properly.
Bytes insertSections(const Bytes& file, std::size_t after, const std::vector<Bytes>& sections)
{
    const std::vector<Section> list = sectionsBeforeScan(file);
    const std::size_t at = after == 0 ? 2 : list.at(after - 1).offset + list.at(after - 1).size;
    Bytes b(file.begin(), file.begin() + long(at));
    for (const Bytes& s : sections)
        b.insert(b.end(), s.begin(), s.end());
    b.insert(b.end(), file.begin() + long(at), file.end());
    return b;
}

Bytes xmpSection()
{
    Bytes b = {0xFF, 0xE1, 0x00, 0x00};
    const std::string text = std::string("http://ns.adobe.com/xap/1.0/") + '\0' + "<x:xmpmeta/>";
    b.insert(b.end(), text.begin(), text.end());
    b[2] = std::uint8_t((text.size() + 2) >> 8);
    b[3] = std::uint8_t(text.size() + 2);
    return b;
}

// An Adobe APP14 whose transform flag 0 says "the components are RGB".
Bytes adobeRgbSection()
{
    return {0xFF, 0xEE, 0x00, 0x0E,                 // APP14, length 14
            'A',  'd',  'o',  'b',  'e',             // identifier
            0x00, 0x64, 0x00, 0x00, 0x00, 0x00,      // version 100, flags 0 and 0
            0x00};                                   // transform 0: no colour transform
}

// How many of the source's sections the result starts with: the source
// head kept whole, or the encoder's head with the EXIF section alone.
enum class Head { SourceWhole, EncoderHead, AsEncoded };

} // namespace

// A source's APP1 that does not lie in the APPn and comment sections right
// after SOI must not take the source's tables, frame or scan along: every
// result decodes to the picture encoded, never to the source's picture.
TEST_F(Transplant, JfifSourcesOfEveryShape_DecodeToTheEncodedPicture)
{
    const Bytes picture = encodeJpeg(48, 32, 85, 7); // the source's own, different picture
    ASSERT_GT(sectionsBeforeScan(picture).size(), 3u);
    const Bytes exif = app1Section(300);
    const Bytes xmp = xmpSection();
    Bytes commentWithPair = commentSection();
    commentWithPair.insert(commentWithPair.end() - 2, {0xFF, 0xE1, 0x00, 0x20});
    commentWithPair[3] = std::uint8_t(commentWithPair.size() - 2);
    // An APP0 that is no JFIF section leaves the colour transform to an
    // Adobe APP14.
    Bytes notJfif = picture;
    std::copy_n("JFXX", 4, notJfif.begin() + 6);
    Bytes afterEoi = picture;
    afterEoi.insert(afterEoi.end(), exif.begin(), exif.end());
    struct Row {
        const char* name;
        Bytes source;
        TransplantResult result;
        Head head;
        std::size_t sourceHeadSize; // SourceWhole: bytes of the source copied
    };
    const std::vector<Row> rows = {
        {"EXIF after APP0", insertSections(picture, 1, {exif}), TransplantResult::Transplanted, Head::SourceWhole,
         20 + exif.size()},
        {"XMP after the tables and frame", insertSections(picture, 3, {xmp}), TransplantResult::NoExifFound,
         Head::EncoderHead, 0},
        {"EXIF after the tables", insertSections(picture, 2, {exif}), TransplantResult::Transplanted,
         Head::EncoderHead, 0},
        {"comment holding 0xFF 0xE1", insertSections(picture, 1, {commentWithPair}), TransplantResult::NoExifFound,
         Head::AsEncoded, 0},
        {"comment holding 0xFF 0xE1, then EXIF", insertSections(picture, 1, {commentWithPair, exif}),
         TransplantResult::Transplanted, Head::SourceWhole, 20 + commentWithPair.size() + exif.size()},
        {"0xFF 0xE1 after the end of image", afterEoi, TransplantResult::NoExifFound, Head::AsEncoded, 0},
        {"Adobe RGB transform before EXIF", insertSections(notJfif, 1, {adobeRgbSection(), exif}),
         TransplantResult::Transplanted, Head::EncoderHead, 0},
    };
    const Decoded expected = decodeJpeg(encoded());
    ASSERT_TRUE(expected.ok);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        writeFile(source, row.source);
        writeFile(out, encoded());
        EXPECT_STREQ(resultName(rewriteWithExif()), resultName(row.result));
        const Bytes result = readFile(out);
        const Decoded decoded = decodeJpeg(result);
        ASSERT_TRUE(decoded.ok);
        EXPECT_EQ(decoded.width, expected.width);
        EXPECT_EQ(decoded.height, expected.height);
        EXPECT_TRUE(decoded.pixels == expected.pixels);
        switch (row.head) {
        case Head::SourceWhole:
            EXPECT_EQ(result, concat(Bytes(row.source.begin(), row.source.begin() + long(row.sourceHeadSize)),
                                     encoded()));
            break;
        case Head::EncoderHead:
            EXPECT_TRUE(std::equal(encoded().begin(), encoded().begin() + 20, result.begin()));
            break;
        case Head::AsEncoded:
            EXPECT_EQ(result, encoded());
            break;
        }
        if (row.result == TransplantResult::Transplanted) {
            EXPECT_EQ(firstApp1(result), exif);
        }
        EXPECT_EQ(AssembleJpegWithExif(encoded().data(), encoded().size(), row.source.data(), row.source.size()),
                  result);
    }
}
