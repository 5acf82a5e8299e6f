// SPDX-License-Identifier: GPL-3.0-or-later
// "Load Mask": the open dialog's answer handed to the workflow.
#include "Unit1.h"

#include "PlatformServices.h"

using namespace lumivane;

void TForm1::Button3Click()
{
    const ShowState show{*this};
    readAdjustments();
    std::string chosen;
    if (flow_.MaskNeedsDialog()) {
        OpenDialogRequest request;
        request.title = QStringLiteral(" Open Mask");
        request.filter = OpenDialogFilter();
        request.multiSelect = false;
        const QStringList answer = services_.openFiles(this, request);
        if (!answer.isEmpty()) {
            chosen = answer.constFirst().toStdString();
            flow_.RememberDialogChoice(chosen);
        }
    }
    loadMaskFile(chosen);
}

void TForm1::loadMaskFile(const std::string& chosen)
{
    const bool preselection = flow_.photos().Files.empty();
    flow_.LoadMask(chosen);
    if (!preselection)
        refreshExif();
}
