// SPDX-License-Identifier: GPL-3.0-or-later
// Reads that are bounded before they start: a file is read only up to the
// size it had when opened and never beyond the memory budget, and a JPEG
// only up to its end-of-image marker, so padding after it costs nothing.
#include "FileIO.h"
#include "HostileFiles.h"
#include "ImagingTestUtil.h"
#include "JpegCodec.h"
#include "MemoryBudget.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <unistd.h>

using namespace lumivane;
using namespace lumivane::testing;
namespace ts = lumivane::test_support;

namespace {

std::vector<std::uint8_t> fileBytes(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// What JpegEndFinder says libjpeg needs of `bytes`, fed `piece` bytes more
// on every call as a reader would.
std::size_t neededOf(const std::vector<std::uint8_t>& bytes, std::size_t piece)
{
    JpegEndFinder finder;
    for (std::size_t have = std::min(piece, bytes.size());; have = std::min(bytes.size(), have + piece)) {
        if (const std::size_t needed = finder.NeededOf(bytes.data(), have))
            return needed;
        if (have == bytes.size())
            return 0;
    }
}

// The JPEGs the end finder walks: the sample photographs (EXIF heads with
// thumbnails whose own end-of-image markers sit inside APP1), a progressive
// file, one with restart markers, and both at once.
std::vector<std::pair<std::string, std::vector<std::uint8_t>>> jpegs()
{
    std::vector<std::pair<std::string, std::vector<std::uint8_t>>> files;
    for (const std::string& path : filesIn(std::string(LUMIVANE_SAMPLES_DIR) + "/exif", ".jpg"))
        files.emplace_back(path, fileBytes(path));
    files.emplace_back("progressive", ts::PatternProgressiveJpeg(300, 200));
    files.emplace_back("progressive with restarts", ts::PatternProgressiveJpeg(300, 200, 90, 1));
    Bitmap24 picture = patternBitmap(97, 45);
    files.emplace_back("baseline", EncodeJpeg(picture, 90));
    return files;
}

} // namespace

// Whatever follows the end-of-image marker (nothing, zeros, a second JPEG,
// bytes that look like markers) and however the file arrives in pieces, the
// end is where the file's own EOI stands; decoding just those bytes gives the
// pixels of the whole file.
TEST(BoundedRead, JpegEnd_IsTheEndOfImageMarkerWhateverFollows)
{
    const std::vector<std::uint8_t> trailers[] = {
        {}, std::vector<std::uint8_t>(5000, 0), {0xFF, 0xD9, 0xFF, 0xDA, 0x00, 0x02, 0xFF, 0xD9},
        EncodeJpeg(patternBitmap(8, 8), 50)};
    for (const auto& [name, original] : jpegs()) {
        SCOPED_TRACE(name);
        // Some samples carry bytes of their own after the EOI.
        const std::size_t end = neededOf(original, original.size());
        ASSERT_GT(end, 2u);
        EXPECT_EQ(original[end - 2], 0xFF);
        EXPECT_EQ(original[end - 1], 0xD9);
        const std::vector<std::uint8_t> cut(original.begin(), original.begin() + std::ptrdiff_t(end));
        for (const auto& trailer : trailers) {
            std::vector<std::uint8_t> padded = cut;
            padded.insert(padded.end(), trailer.begin(), trailer.end());
            for (const std::size_t piece : {std::size_t(1), std::size_t(7), std::size_t(4096), padded.size()})
                EXPECT_EQ(neededOf(padded, piece), end) << "pieces of " << piece << ", trailer " << trailer.size();
        }
        TJPEGImage whole;
        whole.LoadFromBytes(original);
        TJPEGImage shortened;
        shortened.LoadFromBytes(cut);
        EXPECT_EQ(maxDifference(whole.Decode(), shortened.Decode()), 0);
    }
}

// A file that is no JPEG needs its first two bytes only; a JPEG that ends
// early needs all it has.
TEST(BoundedRead, JpegEnd_OfFilesWithoutAnEnd)
{
    EXPECT_EQ(neededOf({'B', 'M', 0xFF, 0xD9, 0, 0}, 1), 2u);
    const std::vector<std::uint8_t> jpeg = EncodeJpeg(patternBitmap(64, 64), 90);
    const std::vector<std::uint8_t> half(jpeg.begin(), jpeg.begin() + std::ptrdiff_t(jpeg.size() / 2));
    EXPECT_EQ(neededOf(half, 100), 0u);
}

// A small JPEG followed by far more padding than the memory budget is
// loaded reading just the JPEG; any other file above the budget is refused
// before a byte is read.
TEST(BoundedRead, PaddingBeyondTheBudget_IsNeverRead)
{
    ScratchDir dir;
    ts::ScopedEnv budget(kMemoryLimitVariable, "16");
    const std::vector<std::uint8_t> jpeg = EncodeJpeg(patternBitmap(320, 240), 90);
    const std::string padded = dir.file("padded.jpg");
    writeBytes(padded, jpeg);
    // A sparse gigabyte of zeros after the picture.
    const int fd = ::open(padded.c_str(), O_WRONLY);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::ftruncate(fd, off_t(1) << 30), 0);
    ::close(fd);

    auto storage = std::make_shared<std::vector<std::uint8_t>>();
    TJPEGImage image;
    image.LoadFromFile(padded, storage);
    EXPECT_EQ(*storage, jpeg);
    EXPECT_LE(storage->capacity(), std::size_t(8) << 20);
    EXPECT_EQ(image.Decode().width(), 320);

    try {
        ReadWholeFile(padded);
        FAIL() << "a file above the budget was read";
    } catch (const FileTooLargeError& e) {
        EXPECT_NE(std::string(e.what()).find("'" + padded + "' is too large: 1024 MiB"), std::string::npos)
            << e.what();
        EXPECT_NE(std::string(e.what()).find("16 MiB"), std::string::npos) << e.what();
    }
    // A JPEG whose end is not found within the budget is refused too.
    const std::string endless = dir.file("endless.jpg");
    writeBytes(endless, {jpeg.begin(), jpeg.begin() + 600});
    const int fd2 = ::open(endless.c_str(), O_WRONLY);
    ASSERT_EQ(::ftruncate(fd2, off_t(64) << 20), 0);
    ::close(fd2);
    TJPEGImage never;
    EXPECT_THROW(never.LoadFromFile(endless), FileTooLargeError);
}

// A file that grows while it is read is read only as far as its size when
// it was opened.
TEST(BoundedRead, ReadStopsAtTheSizeWhenOpened)
{
    ScratchDir dir;
    const std::string path = dir.file("grows.bin");
    writeBytes(path, std::vector<std::uint8_t>(1000, 1));
    // The hook adds bytes between the open and the first read.
    ScopedFileFault grow([&](FileStep step, const std::string&, std::size_t&) {
        if (step == FileStep::Read) {
            std::ofstream more(path, std::ios::binary | std::ios::app);
            more << std::string(5000, 'x');
        }
        return 0;
    });
    EXPECT_EQ(ReadWholeFile(path).size(), 1000u);
}
