#include "BrowseForFolderU.h"

#include <QFileDialog>

namespace lumivane {

QString PickFolder(QWidget* owner, const QString& title, const QString& startFolder, bool allowNewFolder)
{
    QFileDialog dialog(owner, title, startFolder);
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    // Qt's own dialog offers its "create new folder" action only when the
    // model is writable, so a read-only dialog is one without that button.
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    dialog.setOption(QFileDialog::ReadOnly, !allowNewFolder);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}

} // namespace lumivane
