// SPDX-License-Identifier: GPL-3.0-or-later
#include "BrowseForFolderU.h"

#include <QApplication>
#include <QFileDialog>
#include <QFileInfo>

namespace lumivane {

void ConfigureFolderDialog(QFileDialog& dialog, const QString& title, const QString& startFolder,
                           bool allowNewFolder)
{
    dialog.setWindowTitle(title);
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    // Qt's own dialog offers its "create new folder" action only when the
    // model is writable, so a read-only dialog is one without that button;
    // native dialogs do not all honour that, hence Qt's own.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setOption(QFileDialog::ReadOnly, !allowNewFolder);
    // Without a start folder the dialog opens at its own default place.
    if (!startFolder.isEmpty())
        dialog.setDirectory(startFolder);
}

QString ChosenFolder(const QStringList& selectedFiles)
{
    if (selectedFiles.isEmpty())
        return QString();
    const QFileInfo chosen(selectedFiles.constFirst());
    // Anything that is not a folder on disk counts as no choice.
    if (!chosen.isDir())
        return QString();
    return chosen.absoluteFilePath();
}

QString PickFolder(QWidget* owner, const QString& title, const QString& startFolder, bool allowNewFolder)
{
    if (!owner)
        owner = QApplication::activeWindow();
    QFileDialog dialog(owner);
    ConfigureFolderDialog(dialog, title, startFolder, allowNewFolder);
    if (dialog.exec() != QDialog::Accepted)
        return QString();
    return ChosenFolder(dialog.selectedFiles());
}

} // namespace lumivane
