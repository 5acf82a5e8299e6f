// The folder picker: lets the user choose one existing folder.
#pragma once

#include <QString>

class QWidget;

namespace lumivane {

// Shows the folder dialog modally over `owner` with `title`, starting in
// `startFolder` when it is not empty, offering a new-folder button only when
// `allowNewFolder` is true. Returns the chosen folder's full path, or an
// empty string when the user cancels.
QString PickFolder(QWidget* owner, const QString& title, const QString& startFolder,
                   bool allowNewFolder);

} // namespace lumivane
