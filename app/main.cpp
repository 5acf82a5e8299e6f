// Program start: the application, the main window and the message loop.
#include "PlatformServices.h"
#include "TiffReader.h"
#include "Unit1.h"

#include <QApplication>

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Lumivane"));
    // libtiff's own messages never reach the user.
    lumivane::InstallSilentTiffHandlers();
    lumivane::QtPlatformServices services;
    TForm1 form(services, QCoreApplication::applicationDirPath());
    form.show();
    return app.exec();
}
