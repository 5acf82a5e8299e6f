// SPDX-License-Identifier: GPL-3.0-or-later
// Opening photographs, stepping through the list and loading one photograph.
#include "Unit1.h"

#include "PlatformServices.h"

using namespace lumivane;

QString OpenDialogFilter()
{
    return QStringLiteral("All supported formats |*.jpg;*.JPG;*.bmp;*.BMP;*.tif;*.TIF"
                          "|All supported formats with .jpeg, .jpe and .tiff |"
                          "*.jpg;*.JPG;*.jpeg;*.JPEG;*.jpe;*.JPE;*.bmp;*.BMP;*.tif;*.TIF;*.tiff;*.TIFF");
}

void TForm1::Button1Click(QObject* Sender)
{
    const ShowState show{*this};
    readAdjustments();
    if (Sender == BitBtn5) {
        OpenDialogRequest request;
        request.title = QStringLiteral(" Open Image(s)");
        request.filter = OpenDialogFilter();
        request.multiSelect = true;
        std::vector<std::string> files;
        for (const QString& file : services_.openFiles(this, request))
            files.push_back(file.toStdString());
        if (!files.empty())
            flow_.RememberDialogChoice(files.front());
        openList(files);
        return;
    }
    if (!flow_.PreviousEnabled() && !flow_.NextEnabled())
        return;
    services_.setBusyCursor(true);
    if (Sender == ImageButton2)
        flow_.Step(+1);
    else if (Sender == ImageButton1)
        flow_.Step(-1);
    else
        flow_.Reload();
    refreshExif();
    services_.setBusyCursor(false);
}

void TForm1::openList(const std::vector<std::string>& files)
{
    const bool nothingToShow = files.empty() && flow_.photos().Files.empty();
    flow_.OpenList(files);
    if (nothingToShow)
        return;
    refreshExif();
    services_.setBusyCursor(false);
}
