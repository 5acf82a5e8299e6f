// SPDX-License-Identifier: GPL-3.0-or-later
// Which drops of files the main window takes, and what it says when it
// refuses one.
#include "DropRules.h"
#include "TestFiles.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace lumivane;
namespace fs = std::filesystem;
using Kind = DropDecision::Kind;

namespace {

class DropFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (const char* name : {"a.jpg", "b.TIF", "c.jpeg", "notes.txt"})
            std::ofstream(root_ + "/" + name) << "x";
        // A folder whose name looks like a photograph's.
        fs::create_directory(root_ + "/album.jpg");
    }
    DroppedItem local(const std::string& name) const { return {root_ + "/" + name, true}; }
    test_support::TemporaryFolder folder_{"lumivane-drop"};
    const std::string root_ = folder_.str();
};

struct DropCase {
    const char* name;
    DropTarget target;
    DropState state;
    std::vector<std::string> files; // names in the folder; "http..." is remote
    Kind kind;
    // Taken: the names expected in `files`. Refused: a piece of the status.
    std::vector<std::string> expected;
};

} // namespace

TEST_F(DropFolder, TakesPhotographsAndOneMaskRefusesTheRest)
{
    const DropTarget window = DropTarget::Window;
    const DropTarget thumb = DropTarget::MaskThumbnail;
    const DropState ready = DropState::Ready;
    const DropCase cases[] = {
        {"photographs open in the order dropped", window, ready, {"b.TIF", "a.jpg", "c.jpeg"},
         Kind::OpenPhotographs, {"b.TIF", "a.jpg", "c.jpeg"}},
        {"one photograph on the window", window, ready, {"a.jpg"}, Kind::OpenPhotographs, {"a.jpg"}},
        {"a name not there is passed on", window, ready, {"gone.jpg"}, Kind::OpenPhotographs, {"gone.jpg"}},
        {"one file on the thumbnail is the mask", thumb, ready, {"b.TIF"}, Kind::LoadMask, {"b.TIF"}},
        {"several files on the thumbnail", thumb, ready, {"a.jpg", "b.TIF"}, Kind::Refuse, {"not 2 files"}},
        {"one name that is no photograph spoils the drop", window, ready, {"a.jpg", "notes.txt"}, Kind::Refuse,
         {" notes.txt is not a JPEG, BMP or TIFF file."}},
        {"no photograph as the mask", thumb, ready, {"notes.txt"}, Kind::Refuse, {"notes.txt is not"}},
        {"a folder, even one named .jpg", window, ready, {"album.jpg"}, Kind::Refuse,
         {" album.jpg is a folder, not a photograph."}},
        {"a folder's address ending in a slash", window, ready, {"album.jpg/"}, Kind::Refuse,
         {" album.jpg is a folder"}},
        {"a folder on the thumbnail", thumb, ready, {"album.jpg"}, Kind::Refuse, {"album.jpg is a folder"}},
        {"a remote file", window, ready, {"https://example.org/a.jpg"}, Kind::Refuse,
         {"https://example.org/a.jpg is not"}},
        {"nothing dropped", window, ready, {}, Kind::Refuse, {"no files"}},
        {"photographs during a batch", window, DropState::BatchRunning, {"a.jpg"}, Kind::Refuse,
         {"while images are being saved"}},
        {"a mask during a batch", thumb, DropState::BatchRunning, {"a.jpg"}, Kind::Refuse,
         {"while images are being saved"}},
        {"anything during a batch", thumb, DropState::BatchRunning, {"notes.txt", "a.jpg"}, Kind::Refuse,
         {"while images are being saved"}},
        {"a mask while the adjustment panel is open", thumb, DropState::PanelOpen, {"a.jpg"}, Kind::Refuse,
         {"adjustment panel"}},
        {"photographs while the adjustment panel is open", window, DropState::PanelOpen, {"a.jpg"},
         Kind::OpenPhotographs, {"a.jpg"}},
    };
    for (const DropCase& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<DroppedItem> items;
        for (const std::string& file : c.files)
            items.push_back(file.rfind("http", 0) == 0 ? DroppedItem{file, false} : local(file));
        const DropDecision decision = DecideDrop(c.target, items, c.state);
        EXPECT_EQ(decision.kind, c.kind);
        if (c.kind == Kind::Refuse) {
            EXPECT_TRUE(decision.files.empty());
            ASSERT_EQ(c.expected.size(), 1u);
            EXPECT_NE(decision.status.find(c.expected.front()), std::string::npos) << decision.status;
            // Status lines start with a blank, as every status line does.
            EXPECT_EQ(decision.status.substr(0, 1), " ");
        } else {
            EXPECT_TRUE(decision.status.empty()) << decision.status;
            std::vector<std::string> expected;
            for (const std::string& name : c.expected)
                expected.push_back(root_ + "/" + name);
            EXPECT_EQ(decision.files, expected);
        }
    }
}
