#include "FileIO.h"
#include "ImagingTestUtil.h"

#include <gtest/gtest.h>

using namespace lumivane;
using namespace lumivane::testing;

TEST(FileIO, AtomicWriteReplacesWholeFileAndReadsBack)
{
    ScratchDir dir;
    const std::string path = dir.file("data.bin");
    writeBytes(path, std::vector<std::uint8_t>(100000, 7));
    const std::vector<std::uint8_t> bytes = {1, 2, 3, 0, 255};
    WriteFileAtomically(path, bytes);
    EXPECT_EQ(ReadWholeFile(path), bytes);
    EXPECT_EQ(dir.names(), std::vector<std::string>{"data.bin"});

    WriteFileAtomically(path, nullptr, 0);
    EXPECT_TRUE(ReadWholeFile(path).empty());
}

TEST(FileIO, LargeFileReadsCompletely)
{
    ScratchDir dir;
    std::vector<std::uint8_t> bytes(300001);
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = std::uint8_t(i * 31);
    WriteFileAtomically(dir.file("big"), bytes);
    EXPECT_EQ(ReadWholeFile(dir.file("big")), bytes);
}

TEST(FileIO, ErrorsNameThePath)
{
    ScratchDir dir;
    struct Case { std::string path; bool write; };
    for (const Case& c : {Case{dir.file("missing"), false}, Case{dir.file(""), false},
                          Case{dir.file("none/x.bin"), true}}) {
        try {
            if (c.write)
                WriteFileAtomically(c.path, std::vector<std::uint8_t>{1});
            else
                (void)ReadWholeFile(c.path);
            FAIL() << c.path;
        } catch (const FileError& e) {
            EXPECT_NE(std::string(e.what()).find(c.path), std::string::npos) << e.what();
        }
    }
}
