// The main window: its controls, the workflow, mask, correction, panel and
// settings state, and the event handlers that drive them.
#pragma once

#include "Bitmap24.h"
#include "CorrectionKernel.h"
#include "ExifTransplant.h"
#include "SavePipeline.h"
#include "HyperLbl.h"
#include "ImageButton4.h"
#include "Picture.h"
#include "Widgets.h"

#include <QGroupBox>
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

class QFrame;

namespace lumivane {
class PlatformServices;
}
class TForm2;
class TBeforeAfterForm;

// Photograph list, the photograph on screen and its working copies.
struct WorkflowState {
    QString CurrentFile;
    QString SourceFile;
    int FileIndex = 0;
    QString OutName;
    QString OutPath;
    std::uint8_t FirstMaskPending = 0;
    std::uint8_t BatchStep = 0;
    std::uint8_t BatchDone = 0;
    QString MaskFile;
    QString LastMaskFile = QStringLiteral("-");
    // The full-size photograph is Image1's bitmap itself (TForm1::PhotoFull);
    // the save corrects it band by band without changing it, so no working
    // copy is kept.
    lumivane::Bitmap24 PhotoPreview;
    // False while no photograph could be decoded: the previews are then
    // neutral and nothing may be corrected or saved.
    bool PhotoPresent = false;
    // False when the last load could not decode its file, so the photograph
    // on screen is still the one before it; such a photograph is not saved
    // under the new file's name.
    bool DecodeOk = false;
};

// The mask as loaded, fitted to the photograph and to the preview, and its
// hotspot.
struct MaskState {
    lumivane::Bitmap24 MaskImage;
    // The mask stretched to the photograph's full size, needed only when the
    // two sizes differ; when they agree MaskImage itself is the full-size
    // mask (TForm1::MaskFull) and this holds nothing.
    lumivane::Bitmap24 MaskStretched;
    bool MaskFullIsImage = true;
    lumivane::Bitmap24 MaskPreview;
    int MaskWidth = 0;
    int MaskHeight = 0;
    bool MaskLoaded = false;
    int HotspotR = 0;
    int HotspotG = 0;
    int HotspotB = 0;
    float MaskCenterX = 0;
    float MaskCenterY = 0;
    int HotspotX = 160;
    int HotspotY = 120;
    int MarkerX = 160;
    int MarkerY = 120;
    int MaskAngle = 0;
    bool HotspotPicked = false;
    bool StoredHotspotPending = false;
};

// What the last preview pass derived from the sliders.
struct CorrectionState {
    float Damping = 25.01f;
    int TargetR = 0;
    int TargetG = 0;
    int TargetB = 0;
};

// The hotspot panel.
struct PanelState {
    std::uint8_t PickedR = 0;
    std::uint8_t PickedG = 0;
    std::uint8_t PickedB = 0;
    int MouseX = 0;
    int MouseY = 0;
    lumivane::Bitmap24 PanelMask;
    lumivane::Bitmap24 PanelSnapshot;
    bool RotateClockwise = false;
};

// Values read from defaults.ini at start-up.
struct SettingsState {
    QString IniBrightness = QStringLiteral("25");
    QString IniStrength = QStringLiteral("0");
    QString IniQuality = QStringLiteral("90");
    QString DefaultMask;
};

class TForm1 : public QWidget {
    Q_OBJECT
public:
    // `services` must outlive the window. `programFolder` is where
    // defaults.ini and default_mask.bmp live (the executable's folder).
    TForm1(lumivane::PlatformServices& services, const QString& programFolder, QWidget* parent = nullptr);
    ~TForm1() override;

    // ---- Handlers (named after the control and event they serve) ----
    void change_color();
    void Button1Click(QObject* Sender);
    void change();
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
    void Button9Click();
    void BitBtn7Click();
    void showexif();
    // Opens the before/after window, or brings it to the front.
    void img_rightClick();
    // Hands the photograph, mask and settings to the before/after window,
    // when it exists; called at the end of every preview pass and load.
    void refreshBeforeAfter() noexcept;

    // Mask operations called from several handlers.
    void LoadMask() { Button3Click(); }
    void RefitMask();
    void UpdateMaskRatioLabel();
    void SampleCentreLevels();
    void ResetHotspot();
    void DrawMaskOverlay(int x, int y);

    // The unprocessed photograph at full size (Image1's bitmap; empty while
    // Image1 holds none).
    const lumivane::Bitmap24& PhotoFull() const;
    // The mask at the photograph's full size, the mask of the save.
    const lumivane::Bitmap24& MaskFull() const;

    // ---- Controls, by their form names ----
    lumivane::TImageHolder Image1;
    lumivane::TImageHolder tifmask;
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
    QLabel* status = nullptr;
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
    QLabel* Label14 = nullptr;
    QProgressBar* ProgressBar1 = nullptr;
    TForm2* Form2 = nullptr;
    TBeforeAfterForm* BeforeAfter = nullptr; // made on the first click on img_right

    // The mask offset over the left preview, in preview pixels (the
    // overlay's left and top inside its panel).
    int Image4Left() const { return image4Left_; }
    int Image4Top() const { return image4Top_; }
    void setImage4Pos(int left, int top);
    // The four crop fields read as margins (throws on a field that is not
    // a 32-bit integer).
    lumivane::CropMargins cropMargins() const;
    int Image3Left() const { return image3Left_; }
    int Image3Top() const { return image3Top_; }
    void setImage3Pos(int left, int top);
    // The overlay's hint: the shown photograph's path between single spaces.
    QString Image4Hint() const { return image4Hint_; }

    // ---- State ----
    WorkflowState workflow;
    MaskState mask;
    CorrectionState correction;
    PanelState panel;
    SettingsState settings;

    QString programFolder() const { return programFolder_; }
    lumivane::PlatformServices& services() { return services_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    void buildControls();
    void wireHandlers();
    void setUpBeforeAfter();
    // Runs a handler; an error that escapes it is shown by the default
    // error display and the program goes on.
    void guarded(const std::function<void()>& handler);
    void loadPhotograph();
    void decodePhotograph(const QString& path);
    void showEmptyPhotograph();
    // Shows a mask file in the thumbnail before any photograph gives it a
    // size (JPEG or BMP; raises when the file cannot be read).
    void showMaskThumbnail(const QString& path);
    // Fits the loaded mask to a photograph of width x height: the full-size
    // mask and the thumbnail Image3, which holds a picture of its own size.
    void fitMask(int width, int height);
    void readSettingsAtStart();
    void applyStoredSliders();
    void setNavigationEnabled(bool previous, bool next);
    void setScrollPosition(QScrollBar* bar, int position);
    bool saveOnePass(int pass, int listLength, QString& folder, std::uint32_t startTime);
    void finishSaveAfterError();
    QString writeOutput(const lumivane::CorrectionRegion& region, const lumivane::CorrectionTargets& targets,
                        const QString& batchFolder, std::uint32_t startTime);
    void drawPanelCross(int x, int y);
    // The quarter turn shared by rot1Click and rot2Click.
    void turnMask(bool clockwise);

    lumivane::PlatformServices& services_;
    QString programFolder_;
    // Decoders write the next photograph here; on success it is exchanged
    // with Image1's bitmap, so a failed decode leaves the shown photograph
    // alone and the two blocks are reused from one photograph to the next.
    lumivane::Bitmap24 spareBitmap_;
    // Its band and output buffers are kept from one save to the next.
    lumivane::SavePipeline savePipeline_;
    QString image4Hint_;
    int image4Left_ = 0;
    int image4Top_ = 0;
    int image3Left_ = 1;
    int image3Top_ = 1;
};

// Keyboard filter of the crop fields: digits and control characters pass.
bool leftkeypress(QChar key);
