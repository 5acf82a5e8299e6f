// Saving the processed photograph, batch processing and the EXIF transplant.
#include "Unit1.h"

#include "BmpCodec.h"
#include "CorrectionKernel.h"
#include "ExifTransplant.h"
#include "SavePipeline.h"
#include "JpegCodec.h"
#include "MaskGeometry.h"
#include "Naming.h"
#include "PlatformServices.h"

#include <QDir>
#include <QFileInfo>
#include <functional>
#include <stdexcept>
#include <vector>

using namespace lumivane;

namespace {

// Raised for a photograph of the batch that could not be read, so the batch
// stops instead of saving the previous photograph under its name.
class UnreadablePhotograph : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

} // namespace

void TForm1::copyexif(TransplantResult result)
{
    // The source's EXIF head was put in front of the encoder's output as the
    // file was written; all that is left to do here is to tell the user when
    // the source could not be reached.
    if (result == TransplantResult::SourceMissing)
        services_.showMessage(this, QString::fromStdString(SourceMissingMessage(workflow.SourceFile.toStdString())));
}

QString TForm1::writeOutput(const CorrectionRegion& region, const CorrectionTargets& targets,
                            const QString& batchFolder, std::uint32_t startTime)
{
    const bool bmp = jpeg->value() == 101;
    const CropMargins crop = cropMargins();
    const bool cropped = HasCrop(crop);
    // A single save goes to the name chosen in the save dialog, which asked
    // before replacing a file. A batch never replaces a file: it writes to
    // the first free name among the plain name and the tick-count names,
    // and the no-replace rename keeps that true even against another
    // program writing into the same folder at the same moment.
    OutputTarget target(FinalOutputPath(workflow.OutPath.toStdString(), bmp, cropped));
    if (!batchFolder.isEmpty()) {
        target = OutputTarget::FirstFree([folder = batchFolder.toStdString(), outName = workflow.OutName.toStdString(),
                                          bmp, startTime, cropped](int attempt) {
            return BatchCandidatePath(folder, outName, bmp, startTime, attempt, cropped);
        });
    }
    // The unprocessed photograph is corrected band by band while it is
    // encoded; the photograph itself is never changed, so nothing needs restoring.
    if (bmp) {
        workflow.OutPath = QString::fromStdString(savePipeline_.SaveCorrectedBmp(
            PhotoFull(), MaskFull(), region, correction.Damping, targets, crop, target));
    } else {
        const SaveResult result =
            savePipeline_.SaveCorrectedJpeg(PhotoFull(), MaskFull(), region, correction.Damping, targets,
                                            crop, jpeg->value(), workflow.SourceFile.toStdString(), target);
        workflow.OutPath = QString::fromStdString(result.path);
        copyexif(result.transplant);
    }
    return workflow.OutPath;
}

// One pass of the save loop. Returns false when the loop must end (a
// dialog was cancelled).
bool TForm1::saveOnePass(int pass, int listLength, QString& folder, std::uint32_t startTime)
{
    if (!workflow.DecodeOk || !workflow.PhotoPresent)
        throw UnreadablePhotograph("Can not read " + workflow.SourceFile.toStdString() +
                                   "; it was not saved.");
    const int w = Image1.Width;
    const int h = Image1.Height;
    const CorrectionTargets targets = TargetsFor(mask.HotspotR, mask.HotspotG, mask.HotspotB, brightness->value());
    correction.TargetR = targets.r;
    correction.TargetG = targets.g;
    correction.TargetB = targets.b;
    const CorrectionRegion region = FullSizeRegion(Image4Left(), Image4Top(), w, h);

    const bool bmp = jpeg->value() == 101;
    SaveDialogRequest request;
    request.fileName = QString::fromStdString(ReplaceLast3(workflow.OutName.toStdString(), bmp ? "bmp" : "jpg"));
    request.defaultExtension = bmp ? QStringLiteral("bmp") : QStringLiteral("jpg");
    request.title = bmp ? QStringLiteral(" Save BMP Image") : QStringLiteral(" Save JPEG Image");
    request.filter = bmp ? QStringLiteral("BMP Image (*.bmp)|*.BMP") : QStringLiteral("JPEG Image (*.jpg)|*.JPG");
    request.overwritePrompt = true;

    bool havePath = false;
    if (listLength == 1) {
        const QString chosen = services_.saveFile(this, request);
        if (chosen.isEmpty())
            return false;
        workflow.OutPath = chosen;
        havePath = true;
    } else {
        if (pass == 1) {
            workflow.BatchDone = 0;
            folder = services_.pickFolder(this, QStringLiteral("Select output folder"), QDir::currentPath(), true);
            if (folder.isEmpty())
                return false;
            Panel8->show();
            Panel8->raise();
            services_.processEvents();
        }
        // OutPath is settled when the file is written: the first free name
        // among the batch's names.
        havePath = true;
    }

    if (havePath) {
        writeOutput(region, targets, listLength > 1 ? folder : QString(), startTime);
        status->setText(QFileInfo(workflow.OutPath).fileName() + QStringLiteral(" saved."));
    }

    if (listLength > 1) {
        ProgressBar1->setValue(workflow.FileIndex);
        const QListWidgetItem* written = ListBox1->item(workflow.FileIndex - 1);
        Label14->setText(QStringLiteral("Processing ") + QFileInfo(written ? written->text() : workflow.OutPath).fileName());
        services_.processEvents();
        if (workflow.FileIndex < listLength) {
            change();
        } else {
            workflow.BatchDone = 1;
            Button1Click(BitBtn5);
        }
    }
    return true;
}

void TForm1::finishSaveAfterError()
{
    // Whatever failed, the list position must name the photograph shown.
    Panel8->hide();
    workflow.BatchStep = 0;
    workflow.BatchDone = 0;
    const int count = ListBox1->count();
    int shown = 0;
    for (int i = 0; i < count; ++i)
        if (ListBox1->item(i)->text() == workflow.SourceFile) {
            shown = i;
            break;
        }
    workflow.FileIndex = shown;
    setNavigationEnabled(shown > 0, shown < count - 1);
}

void TForm1::Button2Click()
{
    const int count = ListBox1->count();
    if (count == 0 || !workflow.PhotoPresent || !workflow.DecodeOk || MaskFull().empty()) {
        services_.showMessage(this, QStringLiteral("There is no photograph to save: ") +
                                        (workflow.CurrentFile.isEmpty() ? QStringLiteral("none is open.")
                                                                        : workflow.SourceFile +
                                                                              QStringLiteral(" could not be read.")));
        return;
    }
    {
        // Margins that leave nothing would write an empty picture: refuse
        // before anything is corrected or written.
        if (!CropLeavesPixels(Image1.Width, Image1.Height, cropMargins())) {
            services_.showMessage(this, QStringLiteral("The crop margins leave no pixels of the ") +
                                            QString::number(Image1.Width) + QLatin1Char('x') +
                                            QString::number(Image1.Height) +
                                            QStringLiteral(" photograph; nothing was saved."));
            return;
        }
    }

    if (count == 1)
        workflow.FileIndex = 0;
    if (workflow.FileIndex != 0) {
        // The photograph on screen becomes entry 0 and is processed first.
        QListWidgetItem* shownItem = ListBox1->takeItem(workflow.FileIndex);
        QListWidgetItem* firstItem = ListBox1->takeItem(0);
        ListBox1->insertItem(0, shownItem);
        ListBox1->insertItem(workflow.FileIndex, firstItem);
    }
    const std::uint32_t startTime = services_.tickCount();
    workflow.FileIndex = 1;
    QString folder;
    // The batch lets the event loop run between photographs; while it runs
    // the controls that would change the list, the mask or the settings
    // under its feet are out of reach (the progress panel stays live).
    // The navigation arrows are locked too: a step queued while a file is
    // written would move FileIndex under the loop. Afterwards they are set
    // from the list position the save leaves behind.
    struct BatchLock {
        std::vector<QWidget*> widgets;
        std::function<void()> restoreNavigation;
        ~BatchLock()
        {
            for (QWidget* w : widgets)
                w->setEnabled(true);
            if (restoreNavigation)
                restoreNavigation();
        }
    } lock;
    if (count > 1) {
        lock.restoreNavigation = [this] {
            setNavigationEnabled(workflow.FileIndex > 0, workflow.FileIndex < ListBox1->count() - 1);
        };
        lock.widgets = {GroupBox4, GroupBox5, GroupBox3, GroupBox6, Label2, ImageButton1, ImageButton2};
        for (QWidget* w : lock.widgets)
            w->setEnabled(false);
    }
    try {
        for (int pass = 1; pass <= count; ++pass) {
            if (!saveOnePass(pass, count, folder, startTime)) {
                if (count > 1) {
                    // Folder picker cancelled: the photograph on screen is
                    // now entry 0 of the exchanged list.
                    workflow.FileIndex = 0;
                    setNavigationEnabled(false, count > 1);
                    status->setText(QStringLiteral(" Showing ") + QFileInfo(ListBox1->item(0)->text()).fileName() +
                                    QStringLiteral(" [1 of ") + QString::number(count) + QLatin1Char(']'));
                }
                break;
            }
            ++workflow.FileIndex;
        }
    } catch (const std::exception& e) {
        finishSaveAfterError();
        throw std::runtime_error(std::string("Saving stopped: ") + e.what());
    }
    Panel8->hide();
    if (!folder.isEmpty() || count == 1)
        workflow.FileIndex = 0;
}
