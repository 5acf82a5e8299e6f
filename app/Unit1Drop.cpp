// SPDX-License-Identifier: GPL-3.0-or-later
// Files from outside the window's dialogs: named on the command line, or
// dragged from a file manager and dropped on the window.
#include "Unit1.h"

#include "DropRules.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QUrl>

using namespace lumivane;

void TForm1::OpenFromCommandLine(const QStringList& photos, const QString& mask)
{
    // Each runs as its handler does: an error is shown by the default error
    // display and the program goes on with the next.
    if (!mask.isEmpty()) {
        guarded([&] {
            const ShowState show{*this};
            readAdjustments();
            loadMaskFile(QFileInfo(mask).absoluteFilePath().toStdString());
        });
    }
    if (!photos.isEmpty()) {
        guarded([&] {
            const ShowState show{*this};
            readAdjustments();
            std::vector<std::string> files;
            for (const QString& photo : photos)
                files.push_back(QFileInfo(photo).absoluteFilePath().toStdString());
            openList(files);
        });
    }
}

void TForm1::dragEnterEvent(QDragEnterEvent* event)
{
    // Every drag of files is let in, also one the drop will refuse, so the
    // refusal can be told in the status bar.
    if (!event->mimeData()->hasUrls())
        return;
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void TForm1::dragMoveEvent(QDragMoveEvent* event)
{
    if (!event->mimeData()->hasUrls())
        return;
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

void TForm1::dropEvent(QDropEvent* event)
{
    if (!event->mimeData()->hasUrls())
        return;
    bool taken = false;
    guarded([&] { taken = dropFiles(event->mimeData()->urls(), event->position().toPoint()); });
    if (!taken) {
        event->ignore();
        return;
    }
    // The files are read, never moved: a file manager that offered a move
    // must keep its files.
    event->setDropAction(Qt::CopyAction);
    event->accept();
}

bool TForm1::dropFiles(const QList<QUrl>& urls, const QPoint& position)
{
    const ShowState show{*this};
    std::vector<DroppedItem> items;
    for (const QUrl& url : urls) {
        if (url.isLocalFile())
            items.push_back({url.toLocalFile().toStdString(), true});
        else
            items.push_back({url.toDisplayString().toStdString(), false});
    }
    const QWidget* hit = childAt(position);
    const DropTarget target =
        hit && (hit == Image3 || Image3->isAncestorOf(hit)) ? DropTarget::MaskThumbnail : DropTarget::Window;
    const DropState state = flow_.session().BatchRunning    ? DropState::BatchRunning
                            : !flow_.LoadEnabled() ? DropState::PanelOpen
                                                   : DropState::Ready;
    const DropDecision decision = DecideDrop(target, items, state);
    switch (decision.kind) {
    case DropDecision::Kind::Refuse:
        flow_.ShowStatus(decision.status);
        return false;
    case DropDecision::Kind::OpenPhotographs:
        readAdjustments();
        openList(decision.files);
        return true;
    case DropDecision::Kind::LoadMask:
        readAdjustments();
        loadMaskFile(decision.files.front());
        return true;
    }
    return false;
}
