// SPDX-License-Identifier: GPL-3.0-or-later
// Shared set-up of the main-window tests: a temporary program folder, a
// scripted platform, photographs and masks made on the fly.
#pragma once

#include "CorrectionReference.h"
#include "Bitmap24.h"
#include "BmpCodec.h"
#include "CorrectionKernel.h"
#include "FileIO.h"
#include "JpegCodec.h"
#include "ScriptedPlatformServices.h"
#include "SyntheticPictures.h"
#include "TestOracles.h"
#include "Unit1.h"
#include "TemporaryFolder.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <memory>
#include <stdexcept>

namespace lumivane::testing {

// A photograph whose pixels vary with position, so stretches and
// corrections show where each pixel came from.
inline Bitmap24 gradientPhoto(int w, int h, int seed = 0)
{
    Bitmap24 b(w, h);
    for (int y = 0; y < h; ++y) {
        std::uint8_t* row = b.scanLine(y);
        for (int x = 0; x < w; ++x) {
            row[3 * x] = std::uint8_t((x * 7 + seed) & 0xFF);
            row[3 * x + 1] = std::uint8_t((y * 5 + 40 + seed) & 0xFF);
            row[3 * x + 2] = std::uint8_t(((x + y) * 3 + 90) & 0xFF);
        }
    }
    return b;
}

// A flat-field mask: bright in the middle, darker towards the corners.
inline Bitmap24 vignetteMask(int w, int h, int centreR = 200, int centreG = 190, int centreB = 180)
{
    return test_support::VignetteMask(w, h, centreR, centreG, centreB);
}

inline Bitmap24 solid(int w, int h, Colour c)
{
    Bitmap24 b(w, h);
    b.fill(c);
    return b;
}

// The processed preview the window must show, computed independently with
// the reference formula from the window's controls and state.
inline Bitmap24 expectedPreview(TForm1& form)
{
    Bitmap24 expected = form.img_left->bitmap();
    const PreviewMargins margins =
        PreviewMarginsFor(form.left->text().toStdString(), form.right->text().toStdString(),
                          form.top->text().toStdString(), form.bottom->text().toStdString(), form.flow().PhotoFull().width(),
                          form.flow().PhotoFull().height());
    ApplyCorrectionReference(expected, form.flow().mask().MaskPreview,
                             PreviewRegion(form.Image4Left(), form.Image4Top(), margins),
                             DampingForStrength(form.strength->value()),
                             TargetsFor(form.flow().mask().HotspotR, form.flow().mask().HotspotG, form.flow().mask().HotspotB,
                                        form.brightness->value()));
    return expected;
}

// The whole file, or nothing when it cannot be read.
inline QByteArray fileBytes(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    return file.readAll();
}

// The names in a folder, hidden ones included, sorted.
inline QStringList entriesOf(const QString& folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden, QDir::Name);
}

// Temporary files a writer left behind anywhere under `root`.
inline QStringList leftovers(const QString& root)
{
    QStringList found;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        if (file.endsWith(QLatin1String(kTemporarySuffix)))
            found << file;
    }
    return found;
}

// What the 66 x 49 mask thumbnail shows of a mask file before any
// photograph gives it a size.
inline Bitmap24 thumbnailOf(const Bitmap24& image)
{
    Bitmap24 thumbnail(66, 49);
    stretchDraw(image, thumbnail);
    return thumbnail;
}

class WindowFixture {
public:
    WindowFixture() { QDir().mkpath(programDir()); }

    QString programDir() const { return folder() + QStringLiteral("/program"); }
    QString path(const QString& name) const { return folder() + QLatin1Char('/') + name; }

    QString writeBmp(const QString& name, const Bitmap24& image) const
    {
        WriteBmpFile(image, path(name).toStdString());
        return path(name);
    }
    // Writes raw bytes (a broken file, a settings file) and returns the path.
    QString writeBytes(const QString& name, const QByteArray& bytes) const
    {
        QFile file(path(name));
        if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
            throw std::runtime_error("cannot write test file " + path(name).toStdString());
        return path(name);
    }
    // Writes defaults.ini into the program folder.
    void writeIni(const QByteArray& content) const { writeBytes(QStringLiteral("program/defaults.ini"), content); }
    QString writeJpeg(const QString& name, const Bitmap24& image, int quality = 95) const
    {
        SaveJpegFile(image, quality, path(name).toStdString());
        return path(name);
    }

    // Creates the main window (reading defaults.ini from the program folder).
    TForm1& start()
    {
        form_ = std::make_unique<TForm1>(services, programDir());
        return *form_;
    }
    // Creates the main window keeping its settings in `settingsFolder`.
    TForm1& startWithSettingsIn(const QString& settingsFolder)
    {
        form_ = std::make_unique<TForm1>(services, settingsFolder);
        return *form_;
    }
    TForm1& form() { return *form_; }
    void restart() { form_.reset(); start(); }

    // Starts the window, opens one photograph and loads a mask onto it.
    TForm1& startWithMask(const QString& photo, const QString& maskFile)
    {
        start();
        open({photo});
        loadMask(maskFile);
        return *form_;
    }

    // Three photographs (IMG_1..3.bmp, 120 x 90) and a mask, the window
    // shown and the second photograph on screen: every button usable.
    TForm1& startOnSecondOfThree()
    {
        QStringList photos;
        for (int i = 0; i < 3; ++i)
            photos << writeBmp(QStringLiteral("IMG_%1.bmp").arg(i + 1), gradientPhoto(120, 90, 30 * i));
        start();
        open(photos);
        loadMask(writeBmp(QStringLiteral("flat.bmp"), vignetteMask(120, 90)));
        form_->show();
        form_->Button1Click(form_->ImageButton2);
        return *form_;
    }

    // Opens `files` through "Load Image(s)".
    void open(const QStringList& files)
    {
        services.openAnswers.push_back(files);
        form_->Button1Click(form_->BitBtn5);
    }
    // Loads a mask through "Load &Mask".
    void loadMask(const QString& file)
    {
        services.openAnswers.push_back({file});
        form_->Button3Click();
    }

    ScriptedPlatformServices services;

private:
    QString folder() const { return QString::fromStdString(dir_.str()); }

    lumivane::test_support::TemporaryFolder dir_{"lumivane-window"};
    std::unique_ptr<TForm1> form_;
};

} // namespace lumivane::testing
