// SPDX-License-Identifier: GPL-3.0-or-later
// Platform services for window tests: dialogs answer from queues the test
// fills in advance, and every request, message and opened address is
// recorded for the test to check.
#pragma once

#include "PlatformServices.h"

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <vector>

namespace lumivane {

class ScriptedPlatformServices : public PlatformServices {
public:
    // Answers, taken front first. An empty queue answers "cancelled".
    std::deque<QStringList> openAnswers;
    std::deque<QString> saveAnswers;
    // The entry each answered save dialog leaves chosen (none left: the
    // first entry, reported as an empty filter).
    std::deque<QString> saveFilterAnswers;
    std::deque<QString> folderAnswers;
    std::deque<bool> yesNoAnswers; // an empty queue answers No

    // What the program asked for.
    std::vector<OpenDialogRequest> openRequests;
    std::vector<SaveDialogRequest> saveRequests;
    struct FolderRequest {
        QString title;
        QString startFolder;
        bool allowNewFolder = false;
    };
    std::vector<FolderRequest> folderRequests;
    QStringList messages;
    QStringList questions; // the texts of askYesNo
    QStringList errors;
    QStringList openedUrls;
    int processEventsCalls = 0;
    int busyCursorDepth = 0;

    std::uint32_t tick = 123456;
    // Runs at every processEvents, for tests that act in the middle of a loop.
    std::function<void()> onProcessEvents;

    QStringList openFiles(QWidget*, const OpenDialogRequest& request) override;
    QString saveFile(QWidget*, const SaveDialogRequest& request) override;
    QString pickFolder(QWidget*, const QString& title, const QString& startFolder, bool allowNewFolder) override;
    void showMessage(QWidget*, const QString& text) override { messages << text; }
    bool askYesNo(QWidget*, const QString& text) override;
    void showError(QWidget*, const QString& text) override { errors << text; }
    // What openUrl answers: false plays a desktop without a browser.
    bool urlOpens = true;
    bool openUrl(const QString& url) override
    {
        openedUrls << url;
        return urlOpens;
    }
    void processEvents() override;
    std::uint32_t tickCount() override { return tick; }
    // Runs at every change of the busy cursor, with the new state.
    std::function<void(bool)> onBusyCursor;
    void setBusyCursor(bool busy) override
    {
        busyCursorDepth = busy ? 1 : 0;
        if (onBusyCursor)
            onBusyCursor(busy);
    }
};

} // namespace lumivane
