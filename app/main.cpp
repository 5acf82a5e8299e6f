// SPDX-License-Identifier: GPL-3.0-or-later
// Program start: the command line, the application, the main window and the
// message loop.
#include "MemoryBudget.h"
#include "PlatformServices.h"
#include "SettingsLocation.h"
#include "StartArguments.h"
#include "TiffReader.h"
#include "Unit1.h"

#include <QApplication>
#include <QTimer>

#include <csignal>
#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr int kExitUsage = 2;

// Prints the answer to --help or --version; false for any other command line.
bool answered(const lumivane::StartArguments& start)
{
    using Action = lumivane::StartArguments::Action;
    if (start.action == Action::Help)
        std::cout << lumivane::StartUsage();
    else if (start.action == Action::Version)
        std::cout << "lumivane " LUMIVANE_VERSION "\n";
    else
        return false;
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    // Past a file-size limit (ulimit -f) the system would kill the program
    // with SIGXFSZ in the middle of a write; ignored, the write fails with
    // EFBIG, which is reported and the temporary file removed.
    std::signal(SIGXFSZ, SIG_IGN);
    // --help and --version are answered before the toolkit starts, so they
    // need no display.
    if (answered(lumivane::ParseStartArguments(std::vector<std::string>(argv + 1, argv + argc))))
        return 0;
    QApplication app(argc, argv);
    // The toolkit has taken its own options (-platform, -style, ...) out of
    // argv; what is left is ours.
    const lumivane::StartArguments start =
        lumivane::ParseStartArguments(std::vector<std::string>(argv + 1, argv + argc));
    if (answered(start))
        return 0;
    if (start.action == lumivane::StartArguments::Action::UsageError) {
        std::cerr << "lumivane: " << start.error << "\nTry 'lumivane --help'.\n";
        return kExitUsage;
    }
    // A malformed memory limit stops the program before anything is read.
    try {
        lumivane::MemoryBudgetBytes();
    } catch (const lumivane::MemoryLimitSettingError& e) {
        std::cerr << "lumivane: " << e.what() << "\n";
        return kExitUsage;
    }

    app.setApplicationName(QStringLiteral("Lumivane"));
    // libtiff's own messages never reach the user.
    lumivane::InstallSilentTiffHandlers();
    lumivane::QtPlatformServices services;
    const std::string settingsFolder = lumivane::SettingsFolder(
        QCoreApplication::applicationDirPath().toStdString(), lumivane::ProcessEnvironment());
    TForm1 form(services, QString::fromStdString(settingsFolder));
    form.show();
    QStringList photos;
    for (const std::string& photo : start.photos)
        photos << QString::fromStdString(photo);
    const QString mask = QString::fromStdString(start.mask);
    // The files open once the window is on screen, so a large photograph
    // does not keep it from appearing and errors have a window to belong to.
    if (!photos.isEmpty() || !mask.isEmpty())
        QTimer::singleShot(0, &form, [&form, photos, mask] { form.OpenFromCommandLine(photos, mask); });
    return app.exec();
}
