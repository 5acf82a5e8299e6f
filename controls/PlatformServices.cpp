// SPDX-License-Identifier: GPL-3.0-or-later
#include "PlatformServices.h"

#include "Naming.h"

#include "BrowseForFolderU.h"

#include <QApplication>
#include <QDesktopServices>
#include <QFileDialog>
#include <QMessageBox>
#include <QUrl>
#include <ctime>

namespace lumivane {

QString toQtFilter(const QString& filter)
{
    // "All supported formats |*.jpg;*.JPG" -> "All supported formats (*.jpg *.JPG)";
    // further "|Description |patterns" pairs become further entries.
    const QStringList parts = filter.split(QLatin1Char('|'));
    if (parts.size() < 2)
        return filter;
    QStringList entries;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString patterns = parts[i + 1];
        patterns.replace(QLatin1Char(';'), QLatin1Char(' '));
        entries << parts[i].trimmed() + QStringLiteral(" (") + patterns.trimmed() + QLatin1Char(')');
    }
    return entries.join(QStringLiteral(";;"));
}

QStringList QtPlatformServices::openFiles(QWidget* parent, const OpenDialogRequest& request)
{
    if (request.multiSelect)
        return QFileDialog::getOpenFileNames(parent, request.title, QString(), toQtFilter(request.filter));
    const QString path = QFileDialog::getOpenFileName(parent, request.title, QString(), toQtFilter(request.filter));
    return path.isEmpty() ? QStringList() : QStringList{path};
}

QString QtPlatformServices::saveFile(QWidget* parent, const SaveDialogRequest& request)
{
    QFileDialog dialog(parent, request.title, QString(), toQtFilter(request.filter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(request.defaultExtension);
    // A name typed without an extension takes the entry shown: "tif" under
    // the TIFF entry.
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog, &request](const QString& filter) {
        dialog.setDefaultSuffix(filter.contains(QStringLiteral("*.tif"), Qt::CaseInsensitive)
                                    ? QStringLiteral("tif")
                                    : request.defaultExtension);
    });
    dialog.selectFile(request.fileName);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, !request.overwritePrompt);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    if (request.chosenFilter)
        *request.chosenFilter = dialog.selectedNameFilter();
    return dialog.selectedFiles().constFirst();
}

QString QtPlatformServices::pickFolder(QWidget* parent, const QString& title, const QString& startFolder,
                                       bool allowNewFolder)
{
    return PickFolder(parent, title, startFolder, allowNewFolder);
}

void QtPlatformServices::showMessage(QWidget* parent, const QString& text)
{
    QMessageBox::information(parent, QApplication::applicationName(), text);
}

bool QtPlatformServices::askYesNo(QWidget* parent, const QString& text)
{
    return QMessageBox::question(parent, QApplication::applicationName(), text,
                                 QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
}

void QtPlatformServices::showError(QWidget* parent, const QString& text)
{
    QMessageBox::critical(parent, QApplication::applicationName(), text);
}

bool QtPlatformServices::openUrl(const QString& url)
{
    return QDesktopServices::openUrl(QUrl::fromUserInput(url));
}

void QtPlatformServices::processEvents()
{
    QApplication::processEvents();
}

std::uint32_t QtPlatformServices::tickCount()
{
    return SystemTickCount();
}

void QtPlatformServices::setBusyCursor(bool busy)
{
    if (busy == busy_)
        return;
    busy_ = busy;
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

} // namespace lumivane
