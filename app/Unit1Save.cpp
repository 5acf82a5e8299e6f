// SPDX-License-Identifier: GPL-3.0-or-later
// "Save Image(s)": the workflow saves; the window answers its dialogs and
// shows the batch's progress.
#include "Unit1.h"

#include "ExifTransplant.h"
#include "PlatformServices.h"

#include <QAction>
#include <QActionGroup>
#include <QDir>
#include <QMenu>
#include <stdexcept>

using namespace lumivane;

namespace {

// The window's side of a save: the platform's dialogs, and the state shown
// with the event loop let run after each photograph.
class WindowSaveHost : public WorkflowHost {
public:
    WindowSaveHost(TForm1& form, std::function<void()> show, std::function<void()> photoShown)
        : form_(form), show_(std::move(show)), photoShown_(std::move(photoShown))
    {
    }

    std::uint32_t TickCount() override { return form_.services().tickCount(); }

    std::string AskSavePath(const SaveDialogAnswerRequest& answer) override
    {
        SaveDialogRequest request;
        request.fileName = QString::fromStdString(answer.FileName);
        request.defaultExtension = answer.Bmp ? QStringLiteral("bmp") : QStringLiteral("jpg");
        request.title = answer.Bmp ? QStringLiteral(" Save BMP Image") : QStringLiteral(" Save JPEG Image");
        // The slider's own entry first, as always; the TIFF entry after it
        // saves a TIFF.
        QString chosenFilter;
        request.chosenFilter = &chosenFilter;
        request.filter =
            (answer.Bmp ? QStringLiteral("BMP Image (*.bmp)|*.BMP") : QStringLiteral("JPEG Image (*.jpg)|*.JPG")) +
            QStringLiteral("|TIFF Image (*.tif)|*.TIF");
        request.overwritePrompt = true;
        const std::string chosen = form_.services().saveFile(&form_, request).toStdString();
        if (answer.TiffChosen)
            *answer.TiffChosen = chosenFilter.contains(QStringLiteral("*.tif"), Qt::CaseInsensitive);
        if (!chosen.empty())
            form_.flow().RememberDialogChoice(chosen);
        return chosen;
    }

    bool ConfirmReplace(const std::string& path) override
    {
        return form_.services().askYesNo(&form_, QString::fromStdString(ReplaceQuestion(path)));
    }

    std::string AskOutputFolder() override
    {
        // The controls are locked before the dialog lets the event loop run.
        show_();
        // The picker starts in the folder last chosen in an open or save
        // dialog, before any in the program's current folder.
        const std::string& last = form_.flow().session().DialogFolder;
        const QString start = last.empty() ? QDir::currentPath() : QString::fromStdString(last);
        return form_.services().pickFolder(&form_, QStringLiteral("Select output folder"), start, true).toStdString();
    }

    void BatchStarted() override
    {
        show_();
        form_.services().processEvents();
    }

    void Progress(const WorkflowProgress& progress) override
    {
        if (progress.Last)
            form_.copyexif(progress.Last->Transplant);
        show_();
        // The EXIF window follows every photograph shown, as any load does.
        photoShown_();
        form_.services().processEvents();
    }

    // Between photographs the window stays live: it repaints, and Esc
    // reaches the batch.
    void KeepResponsive() override { form_.services().processEvents(); }

private:
    TForm1& form_;
    std::function<void()> show_;
    std::function<void()> photoShown_;
};

} // namespace

void TForm1::setUpSaveFormat()
{
    SaveFormatMenu = new QMenu(this);
    auto* group = new QActionGroup(SaveFormatMenu);
    SliderFormatItem = SaveFormatMenu->addAction(QStringLiteral("Save Images as JPEG or BMP (as the slider says)"));
    TiffFormatItem = SaveFormatMenu->addAction(QStringLiteral("Save Images as TIFF"));
    for (QAction* item : {SliderFormatItem, TiffFormatItem}) {
        item->setCheckable(true);
        group->addAction(item);
    }
    jpeg->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(jpeg, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& at) { SaveFormatMenu->popup(jpeg->mapToGlobal(at)); });
    connect(SliderFormatItem, &QAction::triggered, this, [this] { guarded([this] { chooseSaveImagesTiff(false); }); });
    connect(TiffFormatItem, &QAction::triggered, this, [this] { guarded([this] { chooseSaveImagesTiff(true); }); });
}

void TForm1::showSaveFormatState()
{
    SliderFormatItem->setChecked(!flow_.session().SaveImagesTiff);
    TiffFormatItem->setChecked(flow_.session().SaveImagesTiff);
    for (QAction* item : {SliderFormatItem, TiffFormatItem})
        item->setEnabled(flow_.GroupsEnabled());
}

void TForm1::chooseSaveImagesTiff(bool tiff)
{
    const ShowState show{*this};
    flow_.SetSaveImagesTiff(tiff);
}

void TForm1::copyexif(TransplantResult result)
{
    // The source's EXIF head was put in front of the encoder's output as the
    // file was written; all that is left to do here is to tell the user when
    // the source could not be reached.
    if (result == TransplantResult::SourceMissing)
        services_.showMessage(this, QString::fromStdString(SourceMissingMessage(flow_.photos().SourceFile)));
}

void TForm1::Button2Click()
{
    const ShowState show{*this};
    readAdjustments();
    WindowSaveHost host(*this, [this] { updateControls(); }, [this] { refreshExif(); });
    const bool single = flow_.photos().Files.size() == 1;
    const SaveOutcome outcome = flow_.Save(host);
    if (!outcome.Refusal.empty()) {
        services_.showMessage(this, QString::fromStdString(outcome.Refusal));
        return;
    }
    if (single && !outcome.Results.empty() && outcome.Stopped.empty())
        copyexif(outcome.Results.back().Transplant);
    if (!single && !outcome.Results.empty())
        refreshExif();
    if (!outcome.Failures.empty())
        services_.showMessage(this, QString::fromStdString(outcome.Failures));
    if (!outcome.Damaged.empty())
        services_.showMessage(this, QString::fromStdString(outcome.Damaged));
    if (!outcome.Warnings.empty())
        services_.showMessage(this, QString::fromStdString(outcome.Warnings));
    if (!outcome.Stopped.empty())
        throw std::runtime_error(outcome.Stopped);
}
