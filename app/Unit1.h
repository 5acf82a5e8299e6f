// SPDX-License-Identifier: GPL-3.0-or-later
// The main window: its controls and the event handlers that drive the
// workflow. Each handler reads its controls, runs one command of the
// workflow and shows the workflow's state through updateControls().
#pragma once

#include "Bitmap24.h"
#include "CorrectionKernel.h"
#include "ExifTransplant.h"
#include "Workflow.h"
#include "HyperLbl.h"
#include "ImageButton4.h"
#include "Picture.h"
#include "Widgets.h"

#include <QGroupBox>
#include <QLocale>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollBar>
#include <QString>
#include <QToolButton>
#include <QWidget>
#include <cstdint>
#include <functional>

class QAction;
class QCheckBox;
class QFrame;
class QMenu;
class QUrl;

namespace lumivane {
class PlatformServices;
}
class TForm2;
class TBeforeAfterForm;

class TForm1 : public QWidget {
    Q_OBJECT
public:
    // `services` must outlive the window. `settingsFolder` is where
    // defaults.ini and default_mask.bmp live (lumivane::SettingsFolder); it
    // is made when the defaults are first stored.
    TForm1(lumivane::PlatformServices& services, const QString& settingsFolder, QWidget* parent = nullptr);
    ~TForm1() override;

    // ---- Handlers (named after the control and event they serve) ----
    void change_color();
    void Button1Click(QObject* Sender);
    void Button5aClick();
    void Button3Click();
    void brightnessChange();
    void jpegChange();
    void Button2Click();
    void Button4Click();
    void BitBtn3Click();
    void copyexif(lumivane::TransplantResult result);
    void Button6Click();
    void FormMouseMove(int X, int Y);
    void image2Click();
    void BitBtn1Click();
    void UpDown1Click();
    void UpDown2Click();
    void SpeedButton1Click();
    void rot1Click();
    void rot2Click();
    void BitBtn7Click();
    void showexif();
    // Opens the before/after window, or brings it to the front.
    void img_rightClick();
    // Hands the photograph, mask and settings to the before/after window,
    // when it exists; runs whenever the processed preview changed (every
    // preview pass and load).
    void refreshBeforeAfter() noexcept;
    // The mask thumbnail's menu and the adjustment panel's "smooth mask".
    void chooseMaskFolder();
    void noMaskFolder();
    void maskFromLensProfile();
    void profileFallbackClick();
    // The correction method items of the same menu.
    void chooseMode(lumivane::CorrectionMode mode);
    void smoothMaskClick();
    // The quality slider's menu: what "Save Images" writes.
    void chooseSaveImagesTiff(bool tiff);
    // The files named on the command line: the mask as "Load Mask" before
    // any photograph takes it, then the photographs as "Load Image(s)" opens
    // the files chosen in its dialog. Relative names are taken from the
    // current folder.
    void OpenFromCommandLine(const QStringList& photos, const QString& mask);

    // ---- Controls, by their form names ----
    lumivane::TClickLabel* Label2 = nullptr;
    lumivane::TFitLabel* Label5 = nullptr;
    QGroupBox* GroupBox4 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button5 = nullptr;
    QPushButton* Button3 = nullptr;
    QPushButton* BitBtn5 = nullptr;
    QGroupBox* GroupBox5 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label10 = nullptr;
    QLabel* Label6 = nullptr;
    QScrollBar* brightness = nullptr;
    QScrollBar* strength = nullptr;
    QScrollBar* jpeg = nullptr;
    QGroupBox* GroupBox3 = nullptr;
    lumivane::TLabeledEdit* bottom = nullptr;
    lumivane::TLabeledEdit* left = nullptr;
    lumivane::TLabeledEdit* right = nullptr;
    lumivane::TLabeledEdit* top = nullptr;
    // The status line and the batch's progress line name files of any
    // length: their text shrinks, then shortens in the middle, to fit.
    lumivane::TFitLabel* status = nullptr;
    QFrame* Panel1 = nullptr;
    lumivane::TImage* img_left = nullptr;
    lumivane::TImage* Image4 = nullptr;
    QFrame* Panel2 = nullptr;
    lumivane::TImage* img_right = nullptr;
    QListWidget* ListBox1 = nullptr;
    QFrame* Logo = nullptr;
    lumivane::THyperLabel* HyperLabel1 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label7 = nullptr;
    QGroupBox* GroupBox6 = nullptr;
    QLabel* Label4 = nullptr;
    QToolButton* SpeedButton1 = nullptr;
    QFrame* Panel7 = nullptr;
    QFrame* Panel3 = nullptr;
    lumivane::TImage* Image3 = nullptr;
    lumivane::TUpDown* UpDown1 = nullptr;
    lumivane::TUpDown* UpDown2 = nullptr;
    lumivane::TImageButton* ImageButton4 = nullptr;
    lumivane::TImageButton* ImageButton5 = nullptr;
    lumivane::TImageButton* ImageButton6 = nullptr;
    QLabel* Panel6 = nullptr;
    QFrame* Panel4 = nullptr;
    QLabel* Label13 = nullptr;
    QPushButton* Button4 = nullptr;
    QFrame* Panel5 = nullptr;
    lumivane::TImage* Image2 = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QLabel* Label11 = nullptr;
    QLabel* Label12 = nullptr;
    QLabel* Label8 = nullptr;
    QLabel* Label9 = nullptr;
    QFrame* Bevel1 = nullptr;
    QPushButton* Button7 = nullptr;
    QPushButton* BitBtn3 = nullptr;
    lumivane::TImageButton* ImageButton1 = nullptr;
    lumivane::TImageButton* ImageButton2 = nullptr;
    lumivane::TImageButton* ImageButton3 = nullptr;
    QFrame* Panel8 = nullptr;
    lumivane::TFitLabel* Label14 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    // The mask folder: the thumbnail's context menu, and in the adjustment
    // panel the smoothing choice and the mask check's verdict.
    QMenu* MaskFolderMenu = nullptr;
    QAction* ChooseMaskFolderItem = nullptr;
    QAction* NoMaskFolderItem = nullptr;
    QAction* LensProfileItem = nullptr;
    QAction* ProfileFallbackItem = nullptr;
    QAction* AdditiveItem = nullptr;
    QAction* ExactItem = nullptr;
    QAction* FalloffAndColourItem = nullptr;
    QAction* FalloffOnlyItem = nullptr;
    QAction* ColourOnlyItem = nullptr;
    // The quality slider's context menu: "Save Images" writes what the
    // slider says, or TIFF.
    QMenu* SaveFormatMenu = nullptr;
    QAction* SliderFormatItem = nullptr;
    QAction* TiffFormatItem = nullptr;
    QCheckBox* SmoothMaskBox = nullptr;
    QLabel* MaskCheckLabel = nullptr;
    TForm2* Form2 = nullptr;
    TBeforeAfterForm* BeforeAfter = nullptr; // made on the first click on img_right

    // The mask offset over the left preview, in preview pixels (the
    // overlay's left and top inside its panel), and the thumbnail's position.
    int Image4Left() const { return flow_.session().OffsetX; }
    int Image4Top() const { return flow_.session().OffsetY; }
    int Image3Left() const { return flow_.session().ThumbLeft; }
    int Image3Top() const { return flow_.session().ThumbTop; }
    // The overlay's hint: the shown photograph's path between single spaces.
    QString Image4Hint() const { return QString::fromStdString(flow_.texts().PhotoHint); }

    // The workflow the window shows: list, photograph, mask and settings.
    lumivane::Workflow& flow() { return flow_; }
    const lumivane::Workflow& flow() const { return flow_; }

    QString settingsFolder() const { return settingsFolder_; }
    lumivane::PlatformServices& services() { return services_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    // Files dragged from a file manager: photographs anywhere, a mask on the
    // mask thumbnail (Unit1Drop).
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    void buildControls();
    void wireHandlers();
    void setUpBeforeAfter();
    void setUpMaskFolder();
    // The window's keys (Unit1Keys): hints, and the filter that sees every
    // key press of every control first.
    void setUpKeys();
    // Runs the button a key of the window stands for; false for any other key.
    bool windowKey(QKeyEvent* event);
    // Opens the help page, or says where it is when nothing can open it.
    void openHelp();
    void showMaskFolderState();
    void setUpSaveFormat();
    void showSaveFormatState();
    // Runs a handler; an error that escapes it is shown by the default
    // error display and the program goes on.
    void guarded(const std::function<void()>& handler);
    // Sets every control's enabled state, caption, colour and picture from
    // the workflow. The one place in the window that enables controls.
    void updateControls();
    // Every handler holds one: the controls show the workflow's state when
    // the handler ends, also when it raises.
    struct ShowState {
        TForm1& form;
        ~ShowState() { form.updateControls(); }
    };
    // Passes the crop fields and sliders to the workflow.
    void readAdjustments();
    // Refills the EXIF window when it is shown.
    void refreshExif();
    // "Load Image(s)" with the files its dialog, the command line or a drop
    // chose (none: the dialog was cancelled).
    void openList(const std::vector<std::string>& files);
    // "Load Mask" with the file its dialog, the command line or a drop chose.
    void loadMaskFile(const std::string& chosen);
    // Opens or refuses the files dropped at `position` (window coordinates);
    // false when the drop was refused.
    bool dropFiles(const QList<QUrl>& urls, const QPoint& position);
    // The quarter turn shared by rot1Click and rot2Click.
    void turnMask(bool clockwise);

    lumivane::PlatformServices& services_;
    QString settingsFolder_;
    lumivane::Workflow flow_;
    // Revisions of the workflow's pictures the controls show.
    unsigned shownOriginal_ = ~0u;
    unsigned shownProcessed_ = ~0u;
    unsigned shownThumbnail_ = ~0u;
    unsigned shownOverlay_ = ~0u;
    unsigned shownPanel_ = ~0u;
    unsigned shownStatus_ = ~0u;
    // The EXIF orientation of the photograph file last shown in the
    // before/after window.
    std::string orientationFile_;
    int orientation_ = 1;
};

// Keyboard filter of the crop fields: digits and control characters pass.
bool leftkeypress(QChar key);

// The filter of both open dialogs (photographs and mask): the program's own
// entry first, then one that also offers the longer names the program
// decodes (.jpeg, .jpe, .tiff).
QString OpenDialogFilter();

// The message shown when no program opens the help page at `url`: it names
// the page's path.
QString HelpMissingMessage(const QString& url);

// The locale's decimal separator as UTF-8 text, for the ratio captions.
std::string DecimalSeparatorOf(const QLocale& locale);

// Sets the text colour of an enabled control; disabled, it is drawn in the
// style's disabled colour.
void SetTextColour(QWidget* w, const QColor& colour);
