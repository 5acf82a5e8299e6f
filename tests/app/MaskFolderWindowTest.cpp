// SPDX-License-Identifier: GPL-3.0-or-later
// The mask folder in the main window: chosen through the thumbnail's menu
// and the folder dialog, each photograph stepped to gets its mask, the
// status line says which or that none matches, a mask loaded by hand turns
// matching off, lumivane.ini brings the folder back at the next start, and the
// adjustment panel shows the mask check and "smooth mask".
#include "WindowFixture.h"

#include "CameraExif.h"
#include "BmpCodec.h"
#include "CorrectionKernel.h"
#include "MaskFolder.h"
#include "ProgramSettings.h"
#include "Unit2.h"

#include <QAction>
#include <QCheckBox>
#include <QMenu>
#include <QTest>

using namespace lumivane;
using namespace lumivane::testing;

namespace {

struct Shot {
    const char* name;
    double fNumber;
    int centre; // of the mask taken at that aperture
};

const Shot kShots[] = {{"f4", 4, 200}, {"f8", 8, 180}, {"f16", 16, 160}};

} // namespace

class MaskFolderWindowTest : public QObject {
    Q_OBJECT

    // Masks f4.jpg, f8.jpg, f16.jpg in masks/, photographs f4.jpg ... in
    // the fixture's folder plus one of another camera.
    QStringList prepare(WindowFixture& f)
    {
        QDir().mkpath(f.path(QStringLiteral("masks")));
        QStringList photos;
        for (const Shot& s : kShots) {
            const QString name = QString::fromLatin1(s.name) + QStringLiteral(".jpg");
            WriteCameraJpeg(f.path(QStringLiteral("masks/") + name).toStdString(),
                            vignetteMask(120, 80, s.centre, s.centre, s.centre), Camera("Canon", "EOS 5D", s.fNumber, 50));
            photos << f.path(name);
            WriteCameraJpeg(photos.back().toStdString(), gradientPhoto(120, 80), Camera("Canon", "EOS 5D", s.fNumber, 50));
        }
        photos << f.path(QStringLiteral("other.jpg"));
        WriteCameraJpeg(photos.back().toStdString(), gradientPhoto(120, 80), Camera("NIKON", "D700", 5.6, 35));
        return photos;
    }

    void chooseFolder(WindowFixture& f)
    {
        f.services.folderAnswers.push_back(f.path(QStringLiteral("masks")));
        f.form().ChooseMaskFolderItem->trigger();
    }

private slots:
    void folderFromTheMenu_EachPhotographGetsItsMask()
    {
        WindowFixture f;
        const QStringList photos = prepare(f);
        TForm1& form = f.start();
        QVERIFY(!form.NoMaskFolderItem->isEnabled());
        chooseFolder(f);
        QCOMPARE(f.services.folderRequests.back().title, QStringLiteral(" Choose Mask Folder"));
        QVERIFY(form.NoMaskFolderItem->isEnabled());
        f.open(photos);

        const char* statuses[] = {
            " Showing f4.jpg [1 of 4] with mask f4.jpg",
            " Showing f8.jpg [2 of 4] with mask f8.jpg",
            " Showing f16.jpg [3 of 4] with mask f16.jpg",
            " Showing other.jpg [4 of 4]; no mask of the folder matches NIKON D700, F5.6, 35 mm.",
        };
        const char* labels[] = {"f4.jpg", "f8.jpg", "f16.jpg", "f16.jpg"};
        for (int i = 0; i < 4; ++i) {
            QCOMPARE(form.status->text(), QString::fromLatin1(statuses[i]));
            QCOMPARE(form.Label4->text(), QString::fromLatin1(labels[i]));
            // The EXIF window describes the mask chosen.
            QCOMPARE(QString::fromStdString(form.flow().photos().LastMaskFile),
                     f.path(QStringLiteral("masks/") + QString::fromLatin1(labels[i])));
            QVERIFY(form.img_right->bitmap() == expectedPreview(form));
            if (i < 3)
                form.Button1Click(form.ImageButton2);
        }
        // The sliders came on with the first mask, without a "Load Mask".
        QVERIFY(form.brightness->isEnabled());
        QCOMPARE(f.services.openRequests.size(), std::size_t(1));
    }

    void manualLoad_TurnsMatchingOff_AndNoFolderToo()
    {
        WindowFixture f;
        const QStringList photos = prepare(f);
        TForm1& form = f.start();
        chooseFolder(f);
        f.open(photos);
        const QString own = f.writeBmp(QStringLiteral("own.bmp"), vignetteMask(120, 80, 150, 150, 150));
        f.loadMask(own);
        QCOMPARE(f.services.openRequests.back().title, QStringLiteral(" Open Mask"));
        QVERIFY(!form.NoMaskFolderItem->isEnabled());
        form.Button1Click(form.ImageButton2);
        QCOMPARE(form.Label4->text(), QStringLiteral("own.bmp"));
        QCOMPARE(form.status->text(), QStringLiteral(" Showing f8.jpg [2 of 4]"));
        QCOMPARE(ReadProgramSettingsFile((f.programDir() + QStringLiteral("/lumivane.ini")).toStdString()).masks.folder,
                 std::string());

        chooseFolder(f);
        QCOMPARE(form.Label4->text(), QStringLiteral("f8.jpg"));
        form.NoMaskFolderItem->trigger();
        QVERIFY(!form.flow().MaskMatchingOn());
        form.Button1Click(form.ImageButton2);
        QCOMPARE(form.Label4->text(), QStringLiteral("f8.jpg")); // the mask in use stays
    }

    void cancelledDialog_ChangesNothing()
    {
        WindowFixture f;
        TForm1& form = f.start();
        f.services.folderAnswers.push_back(QString());
        form.ChooseMaskFolderItem->trigger();
        QVERIFY(!form.flow().MaskMatchingOn());
        QVERIFY(!QFile::exists(f.programDir() + QStringLiteral("/lumivane.ini")));
    }

    void lumivaneIni_WrittenAndReadAtTheNextStart()
    {
        WindowFixture f;
        const QStringList photos = prepare(f);
        f.start();
        chooseFolder(f);
        f.form().SmoothMaskBox->setEnabled(true);
        f.form().SmoothMaskBox->click();
        QCOMPARE(fileBytes(f.programDir() + QStringLiteral("/lumivane.ini")),
                 QByteArray("method=additive\r\ncolour=both\r\nmask_folder=") + f.path(QStringLiteral("masks")).toUtf8() +
                     "\r\nsmooth_mask=1\r\n");
        QVERIFY(!QFile::exists(f.programDir() + QStringLiteral("/defaults.ini")));

        f.restart();
        TForm1& form = f.form();
        QVERIFY(form.flow().MaskMatchingOn());
        QVERIFY(form.SmoothMaskBox->isChecked());
        f.open({photos[1]});
        QCOMPARE(form.Label4->text(), QStringLiteral("f8.jpg"));
        QCOMPARE(form.flow().mask().MaskImage, SmoothMask(DecodeMaskFile(
                                                 f.path(QStringLiteral("masks/f8.jpg")).toStdString(), false)));
    }

    void lensProfile_FromTheMenu_LabelHintStatusMethodAndExifWindow()
    {
        WindowFixture f;
        const QString zoom = f.path(QStringLiteral("zoom.jpg"));
        WriteCameraJpeg(zoom.toStdString(), gradientPhoto(120, 80),
                        Camera("Canon", "Canon EOS 5D Mark II", 4, 24, "EF24-105mm f/4L IS USM"));
        const QString bare = f.path(QStringLiteral("bare.jpg"));
        WriteCameraJpeg(bare.toStdString(), gradientPhoto(120, 80), CameraExif{});
        TForm1& form = f.start();
        QVERIFY(form.MaskFolderMenu->actions().contains(form.LensProfileItem));
        QCOMPARE(form.LensProfileItem->text(), QStringLiteral("Mask from lens profile"));
        QVERIFY(!form.LensProfileItem->isEnabled()); // no photograph yet
        f.open({zoom, bare});
        QVERIFY(form.LensProfileItem->isEnabled());
        QVERIFY(form.AdditiveItem->isChecked());

        form.LensProfileItem->trigger();
        QCOMPARE(form.status->text(), QStringLiteral(" Lens profile: exact correction used"));
        QCOMPARE(form.Label4->text(), QStringLiteral("Lens profile"));
        QCOMPARE(form.Label4->toolTip(), QStringLiteral(" Canon EF 24-105mm f/4L IS USM, 24 mm, F4 "));
        QVERIFY(form.ExactItem->isChecked());
        QVERIFY(form.brightness->isEnabled());
        QVERIFY(!(form.img_right->bitmap() == form.img_left->bitmap())); // the preview is corrected
        form.BitBtn7Click();
        QCOMPARE(form.Form2->cellText(0, 2),
                 QStringLiteral("Lens profile: Canon EF 24-105mm f/4L IS USM, 24 mm, F4"));

        // The next photograph has no profile: the status says so, the mask stays.
        form.Button1Click(form.ImageButton2);
        QCOMPARE(form.status->text(),
                 QStringLiteral(" Showing bare.jpg [2 of 2]; No lens profile for unknown camera / unknown lens"));
        QCOMPARE(form.Label4->text(), QStringLiteral("Lens profile"));

        // The folder's fallback is a checkable item kept in lumivane.ini.
        QVERIFY(!form.ProfileFallbackItem->isChecked());
        form.ProfileFallbackItem->trigger();
        QVERIFY(form.ProfileFallbackItem->isChecked());
        QVERIFY(ReadProgramSettingsFile((f.programDir() + QStringLiteral("/lumivane.ini")).toStdString())
                    .masks.profileFallback);
    }

    void methodMenu_ReachesStatusBoostPreviewSaveAndLumivaneIni()
    {
        WindowFixture f;
        const QString photo = f.writeBmp(QStringLiteral("p.bmp"), gradientPhoto(120, 80));
        TForm1& form = f.startWithMask(photo, f.writeBmp(QStringLiteral("m.bmp"), vignetteMask(120, 80, 200, 185, 170)));
        QVERIFY(form.AdditiveItem->isChecked());
        QVERIFY(!form.ExactItem->isChecked());
        QVERIFY(form.strength->isEnabled());
        const Bitmap24 additive = form.img_right->bitmap();

        struct Choice {
            QAction* item;
            CorrectionMode mode;
            const char* status;
        } choices[] = {
            {form.ExactItem, {CorrectionMethod::Exact, ColourOption::FalloffAndColour},
             " Exact correction (fall-off and colour): the photograph is divided by the mask in linear light."},
            {form.FalloffOnlyItem, {CorrectionMethod::Exact, ColourOption::FalloffOnly},
             " Exact correction (fall-off only): the photograph is divided by the mask in linear light."},
            {form.ColourOnlyItem, {CorrectionMethod::Exact, ColourOption::ColourOnly},
             " Exact correction (colour only): the photograph is divided by the mask in linear light."},
        };
        for (const Choice& c : choices) {
            c.item->trigger();
            QCOMPARE(form.status->text(), QString::fromLatin1(c.status));
            QVERIFY(c.item->isChecked());
            QVERIFY(form.ExactItem->isChecked());
            QVERIFY(!form.AdditiveItem->isChecked());
            QVERIFY(!form.strength->isEnabled());
            QVERIFY(form.brightness->isEnabled());
            QCOMPARE(form.strength->toolTip(),
                     QStringLiteral(" No boost in the exact method: the whole fall-off is removed "));
            // The preview follows at once, by the plain formula in that mode.
            Bitmap24 expected = form.img_left->bitmap();
            ApplyCorrectionReference(expected, form.flow().mask().MaskPreview, CorrectionRegion{},
                                     DampingForStrength(form.strength->value()),
                                     TargetsFor(form.flow().mask().HotspotR, form.flow().mask().HotspotG,
                                                form.flow().mask().HotspotB, form.brightness->value()),
                                     c.mode);
            QVERIFY(form.img_right->bitmap() == expected);
            QVERIFY(!(form.img_right->bitmap() == additive));
        }
        // "Exact correction" again keeps the colour option.
        form.ExactItem->trigger();
        QVERIFY(form.ColourOnlyItem->isChecked());
        QCOMPARE(ReadProgramSettingsFile((f.programDir() + QStringLiteral("/lumivane.ini")).toStdString()).mode,
                 (CorrectionMode{CorrectionMethod::Exact, ColourOption::ColourOnly}));

        // The save takes it: a BMP equal to the full-size plain formula.
        form.jpeg->setValue(kBmpQuality);
        const QString saved = f.path(QStringLiteral("saved.bmp"));
        f.services.saveAnswers.push_back(saved);
        form.Button2Click();
        Bitmap24 full = form.flow().PhotoFull();
        ApplyCorrectionReference(full, form.flow().MaskFull(), CorrectionRegion{}, 25.01f,
                                 TargetsFor(form.flow().mask().HotspotR, form.flow().mask().HotspotG,
                                            form.flow().mask().HotspotB, form.brightness->value()),
                                 CorrectionMode{CorrectionMethod::Exact, ColourOption::ColourOnly});
        QCOMPARE(fileBytes(saved), QByteArray(reinterpret_cast<const char*>(EncodeBmp(full).data()),
                                              qsizetype(EncodeBmp(full).size())));

        form.AdditiveItem->trigger();
        QCOMPARE(form.status->text(),
                 QStringLiteral(" Additive correction: the mask's shortfall is added, damped by the boost."));
        QVERIFY(form.strength->isEnabled());
        QCOMPARE(form.strength->toolTip(), QStringLiteral(" Adjust vignetting reduction algorithm strength "));
        QVERIFY(form.img_right->bitmap() == additive);
        // Restarted, the window comes back with the method last chosen.
        form.ExactItem->trigger();
        f.restart();
        QVERIFY(f.form().ExactItem->isChecked());
        QVERIFY(f.form().ColourOnlyItem->isChecked());
    }

    void maskCheck_ShownInThePanelAndOnceInTheStatus()
    {
        WindowFixture f;
        const QString photo = f.writeBmp(QStringLiteral("p.bmp"), gradientPhoto(120, 80));
        TForm1& form = f.startWithMask(photo, f.writeBmp(QStringLiteral("dark.bmp"), vignetteMask(120, 80, 40, 40, 40)));
        QCOMPARE(form.MaskCheckLabel->text(), QStringLiteral("Mask: 1 finding"));
        QCOMPARE(form.MaskCheckLabel->palette().color(QPalette::WindowText), QColor(255, 0, 0));
        QVERIFY(form.MaskCheckLabel->toolTip().startsWith(QStringLiteral("Too dark: the hotspot level is ")));
        QVERIFY(form.status->text().contains(QStringLiteral(" Mask check: Too dark")));
        // Stepping to the same photograph again says it no more.
        f.open({photo});
        QVERIFY(!form.status->text().contains(QStringLiteral("Mask check")));

        f.loadMask(f.writeBmp(QStringLiteral("good.bmp"), vignetteMask(120, 80)));
        QCOMPARE(form.MaskCheckLabel->text(), QStringLiteral("Mask: good"));
        QCOMPARE(form.MaskCheckLabel->palette().color(QPalette::WindowText), QColor(0, 0, 0));
        // The new controls sit in the panel's free space, clear of the others.
        for (QWidget* w : std::initializer_list<QWidget*>{form.SmoothMaskBox, form.MaskCheckLabel})
            for (QWidget* other : std::initializer_list<QWidget*>{form.Label13, form.Button4, form.BitBtn3,
                                                                  form.GroupBox1, form.Panel5})
                QVERIFY(!w->geometry().intersects(other->geometry()));
    }
};

QTEST_MAIN(MaskFolderWindowTest)
#include "MaskFolderWindowTest.moc"
