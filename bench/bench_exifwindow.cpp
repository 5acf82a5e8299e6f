// SPDX-License-Identifier: GPL-3.0-or-later
// Refreshing the EXIF window for a camera photograph and a camera mask:
// both files' metadata read and the list rebuilt.
#include "BenchUtil.h"

#include "PlatformServices.h"
#include "Unit1.h"
#include "Unit2.h"

#include <QApplication>
#include <QTemporaryDir>

namespace {

// Answers every open dialog with the next queued paths; nothing else is used.
class BenchServices : public lumivane::QtPlatformServices {
public:
    QStringList next;
    QStringList openFiles(QWidget*, const lumivane::OpenDialogRequest&) override { return next; }
    void processEvents() override {}
};

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const QString samples = QStringLiteral(LUMIVANE_SAMPLES_DIR) + QStringLiteral("/exif/");
    const QString photo = samples + QStringLiteral("ianare_Canon_PowerShot_S40.jpg");
    const QString mask = samples + QStringLiteral("mde_Nikon_D1X.jpg");
    QTemporaryDir programDir;
    BenchServices services;
    TForm1 form(services, programDir.path());
    services.next = {photo};
    form.Button1Click(form.BitBtn5);
    services.next = {mask};
    form.Button3Click();
    form.Form2->show();
    const double ms = bench::medianMs(21, [&] { form.showexif(); });
    if (form.Form2->cellText(3, 1).isEmpty() || form.Form2->cellText(3, 2).isEmpty()) {
        std::fprintf(stderr, "the EXIF window was not filled\n");
        return 1;
    }
    bench::figure("exif_window_refresh_ms", ms, "ms");
    return 0;
}
