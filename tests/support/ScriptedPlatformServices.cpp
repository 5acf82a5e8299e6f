// SPDX-License-Identifier: GPL-3.0-or-later
#include "ScriptedPlatformServices.h"

#include <QCoreApplication>

namespace lumivane {

QStringList ScriptedPlatformServices::openFiles(QWidget*, const OpenDialogRequest& request)
{
    openRequests.push_back(request);
    if (openAnswers.empty())
        return {};
    QStringList answer = openAnswers.front();
    openAnswers.pop_front();
    return answer;
}

QString ScriptedPlatformServices::saveFile(QWidget*, const SaveDialogRequest& request)
{
    saveRequests.push_back(request);
    if (saveAnswers.empty())
        return {};
    QString answer = saveAnswers.front();
    saveAnswers.pop_front();
    if (request.chosenFilter) {
        *request.chosenFilter = saveFilterAnswers.empty() ? QString() : saveFilterAnswers.front();
        if (!saveFilterAnswers.empty())
            saveFilterAnswers.pop_front();
    }
    return answer;
}

QString ScriptedPlatformServices::pickFolder(QWidget*, const QString& title, const QString& startFolder,
                                             bool allowNewFolder)
{
    folderRequests.push_back({title, startFolder, allowNewFolder});
    if (folderAnswers.empty())
        return {};
    QString answer = folderAnswers.front();
    folderAnswers.pop_front();
    return answer;
}

bool ScriptedPlatformServices::askYesNo(QWidget*, const QString& text)
{
    questions << text;
    if (yesNoAnswers.empty())
        return false;
    const bool yes = yesNoAnswers.front();
    yesNoAnswers.pop_front();
    return yes;
}

void ScriptedPlatformServices::processEvents()
{
    ++processEventsCalls;
    QCoreApplication::processEvents();
    if (onProcessEvents)
        onProcessEvents();
}

} // namespace lumivane
