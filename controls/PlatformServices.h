// SPDX-License-Identifier: GPL-3.0-or-later
// The platform services the windows call: file and folder dialogs, the
// message box, opening an address, letting the event loop run, the tick
// count and the busy cursor. The program uses QtPlatformServices; tests
// install a scripted implementation so every workflow runs without a person.
#pragma once

#include "Naming.h"

#include <QString>
#include <QStringList>
#include <cstdint>

class QWidget;

namespace lumivane {

struct OpenDialogRequest {
    QString title;
    QString filter;          // "Description |*.a;*.b[|Description |*.c...]" as the windows write it
    bool multiSelect = false;
};

struct SaveDialogRequest {
    QString title;
    QString filter;
    QString defaultExtension; // without the dot
    QString fileName;         // proposed name, no folder
    bool overwritePrompt = true;
    // When given, receives the name filter of the entry the user left
    // chosen ("TIFF Image (*.tif)"); empty when the dialog was cancelled.
    QString* chosenFilter = nullptr;
};

class PlatformServices {
public:
    virtual ~PlatformServices() = default;

    // Paths chosen in the open dialog; empty when cancelled.
    virtual QStringList openFiles(QWidget* parent, const OpenDialogRequest& request) = 0;
    // Path chosen in the save dialog; empty when cancelled.
    virtual QString saveFile(QWidget* parent, const SaveDialogRequest& request) = 0;
    // Folder chosen in the folder dialog; empty when cancelled.
    virtual QString pickFolder(QWidget* parent, const QString& title, const QString& startFolder,
                               bool allowNewFolder) = 0;
    // A modal message box with one text and an OK button.
    virtual void showMessage(QWidget* parent, const QString& text) = 0;
    // A modal question with Yes and No buttons (No the default); true for Yes.
    virtual bool askYesNo(QWidget* parent, const QString& text) = 0;
    // The default display of an error that ended an event handler.
    virtual void showError(QWidget* parent, const QString& text) = 0;
    // Asks the desktop to open an address; false when no program could be
    // started for it (no browser installed, no desktop opener).
    virtual bool openUrl(const QString& url) = 0;
    // Lets the event loop run once so that pending paints and input are handled.
    virtual void processEvents() = 0;
    // Milliseconds since the system started, wrapping at 32 bits.
    virtual std::uint32_t tickCount() = 0;
    // Shows or removes the hourglass cursor.
    virtual void setBusyCursor(bool busy) = 0;
};

// The implementation on Qt's own dialogs and desktop services.
class QtPlatformServices : public PlatformServices {
public:
    QStringList openFiles(QWidget* parent, const OpenDialogRequest& request) override;
    QString saveFile(QWidget* parent, const SaveDialogRequest& request) override;
    QString pickFolder(QWidget* parent, const QString& title, const QString& startFolder,
                       bool allowNewFolder) override;
    void showMessage(QWidget* parent, const QString& text) override;
    bool askYesNo(QWidget* parent, const QString& text) override;
    void showError(QWidget* parent, const QString& text) override;
    bool openUrl(const QString& url) override;
    void processEvents() override;
    std::uint32_t tickCount() override;
    void setBusyCursor(bool busy) override;

private:
    bool busy_ = false;
};



// Turns a filter written as "Description |*.jpg;*.JPG" into Qt's
// "Description (*.jpg *.JPG)" form; more "|Description |patterns" pairs
// after the first become Qt's further entries, after ";;".
QString toQtFilter(const QString& filter);

} // namespace lumivane
