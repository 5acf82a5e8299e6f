// SPDX-License-Identifier: GPL-3.0-or-later
// "Save Images" in the window against lumivane-cli, both on the same eight
// 24-megapixel photographs and mask with the same settings, interleaved in
// one run so both see the same machine load:
//   gui_batch_ms       the main window (offscreen, in a fresh process, the
//                      list opened and the mask loaded): from the folder
//                      picker's answer to the moment the last photograph's
//                      file is in place and reported; median of 5
//   cli_batch_ms       lumivane-cli started fresh on the same files, wall
//                      time from start to exit; median of 5
//   gui_batch_vs_cli   the first against the second
// Both use their default number of jobs (one per core).
#include "BenchFiles.h"
#include "BenchProcess.h"
#include "BenchUtil.h"

#include "FileIO.h"
#include "ScriptedPlatformServices.h"
#include "Unit1.h"

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const int kRuns = bench::pick(5, 1);
const int kPhotos = bench::pick(8, 2);
constexpr int kStrength = 50;

// Scripted dialogs that note when the folder picker answered.
class TimedServices : public lumivane::ScriptedPlatformServices {
public:
    std::optional<Clock::time_point> answered;
    QString pickFolder(QWidget* parent, const QString& title, const QString& start, bool allowNew) override
    {
        const QString folder = ScriptedPlatformServices::pickFolder(parent, title, start, allowNew);
        answered = Clock::now();
        return folder;
    }
};

// The child: argv is --gui <output folder> <mask> <photographs...>.
int childGui(int argc, char** argv)
{
    // The window runs offscreen unless told otherwise.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QString out = QString::fromLocal8Bit(argv[2]);
    const QString mask = QString::fromLocal8Bit(argv[3]);
    QStringList photos;
    for (int i = 4; i < argc; ++i)
        photos << QString::fromLocal8Bit(argv[i]);
    QTemporaryDir programDir; // no stored settings: brightness 25, quality 90
    TimedServices services;
    TForm1 form(services, programDir.path());
    form.show();
    QApplication::processEvents();
    services.openAnswers.push_back(photos);
    form.Button1Click(form.BitBtn5);
    services.openAnswers.push_back({mask});
    form.Button3Click();
    form.strength->setValue(kStrength);
    if (form.jpeg->value() != 90 || form.brightness->value() != 25 || !form.Button2->isEnabled())
        throw std::runtime_error("the window is not set up as the command line is");

    std::optional<Clock::time_point> lastInPlace;
    services.onProcessEvents = [&] {
        // The report of the last photograph comes once its file is in place.
        if (!lastInPlace && form.ProgressBar1->value() == int(photos.size()))
            lastInPlace = Clock::now();
    };
    services.folderAnswers.push_back(out);
    form.Button2Click();
    if (!services.errors.isEmpty() || !services.messages.isEmpty())
        throw std::runtime_error(("the window reported: " + (services.errors + services.messages).join('\n'))
                                     .toStdString());
    if (!services.answered || !lastInPlace || QDir(out).entryList(QDir::Files).size() != photos.size())
        throw std::runtime_error("the window did not write every photograph");
    std::printf("%.3f\n", std::chrono::duration<double, std::milli>(*lastInPlace - *services.answered).count());
    return 0;
}

int parent()
{
    const bench::BenchFiles files = bench::writeBenchFiles();
    const fs::path folder = files.folder;
    const std::string settings = (folder / "defaults.ini").string();
    const std::string stored = "25\r\n" + std::to_string(kStrength) + "\r\n90\r\nnone\r\n";
    lumivane::WriteFileAtomically(settings, stored.data(), stored.size());
    std::vector<std::string> photos;
    for (int i = 0; i < kPhotos; ++i) {
        const fs::path copy = folder / ("photo" + std::to_string(i) + ".jpg");
        fs::copy_file(files.photo, copy);
        photos.push_back(copy.string());
    }
    const std::string out = (folder / "out").string();
    std::vector<std::string> gui = {"/proc/self/exe", "--gui", out, files.mask};
    gui.insert(gui.end(), photos.begin(), photos.end());
    std::vector<std::string> cli = {LUMIVANE_CLI, "--quiet",    "--settings", settings, "--mask", files.mask,
                                    "--strength", std::to_string(kStrength), "--quality", "90", "--out", out};
    cli.insert(cli.end(), photos.begin(), photos.end());

    std::vector<double> guiMs, cliMs;
    for (int run = 0; run < kRuns; ++run) {
        fs::create_directories(out);
        guiMs.push_back(std::stod(bench::runProcess(gui).output));
        fs::remove_all(out);
        cliMs.push_back(bench::runProcess(cli).ms);
        fs::remove_all(out);
    }
    for (const std::string& p : photos)
        fs::remove(p);
    fs::remove(settings);
    bench::removeBenchFiles(files);

    bench::figure("gui_batch_ms", bench::median(guiMs), "ms");
    bench::figure("cli_batch_ms", bench::median(cliMs), "ms");
    bench::figure("gui_batch_vs_cli", bench::median(guiMs) / bench::median(cliMs), "x");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        if (argc > 4 && std::string(argv[1]) == "--gui")
            return childGui(argc, argv);
        return parent();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_gui_batch: %s\n", e.what());
        return 1;
    }
}
