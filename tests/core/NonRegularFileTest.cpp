// SPDX-License-Identifier: GPL-3.0-or-later
// Every reader of the program against files that are not regular files: a
// FIFO (whose plain open() waits for a writer forever), a character device
// and a folder, each under the names the readers expect. Each is refused at
// once with the program's words, and never blocks.
#include "BmpCodec.h"
#include "ExifReader.h"
#include "FileIO.h"
#include "HostileFiles.h"
#include "ImageFile.h"
#include "MaskFolder.h"
#include "Settings.h"
#include "Workflow.h"

#include <gtest/gtest.h>

#include <chrono>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <future>
#include <sys/stat.h>
#include <unistd.h>

using namespace lumivane;
namespace ts = lumivane::test_support;
namespace fs = std::filesystem;

namespace {

enum class Kind { Fifo, Folder, Device };

class NonRegular : public ::testing::Test {
protected:
    // A file of `kind` under `name` in the test's folder.
    std::string make(Kind kind, const std::string& name)
    {
        const std::string path = folder.file(name);
        switch (kind) {
        case Kind::Fifo:
            EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0) << path;
            break;
        case Kind::Folder:
            fs::create_directory(path);
            break;
        case Kind::Device:
            fs::create_symlink("/dev/zero", path);
            break;
        }
        return path;
    }

    static std::string expectedText(Kind kind, const std::string& path)
    {
        return path + (kind == Kind::Folder ? ": is a folder" : ": not a regular file");
    }

    // Runs `read` and returns the message it raised ("" when it raised
    // nothing). A read still running after two seconds fails the test; a
    // writer then opens the FIFO so the blocked read can end.
    static std::string messageOf(const std::string& path, const std::function<void()>& read)
    {
        auto done = std::async(std::launch::async, [&]() -> std::string {
            try {
                read();
            } catch (const std::exception& e) {
                return e.what();
            }
            return {};
        });
        if (done.wait_for(std::chrono::seconds(2)) != std::future_status::ready) {
            ADD_FAILURE() << "reading " << path << " blocks";
            const int writer = ::open(path.c_str(), O_RDWR | O_NONBLOCK);
            if (writer >= 0)
                ::close(writer);
        }
        return done.get();
    }

    ts::TempFolder folder{"lumivane-nonregular"};
};

const Kind kKinds[] = {Kind::Fifo, Kind::Folder, Kind::Device};

const char* kindName(Kind kind)
{
    return kind == Kind::Fifo ? "FIFO" : kind == Kind::Folder ? "folder" : "device";
}

TEST_F(NonRegular, PictureReaders_RefuseWithoutBlocking)
{
    for (const Kind kind : kKinds) {
        for (const std::string suffix : {".jpg", ".bmp", ".tif", ".jpeg"}) {
            SCOPED_TRACE(std::string(kindName(kind)) + " " + suffix);
            const std::string path = make(kind, std::string(kindName(kind)) + suffix);
            Bitmap24 into;
            EXPECT_EQ(messageOf(path, [&] { DecodeBySuffix(path, into, JpegSmoothing::Off); }),
                      expectedText(kind, path));
            EXPECT_EQ(messageOf(path, [&] { DecodeMaskFile(path, false); }), expectedText(kind, path));
        }
    }
}

TEST_F(NonRegular, FileReadsAndSettings_RefuseWithoutBlocking)
{
    for (const Kind kind : kKinds) {
        SCOPED_TRACE(kindName(kind));
        const std::string name = kindName(kind);
        const std::string whole = make(kind, name + ".bin");
        EXPECT_EQ(messageOf(whole, [&] { ReadWholeFile(whole); }), expectedText(kind, whole));
        EXPECT_EQ(messageOf(whole, [&] { ReadFileHead(whole, 100); }), expectedText(kind, whole));
        // masks.ini and defaults.ini.
        const std::string masks = make(kind, name + "_masks.ini");
        EXPECT_EQ(messageOf(masks, [&] { ReadMaskSettingsFile(masks); }), expectedText(kind, masks));
        const std::string settings = make(kind, name + "_defaults.ini");
        EXPECT_EQ(messageOf(settings, [&] { ReadSettingsFile(settings, [](const std::string&) { return false; }); }),
                  expectedText(kind, settings));
    }
}

// The EXIF readers (the EXIF window, the mask folder's camera facts) find
// no metadata in a FIFO or device and say why; they never block.
TEST_F(NonRegular, MetadataReader_FindsNothingWithoutBlocking)
{
    for (const Kind kind : {Kind::Fifo, Kind::Device}) {
        for (const std::string suffix : {".jpg", ".tif"}) {
            SCOPED_TRACE(std::string(kindName(kind)) + " " + suffix);
            const std::string path = make(kind, std::string(kindName(kind)) + suffix);
            TImageMetadata metadata;
            bool found = true;
            EXPECT_EQ(messageOf(path, [&] { found = metadata.ReadMetadata(path); }), "");
            EXPECT_FALSE(found);
            EXPECT_EQ(metadata.readStatus, expectedText(kind, path));
            EXPECT_EQ(messageOf(path, [&] { ReadCameraFacts(path); }), "");
        }
    }
}

// The window's workflow shows the refusal in the status line and keeps the
// photograph or mask it had.
TEST_F(NonRegular, Workflow_ShowsTheRefusalInTheStatusLine)
{
    const std::string good = folder.file("good.jpg");
    ts::WritePatternJpeg(good, 64, 48);
    Bitmap24 m(40, 30);
    m.fill(packColour(200, 190, 180));
    WriteBmpFile(m, folder.file("mask.bmp"));
    const std::string fifo = make(Kind::Fifo, "pipe.jpg");
    const std::string dir = make(Kind::Folder, "album.tif");
    Workflow flow(folder.file("program"));
    messageOf(fifo, [&] { flow.OpenList({good, fifo, dir}); });
    ASSERT_TRUE(flow.LoadMask(folder.file("mask.bmp")));
    messageOf(fifo, [&] { flow.Step(+1); });
    EXPECT_EQ(flow.texts().Status, " " + expectedText(Kind::Fifo, fifo));
    EXPECT_FALSE(flow.photos().DecodeOk);
    messageOf(dir, [&] { flow.Step(+1); });
    EXPECT_EQ(flow.texts().Status, " " + expectedText(Kind::Folder, dir));

    Workflow again(folder.file("program"));
    again.OpenList({good});
    ASSERT_TRUE(again.LoadMask(folder.file("mask.bmp")));
    bool loaded = true;
    messageOf(fifo, [&] { loaded = again.LoadMask(fifo); });
    EXPECT_FALSE(loaded);
    EXPECT_NE(again.texts().Status.find(expectedText(Kind::Fifo, fifo)), std::string::npos) << again.texts().Status;
    EXPECT_EQ(again.photos().MaskFile, folder.file("mask.bmp"));
}

} // namespace
