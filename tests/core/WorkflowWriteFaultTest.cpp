// SPDX-License-Identifier: GPL-3.0-or-later
// The writers as the user reaches them, under every write fault: a single
// save, the window's batch, "Store" (defaults.ini and default_mask.bmp),
// freeing the default mask, and the command-line batch. The message names
// the file, nothing half-written or temporary remains, earlier files stay as
// they were, and the workflow stays as it was: the same photograph, mask and
// stored defaults, and the same save done again without the fault succeeds.
#include "BatchRunner.h"
#include "BmpCodec.h"
#include "FileIO.h"
#include "HostileFiles.h"
#include "Workflow.h"
#include "WriteFaults.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <map>

using namespace lumivane;
using lumivane::test_support::InjectedFault;
using lumivane::test_support::kWriteFaults;
using lumivane::test_support::WriteFault;
namespace fs = std::filesystem;

namespace {

using Snapshot = std::map<std::string, std::string>; // every file under a folder and its bytes

Snapshot snapshot(const fs::path& folder)
{
    Snapshot files;
    for (const auto& entry : fs::recursive_directory_iterator(folder))
        if (entry.is_regular_file()) {
            const std::vector<std::uint8_t> bytes = ReadWholeFile(entry.path().string());
            files[fs::relative(entry.path(), folder).string()] = std::string(bytes.begin(), bytes.end());
        }
    return files;
}

class AnsweringHost : public WorkflowHost {
public:
    std::uint32_t TickCount() override { return 77; }
    std::string AskSavePath(const SaveDialogAnswerRequest&) override { return savePath; }
    std::string AskOutputFolder() override { return folder; }
    void BatchStarted() override {}
    void Progress(const WorkflowProgress&) override {}
    std::string savePath;
    std::string folder;
};

// What one writer did: the error text the user is shown ("" when none).
using Attempt = std::function<std::string()>;

struct Scene {
    fs::path dir;
    std::unique_ptr<Workflow> flow;
    AnsweringHost host;
    std::string file(const std::string& name) const { return (dir / name).string(); }
};

struct WorkflowWriter {
    const char* name;
    // The file whose write is made to fail (relative to the scene's folder).
    const char* failing;
    // Prepares the scene (earlier files included) and returns the attempt.
    std::function<Attempt(Scene&)> prepare;
    // A batch goes on with the next photographs, whose files are written.
    bool goesOn = false;
};

std::string saveMessage(const SaveOutcome& outcome)
{
    std::string text = outcome.Refusal + outcome.Stopped;
    for (const PhotoResult& r : outcome.Results)
        text += r.Error;
    return text;
}

Attempt tryStore(Scene& s)
{
    return [&s]() -> std::string {
        try {
            s.flow->StoreDefaults();
            return {};
        } catch (const std::exception& e) {
            return e.what();
        }
    };
}

class WorkflowWriteFaults : public ::testing::Test {
protected:
    // A fresh folder with two photographs, a mask, the program folder and an
    // output folder, and a workflow showing the first photograph with the
    // mask loaded.
    void fresh(Scene& s, const std::string& name) const
    {
        s.dir = root.path() / name;
        fs::create_directories(s.dir / "program");
        fs::create_directories(s.dir / "out");
        test_support::WritePatternJpeg(s.file("a.jpg"), 64, 48, 90);
        test_support::WritePatternJpeg(s.file("b.jpg"), 48, 64, 90);
        Bitmap24 m(64, 48);
        m.fill(packColour(200, 190, 180));
        WriteBmpFile(m, s.file("mask.bmp"));
        s.flow = std::make_unique<Workflow>(s.file("program"));
        s.flow->OpenList({s.file("a.jpg")});
        ASSERT_TRUE(s.flow->LoadMask(s.file("mask.bmp")));
    }
    test_support::TempFolder root{"lumivane-wffaults"};
};

const WorkflowWriter kWriters[] = {
    {"single save over an earlier file", "out/a.jpg",
     [](Scene& s) -> Attempt {
         const std::string earlier = "an earlier a.jpg";
         WriteFileAtomically(s.file("out/a.jpg"), earlier.data(), earlier.size());
         s.host.savePath = s.file("out/a.jpg");
         return [&s] { return saveMessage(s.flow->Save(s.host)); };
     }},
    {"window batch", "out/a.jpg",
     [](Scene& s) -> Attempt {
         s.flow->OpenList({s.file("a.jpg"), s.file("b.jpg")});
         s.host.folder = s.file("out");
         return [&s] { return saveMessage(s.flow->Save(s.host)); };
     },
     true},
    {"store over stored defaults", "program/defaults.ini",
     [](Scene& s) -> Attempt {
         s.flow->SetSliders(10, 20);
         s.flow->StoreDefaults();
         s.flow->SetSliders(30, 40);
         return tryStore(s);
     }},
    {"store, only the mask fails", "program/default_mask.bmp",
     [](Scene& s) -> Attempt {
         s.flow->SetSliders(10, 20);
         s.flow->StoreDefaults();
         s.flow->SetSliders(30, 40);
         return tryStore(s);
     }},
    {"store for the first time, only the mask fails", "program/default_mask.bmp", tryStore},
    {"free the default mask", "program/defaults.ini",
     [](Scene& s) -> Attempt {
         s.flow->StoreDefaults();
         return [&s]() -> std::string {
             try {
                 s.flow->FreeDefaults();
                 return {};
             } catch (const std::exception& e) {
                 return e.what();
             }
         };
     }},
    {"command-line batch", "out/a.jpg",
     [](Scene& s) -> Attempt {
         return [&s] {
             static Bitmap24 mask;
             mask = s.flow->mask().MaskImage;
             BatchSettings settings;
             settings.mask = &mask;
             settings.folder = s.file("out");
             std::string text;
             for (const BatchPhotoResult& r : RunBatch({s.file("a.jpg")}, settings, 1))
                 text += r.reason;
             return text;
         };
     }},
};

// The state the user sees that a failed write must not change.
struct Visible {
    int fileIndex;
    std::string source;
    bool decodeOk, saveEnabled, batchRunning, freeOffered;
    std::string defaultMask;
    bool operator==(const Visible&) const = default;
};

void PrintTo(const Visible& v, std::ostream* out)
{
    *out << "index " << v.fileIndex << ", " << v.source << ", decoded " << v.decodeOk << ", save " << v.saveEnabled
         << ", batch " << v.batchRunning << ", free " << v.freeOffered << ", default mask " << v.defaultMask;
}

Visible visible(const Workflow& flow)
{
    return {flow.photos().FileIndex, flow.photos().SourceFile, flow.photos().DecodeOk, flow.SaveEnabled(),
            flow.session().BatchRunning, flow.session().FreeOffered, flow.settings().DefaultMask};
}

TEST_F(WorkflowWriteFaults, EveryWriter_AtEveryStep_NamesTheFileAndChangesNothing)
{
    int scene = 0;
    for (const WorkflowWriter& writer : kWriters)
        for (const WriteFault& fault : kWriteFaults) {
            SCOPED_TRACE(::testing::Message() << writer.name << ", " << fault.describe());
            Scene s;
            fresh(s, "scene" + std::to_string(scene++));
            const Attempt attempt = writer.prepare(s);
            const std::string failing = s.file(writer.failing);
            const Snapshot before = snapshot(s.dir);
            const Visible shown = visible(*s.flow);
            std::string message;
            {
                InjectedFault hook(fault, [&](const std::string& target) { return target == failing; });
                message = attempt();
            }
            EXPECT_NE(message.find(failing), std::string::npos) << message;
            EXPECT_NE(message.find(std::strerror(fault.error)), std::string::npos) << message;
            Snapshot now = snapshot(s.dir);
            EXPECT_EQ(now.count(writer.failing), before.count(writer.failing));
            if (writer.goesOn)
                for (auto it = now.begin(); it != now.end();)
                    it = before.count(it->first) == 0 && it->first.find(".part") == std::string::npos ? now.erase(it)
                                                                                                    : std::next(it);
            EXPECT_EQ(now, before);
            // The photograph's place in the list may move to the one shown
            // first, but what the user sees is otherwise unchanged.
            Visible after = visible(*s.flow);
            after.fileIndex = shown.fileIndex;
            EXPECT_EQ(after, shown);
            // Without the fault the same action succeeds.
            EXPECT_EQ(attempt(), "");
        }
}

} // namespace
