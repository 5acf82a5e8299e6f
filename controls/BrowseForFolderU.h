// SPDX-License-Identifier: GPL-3.0-or-later
// The folder picker: lets the user choose one existing folder.
#pragma once

#include <QString>

class QFileDialog;
class QWidget;

namespace lumivane {

// Shows the folder dialog modally over `owner` (the application's active
// window when null) with `title`, starting in `startFolder` when it is not
// empty, offering a new-folder button only when `allowNewFolder` is true.
// Returns the chosen folder's full path, or an empty string when the user
// cancels or the choice is not an existing folder of the file system.
QString PickFolder(QWidget* owner, const QString& title, const QString& startFolder,
                   bool allowNewFolder);

// Sets up `dialog` as PickFolder shows it: one existing folder, folders
// only, the title, the start folder when given, and the new-folder button
// only when allowed.
void ConfigureFolderDialog(QFileDialog& dialog, const QString& title, const QString& startFolder,
                           bool allowNewFolder);

// The path PickFolder returns for what the dialog selected: the first
// selection when it names an existing folder, else an empty string.
QString ChosenFolder(const QStringList& selectedFiles);

} // namespace lumivane
