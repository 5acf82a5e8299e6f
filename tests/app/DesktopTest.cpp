// SPDX-License-Identifier: GPL-3.0-or-later
// The window as the desktop reaches it: files named on the command line,
// files dropped from a file manager, longer photograph suffixes, and the
// settings of an installed program in the user's configuration folder.
#include "WindowFixture.h"

#include "SettingsLocation.h"

#include <QMimeData>
#include <QTest>
#include <QUrl>
#include <map>
#include <sys/stat.h>

using namespace lumivane;
using namespace lumivane::testing;

namespace {

// How a drop ended for its source.
struct DropResult {
    bool accepted = false;
    Qt::DropAction action = Qt::IgnoreAction;
};

// Drops `urls` on the window at `at` (window coordinates), offered as a
// copy or a move as file managers do.
DropResult drop(TForm1& form, const QList<QUrl>& urls, QPoint at)
{
    QMimeData mime;
    mime.setUrls(urls);
    // A drop follows the drag's entry, which makes the window its target.
    QDragEnterEvent enter(at, Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&form, &enter);
    QDropEvent event(QPointF(at), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton, Qt::NoModifier);
    event.setDropAction(Qt::MoveAction);
    event.ignore();
    QCoreApplication::sendEvent(&form, &event);
    return {event.isAccepted(), event.dropAction()};
}

QList<QUrl> urlsOf(const QStringList& files)
{
    QList<QUrl> urls;
    for (const QString& file : files)
        urls << QUrl::fromLocalFile(file);
    return urls;
}

// A point over the left preview, and one over the mask thumbnail.
QPoint overPreview(TForm1& form)
{
    return form.img_left->mapTo(&form, form.img_left->rect().center());
}
QPoint overThumbnail(TForm1& form)
{
    return form.Image3->mapTo(&form, form.Image3->rect().center());
}

QStringList filesOf(TForm1& form)
{
    QStringList files;
    for (const std::string& file : form.flow().photos().Files)
        files << QString::fromStdString(file);
    return files;
}

// What the user sees and what the workflow holds after files were opened,
// for comparing two ways of opening the same files.
struct Seen {
    QStringList files;
    QString status, original, processed, maskCaption, maskLabel;
    bool maskLoaded = false;
    bool saveEnabled = false;
    Bitmap24 left, right, thumbnail;
    QStringList errors;
    bool operator==(const Seen&) const = default;
};

Seen seen(WindowFixture& f)
{
    TForm1& form = f.form();
    return {filesOf(form),
            form.status->text(),
            form.Label2->text(),
            form.Label5->text(),
            form.GroupBox6->title(),
            form.Label4->text(),
            form.flow().mask().MaskLoaded,
            form.Button2->isEnabled(),
            form.img_left->bitmap(),
            form.img_right->bitmap(),
            form.Image3->bitmap(),
            f.services.errors};
}

// "jpg", "bmp" or "tif" for a name ending in any of the suffixes read.
QString shortSuffixOf(const QString& name)
{
    const QString suffix = QFileInfo(name).suffix().toLower();
    return suffix.startsWith(QLatin1String("tif")) ? QStringLiteral("tif")
           : suffix.startsWith(QLatin1String("jp")) ? QStringLiteral("jpg")
                                                    : QStringLiteral("bmp");
}

// Writes `picture` as the kind of file `name` asks for; a TIFF is a copy of
// the sample flat field, as the program writes none.
void writePicture(WindowFixture& f, const QString& name, const Bitmap24& picture)
{
    const QString kind = shortSuffixOf(name);
    if (kind == QLatin1String("jpg")) {
        f.writeJpeg(name, picture);
    } else if (kind == QLatin1String("bmp")) {
        f.writeBmp(name, picture);
    } else {
        QFile::remove(f.path(name));
        if (!QFile::copy(QStringLiteral(LUMIVANE_TEST_DATA_DIR "/masks/flat_field_640x480.tif"), f.path(name)))
            qFatal("cannot copy the sample TIFF to %s", qPrintable(name));
    }
}

// The window on screen: the adjustment panel and the drop target both need it.
TForm1& startShown(WindowFixture& f)
{
    TForm1& form = f.start();
    form.show();
    if (!QTest::qWaitForWindowExposed(&form))
        qWarning("the main window was not shown in time");
    return form;
}

unsigned permissionsOf(const QString& path)
{
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return ~0u;
    return info.st_mode & 07777;
}

} // namespace

class DesktopTest : public QObject {
    Q_OBJECT

private slots:
    void commandLine_OpensAsTheDialogsWould_data()
    {
        QTest::addColumn<QStringList>("photos");
        QTest::addColumn<QString>("mask");
        QTest::newRow("two photographs") << QStringList{"a.bmp", "b.jpg"} << QString();
        QTest::newRow("photographs and a mask") << QStringList{"a.bmp", "b.jpg"} << QStringLiteral("flat.bmp");
        QTest::newRow("an unreadable photograph first") << QStringList{"broken.jpg", "a.bmp"}
                                                        << QStringLiteral("flat.bmp");
        QTest::newRow("a photograph that is not there") << QStringList{"gone.jpg"} << QString();
        QTest::newRow("a mask alone") << QStringList{} << QStringLiteral("flat.bmp");
        QTest::newRow("an unreadable mask") << QStringList{"a.bmp"} << QStringLiteral("broken.jpg");
        QTest::newRow("a stored default mask, another given") << QStringList{"a.bmp"} << QStringLiteral("flat.bmp");
    }

    void commandLine_OpensAsTheDialogsWould()
    {
        QFETCH(QStringList, photos);
        QFETCH(QString, mask);
        WindowFixture f;
        f.writeBmp("a.bmp", gradientPhoto(120, 90));
        f.writeJpeg("b.jpg", gradientPhoto(160, 120, 7));
        f.writeBytes("broken.jpg", QByteArray("\xFF\xD8\xFF\xE0 not a JPEG", 16));
        f.writeBmp("flat.bmp", vignetteMask(120, 90));
        if (QByteArray(QTest::currentDataTag()).startsWith("a stored default mask")) {
            f.writeBmp("program/default_mask.bmp", solid(60, 45, packColour(200, 200, 200)));
            f.writeIni(QStringLiteral("30\r\n40\r\n80\r\n%1\r\n").arg(f.programDir() + "/default_mask.bmp").toUtf8());
        }
        QStringList paths;
        for (const QString& photo : photos)
            paths << f.path(photo);
        const QString maskPath = mask.isEmpty() ? QString() : f.path(mask);

        // The user's way: "Load Mask" before any photograph, then "Load Image(s)".
        f.start();
        if (!maskPath.isEmpty()) {
            // Clicked, so an error reaches the error display as the user sees it.
            f.services.openAnswers.push_back({maskPath});
            f.form().Button3->click();
        }
        if (!paths.isEmpty())
            f.open(paths);
        const Seen byDialogs = seen(f);
        const size_t dialogs = f.services.openRequests.size();

        f.services.errors.clear();
        f.restart();
        f.form().OpenFromCommandLine(paths, maskPath);
        QCOMPARE(f.services.openRequests.size(), dialogs); // no dialog shown
        const Seen byCommandLine = seen(f);
        QCOMPARE(byCommandLine.files, byDialogs.files);
        QCOMPARE(byCommandLine.status, byDialogs.status);
        QCOMPARE(byCommandLine.original, byDialogs.original);
        QCOMPARE(byCommandLine.maskLabel, byDialogs.maskLabel);
        QCOMPARE(byCommandLine.errors, byDialogs.errors);
        QVERIFY(byCommandLine == byDialogs);
    }

    void commandLine_RelativeNamesFromTheCurrentFolder()
    {
        WindowFixture f;
        const QString photo = f.writeBmp("photo.bmp", gradientPhoto(100, 75));
        const QString maskFile = f.writeBmp("flat.bmp", vignetteMask(100, 75));
        const QString before = QDir::currentPath();
        QVERIFY(QDir::setCurrent(f.path(QString())));
        TForm1& form = f.start();
        form.OpenFromCommandLine({QStringLiteral("photo.bmp")}, QStringLiteral("./flat.bmp"));
        QDir::setCurrent(before);
        QCOMPARE(filesOf(form), QStringList{photo});
        QCOMPARE(QString::fromStdString(form.flow().photos().LastMaskFile), maskFile);
        QVERIFY(form.flow().mask().MaskLoaded);
        QCOMPARE(form.Image4Hint(), QLatin1Char(' ') + photo + QLatin1Char(' '));
    }

    void longSuffixes_OpenThroughTheWindow_data()
    {
        QTest::addColumn<QString>("photoName");
        QTest::addColumn<QString>("maskName");
        QTest::newRow("jpeg photograph, tiff mask") << "IMG_1.jpeg" << "flat.tiff";
        QTest::newRow("JPE photograph, JPEG mask") << "IMG_2.JPE" << "flat.JPEG";
        QTest::newRow("TIFF photograph, bmp mask") << "IMG_3.TIFF" << "flat.bmp";
    }

    void longSuffixes_OpenThroughTheWindow()
    {
        QFETCH(QString, photoName);
        QFETCH(QString, maskName);
        WindowFixture f;
        // Each file is written under a three-letter suffix too; the long name
        // must show exactly what the short one shows.
        const QString shortPhoto = QStringLiteral("short_photo.") + shortSuffixOf(photoName);
        const QString shortMask = QStringLiteral("short_mask.") + shortSuffixOf(maskName);
        for (const QString& name : {photoName, shortPhoto})
            writePicture(f, name, gradientPhoto(200, 150, 3));
        for (const QString& name : {maskName, shortMask})
            writePicture(f, name, vignetteMask(200, 150));

        TForm1& shortForm = f.startWithMask(f.path(shortPhoto), f.path(shortMask));
        QVERIFY(shortForm.flow().photos().PhotoPresent && shortForm.flow().mask().MaskLoaded);
        const Bitmap24 left = shortForm.img_left->bitmap();
        const Bitmap24 right = shortForm.img_right->bitmap();
        const QString caption = shortForm.Label2->text();

        f.restart();
        TForm1& form = f.form();
        f.open({f.path(photoName)});
        f.loadMask(f.path(maskName));
        QVERIFY(form.flow().photos().PhotoPresent);
        QVERIFY(form.flow().mask().MaskLoaded);
        QCOMPARE(form.status->text(), QStringLiteral(" Showing %1 [1 of 1]").arg(photoName));
        QCOMPARE(form.Label2->text(), caption);
        QVERIFY(form.img_left->bitmap() == left);
        QVERIFY(form.img_right->bitmap() == right);
        QCOMPARE(f.services.errors, QStringList());
    }

    void drop_PhotographsOnTheWindowOpenAsAList()
    {
        WindowFixture f;
        const QString a = f.writeBmp("IMG_a.bmp", gradientPhoto(120, 90));
        const QString b = f.writeJpeg("IMG_b.jpeg", gradientPhoto(160, 120, 5));
        TForm1& form = startShown(f);
        const DropResult result = drop(form, urlsOf({b, a}), overPreview(form));
        QVERIFY(result.accepted);
        // Offered a move, the window still only copies: the source keeps its files.
        QCOMPARE(result.action, Qt::CopyAction);
        QVERIFY(QFileInfo::exists(a) && QFileInfo::exists(b));
        QCOMPARE(filesOf(form), (QStringList{b, a}));
        QCOMPARE(form.status->text(), QStringLiteral(" Showing IMG_b.jpeg [1 of 2]"));
        QCOMPARE(form.Button2->text(), QStringLiteral("&Save Images"));
        QVERIFY(form.ImageButton2->isEnabled());
        QCOMPARE(f.services.openRequests.size(), size_t(0));

        // A drop of one photograph on the previews replaces the list.
        QVERIFY(drop(form, urlsOf({a}), QPoint(form.width() - 20, 100)).accepted);
        QCOMPARE(filesOf(form), QStringList{a});
        QCOMPARE(form.status->text(), QStringLiteral(" Showing IMG_a.bmp [1 of 1]"));
    }

    void drop_OneFileOnTheThumbnailLoadsTheMask()
    {
        WindowFixture f;
        const QString photo = f.writeBmp("photo.bmp", gradientPhoto(120, 90));
        const QString maskFile = f.writeBmp("my_flat.bmp", vignetteMask(120, 90));
        TForm1& form = startShown(f);

        // Before any photograph: the mask waits, shown, as "Load Mask" would leave it.
        QVERIFY(drop(form, urlsOf({maskFile}), overThumbnail(form)).accepted);
        QVERIFY(filesOf(form).isEmpty());
        QCOMPARE(form.Label4->text(), QStringLiteral("my_flat.bmp"));
        QVERIFY(!form.flow().mask().MaskLoaded);

        // The first photograph then loads it.
        QVERIFY(drop(form, urlsOf({photo}), overPreview(form)).accepted);
        QVERIFY(form.flow().mask().MaskLoaded);
        QCOMPARE(QString::fromStdString(form.flow().photos().LastMaskFile), maskFile);

        // A second mask dropped on the thumbnail replaces the first.
        const Bitmap24 second = solid(120, 90, packColour(180, 120, 60));
        const QString secondFile = f.writeBmp("second_flat.bmp", second);
        QVERIFY(drop(form, urlsOf({secondFile}), overThumbnail(form)).accepted);
        QCOMPARE(QString::fromStdString(form.flow().photos().LastMaskFile), secondFile);
        QVERIFY(form.flow().mask().MaskImage == second);
        QCOMPARE(filesOf(form), QStringList{photo}); // the photograph list is untouched
        QVERIFY(form.img_right->bitmap() == expectedPreview(form));
        QCOMPARE(f.services.openRequests.size(), size_t(0));
        QCOMPARE(f.services.errors, QStringList());
    }

    void drop_RefusedWithAStatusLine_data()
    {
        QTest::addColumn<QStringList>("names");
        QTest::addColumn<bool>("onThumbnail");
        QTest::addColumn<QString>("status");
        QTest::newRow("two files on the thumbnail") << QStringList{"flat.bmp", "other.bmp"} << true
                                                    << " Drop one mask file on the mask, not 2 files.";
        QTest::newRow("a folder") << QStringList{"album"} << false << " album is a folder, not a photograph.";
        QTest::newRow("a folder on the thumbnail") << QStringList{"album"} << true
                                                   << " album is a folder, not a photograph.";
        QTest::newRow("a text among photographs") << QStringList{"other.bmp", "notes.txt"} << false
                                                  << " notes.txt is not a JPEG, BMP or TIFF file.";
        QTest::newRow("a remote address") << QStringList{"https://example.org/a.jpg"} << false
                                          << " Only local files can be opened: https://example.org/a.jpg is not one.";
    }

    void drop_RefusedWithAStatusLine()
    {
        QFETCH(QStringList, names);
        QFETCH(bool, onThumbnail);
        QFETCH(QString, status);
        WindowFixture f;
        const QString photo = f.writeBmp("photo.bmp", gradientPhoto(120, 90));
        const QString maskFile = f.writeBmp("flat.bmp", vignetteMask(120, 90));
        f.writeBmp("other.bmp", gradientPhoto(60, 40));
        f.writeBytes("notes.txt", "text");
        QDir().mkpath(f.path("album"));
        TForm1& form = f.startWithMask(photo, maskFile);
        const Bitmap24 maskBefore = form.flow().mask().MaskImage;
        const Bitmap24 processedBefore = form.img_right->bitmap();
        QList<QUrl> urls;
        for (const QString& name : names)
            urls << (name.startsWith("https:") ? QUrl(name) : QUrl::fromLocalFile(f.path(name)));

        const DropResult result = drop(form, urls, onThumbnail ? overThumbnail(form) : overPreview(form));
        QVERIFY(!result.accepted);
        QCOMPARE(form.status->text(), status);
        QCOMPARE(filesOf(form), QStringList{photo});
        QCOMPARE(QString::fromStdString(form.flow().photos().LastMaskFile), maskFile);
        QVERIFY(form.flow().mask().MaskImage == maskBefore);
        QVERIFY(form.img_right->bitmap() == processedBefore);
        QCOMPARE(f.services.errors, QStringList());
    }

    void drop_DragOfFilesIsLetInOtherDragsAreNot()
    {
        WindowFixture f;
        TForm1& form = f.start();
        QVERIFY(form.acceptDrops());
        for (const bool withFiles : {true, false}) {
            QMimeData mime;
            if (withFiles)
                mime.setUrls({QUrl::fromLocalFile(f.path("a.jpg"))});
            else
                mime.setText(QStringLiteral("some text"));
            QDragEnterEvent enter(overPreview(form), Qt::CopyAction | Qt::MoveAction, &mime, Qt::LeftButton,
                                  Qt::NoModifier);
            enter.ignore();
            QCoreApplication::sendEvent(&form, &enter);
            QCOMPARE(enter.isAccepted(), withFiles);
            if (withFiles)
                QCOMPARE(enter.dropAction(), Qt::CopyAction);
            QDropEvent event(QPointF(overPreview(form)), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
            event.ignore();
            QCoreApplication::sendEvent(&form, &event);
            // A file that is not there still opens as the dialog's answer would.
            QCOMPARE(event.isAccepted(), withFiles);
        }
    }

    void drop_DuringABatchIsRefused()
    {
        WindowFixture f;
        const QString first = f.writeBmp("IMG_1.bmp", gradientPhoto(72, 54));
        const QString second = f.writeBmp("IMG_2.bmp", gradientPhoto(72, 54, 9));
        const QString other = f.writeBmp("IMG_other.bmp", gradientPhoto(80, 60, 4));
        const QString maskFile = f.writeBmp("flat.bmp", vignetteMask(72, 54));
        const QString otherMask = f.writeBmp("flat_other.bmp", solid(72, 54, packColour(150, 150, 150)));
        const QString folder = f.path("out");
        QDir().mkpath(folder);
        TForm1& form = f.start();
        f.open({first, second});
        f.loadMask(maskFile);
        const Bitmap24 maskBefore = form.flow().mask().MaskImage;
        f.services.folderAnswers.push_back(folder);
        int pauses = 0;
        QList<DropResult> results;
        QStringList statuses;
        f.services.onProcessEvents = [&] {
            if (++pauses != 1)
                return;
            QVERIFY(form.flow().session().BatchRunning);
            results << drop(form, urlsOf({other}), overPreview(form));
            statuses << form.status->text();
            results << drop(form, urlsOf({otherMask}), overThumbnail(form));
            statuses << form.status->text();
        };
        form.Button2->click();
        f.services.onProcessEvents = nullptr;

        QCOMPARE(results.size(), 2);
        for (int i = 0; i < 2; ++i) {
            QVERIFY(!results[i].accepted);
            QCOMPARE(statuses[i], QStringLiteral(" Dropped files are not opened while images are being saved."));
        }
        QCOMPARE(f.services.errors, QStringList());
        QCOMPARE(entriesOf(folder), (QStringList{QStringLiteral("IMG_1.jpg"), QStringLiteral("IMG_2.jpg")}));
        QCOMPARE(filesOf(form), (QStringList{first, second}));
        QVERIFY(form.flow().mask().MaskImage == maskBefore);

        // Once the batch is over, the same drop opens.
        QVERIFY(drop(form, urlsOf({other}), overPreview(form)).accepted);
        QCOMPARE(filesOf(form), QStringList{other});
    }

    void drop_MaskWhileTheAdjustmentPanelIsOpenIsRefused()
    {
        WindowFixture f;
        const QString photo = f.writeBmp("photo.bmp", gradientPhoto(120, 90));
        const QString maskFile = f.writeBmp("flat.bmp", vignetteMask(120, 90));
        const QString otherMask = f.writeBmp("other_flat.bmp", solid(120, 90, packColour(170, 170, 170)));
        TForm1& form = startShown(f);
        f.open({photo});
        f.loadMask(maskFile);
        form.Button6Click();
        // As "Load Mask" is off while the panel is open, so is a mask drop.
        QVERIFY(!form.Button3->isEnabled());
        QVERIFY(!drop(form, urlsOf({otherMask}), overThumbnail(form)).accepted);
        QCOMPARE(form.status->text(), QStringLiteral(" Close the mask adjustment panel before dropping a mask."));
        QCOMPARE(QString::fromStdString(form.flow().photos().LastMaskFile), maskFile);
        form.BitBtn1Click();
        QVERIFY(drop(form, urlsOf({otherMask}), overThumbnail(form)).accepted);
        QCOMPARE(QString::fromStdString(form.flow().photos().LastMaskFile), otherMask);
    }

    void longNames_StatusAndProgressLinesShowThemWhole()
    {
        WindowFixture f;
        const QString stem = QStringLiteral("DSC_20261208_142237_") + QString(100, QLatin1Char('x'));
        const QString first = f.writeBmp(stem + "_1.bmp", gradientPhoto(72, 54));
        const QString second = f.writeBmp(stem + "_2.bmp", gradientPhoto(72, 54, 5));
        const QString folder = f.path("out");
        QDir().mkpath(folder);
        TForm1& form = f.start();
        f.open({first, second});
        f.loadMask(f.writeBmp("flat.bmp", vignetteMask(72, 54)));
        // Painted inside its frame, smaller or shortened in the middle, the
        // status keeps the position in the list at its end.
        auto fits = [](TFitLabel* label) {
            return QFontMetrics(label->fittedFont()).horizontalAdvance(label->paintedText()) <=
                   label->contentsRect().width();
        };
        QVERIFY(form.status->text().endsWith(QStringLiteral("[1 of 2]")));
        QVERIFY(QFontMetrics(form.status->font()).horizontalAdvance(form.status->text()) >
                form.status->contentsRect().width());
        QVERIFY(fits(form.status));
        QVERIFY(form.status->paintedText().endsWith(QStringLiteral("[1 of 2]")));
        QVERIFY(form.status->paintedText().startsWith(QStringLiteral(" Showing DSC_")));

        f.services.folderAnswers.push_back(folder);
        QStringList progress;
        bool progressFits = true;
        f.services.onProcessEvents = [&] {
            progress << form.Label14->text();
            progressFits = progressFits && fits(form.Label14);
        };
        form.Button2->click();
        f.services.onProcessEvents = nullptr;
        QVERIFY(progress.contains(QStringLiteral("Processing ") + QFileInfo(second).fileName() +
                                  QStringLiteral(" (2 of 2) \u2013 Esc stops")));
        QVERIFY(progressFits);
        QCOMPARE(entriesOf(folder).size(), 2);
    }

    void settings_InstalledProgramKeepsThemInTheConfigurationFolder_data()
    {
        QTest::addColumn<bool>("buildTree");
        QTest::newRow("installed") << false;
        QTest::newRow("build tree") << true;
    }

    void settings_InstalledProgramKeepsThemInTheConfigurationFolder()
    {
        QFETCH(bool, buildTree);
        WindowFixture f;
        const QString programs = f.path("bin");
        QDir().mkpath(programs);
        if (buildTree)
            f.writeBytes("bin/" + QString::fromLatin1(kBuildTreeMarker), "build tree\n");
        const QString configHome = f.path("home/.config");
        const std::map<std::string, std::string> variables{{"XDG_CONFIG_HOME", configHome.toStdString()},
                                                           {"HOME", f.path("home").toStdString()}};
        const EnvironmentLookup environment = [&](const char* name) -> const char* {
            const auto found = variables.find(name);
            return found == variables.end() ? nullptr : found->second.c_str();
        };
        const QString folder = QString::fromStdString(SettingsFolder(programs.toStdString(), environment));
        const QString expectedFolder = buildTree ? programs : configHome + "/lumivane";
        QCOMPARE(folder, expectedFolder);

        const QString photo = f.writeBmp("photo.bmp", gradientPhoto(120, 90));
        const Bitmap24 maskImage = vignetteMask(120, 90);
        const QString maskFile = f.writeBmp("flat.bmp", maskImage);
        TForm1& form = f.startWithSettingsIn(folder);
        // Nothing is made by starting: the folder appears with the first Store.
        QCOMPARE(QFileInfo::exists(configHome), false);
        f.open({photo});
        f.loadMask(maskFile);
        form.brightness->setValue(31);
        form.strength->setValue(44);
        form.Button4->click();
        QCOMPARE(f.services.errors, QStringList());
        QCOMPARE(QString::fromStdString(form.flow().settings().DefaultMask), folder + "/default_mask.bmp");
        QVERIFY(ReadBmpFile((folder + "/default_mask.bmp").toStdString()) == maskImage);
        QVERIFY(fileBytes(folder + "/defaults.ini").startsWith("31\r\n44\r\n90\r\n" + (folder + "/default_mask.bmp").toUtf8()));
        if (buildTree) {
            QVERIFY(!QFileInfo::exists(configHome));
        } else {
            QCOMPARE(entriesOf(programs), QStringList());
            for (const QString& made : {f.path("home"), configHome, folder})
                QCOMPARE(permissionsOf(made), 0700u);
        }

        // The next start reads them back: the default mask loads with the
        // first photograph and the sliders take the stored positions.
        const size_t dialogs = f.services.openRequests.size();
        TForm1& again = f.startWithSettingsIn(folder);
        QCOMPARE(again.Label4->text(), QStringLiteral("...fault_mask.bmp"));
        f.open({photo});
        QVERIFY(again.flow().mask().MaskLoaded);
        QCOMPARE(again.brightness->value(), 31);
        QCOMPARE(again.strength->value(), 44);
        QCOMPARE(f.services.openRequests.size(), dialogs + 1); // no mask dialog this time

        // "Free default mask" writes there too.
        again.Button6Click();
        again.BitBtn3->click();
        again.BitBtn1Click();
        QVERIFY(fileBytes(folder + "/defaults.ini").endsWith("none\r\n"));
        QCOMPARE(f.services.errors, QStringList());
    }

    void settings_StoreNamesTheFolderItCannotMake()
    {
        WindowFixture f;
        f.writeBytes("blocked", "a file where the configuration folder should go");
        const QString folder = f.path("blocked/lumivane");
        const QString photo = f.writeBmp("photo.bmp", gradientPhoto(120, 90));
        TForm1& form = f.startWithSettingsIn(folder);
        f.open({photo});
        f.loadMask(f.writeBmp("flat.bmp", vignetteMask(120, 90)));
        form.Button4->click();
        QCOMPARE(f.services.errors.size(), 1);
        QVERIFY2(f.services.errors.front().contains(f.path("blocked")), qPrintable(f.services.errors.front()));
        QVERIFY(!form.BitBtn3->isEnabled());
        QVERIFY(QString::fromStdString(form.flow().settings().DefaultMask).isEmpty());
    }
};

QTEST_MAIN(DesktopTest)
#include "DesktopTest.moc"
