// SPDX-License-Identifier: GPL-3.0-or-later
#include "FileIO.h"
#include "ImagingTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <set>
#include <thread>

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

// One buffer read into again and again holds exactly each file, whether
// the file is larger, smaller, empty or of the same size as the one before;
// files of one size reuse the storage.
TEST(FileIO, ReadIntoAReusedBuffer_HoldsExactlyEachFile)
{
    ScratchDir dir;
    auto patterned = [](std::size_t size, int seed) {
        std::vector<std::uint8_t> bytes(size);
        for (std::size_t i = 0; i < size; ++i)
            bytes[i] = std::uint8_t(i * 131 + std::size_t(seed));
        return bytes;
    };
    // Above 4 MiB the buffer's storage is also advised to use huge pages.
    const std::pair<std::size_t, int> files[] = {{300001, 1}, {1000, 2}, {0, 3}, {65536, 4}, {6000017, 7},
                                                 {500000, 5}, {500000, 6}};
    std::vector<std::uint8_t> buffer;
    const std::uint8_t* lastStorage = nullptr;
    for (const auto& [size, seed] : files) {
        SCOPED_TRACE(size);
        const std::string path = dir.file("f" + std::to_string(seed));
        WriteFileAtomically(path, patterned(size, seed));
        ReadWholeFileInto(path, buffer);
        EXPECT_EQ(buffer, patterned(size, seed));
        if (seed == 6) {
            EXPECT_EQ(buffer.data(), lastStorage);
        }
        lastStorage = buffer.data();
    }
    EXPECT_THROW(ReadWholeFileInto(dir.file("missing"), buffer), FileError);
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

namespace {

std::string text(const std::vector<std::uint8_t>& bytes)
{
    return std::string(bytes.begin(), bytes.end());
}

std::vector<std::uint8_t> bytesOf(const std::string& s)
{
    return std::vector<std::uint8_t>(s.begin(), s.end());
}

} // namespace

TEST(FileIO, NoReplace_RefusesATakenName_AndLeavesItAsItWas)
{
    ScratchDir dir;
    const std::string path = dir.file("IMG_1.jpg");
    writeBytes(path, bytesOf("earlier"));
    EXPECT_THROW(WriteFileAtomically(path, bytesOf("new"), WriteMode::NoReplace), FileExistsError);
    EXPECT_EQ(text(ReadWholeFile(path)), "earlier");
    // A folder of that name is a taken name too.
    std::filesystem::create_directory(dir.file("IMG_2.jpg"));
    EXPECT_THROW(WriteFileAtomically(dir.file("IMG_2.jpg"), bytesOf("new"), WriteMode::NoReplace), FileExistsError);
    EXPECT_EQ(dir.names(), (std::vector<std::string>{"IMG_1.jpg", "IMG_2.jpg"}));

    WriteFileAtomically(dir.file("IMG_3.jpg"), bytesOf("fresh"), WriteMode::NoReplace);
    EXPECT_EQ(text(ReadWholeFile(dir.file("IMG_3.jpg"))), "fresh");
    // Replace mode is what a confirmed save dialog asks for.
    WriteFileAtomically(path, bytesOf("replaced"), WriteMode::Replace);
    EXPECT_EQ(text(ReadWholeFile(path)), "replaced");
}

TEST(FileIO, FirstFree_SkipsEveryTakenName_AndReportsThePathWritten)
{
    ScratchDir dir;
    for (const char* taken : {"a.jpg", "a.1.jpg", "a.2.jpg"})
        writeBytes(dir.file(taken), bytesOf(taken));
    std::vector<int> tried;
    const OutputTarget target = OutputTarget::FirstFree([&](int attempt) {
        tried.push_back(attempt);
        return dir.file(attempt == 0 ? "a.jpg" : "a." + std::to_string(attempt) + ".jpg");
    });
    const std::string written = target.WriteWith(
        [&](const std::string& path, WriteMode mode) { WriteFileAtomically(path, bytesOf("new"), mode); });
    EXPECT_EQ(written, dir.file("a.3.jpg"));
    EXPECT_EQ(tried, (std::vector<int>{0, 1, 2, 3}));
    EXPECT_EQ(text(ReadWholeFile(written)), "new");
    for (const char* taken : {"a.jpg", "a.1.jpg", "a.2.jpg"})
        EXPECT_EQ(text(ReadWholeFile(dir.file(taken))), taken);

    // A plain path is written in Replace mode, once.
    int calls = 0;
    const OutputTarget single(dir.file("a.jpg"));
    EXPECT_EQ(single.WriteWith([&](const std::string& path, WriteMode mode) {
        ++calls;
        EXPECT_EQ(mode, WriteMode::Replace);
        WriteFileAtomically(path, bytesOf("confirmed"), mode);
    }),
              dir.file("a.jpg"));
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(text(ReadWholeFile(dir.file("a.jpg"))), "confirmed");
}

TEST(FileIO, WritersRacingForOneName_NeverReplaceEachOther)
{
    // Threads stand in for programs writing into one folder at once: each
    // wants "IMG.jpg" and falls back to numbered names. Every writer's file
    // must end up complete under a name of its own.
    ScratchDir dir;
    constexpr int kWriters = 8;
    constexpr int kRounds = 10;
    std::vector<std::vector<std::string>> written(kWriters);
    std::vector<std::thread> threads;
    for (int w = 0; w < kWriters; ++w)
        threads.emplace_back([&, w] {
            for (int round = 0; round < kRounds; ++round) {
                // Large enough that the writes overlap in time.
                const std::vector<std::uint8_t> content(200000, std::uint8_t(w * kRounds + round));
                const OutputTarget target = OutputTarget::FirstFree([&](int attempt) {
                    return dir.file(attempt == 0 ? "IMG.jpg" : "IMG." + std::to_string(attempt) + ".jpg");
                });
                written[std::size_t(w)].push_back(target.WriteWith(
                    [&](const std::string& path, WriteMode mode) { WriteFileAtomically(path, content, mode); }));
            }
        });
    for (std::thread& t : threads)
        t.join();

    std::set<std::string> names;
    for (int w = 0; w < kWriters; ++w)
        for (int round = 0; round < kRounds; ++round) {
            const std::string& path = written[std::size_t(w)][std::size_t(round)];
            EXPECT_TRUE(names.insert(path).second) << path << " written twice";
            EXPECT_EQ(ReadWholeFile(path), std::vector<std::uint8_t>(200000, std::uint8_t(w * kRounds + round)))
                << path;
        }
    EXPECT_EQ(dir.names().size(), std::size_t(kWriters * kRounds)); // no temporary file left either
}

TEST(FileIO, WritersReplacingOneFile_EachUseATemporaryOfTheirOwn)
{
    // Two saves of the same output at once: whichever rename comes last
    // wins, but the file is always one writer's complete bytes, never a mix.
    ScratchDir dir;
    const std::string path = dir.file("out.bmp");
    constexpr int kWriters = 6;
    std::vector<std::thread> threads;
    for (int w = 0; w < kWriters; ++w)
        threads.emplace_back([&, w] {
            for (int round = 0; round < 4; ++round)
                WriteFileAtomically(path, std::vector<std::uint8_t>(300000 + std::size_t(w), std::uint8_t(w)));
        });
    for (std::thread& t : threads)
        t.join();
    const std::vector<std::uint8_t> result = ReadWholeFile(path);
    ASSERT_GE(result.size(), 300000u);
    const std::uint8_t w = result.front();
    EXPECT_EQ(result, std::vector<std::uint8_t>(300000 + std::size_t(w), w));
    EXPECT_EQ(dir.names(), std::vector<std::string>{"out.bmp"});
}

TEST(FileIO, FaultAtEachStep_NamesTheFile_KeepsTheEarlierFile_LeavesNoTemporary)
{
    struct Row {
        FileStep step;
        int error;
        bool shortWriteFirst; // the first write call writes part of its bytes, the next one fails
    };
    const Row rows[] = {
        {FileStep::Create, ENOSPC, false}, {FileStep::Create, EIO, false}, {FileStep::Write, ENOSPC, false},
        {FileStep::Write, EIO, false},     {FileStep::Write, ENOSPC, true}, {FileStep::Write, EIO, true},
        {FileStep::Sync, ENOSPC, false},   {FileStep::Sync, EIO, false},   {FileStep::Rename, ENOSPC, false},
        {FileStep::Rename, EIO, false},
    };
    ScratchDir dir;
    const std::string path = dir.file("defaults.ini");
    for (WriteMode mode : {WriteMode::Replace, WriteMode::NoReplace})
        for (const Row& row : rows) {
            SCOPED_TRACE(::testing::Message() << "step " << int(row.step) << " error " << row.error
                                              << (row.shortWriteFirst ? " after a short write" : "") << " mode "
                                              << int(mode));
            if (mode == WriteMode::Replace)
                writeBytes(path, bytesOf("earlier"));
            else
                std::filesystem::remove(path);
            int writes = 0;
            ScopedFileFault fault([&](FileStep step, const std::string& target, std::size_t& bytes) {
                EXPECT_EQ(target, path);
                if (step != row.step)
                    return 0;
                if (row.shortWriteFirst && ++writes == 1) {
                    bytes = 3;
                    return 0;
                }
                return row.error;
            });
            try {
                WriteFileAtomically(path, std::vector<std::uint8_t>(100000, 1), mode);
                ADD_FAILURE() << "no error";
            } catch (const FileExistsError&) {
                ADD_FAILURE() << "a fault is no taken name";
            } catch (const FileError& e) {
                EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
                EXPECT_NE(std::string(e.what()).find(std::strerror(row.error)), std::string::npos) << e.what();
            }
            if (mode == WriteMode::Replace) {
                EXPECT_EQ(text(ReadWholeFile(path)), "earlier");
                EXPECT_EQ(dir.names(), std::vector<std::string>{"defaults.ini"});
            } else {
                EXPECT_TRUE(dir.names().empty());
            }
        }
}

TEST(FileIO, ReadFaults_NameTheFile)
{
    ScratchDir dir;
    const std::string path = dir.file("photo.jpg");
    writeBytes(path, std::vector<std::uint8_t>(5000, 9));
    for (FileStep failing : {FileStep::OpenRead, FileStep::Read}) {
        ScopedFileFault fault(
            [&](FileStep step, const std::string&, std::size_t&) { return step == failing ? EIO : 0; });
        for (int head = 0; head < 2; ++head) {
            try {
                if (head)
                    (void)ReadFileHead(path, 100);
                else
                    (void)ReadWholeFile(path);
                ADD_FAILURE() << "no error";
            } catch (const FileError& e) {
                EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << e.what();
            }
        }
    }
    // Short reads still read everything; a head stops at its limit or the end.
    ScopedFileFault shortReads([](FileStep step, const std::string&, std::size_t& bytes) {
        if (step == FileStep::Read)
            bytes = std::min<std::size_t>(bytes, 7);
        return 0;
    });
    EXPECT_EQ(ReadWholeFile(path), std::vector<std::uint8_t>(5000, 9));
    EXPECT_EQ(ReadFileHead(path, 100), std::vector<std::uint8_t>(100, 9));
    EXPECT_EQ(ReadFileHead(path, 9000), std::vector<std::uint8_t>(5000, 9));
}

// A target written only when its name is free raises FileExistsError for a
// taken name and leaves the file as it was.
TEST(FileIO, OnlyIfFree_RaisesForATakenNameAndKeepsTheFile)
{
    ScratchDir dir;
    writeBytes(dir.file("a.jpg"), bytesOf("old"));
    const OutputTarget target = OutputTarget::OnlyIfFree(dir.file("a.jpg"));
    const auto write = [](const std::string& path, WriteMode mode) {
        WriteFileAtomically(path, bytesOf("new"), mode);
    };
    EXPECT_THROW(target.WriteWith(write), FileExistsError);
    EXPECT_EQ(text(ReadWholeFile(dir.file("a.jpg"))), "old");
    EXPECT_EQ(OutputTarget::OnlyIfFree(dir.file("b.jpg")).WriteWith(write), dir.file("b.jpg"));
    EXPECT_EQ(text(ReadWholeFile(dir.file("b.jpg"))), "new");
}
