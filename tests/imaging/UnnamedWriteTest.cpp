// SPDX-License-Identifier: GPL-3.0-or-later
// The writer's temporary file has no name while it is written: a process
// killed mid-write leaves nothing behind, under any name. Where the file
// system offers no unnamed files, the named temporary file takes its place.
#include "FileIO.h"
#include "ImagingTestUtil.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <fstream>
#include <iterator>
#include <sys/wait.h>
#include <unistd.h>

using namespace lumivane;
using namespace lumivane::testing;

namespace {

std::string contentOf(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const std::vector<std::uint8_t> kNewBytes = {'n', 'e', 'w'};

struct Case {
    const char* name;
    WriteMode mode;
    bool unnamedOffered; // false: the system refuses O_TMPFILE
    bool targetExists;
};

const Case kCases[] = {
    {"new file", WriteMode::NoReplace, true, false},
    {"replacement", WriteMode::Replace, true, true},
    {"new file, named fallback", WriteMode::NoReplace, false, false},
    {"replacement, named fallback", WriteMode::Replace, false, true},
};

} // namespace

// While the bytes are written and flushed the folder shows no temporary
// file (or, in the fallback, exactly one ".part" file); afterwards it holds
// the target with the new bytes and nothing else.
TEST(UnnamedWrite, TheTemporaryFileHasNoNameWhileWritten)
{
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        const std::string target = dir.file("out.jpg");
        if (c.targetExists)
            writeBytes(target, {'o', 'l', 'd'});
        const std::vector<std::string> before = dir.names();
        std::vector<std::vector<std::string>> seen;
        ScopedFileFault watch([&](FileStep step, const std::string&, std::size_t&) {
            if (step == FileStep::CreateUnnamed && !c.unnamedOffered)
                return EOPNOTSUPP;
            if (step == FileStep::Write || step == FileStep::Rename)
                seen.push_back(dir.names());
            return 0;
        });
        WriteFileAtomically(target, kNewBytes, c.mode);
        ASSERT_FALSE(seen.empty());
        for (const std::vector<std::string>& names : seen) {
            if (c.unnamedOffered) {
                EXPECT_EQ(names, before);
            } else {
                ASSERT_EQ(names.size(), before.size() + 1);
                EXPECT_EQ(std::count_if(names.begin(), names.end(),
                                        [](const std::string& n) { return n.ends_with(kTemporarySuffix); }),
                          1);
            }
        }
        EXPECT_EQ(dir.names(), std::vector<std::string>{"out.jpg"});
        EXPECT_EQ(contentOf(target), "new");
    }
}

// A taken name is never replaced in NoReplace mode, with or without
// unnamed files, and nothing is left beside it.
TEST(UnnamedWrite, NoReplaceKeepsATakenName)
{
    for (const bool unnamed : {true, false}) {
        SCOPED_TRACE(unnamed);
        ScratchDir dir;
        const std::string target = dir.file("out.jpg");
        writeBytes(target, {'o', 'l', 'd'});
        ScopedFileFault refuse([&](FileStep step, const std::string&, std::size_t&) {
            return step == FileStep::CreateUnnamed && !unnamed ? EOPNOTSUPP : 0;
        });
        EXPECT_THROW(WriteFileAtomically(target, kNewBytes, WriteMode::NoReplace), FileExistsError);
        EXPECT_EQ(dir.names(), std::vector<std::string>{"out.jpg"});
        EXPECT_EQ(contentOf(target), "old");
    }
}

// A process killed (SIGKILL) in the middle of writing a file leaves no file
// behind: neither the target nor a temporary file, and a target that was
// there keeps its bytes.
TEST(UnnamedWrite, AProcessKilledMidWriteLeavesNothing)
{
    for (const Case& c : kCases) {
        if (!c.unnamedOffered)
            continue; // a named temporary file stays behind: the fallback's known limit
        SCOPED_TRACE(c.name);
        ScratchDir dir;
        const std::string target = dir.file("out.jpg");
        if (c.targetExists)
            writeBytes(target, {'o', 'l', 'd'});
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            // Half the bytes are written, then the process dies.
            std::vector<std::uint8_t> bytes(1 << 20, 7);
            int calls = 0;
            SetFileFaultHook([&](FileStep step, const std::string&, std::size_t& size) {
                if (step == FileStep::Write && calls++ == 1)
                    ::raise(SIGKILL);
                if (step == FileStep::Write)
                    size = std::min<std::size_t>(size, bytes.size() / 2);
                return 0;
            });
            WriteFileAtomically(target, bytes, c.mode);
            ::_exit(0);
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status));
        EXPECT_EQ(WTERMSIG(status), SIGKILL);
        EXPECT_EQ(dir.names(), c.targetExists ? std::vector<std::string>{"out.jpg"} : std::vector<std::string>{});
        if (c.targetExists) {
            EXPECT_EQ(contentOf(target), "old");
        }
    }
}
