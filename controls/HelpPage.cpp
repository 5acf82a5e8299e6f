// SPDX-License-Identifier: GPL-3.0-or-later
#include "HelpPage.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace lumivane {

QString HelpPageUrlFor(const QString& executableDir)
{
    QStringList candidates;
    if (!executableDir.isEmpty()) {
        const QDir exeDir(executableDir);
        candidates << exeDir.filePath(QStringLiteral("docs/help.html"))
                   << exeDir.filePath(QStringLiteral("help.html"))
                   << exeDir.filePath(QStringLiteral("../share/doc/lumivane/help.html"));
    }
    const QString sourcePage = QStringLiteral(LUMIVANE_HELP_SOURCE_PAGE);
    candidates << sourcePage;
    for (const QString& path : std::as_const(candidates)) {
        const QFileInfo info(path);
        if (info.isFile())
            return QUrl::fromLocalFile(QDir::cleanPath(info.absoluteFilePath())).toString();
    }
    return QUrl::fromLocalFile(sourcePage).toString();
}

QString HelpPageUrl()
{
    // Without an application object there is no executable folder to ask.
    if (!QCoreApplication::instance())
        return HelpPageUrlFor(QString());
    return HelpPageUrlFor(QCoreApplication::applicationDirPath());
}

} // namespace lumivane
