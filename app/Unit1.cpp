// SPDX-License-Identifier: GPL-3.0-or-later
// The main window: building its controls, wiring their events and start-up.
#include "Unit1.h"

#include "HelpPage.h"
#include "LumivaneResources.h"
#include "PlatformServices.h"
#include "Unit2.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFrame>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPixmapCache>
#include <algorithm>

using namespace lumivane;

namespace {

// Kibibytes of drawn-control pixmaps the style may keep (see the constructor).
constexpr int kStylePixmapCacheKiB = 512;

const QColor kSkyBlue(166, 202, 240);

QFrame* makePanel(QWidget* parent, int l, int t, int w, int h, QFrame::Shape shape, QFrame::Shadow shadow)
{
    auto* frame = new QFrame(parent);
    frame->setFrameShape(shape);
    frame->setFrameShadow(shadow);
    frame->setGeometry(l, t, w, h);
    return frame;
}

void setBackground(QWidget* w, const QColor& colour)
{
    QPalette p = w->palette();
    p.setColor(QPalette::Window, colour);
    w->setPalette(p);
    w->setAutoFillBackground(true);
}

QLabel* makeLabel(QWidget* parent, const QString& text, int l, int t, int w, int h,
                  Qt::Alignment align = Qt::AlignLeft | Qt::AlignTop)
{
    auto* label = new QLabel(text, parent);
    label->setGeometry(l, t, w, h);
    label->setAlignment(align);
    return label;
}

QPushButton* makeButton(QWidget* parent, const QString& text, int l, int t, int w, int h, const QString& hint = {})
{
    auto* button = new QPushButton(text, parent);
    button->setGeometry(l, t, w, h);
    if (!hint.isEmpty())
        button->setToolTip(hint);
    return button;
}

QScrollBar* makeScrollBar(QWidget* parent, int l, int t, int w, int h, int minimum, int maximum, int position)
{
    auto* bar = new QScrollBar(Qt::Horizontal, parent);
    bar->setGeometry(l, t, w, h);
    bar->setRange(minimum, maximum);
    bar->setSingleStep(1);
    bar->setPageStep(1);
    bar->setValue(position);
    // Qt's scroll bars never take the focus; these are controls the user
    // reaches with Tab and moves with the arrow keys.
    bar->setFocusPolicy(Qt::StrongFocus);
    return bar;
}

// A picture button: grey picture, coloured under the pointer, and a pale
// one while disabled when given.
TImageButton* makeImageButton(QWidget* parent, int l, int t, int w, int h, const QString& hint, const char* picture,
                              const char* over, const char* disabled = nullptr)
{
    auto* button = new TImageButton(parent);
    button->setGeometry(l, t, w, h);
    button->setToolTip(hint);
    button->setPicture(QImage(QString::fromLatin1(picture)));
    button->setPictureOver(QImage(QString::fromLatin1(over)));
    if (disabled)
        button->setPictureDisabled(QImage(QString::fromLatin1(disabled)));
    return button;
}

QIcon glyph(const QImage& image)
{
    return QIcon(QPixmap::fromImage(TransparentCopy(image)));
}

} // namespace

std::string DecimalSeparatorOf(const QLocale& locale)
{
    // Qt gives the separator as text; it may lie outside Latin-1 (U+066B).
    return locale.decimalPoint().toStdString();
}

bool leftkeypress(QChar key)
{
    return (key >= QLatin1Char('0') && key <= QLatin1Char('9')) || key.unicode() < 32;
}

TForm1::TForm1(PlatformServices& services, const QString& settingsFolder, QWidget* parent)
    : QWidget(parent), services_(services), settingsFolder_(settingsFolder),
      flow_(settingsFolder.toStdString(), DecimalSeparatorOf(QLocale::system()))
{
    InitLumivaneResources();
    // The style keeps pixmaps of drawn controls in Qt's global cache, keyed
    // among other things by the palettes the captions change to; with Qt's
    // default limit (10 MiB) resident memory climbs for hundreds of
    // photographs before the cache starts dropping entries. This fixed-size
    // window's controls need far less.
    QPixmapCache::setCacheLimit(kStylePixmapCacheKiB);
    setWindowTitle(QStringLiteral(" Lumivane"));
    QIcon icon;
    for (const char* file : {artwork::kIcon16, artwork::kIcon32, artwork::kIcon48})
        icon.addFile(QString::fromLatin1(file));
    setWindowIcon(icon);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setFixedSize(597, 427);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    setFont(font);
    setAcceptDrops(true);
    buildControls();
    wireHandlers();
    setUpBeforeAfter();
    setUpMaskFolder();
    setUpSaveFormat();
    Form2 = new TForm2(this);
    change_color();
    setUpKeys();
    updateControls();
}

TForm1::~TForm1() = default;

void TForm1::buildControls()
{
    Label2 = new TClickLabel(QStringLiteral("Original Image (empty)"), this);
    Label2->setGeometry(6, 8, 287, 17);
    Label2->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    Label5 = new TFitLabel(QStringLiteral("Processed Image (empty)"), this);
    Label5->setGeometry(304, 8, 289, 17);
    Label5->setAlignment(Qt::AlignHCenter | Qt::AlignTop);

    GroupBox4 = new QGroupBox(QStringLiteral(" Actions "), this);
    GroupBox4->setGeometry(496, 252, 97, 149);
    Button1 = makeButton(GroupBox4, QStringLiteral("&Open Image(s)"), 23, 18, 26, 25,
                         QStringLiteral(" Open image(s). Multiselection allowed."));
    Button1->hide();
    Button2 = makeButton(GroupBox4, QStringLiteral("&Save Image"), 7, 82, 82, 25, QStringLiteral(" Save processed image(s) "));
    Button5 = makeButton(GroupBox4, QStringLiteral("&Quit"), 7, 114, 82, 25);
    Button3 = makeButton(GroupBox4, QStringLiteral("Load &Mask"), 7, 50, 82, 25);
    BitBtn5 = makeButton(GroupBox4, QStringLiteral("Load Image(s)"), 7, 18, 82, 25);

    GroupBox5 = new QGroupBox(QStringLiteral(" Adjustments "), this);
    GroupBox5->setGeometry(293, 252, 198, 149);
    Label1 = makeLabel(GroupBox5, QStringLiteral("Brightness: 0%"), 2, 41, 193, 13, Qt::AlignHCenter | Qt::AlignTop);
    Label10 = makeLabel(GroupBox5, QStringLiteral("Vignetting reduction boost: 0%"), 2, 84, 193, 13,
                        Qt::AlignHCenter | Qt::AlignTop);
    Label6 = makeLabel(GroupBox5, QStringLiteral("Image quality: 0%"), 6, 131, 185, 13, Qt::AlignHCenter | Qt::AlignTop);
    brightness = makeScrollBar(GroupBox5, 10, 20, 177, 16, 0, 50, 25);
    strength = makeScrollBar(GroupBox5, 10, 60, 177, 17, 0, 100, 0);
    strength->setToolTip(QStringLiteral(" Adjust vignetting reduction algorithm strength "));
    jpeg = makeScrollBar(GroupBox5, 10, 104, 177, 17, 1, kBmpQuality, 90);

    GroupBox3 = new QGroupBox(QStringLiteral(" Crop "), this);
    GroupBox3->setGeometry(110, 252, 178, 83);
    bottom = new TLabeledEdit(GroupBox3, QStringLiteral(" Bottom"), TLabeledEdit::LabelSide::Right);
    bottom->placeAt(88, 51, 41, 21);
    left = new TLabeledEdit(GroupBox3, QStringLiteral("Left "), TLabeledEdit::LabelSide::Left);
    left->placeAt(32, 51, 41, 21);
    right = new TLabeledEdit(GroupBox3, QStringLiteral(" Right"), TLabeledEdit::LabelSide::Right);
    right->placeAt(88, 20, 41, 21);
    top = new TLabeledEdit(GroupBox3, QStringLiteral("Top "), TLabeledEdit::LabelSide::Left);
    top->placeAt(32, 20, 41, 21);
    for (TLabeledEdit* edit : {bottom, left, right, top}) {
        edit->setText(QStringLiteral("0"));
        edit->installEventFilter(this);
    }

    status = new TFitLabel(QStringLiteral("status"), this);
    status->setGeometry(4, 406, 589, 18);
    status->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    setBackground(status, kSkyBlue);

    const QColor inactiveCaption(215, 228, 242);
    Panel1 = makePanel(this, 4, 28, 293, 220, QFrame::Box, QFrame::Plain);
    setBackground(Panel1, inactiveCaption);
    img_left = new TImage(Panel1);
    img_left->setStretch(true);
    img_left->setGeometry(2, 2, 289, 216);
    img_left->bitmap().reset(kPreviewWidth, kPreviewHeight);
    Image4 = new TImage(Panel1);
    Image4->setTransparent(true);
    Image4->setGeometry(2, 2, 289, 216);
    Image4->bitmap().reset(290, 217);
    Image4->bitmap().setPixel(145, 108, kPureBlue);
    Image4->pictureChanged();
    Panel2 = makePanel(this, 300, 28, 293, 220, QFrame::Box, QFrame::Plain);
    setBackground(Panel2, inactiveCaption);
    img_right = new TImage(Panel2);
    img_right->setStretch(true);
    img_right->setGeometry(2, 2, 289, 216);
    img_right->bitmap().reset(kPreviewWidth, kPreviewHeight);

    ListBox1 = new QListWidget(this);
    ListBox1->setGeometry(128, 368, 137, 25);
    ListBox1->hide();

    Logo = makePanel(this, 102, 341, 186, 59, QFrame::NoFrame, QFrame::Plain);
    HyperLabel1 = new THyperLabel(QStringLiteral("Help, hints and how-to"), Logo);
    HyperLabel1->setGeometry(30, 40, 134, 13);
    HyperLabel1->setAlignment(Qt::AlignRight | Qt::AlignTop);
    HyperLabel1->setURL(HelpPageUrl());
    HyperLabel1->setHyperColour(QColor(255, 0, 0));
    HyperLabel1->setPressedColour(QColor(128, 0, 128));
    HyperLabel1->setPlatformServices(&services_);
    HyperLabel1->setToolTip(QStringLiteral(" Go there for on-line help, hints etc. "));
    Label3 = makeLabel(Logo, QStringLiteral("Provided as is, no warranty."), 15, 22, 163, 13);
    Label7 = makeLabel(Logo, QStringLiteral("Lumivane 1.0 (December 2026)"), 6, 5, 178, 13);

    GroupBox6 = new QGroupBox(QStringLiteral(" Mask "), this);
    GroupBox6->setGeometry(4, 252, 101, 149);
    Label4 = makeLabel(GroupBox6, QStringLiteral("None"), 3, 96, 94, 13, Qt::AlignHCenter | Qt::AlignTop);
    // The group's caption turns red for a mask of another ratio; the file
    // name below it stays black (Panel6, made below, as well).
    SetTextColour(Label4, Qt::black);
    SpeedButton1 = new QToolButton(GroupBox6);
    SpeedButton1->setGeometry(78, 71, 15, 15);
    SpeedButton1->setToolTip(QStringLiteral(" Center Mask "));
    SpeedButton1->setAutoRaise(true);
    SpeedButton1->setFocusPolicy(Qt::NoFocus);
    SpeedButton1->setIcon(glyph(QImage(QString::fromLatin1(artwork::kCentreDot))));
    SpeedButton1->setIconSize(QSize(11, 11));
    Panel7 = makePanel(GroupBox6, 6, 116, 89, 25, QFrame::Panel, QFrame::Raised);
    Panel3 = makePanel(GroupBox6, 10, 20, 68, 51, QFrame::Panel, QFrame::Sunken);
    setBackground(Panel3, kSkyBlue);
    Image3 = new TImage(Panel3);
    Image3->setStretch(true);
    Image3->setGeometry(1, 1, 66, 49);
    Image3->setToolTip(QStringLiteral(" Rotation Angle: 0\u00B0 "));
    UpDown1 = new TUpDown(GroupBox6, Qt::Vertical, 0, 300, 150);
    UpDown1->setGeometry(77, 20, 16, 50);
    UpDown1->setToolTip(QStringLiteral(" Move Mask up/down "));
    UpDown2 = new TUpDown(GroupBox6, Qt::Horizontal, 0, 300, 150);
    UpDown2->setGeometry(10, 70, 67, 16);
    UpDown2->setToolTip(QStringLiteral(" Move Mask left/right "));
    ImageButton4 = makeImageButton(GroupBox6, 11, 120, 18, 18, QStringLiteral(" Adjust Mask "), artwork::kGearGrey,
                                   artwork::kGearGold);
    ImageButton5 = makeImageButton(GroupBox6, 39, 121, 18, 18, QStringLiteral(" Rotate Counterclockwise "),
                                   artwork::kRotateLeftGrey, artwork::kRotateLeftGreen);
    ImageButton6 = makeImageButton(GroupBox6, 67, 121, 18, 18, QStringLiteral(" Rotate Clockwise "),
                                   artwork::kRotateRightGrey, artwork::kRotateRightGreen);
    Panel6 = new QLabel(QStringLiteral("---"), GroupBox6);
    Panel6->setGeometry(6, 115, 89, 27);
    Panel6->setAlignment(Qt::AlignCenter);
    Panel6->setFrameStyle(QFrame::Panel | QFrame::Raised);
    Panel6->setAutoFillBackground(true);
    SetTextColour(Panel6, Qt::black);

    Panel4 = makePanel(this, 88, 88, 417, 245, QFrame::Panel, QFrame::Raised);
    Panel4->setAutoFillBackground(true);
    Label13 = makeLabel(Panel4, QStringLiteral("Rotation:"), 338, 124, 60, 13);
    Button4 = makeButton(Panel4, QStringLiteral("S&tore"), 336, 174, 38, 25);
    Panel5 = makePanel(Panel4, 2, 2, 321, 241, QFrame::Panel, QFrame::Sunken);
    Image2 = new TImage(Panel5);
    Image2->setGeometry(1, 1, 320, 240);
    Image2->setToolTip(QStringLiteral(" Click on image to set new Hotspot "));
    Image2->setCursor(Qt::CrossCursor);
    Image2->setMouseTracking(true);
    GroupBox1 = new QGroupBox(QStringLiteral(" Hotspot "), Panel4);
    GroupBox1->setGeometry(328, 8, 81, 105);
    QFont fixed = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    // "R: 255 (255)" has to fit the 72 pixels left of the group's border.
    fixed.setPixelSize(10);
    Label11 = makeLabel(GroupBox1, QStringLiteral("Label11"), 5, 54, 74, 13);
    Label12 = makeLabel(GroupBox1, QStringLiteral("Label12"), 5, 82, 74, 13);
    Label8 = makeLabel(GroupBox1, QStringLiteral("Label8"), 5, 18, 74, 13);
    Label9 = makeLabel(GroupBox1, QStringLiteral("Label9"), 5, 36, 74, 13);
    for (QLabel* l : {Label11, Label12, Label8, Label9})
        l->setFont(fixed);
    Bevel1 = makePanel(GroupBox1, 7, 72, 65, 2, QFrame::HLine, QFrame::Sunken);
    Button7 = makeButton(Panel4, QStringLiteral("OK"), 336, 208, 65, 25, QStringLiteral(" Apply current setting "));
    Button7->setDefault(true);
    BitBtn3 = makeButton(Panel4, QString(), 375, 174, 25, 25, QStringLiteral(" Free default mask "));
    {
        // Two glyphs side by side: the red cross, and the grey outline
        // cross shown while the button is disabled.
        const QImage glyphs(QString::fromLatin1(artwork::kFreeMaskGlyph));
        QIcon icon = glyph(glyphs.copy(0, 0, 18, 18));
        icon.addPixmap(QPixmap::fromImage(TransparentCopy(glyphs.copy(18, 0, 18, 18))), QIcon::Disabled);
        BitBtn3->setIcon(icon);
        BitBtn3->setIconSize(QSize(18, 18));
    }
    Panel4->hide();

    ImageButton1 = makeImageButton(this, 5, 8, 18, 18, QStringLiteral(" Previous Image "), artwork::kPreviousGrey,
                                   artwork::kPreviousGreen, artwork::kPreviousDisabled);
    ImageButton2 = makeImageButton(this, 280, 8, 18, 18, QStringLiteral(" Next Image "), artwork::kNextGrey,
                                   artwork::kNextGreen, artwork::kNextDisabled);
    ImageButton3 = makeImageButton(this, 260, 8, 18, 18, QStringLiteral(" EXIF Information "), artwork::kInfoGrey,
                                   artwork::kInfoBlue);
    // The centred caption above the original preview keeps clear of the
    // previous-image arrow on its left and the EXIF button on its right.
    const int captionCentre = Label2->x() + Label2->width() / 2;
    Label2->setFreeWidth(2 * std::min(captionCentre - (ImageButton1->x() + ImageButton1->width()),
                                      ImageButton3->x() - captionCentre));

    Panel8 = makePanel(this, 144, 128, 313, 105, QFrame::Panel, QFrame::Raised);
    Panel8->setAutoFillBackground(true);
    Label14 = new TFitLabel(QStringLiteral("Processing..."), Panel8);
    Label14->setGeometry(24, 64, 265, 25);
    Label14->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    ProgressBar1 = new QProgressBar(Panel8);
    ProgressBar1->setGeometry(24, 24, 265, 25);
    ProgressBar1->setRange(0, 100);
    ProgressBar1->setValue(0);
    ProgressBar1->setTextVisible(false);
    Panel8->hide();
}

void TForm1::guarded(const std::function<void()>& handler)
{
    try {
        handler();
    } catch (const std::exception& e) {
        services_.setBusyCursor(false);
        services_.showError(this, QString::fromUtf8(e.what()));
    }
}

void TForm1::wireHandlers()
{
    connect(BitBtn5, &QPushButton::clicked, this, [this] { guarded([this] { Button1Click(BitBtn5); }); });
    connect(Button1, &QPushButton::clicked, this, [this] { guarded([this] { Button1Click(Button1); }); });
    connect(Label2, &TClickLabel::clicked, this, [this] { guarded([this] { Button1Click(Label2); }); });
    for (TImageButton* nav : {ImageButton1, ImageButton2})
        connect(nav, &TImageButton::clicked, this, [this, nav] { guarded([this, nav] { Button1Click(nav); }); });
    connect(Button2, &QPushButton::clicked, this, [this] { guarded([this] { Button2Click(); }); });
    connect(Button3, &QPushButton::clicked, this, [this] { guarded([this] { Button3Click(); }); });
    connect(Button5, &QPushButton::clicked, this, [this] { guarded([this] { Button5aClick(); }); });
    connect(brightness, &QScrollBar::valueChanged, this, [this] { guarded([this] { brightnessChange(); }); });
    connect(strength, &QScrollBar::valueChanged, this, [this] { guarded([this] { brightnessChange(); }); });
    connect(jpeg, &QScrollBar::valueChanged, this, [this] { guarded([this] { jpegChange(); }); });
    for (TLabeledEdit* edit : {left, top, right, bottom})
        connect(edit, &QLineEdit::textChanged, this, [this] { guarded([this] { brightnessChange(); }); });
    connect(Button4, &QPushButton::clicked, this, [this] { guarded([this] { Button4Click(); }); });
    connect(BitBtn3, &QPushButton::clicked, this, [this] { guarded([this] { BitBtn3Click(); }); });
    connect(Button7, &QPushButton::clicked, this, [this] { guarded([this] { BitBtn1Click(); }); });
    connect(Image2, &TImage::clicked, this, [this] { guarded([this] { image2Click(); }); });
    connect(Image2, &TImage::mouseMoved, this, [this](int x, int y) { guarded([=, this] { FormMouseMove(x, y); }); });
    connect(UpDown1, &TUpDown::clicked, this, [this] { guarded([this] { UpDown1Click(); }); });
    connect(UpDown2, &TUpDown::clicked, this, [this] { guarded([this] { UpDown2Click(); }); });
    connect(SpeedButton1, &QToolButton::clicked, this, [this] { guarded([this] { SpeedButton1Click(); }); });
    connect(ImageButton4, &TImageButton::clicked, this, [this] { guarded([this] { Button6Click(); }); });
    connect(ImageButton5, &TImageButton::clicked, this, [this] { guarded([this] { rot1Click(); }); });
    connect(ImageButton6, &TImageButton::clicked, this, [this] { guarded([this] { rot2Click(); }); });
    connect(ImageButton3, &TImageButton::clicked, this, [this] { guarded([this] { BitBtn7Click(); }); });
    for (QScrollBar* bar : {brightness, strength, jpeg})
        bar->installEventFilter(this);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::KeyPress && watched->isWidgetType() &&
        static_cast<QWidget*>(watched)->window() == this && windowKey(static_cast<QKeyEvent*>(event)))
        return true;
    if (event->type() == QEvent::KeyPress) {
        for (TLabeledEdit* edit : {left, top, right, bottom}) {
            if (watched != edit)
                continue;
            const QString text = static_cast<QKeyEvent*>(event)->text();
            // Keys without text (arrows, Home, shortcuts) are not typed characters.
            if (!text.isEmpty() && !leftkeypress(text.at(0)))
                return true;
        }
    }
    if (event->type() == QEvent::KeyPress) {
        // Qt's scroll bars leave the arrow keys to a surrounding scroll area;
        // these stand alone, so the arrows, Home and End move them as on
        // any desktop.
        for (QScrollBar* bar : {brightness, strength, jpeg}) {
            if (watched != bar || !bar->isEnabled())
                continue;
            switch (static_cast<QKeyEvent*>(event)->key()) {
            case Qt::Key_Left:
            case Qt::Key_Up:
                bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
                return true;
            case Qt::Key_Right:
            case Qt::Key_Down:
                bar->triggerAction(QAbstractSlider::SliderSingleStepAdd);
                return true;
            case Qt::Key_Home:
                bar->triggerAction(QAbstractSlider::SliderToMinimum);
                return true;
            case Qt::Key_End:
                bar->triggerAction(QAbstractSlider::SliderToMaximum);
                return true;
            default:
                break;
            }
        }
    }
    if (watched == brightness && event->type() == QEvent::FocusOut)
        guarded([this] { brightnessChange(); });
    return QWidget::eventFilter(watched, event);
}

void TForm1::keyPressEvent(QKeyEvent* event)
{
    if (windowKey(event))
        return;
    // Esc stops a running "Save Images" after the photographs in progress.
    if (event->key() == Qt::Key_Escape && flow_.session().BatchRunning) {
        flow_.RequestStop();
        return;
    }
    // Enter presses "OK" while the adjustment panel is shown and no other
    // push button has the focus. While the panel is hidden the key does not
    // reach "OK".
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && Panel4->isVisible() &&
        Button7->isEnabled()) {
        auto* focused = qobject_cast<QPushButton*>(focusWidget());
        if (!focused || focused == Button7) {
            Button7->click();
            return;
        }
    }
    QWidget::keyPressEvent(event);
}

void TForm1::change_color()
{
    // Start-up: hints and the settings.
    Button4->setToolTip(QStringLiteral(" Set current mask as default one. It will be \r\n"
                                       " automagically loaded when you open first image"));
    jpeg->setToolTip(QStringLiteral(" Set the output image compression level. Move it to the \r\n"
                                    " rightmost position to save uncompressed (BMP) image."));
    for (const std::string& error : flow_.ReadSettingsAtStart())
        services_.showError(this, QString::fromStdString(error));
}

void TForm1::Button5aClick()
{
    close();
    if (Form2)
        Form2->close();
}
