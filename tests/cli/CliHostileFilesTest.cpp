// SPDX-License-Identifier: GPL-3.0-or-later
// lumivane-cli against hostile files: a scan bomb, devices behind
// photograph names, a JPEG padded with gigabytes, FIFOs where the program
// looks for masks and settings, headers of a few hundred bytes claiming
// pictures their files could never hold, and the program killed in the
// middle of writing. Each run is the real program in a child process: it
// must not hang, must name the file it refuses, exit as its --help says and
// leave nothing unfinished in the output folder.
#include "BmpCodec.h"
#include "CliFolder.h"
#include "FileIO.h"
#include "HostileFiles.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

using namespace lumivane;
namespace ts = lumivane::test_support;
namespace fs = std::filesystem;

namespace {

// How long a refusal may take: the sanitizers slow everything down.
double refusalSeconds(double plain)
{
    return ts::UnderSanitizer() ? 5.0 : plain;
}

// A marker segment: FF, the marker, the length (counting itself), the payload.
void appendSegment(std::vector<std::uint8_t>& out, std::uint8_t marker, const std::vector<std::uint8_t>& payload)
{
    const std::size_t length = payload.size() + 2;
    out.insert(out.end(), {0xFF, marker, std::uint8_t(length >> 8), std::uint8_t(length)});
    out.insert(out.end(), payload.begin(), payload.end());
}

// A three-component JPEG of a few hundred bytes whose frame header claims
// side x side pixels: one quantisation table of ones, Huffman tables of a
// single one-bit code each, one scan (all coefficients for a baseline file,
// the DC coefficients of a progressive one) and 64 bytes of scan data.
std::vector<std::uint8_t> claimedJpeg(int side, bool progressive)
{
    std::vector<std::uint8_t> out = {0xFF, 0xD8};
    std::vector<std::uint8_t> table(65, 1);
    table[0] = 0; // 8-bit table 0
    appendSegment(out, 0xDB, table);
    appendSegment(out, progressive ? 0xC2 : 0xC0,
                  {8, std::uint8_t(side >> 8), std::uint8_t(side), std::uint8_t(side >> 8), std::uint8_t(side), 3, //
                   1, 0x11, 0, 2, 0x11, 0, 3, 0x11, 0});
    // Class and number, then how many codes of each length 1..16 (one of
    // length 1), then the symbol: 0 (a DC difference of 0, or end of block).
    std::vector<std::uint8_t> oneCode(16, 0);
    oneCode[0] = 1;
    std::vector<std::uint8_t> huffman = {0x00};
    huffman.insert(huffman.end(), oneCode.begin(), oneCode.end());
    huffman.push_back(0);
    if (!progressive) {
        huffman.push_back(0x10);
        huffman.insert(huffman.end(), oneCode.begin(), oneCode.end());
        huffman.push_back(0);
    }
    appendSegment(out, 0xC4, huffman);
    appendSegment(out, 0xDA, {3, 1, 0x00, 2, 0x00, 3, 0x00, 0, std::uint8_t(progressive ? 0 : 63), 0});
    out.insert(out.end(), 64, 0);
    out.insert(out.end(), {0xFF, 0xD9});
    return out;
}

// A little-endian uncompressed RGB TIFF of width x height in one strip that
// holds 256 bytes.
std::vector<std::uint8_t> claimedTiff(std::uint32_t width, std::uint32_t height)
{
    struct Entry {
        std::uint16_t tag, type;
        std::uint32_t value;
    };
    const std::uint32_t stripAt = 8 + 2 + 10 * 12 + 4;
    const Entry entries[] = {
        {256, 4, width},   // ImageWidth
        {257, 4, height},  // ImageLength
        {258, 3, 8},       // BitsPerSample
        {259, 3, 1},       // Compression: none
        {262, 3, 2},       // PhotometricInterpretation: RGB
        {273, 4, stripAt}, // StripOffsets
        {277, 3, 3},       // SamplesPerPixel
        {278, 4, height},  // RowsPerStrip
        {279, 4, 256},     // StripByteCounts
        {284, 3, 1},       // PlanarConfiguration: contiguous
    };
    std::vector<std::uint8_t> out = {'I', 'I', 42, 0, 8, 0, 0, 0, 10, 0};
    const auto put32 = [&out](std::uint32_t v) {
        for (int shift = 0; shift < 32; shift += 8)
            out.push_back(std::uint8_t(v >> shift));
    };
    for (const Entry& e : entries) {
        out.insert(out.end(), {std::uint8_t(e.tag), std::uint8_t(e.tag >> 8), std::uint8_t(e.type), 0, 1, 0, 0, 0});
        put32(e.value); // a SHORT sits in the first two bytes, little-endian
    }
    put32(0); // no next directory
    for (int i = 0; i < 256; ++i)
        out.push_back(std::uint8_t(i));
    return out;
}

// The folder of the runs, its mask a flat 40 x 30 picture.
ts::CliFolder flatMaskFolder()
{
    Bitmap24 mask(40, 30);
    mask.fill(packColour(200, 190, 180));
    return ts::CliFolder("lumivane-cli-hostile-files", mask);
}

class HostileFilesCli : public ::testing::Test {
protected:
    ts::CliFolder folder = flatMaskFolder();

    std::string file(const std::string& name) const { return folder.file(name); }
    std::string photo(const std::string& name, int w = 64, int h = 48) const { return folder.photo(name, w, h); }
    ts::ChildRun run(const std::vector<std::string>& args, const std::string& out = "out",
                     const std::string& mask = {}) const
    {
        return folder.run(LUMIVANE_CLI, args, out, {}, mask);
    }
    std::vector<std::string> names(const std::string& out = "out") const { return folder.names(out); }
    void writeBytes(const std::string& name, const std::vector<std::uint8_t>& bytes) const
    {
        WriteFileAtomically(file(name), bytes);
    }
    // The peak memory of the program writing one small photograph: the
    // yardstick of the refusals.
    std::uint64_t smallRunKiB() const
    {
        const ts::ChildRun small = run({photo("small.jpg")}, "small-out");
        EXPECT_EQ(small.status, 0) << small.err;
        return small.peakRssKiB;
    }
    // A refusal may not need 64 MiB more than a small run (the sanitizers'
    // shadow memory is not the program's).
    static void expectSmallMemory(const ts::ChildRun& r, std::uint64_t smallKiB)
    {
        if (!ts::UnderSanitizer()) {
            EXPECT_LE(r.peakRssKiB, smallKiB + 64 * 1024) << "small run " << smallKiB << " KiB";
        }
    }
    static void expectIn(const std::string& err, const std::string& part)
    {
        EXPECT_NE(err.find(part), std::string::npos) << part << " missing from: " << err;
    }
};

// A progressive JPEG whose last scan is repeated until it has 5,000 scans
// is refused long before its end (at its 101st scan, or sooner once its
// scans have decoded the picture's blocks 16 times over), with one job
// (decoded whole) and two (streamed) alike; the photograph beside it is
// written.
TEST_F(HostileFilesCli, ScanBomb_IsRefusedQuicklyBesideAWrittenPhotograph)
{
    const std::uint64_t smallKiB = smallRunKiB();
    writeBytes("bomb.jpg", ts::RepeatLastScan(ts::PatternProgressiveJpeg(64, 48), 5000));
    const std::string a = photo("a.jpg");
    for (const char* jobs : {"1", "2"}) {
        SCOPED_TRACE(std::string("--jobs ") + jobs);
        const std::string out = std::string("out-") + jobs;
        const ts::ChildRun r = run({"--jobs", jobs, file("bomb.jpg"), a}, out);
        EXPECT_EQ(r.status, 1) << r.err;
        expectIn(r.err, file("bomb.jpg") + ": unreadable: JPEG ");
        expectIn(r.err, " (a file that would take minutes to decode)");
        expectIn(r.err, "1 written, 1 failed");
        EXPECT_LT(r.seconds, refusalSeconds(2.0));
        expectSmallMemory(r, smallKiB);
        EXPECT_EQ(names(out), std::vector<std::string>{"a.jpg"});
    }
}

// /dev/zero and /dev/null behind photograph names (which would feed a
// reader forever, or nothing) are refused as no regular files without being
// read; /dev/zero as the mask is a usage error naming it.
TEST_F(HostileFilesCli, DevicesBehindPhotographNames_AreRefusedUnread)
{
    const std::uint64_t smallKiB = smallRunKiB();
    const std::string zero = file("zero.jpg"), null = file("null.jpg");
    fs::create_symlink("/dev/zero", zero);
    fs::create_symlink("/dev/null", null);
    const std::string a = photo("a.jpg");
    for (const char* jobs : {"1", "2"}) {
        SCOPED_TRACE(std::string("--jobs ") + jobs);
        const std::string out = std::string("out-") + jobs;
        const ts::ChildRun r = run({"--jobs", jobs, zero, null, a}, out);
        EXPECT_EQ(r.status, 1) << r.err;
        for (const std::string& device : {zero, null})
            expectIn(r.err, device + ": unreadable: " + device + ": not a regular file");
        EXPECT_LT(r.seconds, refusalSeconds(2.0));
        expectSmallMemory(r, smallKiB);
        EXPECT_EQ(names(out), std::vector<std::string>{"a.jpg"});
    }
    const ts::ChildRun mask = run({a}, "mask-out", zero);
    EXPECT_EQ(mask.status, 2) << mask.err;
    expectIn(mask.err, "cannot read the mask " + zero + ": " + zero + ": not a regular file");
    EXPECT_LT(mask.seconds, refusalSeconds(2.0));
    EXPECT_FALSE(fs::exists(folder.path() / "mask-out"));
}

// A small JPEG followed by 3 GiB of (sparse) zeros is read up to its end
// marker and written exactly as the same JPEG without them, in every
// output format, decoded whole or streamed, quickly and in little memory.
TEST_F(HostileFilesCli, JpegPaddedWithGigabytes_IsWrittenFromItsOwnBytes)
{
    const std::uint64_t smallKiB = smallRunKiB();
    const std::string plain = photo("plain.jpg", 96, 64);
    const std::string padded = file("padded.jpg");
    fs::copy_file(plain, padded);
    constexpr std::uint64_t kPaddedSize = std::uint64_t(3) << 30;
    ASSERT_EQ(::truncate(padded.c_str(), off_t(kPaddedSize)), 0);
    struct stat info {};
    ASSERT_EQ(::stat(padded.c_str(), &info), 0);
    ASSERT_EQ(std::uint64_t(info.st_size), kPaddedSize);
    ASSERT_LT(std::uint64_t(info.st_blocks) * 512, std::uint64_t(1) << 20) << "the padding takes disk space";
    struct Case {
        const char* jobs;
        const char* format;
        const char* ext;
    };
    for (const Case& c : {Case{"1", "jpeg", "jpg"}, Case{"2", "jpeg", "jpg"}, Case{"1", "bmp", "bmp"},
                          Case{"2", "bmp", "bmp"}, Case{"2", "tiff", "tif"}}) {
        SCOPED_TRACE(std::string("--jobs ") + c.jobs + " --format " + c.format);
        const std::string out = std::string("out-") + c.jobs + c.format;
        const ts::ChildRun r = run({"--jobs", c.jobs, "--format", c.format, padded, plain}, out);
        EXPECT_EQ(r.status, 0) << r.err;
        EXPECT_LT(r.seconds, refusalSeconds(2.0));
        expectSmallMemory(r, smallKiB);
        const std::string ext = c.ext;
        ASSERT_EQ(names(out), (std::vector<std::string>{"padded." + ext, "plain." + ext})) << r.err;
        const std::vector<std::uint8_t> written = ReadWholeFile(file(out + "/padded." + ext));
        EXPECT_FALSE(written.empty());
        EXPECT_EQ(written, ReadWholeFile(file(out + "/plain." + ext)));
    }
}

// The mask folder's own masks.ini, and files with mask names that are a
// FIFO and /dev/zero, are passed over unopened: the photograph that no
// mask of the folder matches gets the --mask file, as documented.
TEST_F(HostileFilesCli, FifosInTheMaskFolder_ArePassedOverWithoutBlocking)
{
    const fs::path masks = folder.path() / "masks";
    fs::create_directories(masks);
    for (const char* name : {"masks.ini", "pipe.jpg", "pipe.tif"})
        ASSERT_EQ(::mkfifo((masks / name).c_str(), 0600), 0) << name;
    fs::create_symlink("/dev/zero", masks / "zero.bmp");
    const std::string a = photo("a.jpg");
    const ts::ChildRun r = run({"--mask-folder", masks.string(), a});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_LT(r.seconds, refusalSeconds(2.0));
    expectIn(r.err, a + ": mask.bmp (no match in the folder)");
    EXPECT_EQ(names(), std::vector<std::string>{"a.jpg"});
}

// A FIFO named as the stored default mask in the --settings file, and a
// FIFO as the lumivane.ini read beside it, stop the program at once with a
// usage error naming the FIFO; nothing is written.
TEST_F(HostileFilesCli, FifosWhereSettingsPointTheProgram_AreUsageErrorsNamingThem)
{
    const std::string a = photo("a.jpg");
    // A stored default mask that is a FIFO.
    const std::string maskPipe = file("stored_mask.bmp");
    ASSERT_EQ(::mkfifo(maskPipe.c_str(), 0600), 0);
    const std::string storedMask = "30\r\n40\r\n85\r\n" + maskPipe + "\r\n";
    WriteFileAtomically(file("stored.ini"), storedMask.data(), storedMask.size());
    // lumivane.ini a FIFO beside an otherwise sound defaults.ini.
    fs::create_directories(folder.path() / "beside");
    const std::string besidePipe = file("beside/lumivane.ini");
    ASSERT_EQ(::mkfifo(besidePipe.c_str(), 0600), 0);
    fs::copy_file(file("defaults.ini"), file("beside/defaults.ini"));
    struct Case {
        const char* name;
        std::vector<std::string> args;
        std::string message;
    };
    const Case cases[] = {
        {"stored default mask", {"--settings", file("stored.ini")},
         "cannot read the mask " + maskPipe + ": " + maskPipe + ": not a regular file"},
        {"lumivane.ini", {"--settings", file("beside/defaults.ini"), "--mask", file("mask.bmp")},
         "cannot read " + besidePipe + ": " + besidePipe + ": not a regular file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--out", file("out"), a});
        const ts::ChildRun r = ts::RunProgram(LUMIVANE_CLI, args);
        EXPECT_EQ(r.status, 2) << r.err;
        expectIn(r.err, c.message);
        EXPECT_LT(r.seconds, refusalSeconds(2.0));
        EXPECT_FALSE(fs::exists(folder.path() / "out"));
    }
}

// Files of a few hundred bytes whose headers claim 20,000 x 20,000
// (progressive JPEG), 30,000 x 30,000 (baseline JPEG) and 1 x 100,000,000
// (uncompressed TIFF) pixels: all within the default memory budget of a
// large machine, none holding more than a few hundred pixels' data. Each is
// refused at its header by a program of little memory, named with the size
// it claims, whether decoded whole or streamed and whatever it would be
// written as; nothing of it is written.
TEST_F(HostileFilesCli, ClaimsTheirFilesCannotHold_AreRefusedAtTheHeader)
{
    const std::uint64_t smallKiB = smallRunKiB();
    struct Bomb {
        std::string name;
        std::vector<std::uint8_t> bytes;
        std::string claim;
    };
    const Bomb bombs[] = {
        {"progressive.jpg", claimedJpeg(20000, true), "20000 x 20000"},
        {"baseline.jpg", claimedJpeg(30000, false), "30000 x 30000"},
        {"tall.tif", claimedTiff(1, 100000000), "1 x 100000000"},
    };
    const std::string a = photo("a.jpg");
    for (const Bomb& bomb : bombs) {
        ASSERT_LT(bomb.bytes.size(), 400u) << bomb.name;
        writeBytes(bomb.name, bomb.bytes);
        for (const char* jobs : {"1", "2"})
            for (const char* format : {"bmp", "tiff"}) {
                SCOPED_TRACE(bomb.name + " --jobs " + jobs + " --format " + format);
                const std::string out = "out-" + bomb.name + jobs + format;
                const ts::ChildRun r = run({"--jobs", jobs, "--format", format, file(bomb.name), a}, out);
                EXPECT_EQ(r.status, 1) << r.err;
                expectIn(r.err, file(bomb.name) + ": unreadable: ");
                expectIn(r.err, bomb.claim);
                EXPECT_LT(r.seconds, refusalSeconds(1.0));
                expectSmallMemory(r, smallKiB);
                EXPECT_EQ(names(out).size(), 1u) << r.err;
                EXPECT_EQ(names(out).front().rfind("a.", 0), 0u) << r.err;
            }
    }
}

// The refusal above spares honest files however well they compress: a
// flat picture of 2600 x 2300 pixels (just above the size decoded whatever
// its file holds) saved by the program itself as a Deflate TIFF and as a
// JPEG, and a smooth progressive JPEG, are read back and written.
TEST_F(HostileFilesCli, FlatPicturesCompressedToLittle_AreStillRead)
{
    constexpr int kWidth = 2600, kHeight = 2300;
    Bitmap24 flat(kWidth, kHeight);
    flat.fill(packColour(120, 130, 140));
    WriteBmpFile(flat, file("flat.bmp"));
    for (const char* format : {"tiff", "jpeg"}) {
        const ts::ChildRun saved = run({"--format", format, file("flat.bmp")}, std::string("saved-") + format);
        ASSERT_EQ(saved.status, 0) << saved.err;
    }
    const std::string tiff = file("deflate.tif"), jpeg = file("baseline.jpg");
    fs::rename(file("saved-tiff/flat.tif"), tiff);
    fs::rename(file("saved-jpeg/flat.jpg"), jpeg);
    writeBytes("smooth.jpg", ts::PatternProgressiveJpeg(kWidth, kHeight));
    const std::uint64_t pictureBytes = std::uint64_t(kWidth) * kHeight * 3;
    for (const std::string& path : {tiff, jpeg})
        ASSERT_LT(fs::file_size(path) * 100, pictureBytes) << path << " is no file of little data";
    const ts::ChildRun r = run({"--format", "bmp", tiff, jpeg, file("smooth.jpg")});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(names(), (std::vector<std::string>{"baseline.bmp", "deflate.bmp", "smooth.bmp"})) << r.err;
}

// A batch killed with SIGKILL while it writes 36 MB BMPs (no handler can
// run) leaves only complete outputs, each byte for byte what an
// uninterrupted run writes, and no file of any other name: the outputs are
// written unnamed and linked in only once whole. Killed as its first output
// appears (the second being written) and 300 ms after its start.
TEST_F(HostileFilesCli, KilledWhileWriting_LeavesOnlyCompleteOutputs)
{
    const std::string first = photo("p1.jpg", 4000, 3000);
    std::vector<std::string> photos = {first};
    for (const char* name : {"p2.jpg", "p3.jpg", "p4.jpg", "p5.jpg", "p6.jpg"}) {
        fs::copy_file(first, file(name));
        photos.push_back(file(name));
    }
    const ts::ChildRun reference = run({"--format", "bmp", first}, "reference");
    ASSERT_EQ(reference.status, 0) << reference.err;
    const std::vector<std::uint8_t> complete = ReadWholeFile(file("reference/p1.bmp"));
    ASSERT_EQ(complete.size(), 54u + 4000u * 3000u * 3u);
    ASSERT_EQ(ReadBmpFile(file("reference/p1.bmp")).width(), 4000);

    enum class When { FirstOutput, After300ms };
    for (const When when : {When::FirstOutput, When::After300ms}) {
        const std::string out = when == When::FirstOutput ? "killed-first" : "killed-300ms";
        SCOPED_TRACE(out);
        std::vector<std::string> args = {"--settings", file("defaults.ini"), "--mask", file("mask.bmp"), "--out",
                                         file(out), "--format", "bmp", "--jobs", "2"};
        args.insert(args.end(), photos.begin(), photos.end());
        const ts::StartedChild child = ts::StartProgram(LUMIVANE_CLI, args);
        ASSERT_GT(child.pid, 0);
        const auto deadline = child.started + std::chrono::seconds(ts::UnderSanitizer() ? 60 : 20);
        if (when == When::FirstOutput) {
            while (names(out).empty() && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        } else {
            std::this_thread::sleep_until(child.started + std::chrono::milliseconds(300));
        }
        ASSERT_EQ(::kill(pid_t(child.pid), SIGKILL), 0);
        const ts::ChildRun r = ts::WaitForChild(child);
        // A batch that had already ended would prove nothing.
        ASSERT_EQ(r.status, 128 + SIGKILL) << r.err;
        if (when == When::FirstOutput) {
            EXPECT_FALSE(names(out).empty()) << "no output appeared: " << r.err;
        }
        for (const std::string& name : names(out)) {
            SCOPED_TRACE(name);
            const bool photoName = name.size() == 6 && name.rfind("p", 0) == 0 && name.substr(2) == ".bmp" &&
                                   name[1] >= '1' && name[1] <= '6';
            EXPECT_TRUE(photoName) << "a file the finished batch would not hold";
            EXPECT_TRUE(fs::is_regular_file(file(out + "/" + name)));
            EXPECT_EQ(ReadWholeFile(file(out + "/" + name)), complete);
        }
    }
}

} // namespace
