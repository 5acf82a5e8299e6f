#include "Unit1.h"
#include <QApplication>
int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    app.setApplicationName(QStringLiteral("Lumivane"));
    TForm1 form;
    form.show();
    return app.exec();
}
