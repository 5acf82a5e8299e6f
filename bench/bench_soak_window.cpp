// SPDX-License-Identifier: GPL-3.0-or-later
// The main window on the offscreen platform stepping with the arrow through
// 300 photographs with a mask loaded: its resident memory (VmRSS) may grow by
// at most 2 MiB after the first 20 photographs.
//
//   figure soak_rss_growth_window_mib   largest VmRSS after photograph 20
//                                       minus VmRSS at photograph 20
//   figure soak_rss_window_mib          VmRSS at photograph 20
#include "BenchUtil.h"
#include "BmpCodec.h"
#include "HostileFiles.h"
#include "PlatformServices.h"
#include "Unit1.h"

#include <QApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

using namespace lumivane;

namespace {

const int kPhotos = bench::pick(300, 30);
const int kSettled = bench::pick(20, 10);

class SoakServices : public QtPlatformServices {
public:
    QStringList openAnswer;
    QStringList openFiles(QWidget*, const OpenDialogRequest&) override { return openAnswer; }
    QString saveFile(QWidget*, const SaveDialogRequest&) override { return {}; }
    void showMessage(QWidget*, const QString& text) override { std::fprintf(stderr, "%s\n", qPrintable(text)); }
    void showError(QWidget*, const QString& text) override { std::fprintf(stderr, "%s\n", qPrintable(text)); }
    void processEvents() override {}
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QTemporaryDir dir;
    QStringList photos;
    static const int sizes[3][2] = {{640, 480}, {800, 600}, {600, 800}};
    for (int i = 0; i < kPhotos; ++i) {
        const QString path = dir.path() + QStringLiteral("/p%1.jpg").arg(i);
        test_support::WritePatternJpeg(path.toStdString(), sizes[std::getenv("ONE") ? 0 : i % 3][0], sizes[std::getenv("ONE") ? 0 : i % 3][1], 85);
        photos << path;
    }
    Bitmap24 mask(160, 120);
    mask.fill(packColour(200, 190, 180));
    const QString maskFile = dir.path() + QStringLiteral("/mask.bmp");
    WriteBmpFile(mask, maskFile.toStdString());
    QTemporaryDir programDir;

    SoakServices services;
    TForm1 form{services, programDir.path()};
    form.show();
    services.openAnswer = photos;
    form.Button1Click(form.BitBtn5);
    services.openAnswer = {maskFile};
    form.Button3Click();
    QApplication::processEvents();

    long settled = 0, highest = 0;
    for (int shown = 2; shown <= kPhotos; ++shown) {
        form.Button1Click(form.ImageButton2); // the right arrow
        QApplication::processEvents();
        const long rss = bench::residentKiB();
        if (std::getenv("LUMIVANE_SOAK_TRACE"))
            std::printf("  photograph %d: %ld KiB\n", shown, rss);
        if (shown == kSettled)
            settled = rss;
        else if (shown > kSettled)
            highest = std::max(highest, rss);
    }
    if (form.flow().photos().FileIndex != kPhotos - 1) {
        std::fprintf(stderr, "the arrow stopped at photograph %d\n", form.flow().photos().FileIndex + 1);
        return 1;
    }
    bench::figure("soak_rss_window_mib", settled / 1024.0, "MiB");
    bench::figure("soak_rss_growth_window_mib", std::max(0L, highest - settled) / 1024.0, "MiB");
    return 0;
}
