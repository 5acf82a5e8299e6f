// SPDX-License-Identifier: GPL-3.0-or-later
// A workflow host that answers the folder dialog of "Save Images" with one
// folder and the save dialog with nothing, for tests that run a batch.
#pragma once

#include "Workflow.h"

#include <cstdint>
#include <string>
#include <utility>

namespace lumivane::test_support {

class FolderHost : public WorkflowHost {
public:
    explicit FolderHost(std::string folder) : folder_(std::move(folder)) {}
    std::uint32_t TickCount() override { return 99; }
    std::string AskSavePath(const SaveDialogAnswerRequest&) override { return std::string(); }
    std::string AskOutputFolder() override { return folder_; }
    void BatchStarted() override {}
    void Progress(const WorkflowProgress&) override {}

private:
    std::string folder_;
};

} // namespace lumivane::test_support
