#include "HelpPage.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

namespace lumivane {

QString HelpPageUrl()
{
    QStringList candidates;
    // Without an application object there is no executable folder to ask.
    if (QCoreApplication::instance()) {
        const QDir exeDir(QCoreApplication::applicationDirPath());
        candidates << exeDir.filePath(QStringLiteral("docs/help.html"))
                   << exeDir.filePath(QStringLiteral("help.html"));
    }
    const QString sourcePage = QStringLiteral(LUMIVANE_HELP_SOURCE_PAGE);
    candidates << sourcePage;
    for (const QString& path : std::as_const(candidates)) {
        if (QFileInfo(path).isFile())
            return QUrl::fromLocalFile(QFileInfo(path).absoluteFilePath()).toString();
    }
    return QUrl::fromLocalFile(sourcePage).toString();
}

} // namespace lumivane
