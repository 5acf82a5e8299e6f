// SPDX-License-Identifier: GPL-3.0-or-later
// Choosing a photograph's mask from a folder by the camera facts in both
// files' EXIF, keeping decoded masks, and reading masks.ini whatever it holds.
#include "MaskFolder.h"

#include "BmpCodec.h"
#include "CameraExif.h"
#include "FileIO.h"
#include "TemporaryFolder.h"
#include "SyntheticPictures.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <thread>
#include <unistd.h>

using namespace lumivane;
using lumivane::test_support::FlatPicture;
using lumivane::testing::Camera;
using lumivane::testing::CameraExif;
using lumivane::test_support::TemporaryFolder;
namespace fs = std::filesystem;

namespace {


// The masks every matching row chooses from.
struct MaskRow {
    const char* name;
    CameraExif exif;
    long long modified;
};

const MaskRow kMasks[] = {
    {"c5d_f4_50.jpg", Camera("Canon", "Canon EOS 5D", 4, 50, "EF50mm f/1.4 USM"), 1'600'000'000},
    {"c5d_f8_50.jpg", Camera("Canon", "Canon EOS 5D", 8, 50, "EF50mm f/1.4 USM"), 1'600'000'000},
    {"c5d_f4_24.jpg", Camera("Canon", "Canon EOS 5D", 4, 24, "EF24-70mm f/2.8L USM"), 1'600'000'000},
    {"c5d_f2.8_35.jpg", Camera("Canon", "Canon EOS 5D", 2.8, 35), 1'600'000'000},
    {"d700_f4_50.jpg", Camera("NIKON CORPORATION", "NIKON D700", 4, 50), 1'600'000'000},
    {"c5d_no_fnumber.jpg", Camera("Canon", "Canon EOS 5D", 0, 50), 1'700'000'000},
    // Two masks with the same facts: the newer file wins, whatever the
    // order of their names.
    {"r_a_newer.jpg", Camera("Canon", "Canon EOS R", 5.6, 35), 1'650'000'000},
    {"r_b_older.jpg", Camera("Canon", "Canon EOS R", 5.6, 35), 1'550'000'000},
};

struct PhotoRow {
    const char* what;
    CameraExif exif;
    bool withExif;
    const char* expected; // empty: nothing matches
};

const PhotoRow kPhotos[] = {
    {"same camera, lens and aperture", Camera("Canon", "Canon EOS 5D", 4, 50, "EF50mm f/1.4 USM"), true,
     "c5d_f4_50.jpg"},
    {"nearest aperture in stops", Camera("Canon", "Canon EOS 5D", 7.1, 50, "EF50mm f/1.4 USM"), true,
     "c5d_f8_50.jpg"},
    {"F5.6 lies nearer F4 than F8 in stops", Camera("Canon", "Canon EOS 5D", 5.6, 50, "EF50mm f/1.4 USM"), true,
     "c5d_f4_50.jpg"},
    {"lens must agree where both name one", Camera("Canon", "Canon EOS 5D", 4, 24, "EF24-70mm f/2.8L USM"), true,
     "c5d_f4_24.jpg"},
    {"no lens on the photograph: nearest focal length", Camera("Canon", "Canon EOS 5D", 4, 28), true,
     "c5d_f4_24.jpg"},
    {"other lens: only the mask without a lens is left", Camera("Canon", "Canon EOS 5D", 4, 35, "Sigma 35mm"),
     true, "c5d_f2.8_35.jpg"},
    {"make and model ignore case and padding", Camera("CANON  ", "canon eos 5d", 4, 50, "EF50mm f/1.4 USM"), true,
     "c5d_f4_50.jpg"},
    {"NUL padding of make, model and lens",
     Camera(std::string("Canon\0\0\0", 8), std::string("Canon EOS 5D\0\0\0\0", 16), 4, 50,
            std::string("EF50mm f/1.4 USM\0\0\0\0", 20)),
     true, "c5d_f4_50.jpg"},
    {"another camera", Camera("NIKON CORPORATION", "NIKON D700", 11, 85), true, "d700_f4_50.jpg"},
    {"camera without masks", Camera("PENTAX", "K-1", 4, 50), true, ""},
    {"photograph without an F-number", Camera("Canon", "Canon EOS 5D", 0, 50), true, ""},
    {"photograph without EXIF", CameraExif{}, false, ""},
    {"ties: the newest file", Camera("Canon", "Canon EOS R", 5.6, 35), true, "r_a_newer.jpg"},
};

class MaskMatching : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        folder_ = new TemporaryFolder("lumivane-maskfolder-table");
        for (const MaskRow& m : kMasks) {
            lumivane::testing::WriteCameraJpeg(folder_->file(m.name), FlatPicture(16, 12, 200), m.exif);
            lumivane::testing::SetModified(folder_->file(m.name), m.modified);
        }
        // A BMP has no EXIF and a text file is no mask: neither is ever chosen.
        WriteBmpFile(FlatPicture(8, 8, 200), folder_->file("plain.bmp"));
        WriteFileAtomically(folder_->file("notes.txt"), {ByteSpan{"x", 1}});
    }
    static void TearDownTestSuite()
    {
        delete folder_;
        folder_ = nullptr;
    }
    static TemporaryFolder* folder_;
};

TemporaryFolder* MaskMatching::folder_ = nullptr;

TEST_F(MaskMatching, EachPhotographGetsItsBestMask)
{
    TemporaryFolder photos("lumivane-maskfolder-photos");
    MaskFolder folder;
    folder.SetFolder(folder_->str());
    int row = 0;
    for (const PhotoRow& p : kPhotos) {
        SCOPED_TRACE(p.what);
        const std::string path = photos.file("photo" + std::to_string(row++) + ".jpg");
        if (p.withExif)
            lumivane::testing::WriteCameraJpeg(path, FlatPicture(24, 16, 120), p.exif);
        else
            lumivane::testing::WriteCameraJpeg(path, FlatPicture(24, 16, 120), CameraExif{});
        const MaskChoice choice = ChooseFromFolder(folder, path);
        EXPECT_EQ(choice.path.empty() ? std::string() : fs::path(choice.path).filename().string(),
                  std::string(p.expected));
    }
    // Every mask name was read once (the BMP too); later choices read no head.
    EXPECT_EQ(folder.HeadsRead(), int(std::size(kMasks)) + 1);
}

TEST_F(MaskMatching, FactsComeFromTheExifHead)
{
    const CameraFacts facts = ReadCameraFacts(folder_->file("c5d_f2.8_35.jpg"));
    EXPECT_EQ(facts.make, "Canon");
    EXPECT_EQ(facts.model, "Canon EOS 5D");
    EXPECT_EQ(facts.lens, "");
    EXPECT_DOUBLE_EQ(facts.fNumber, 2.8);
    EXPECT_DOUBLE_EQ(facts.focalLength, 35);
    EXPECT_EQ(ReadCameraFacts(folder_->file("c5d_f4_24.jpg")).lens, "EF24-70mm f/2.8L USM");
    EXPECT_FALSE(ReadCameraFacts(folder_->file("plain.bmp")).Matchable());
    EXPECT_FALSE(ReadCameraFacts(folder_->file("missing.jpg")).Matchable());
    EXPECT_EQ(DescribeCamera(facts), "Canon Canon EOS 5D, F2.8, 35 mm");
    EXPECT_EQ(DescribeCamera(CameraFacts{}), "unknown camera");
}

TEST(MaskFacts, StoredNamesLoseTheirPadding)
{
    // Each value is stored as written here, followed by the one NUL that
    // ends every ASCII value.
    struct Row {
        std::string stored;
        const char* name;
    } rows[] = {
        {"Canon", "Canon"},
        {std::string("Canon\0\0\0\0\0\0", 11), "Canon"},
        {std::string("NIKON CORPORATION \0\0", 20), "NIKON CORPORATION"},
        {std::string("  EOS 5D\0  ", 11), "EOS 5D"},
        {std::string("EOS\0old firmware text", 22), "EOS"},
        {"Tab\there", "Tab.here"},
        {std::string("\0\0\0\0", 4), ""},
    };
    TemporaryFolder dir("lumivane-maskfolder-padding");
    int n = 0;
    for (const Row& r : rows) {
        SCOPED_TRACE(n);
        const std::string path = dir.file("p" + std::to_string(n++) + ".jpg");
        lumivane::testing::WriteCameraJpeg(path, FlatPicture(8, 8, 120), Camera(r.stored, r.stored, 4, 50, r.stored));
        const CameraFacts facts = ReadCameraFacts(path);
        EXPECT_EQ(facts.make, r.name);
        EXPECT_EQ(facts.model, r.name);
        EXPECT_EQ(facts.lens, r.name);
    }
}

TEST(MaskDistance, StopsAndFocalRatios)
{
    struct Row {
        double photoF, maskF, photoMm, maskMm, stops, focal;
    } rows[] = {
        {4, 4, 50, 50, 0, 0},
        {4, 8, 50, 50, 2, 0},     // one doubling of the F-number is two stops
        {5.6, 4, 50, 100, 0.970854, 0.693147},
        {8, 2.8, 0, 35, 3.029146, 0}, // unknown focal length: no focal distance
    };
    for (const Row& r : rows) {
        CameraFacts photo{"A", "B", "", r.photoF, r.photoMm};
        CameraFacts mask{"A", "B", "", r.maskF, r.maskMm};
        const MatchDistance d = DistanceBetween(photo, mask);
        EXPECT_NEAR(d.stops, r.stops, 1e-5);
        EXPECT_NEAR(d.focal, r.focal, 1e-5);
    }
}

TEST(MaskFolderScan, RereadsOnlyChangedFiles)
{
    TemporaryFolder dir("lumivane-maskfolder-rescan");
    lumivane::testing::WriteCameraJpeg(dir.file("a.jpg"), FlatPicture(8, 8, 200), Camera("X", "Y", 4, 50));
    lumivane::testing::WriteCameraJpeg(dir.file("b.jpg"), FlatPicture(8, 8, 200), Camera("X", "Y", 8, 50));
    MaskFolder folder;
    folder.SetFolder(dir.str());
    ASSERT_EQ(folder.Scan().size(), 2u);
    EXPECT_EQ(folder.HeadsRead(), 2);
    folder.Scan();
    EXPECT_EQ(folder.HeadsRead(), 2);

    // b.jpg now says F2 and has a new time: only it is read again, and the
    // choice follows it.
    lumivane::testing::WriteCameraJpeg(dir.file("b.jpg"), FlatPicture(8, 8, 200), Camera("X", "Y", 2, 50));
    lumivane::testing::SetModified(dir.file("b.jpg"), 1'700'000'000);
    const std::vector<MaskCandidate>& masks = folder.Scan();
    EXPECT_EQ(folder.HeadsRead(), 3);
    const std::optional<std::size_t> best = ChooseMask(CameraFacts{"X", "Y", "", 2, 50}, masks);
    ASSERT_TRUE(best);
    EXPECT_EQ(fs::path(masks[*best].path).filename(), "b.jpg");

    fs::remove(dir.file("a.jpg"));
    EXPECT_EQ(folder.Scan().size(), 1u);
    folder.SetFolder(dir.file("no such folder"));
    EXPECT_TRUE(folder.Scan().empty());
}

TEST(DecodedMasksCache, DecodesEachFileOncePerVersion)
{
    TemporaryFolder dir("lumivane-maskfolder-cache");
    std::atomic<int> calls{0};
    DecodedMasks cache([&](const std::string& path) {
        ++calls;
        return ReadBmpFile(path);
    });
    std::vector<std::string> files;
    for (int i = 0; i < 5; ++i) {
        files.push_back(dir.file("m" + std::to_string(i) + ".bmp"));
        WriteBmpFile(FlatPicture(4, 4, 10 * i + 10), files.back());
    }
    bool fresh = false;
    const auto first = cache.Get(files[0], &fresh);
    EXPECT_TRUE(fresh);
    EXPECT_EQ(cache.Get(files[0], &fresh), first);
    EXPECT_FALSE(fresh);
    EXPECT_EQ(calls.load(), 1);

    // A changed file is decoded again.
    WriteBmpFile(FlatPicture(4, 4, 99), files[0]);
    lumivane::testing::SetModified(files[0], 1'700'000'000);
    const auto changed = cache.Get(files[0]);
    EXPECT_EQ(calls.load(), 2);
    EXPECT_EQ(redOf(changed->pixel(0, 0)), 99);
    EXPECT_EQ(redOf(first->pixel(0, 0)), 10); // whoever holds the old one keeps it

    // Beyond kKept masks the least recently used is decoded again.
    for (std::size_t i = 1; i <= DecodedMasks::kKept; ++i)
        cache.Get(files[i]);
    const int before = calls.load();
    cache.Get(files[0]);
    EXPECT_EQ(calls.load(), before + 1);
    cache.Get(files[DecodedMasks::kKept]);
    EXPECT_EQ(calls.load(), before + 1);

    // An unreadable file raises and is not kept.
    WriteFileAtomically(dir.file("bad.bmp"), {ByteSpan{"BMno", 4}});
    EXPECT_ANY_THROW(cache.Get(dir.file("bad.bmp")));
    EXPECT_ANY_THROW(cache.Get(dir.file("bad.bmp")));
}

TEST(DecodedMasksCache, ThreadsAskingForOneFileShareOneDecode)
{
    TemporaryFolder dir("lumivane-maskfolder-threads");
    const std::string file = dir.file("m.bmp");
    WriteBmpFile(FlatPicture(64, 64, 77), file);
    std::atomic<int> calls{0};
    DecodedMasks cache([&](const std::string& path) {
        ++calls;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return ReadBmpFile(path);
    });
    std::vector<std::shared_ptr<const Bitmap24>> got(4);
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i)
        threads.emplace_back([&, i] { got[std::size_t(i)] = cache.Get(file); });
    for (std::thread& t : threads)
        t.join();
    EXPECT_EQ(calls.load(), 1);
    for (const auto& g : got)
        EXPECT_EQ(g, got[0]);
}

TEST(MaskSettingsFile, ParsesGoodLinesAndIgnoresTheRest)
{
    struct Row {
        std::string bytes;
        MaskSettings expected;
    } rows[] = {
        {"", {}},
        {"folder=/masks\r\nsmooth=1\r\n", {"/masks", true}},
        {"folder=/masks\nsmooth=1", {"/masks", true}},               // LF, no final ending
        {"folder=/a b/c=d\rsmooth=0\r", {"/a b/c=d", false}},        // CR; '=' inside the path
        {"smooth=yes\nfolder=/m\n", {"/m", false}},                  // bad value ignored
        {"junk\n=\nFOLDER=/x\nsmooth\n", {}},                        // unknown or malformed lines
        {"folder=/first\nfolder=\n", {"", false}},                   // the last line wins: no folder
        {std::string("folder=/a\0b\nsmooth=1\n", 20), {"", true}},   // a NUL in the path
        {"\xff\xfe\x00\x01\n\n\r\r\n", {}},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.bytes);
        EXPECT_EQ(ParseMaskSettings(r.bytes), r.expected);
    }
    // Whatever the bytes, parsing ends with settings.
    std::string noise;
    for (int i = 0; i < 4096; ++i)
        noise.push_back(char((i * 131 + 7) % 256));
    EXPECT_NO_THROW(ParseMaskSettings(noise));
}

TEST(MaskSettingsFile, WrittenAndReadBack)
{
    TemporaryFolder dir("lumivane-maskfolder-ini");
    const std::string path = dir.file("masks.ini");
    EXPECT_EQ(ReadMaskSettingsFile(path), MaskSettings{});
    const MaskSettings settings{"/home/me/masks", true};
    WriteMaskSettingsFile(path, settings);
    EXPECT_EQ(ReadMaskSettingsFile(path), settings);
    EXPECT_EQ(MaskSettingsText(settings), "folder=/home/me/masks\r\nsmooth=1\r\n");
    // A name with a line break cannot be kept; the file stays as it was.
    EXPECT_THROW(WriteMaskSettingsFile(path, MaskSettings{"/a\nsmooth=0", true}), FileError);
    EXPECT_EQ(ReadMaskSettingsFile(path), settings);
}

} // namespace
