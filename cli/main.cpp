// SPDX-License-Identifier: GPL-3.0-or-later
// lumivane-cli: the correction set up in the window, run over many
// photographs from a terminal or a script, without a display.
#include "BatchRunner.h"
#include "CliOptions.h"
#include "FolderMaskChooser.h"
#include "LensProfile.h"
#include "ImageFile.h"
#include "MaskFolder.h"
#include "MaskQuality.h"
#include "MemoryBudget.h"
#include "Naming.h"
#include "ProfileMaskChooser.h"
#include "ProgramSettings.h"
#include "Settings.h"
#include "SettingsLocation.h"
#include "TiffReader.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <unistd.h>

using namespace lumivane;
using namespace lumivane::cli;

namespace {

constexpr int kExitFailures = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;

std::atomic<bool> stopRequested{false};
// The second Ctrl-C: the photographs being read are abandoned as well.
std::atomic<bool> abandonRequested{false};

extern "C" void onStopSignal(int)
{
    if (stopRequested.exchange(true))
        abandonRequested.store(true);
}

void installStopHandlers()
{
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// The folder of this executable, where a program run from its build tree
// keeps its settings.
std::string executableFolder()
{
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return ec ? std::string(".") : self.parent_path().string();
}

bool isFile(const std::string& path)
{
    std::error_code ec;
    return !path.empty() && std::filesystem::is_regular_file(path, ec);
}

const char* outcomeText(BatchPhotoResult::Outcome outcome)
{
    switch (outcome) {
    case BatchPhotoResult::Outcome::Written:
        return "written";
    case BatchPhotoResult::Outcome::Unsupported:
        return "unsupported name";
    case BatchPhotoResult::Outcome::Unreadable:
        return "unreadable";
    case BatchPhotoResult::Outcome::WriteFailed:
        return "write error";
    case BatchPhotoResult::Outcome::NotDone:
        return "not done";
    case BatchPhotoResult::Outcome::NoMask:
        return "no mask";
    }
    return "";
}

// The mask check's findings, one warning a line.
// The warnings the mask-quality check gives for one mask.
std::string maskWarnings(const std::string& path, const Bitmap24& mask)
{
    std::string lines;
    const MaskQuality quality = CheckMaskQuality(mask, SampleCentreLevels(mask));
    for (const MaskFinding& finding : quality.findings)
        lines += "lumivane-cli: warning: mask " + path + ": " + finding.text + "\n";
    return lines;
}

// The quality check of the --mask file, run beside the batch so that no
// photograph waits for it. Its warnings are printed with the next progress
// report, or before the summary at the latest.
class BackgroundMaskCheck {
public:
    void Start(const std::string& path, const Bitmap24& mask)
    {
        thread_ = std::jthread([this, path, &mask] {
            std::string lines = maskWarnings(path, mask);
            std::lock_guard<std::mutex> lock(mutex_);
            lines_ = std::move(lines);
            done_ = true;
        });
    }
    // Prints the warnings once they are known; `clearLine` first erases an
    // updating progress line. Returns whether anything was printed.
    bool PrintIfDone(bool clearLine)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!done_ || printed_)
            return false;
        printed_ = true;
        if (lines_.empty())
            return false;
        if (clearLine)
            std::cerr << "\r\033[K";
        std::cerr << lines_;
        return true;
    }
    void Finish()
    {
        if (thread_.joinable())
            thread_.join();
        PrintIfDone(false);
    }

private:
    std::jthread thread_;
    std::mutex mutex_;
    std::string lines_;
    bool done_ = false;
    bool printed_ = false;
};

// --list-lenses: the database's lenses that match the pattern, one a line.
int listLenses(const std::string& pattern)
{
    const std::vector<std::string> names = LensDatabase::Instance().ListLenses(pattern);
    for (const std::string& name : names)
        std::cout << name << "\n";
    if (names.empty()) {
        std::cerr << "lumivane-cli: no lens of the database matches '" << pattern << "'\n";
        return kExitFailures;
    }
    return 0;
}

int run(const CliOptions& o)
{
    // A malformed memory limit stops the program before anything is read.
    try {
        MemoryBudgetBytes();
    } catch (const MemoryLimitSettingError& e) {
        throw UsageError(e.what());
    }
    // Settings: the stored sliders, default mask and hotspot.
    // The window's defaults.ini unless another is named.
    const std::string settingsPath = o.settingsFile.empty()
                                         ? SettingsFolder(executableFolder(), ProcessEnvironment()) + "/defaults.ini"
                                         : o.settingsFile;
    // A named settings file must exist; one that is no regular file is
    // refused by the reader in its own words.
    std::error_code settingsError;
    if (!o.settingsFile.empty() && !std::filesystem::exists(settingsPath, settingsError))
        throw UsageError("cannot read the settings file " + settingsPath);
    SettingsValues stored;
    try {
        stored = ReadSettingsFile(settingsPath, isFile);
    } catch (const SettingsError& e) {
        throw UsageError(e.what());
    }
    // A damaged line costs only what it holds: the batch goes on with the
    // rest of the file.
    for (int line : stored.ignoredLines)
        std::cerr << "lumivane-cli: warning: " << IgnoredLinesText(FileNamePart(settingsPath), {line}) << "\n";
    // The method and colour option: lumivane.ini beside the settings file
    // (none: additive), then the command line.
    const std::string settingsFolder = std::filesystem::path(settingsPath).parent_path().string();
    const std::string programSettingsPath = ProgramSettingsPath(settingsFolder.empty() ? "." : settingsFolder);
    ProgramSettings program;
    try {
        program = ReadProgramSettingsFile(programSettingsPath);
    } catch (const std::exception& e) {
        throw UsageError(std::string("cannot read ") + programSettingsPath + ": " + e.what());
    }
    CorrectionMode mode = ResolveMode(o, program.mode);
    if (o.lensProfile) {
        // The database loads while the first photograph decodes.
        LensDatabase::Preload();
        if (mode.method != CorrectionMethod::Exact && !o.quiet && o.maskFolder.empty())
            std::cerr << "Lens profile: exact correction used\n";
        if (o.maskFolder.empty())
            mode.method = CorrectionMethod::Exact;
    }

    // With a mask folder the stored default mask is not used; --mask is the
    // fallback for photographs that no mask of the folder matches.
    // Lens profiles alone need no mask file.
    const std::string maskPath =
        o.maskFile.empty() && o.maskFolder.empty() && !o.lensProfile ? stored.defaultMask : o.maskFile;
    if (maskPath.empty() && o.maskFolder.empty() && !o.lensProfile)
        throw UsageError("no mask: give --mask FILE or --mask-folder DIR, or store a default mask in the window (" +
                         (stored.fileExisted ? settingsPath + " names none)" : "no " + settingsPath + ")"));

    // The mask decodes on a second thread while the batch decodes its first
    // photograph (a single photograph would otherwise leave a core idle);
    // whatever needs the mask's pixels earlier waits for it.
    Bitmap24 loaded;
    std::string maskError;
    // Without --mask (a mask folder alone) there is no mask to wait for.
    std::jthread maskLoader;
    if (!maskPath.empty())
        maskLoader = std::jthread([&] {
            try {
                if (!DecodeBySuffix(maskPath, loaded, JpegSmoothing::On))
                    throw std::runtime_error("not a .jpg, .jpeg, .bmp, .tif or .tiff name");
                if (loaded.empty())
                    throw std::runtime_error("the file holds no picture");
                if (o.smoothMask)
                    loaded = SmoothMask(loaded);
            } catch (const std::exception& e) {
                maskError = e.what();
            }
        });
    bool maskChecked = false;
    BackgroundMaskCheck maskCheck;
    const auto awaitMask = [&] {
        if (maskLoader.joinable())
            maskLoader.join();
        if (!maskError.empty())
            throw UsageError("cannot read the mask " + maskPath + ": " + maskError);
        if (!maskChecked && !maskPath.empty())
            maskCheck.Start(maskPath, loaded);
        maskChecked = true;
    };
    // Turned masks are copies; an unturned one is used as loaded.
    Bitmap24 turned;
    if (o.turns % 4 != 0 && !maskPath.empty()) {
        awaitMask();
        turned = TurnedMask(loaded, o.turns);
    }
    const Bitmap24& mask = o.turns % 4 != 0 ? turned : loaded;

    BatchSettings settings;
    settings.mode = mode;
    try {
        settings.brightness = o.brightness.value_or(ClampedSliderPosition(stored.iniBrightness, 0, 50));
        settings.strength = ClampedSliderPosition(stored.iniStrength, 0, 100);
        settings.quality = o.quality.value_or(ClampedSliderPosition(stored.iniQuality, 1, 101));
    } catch (const SettingsError& e) {
        throw UsageError(std::string("the settings file ") + settingsPath + ": " + e.what());
    }
    if (o.strength) {
        if (settings.mode.method == CorrectionMethod::Exact)
            std::cerr << "lumivane-cli: warning: --strength is ignored: the exact method has no boost, it removes "
                         "the whole fall-off\n";
        else
            settings.strength = *o.strength;
    }
    settings.mask = maskPath.empty() ? nullptr : &mask;
    settings.sampledMask = &loaded;
    settings.crop = o.crop;
    settings.offsetX = o.offsetX;
    settings.offsetY = o.offsetY;
    // The hotspot as the window decides it: a pick in the adjustment
    // panel's view, else the stored levels when the mask is the stored
    // default mask, else the centre of the mask.
    if (o.hotspot && !maskPath.empty()) {
        awaitMask();
        settings.levels = PanelLevelsAt(mask, o.hotspot->first, o.hotspot->second);
    } else if (maskPath == stored.defaultMask && stored.storedHotspotPending() &&
               stored.hotspotR + stored.hotspotG + stored.hotspotB != 0) {
        settings.levels = HotspotLevels{stored.hotspotR, stored.hotspotG, stored.hotspotB};
    }

    if (!maskPath.empty())
        settings.maskReady = awaitMask;

    // The mask folder: read the camera facts of its masks once, then choose
    // per photograph; each mask is decoded once (a few kept at a time).
    MaskFolder folder;
    DecodedMasks decoded([&o](const std::string& path) { return DecodeMaskFile(path, o.smoothMask); });
    std::mutex warnings;
    std::set<std::string> warned;
    if (!o.maskFolder.empty()) {
        std::error_code dirError;
        if (!std::filesystem::is_directory(o.maskFolder, dirError))
            throw UsageError("cannot read the mask folder " + o.maskFolder + ": no such folder");
        folder.SetFolder(o.maskFolder);
        folder.Scan();
        FolderChooserOptions options;
        if (!maskPath.empty()) {
            options.fallback = std::shared_ptr<const Bitmap24>(&mask, [](const Bitmap24*) {});
            options.fallbackLevels = settings.levels;
            options.fallbackName = FileNamePart(maskPath) + " (no match in the folder)";
        }
        if (o.hotspot)
            options.levelsOf = [&o](const Bitmap24& chosen) -> std::optional<HotspotLevels> {
                return PanelLevelsAt(chosen, o.hotspot->first, o.hotspot->second);
            };
        options.warn = [&](const std::string& warning) {
            std::lock_guard<std::mutex> lock(warnings);
            std::cerr << "lumivane-cli: warning: " << warning << "\n";
        };
        options.decodedFresh = [&](const std::string& path, const Bitmap24& chosen) {
            // A mask decoded again after others pushed it out is not
            // warned about twice.
            std::lock_guard<std::mutex> lock(warnings);
            if (warned.insert(path).second)
                std::cerr << maskWarnings(path, chosen);
        };
        // The window's fallback to lens profiles, stored in lumivane.ini,
        // serves here too.
        if (o.lensProfile || program.masks.profileFallback)
            options.profileFallback = MakeProfileMaskChooser(o.lens);
        settings.chooseMask = MakeFolderMaskChooser(folder.Candidates(), decoded, std::move(options));
    } else if (o.lensProfile) {
        settings.chooseMask = MakeProfileMaskChooser(o.lens);
    }

    std::error_code ec;
    // The folders this run makes, deepest first: removed again when the run
    // writes nothing into them.
    std::vector<std::filesystem::path> made;
    for (std::filesystem::path p = std::filesystem::path(o.outDir).lexically_normal();
         !p.empty() && p != p.root_path() && !std::filesystem::exists(p, ec); p = p.parent_path()) {
        if (p.filename().empty())
            continue; // a trailing slash
        made.push_back(p);
    }
    const auto removeMadeFolders = [&made] {
        std::error_code ignored;
        for (const std::filesystem::path& p : made)
            if (!std::filesystem::remove(p, ignored))
                break; // not empty (or not ours to remove): its parents stay too
    };
    std::filesystem::create_directories(o.outDir, ec);
    if (!std::filesystem::is_directory(o.outDir))
        throw UsageError("cannot make the output folder " + o.outDir +
                         (ec ? ": " + ec.message() : std::string(": a file of that name is in the way")));
    settings.folder = o.outDir;
    settings.tick = SystemTickCount();
    settings.abandon = &abandonRequested;

    const int jobs = o.jobs > 0 ? o.jobs : int(std::max(1u, std::thread::hardware_concurrency()));
    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    const auto started = std::chrono::steady_clock::now();
    installStopHandlers();
    std::vector<BatchPhotoResult> results;
    try {
        results = RunBatch(
            o.photos, settings, jobs,
            [&](const BatchPhotoResult& r, int finished, int total) {
                maskCheck.PrintIfDone(terminal && !o.quiet);
                const bool ok = r.outcome == BatchPhotoResult::Outcome::Written;
                if (!ok) {
                    if (terminal && !o.quiet)
                        std::cerr << "\r\033[K";
                    std::cerr << "lumivane-cli: " << r.source << ": " << outcomeText(r.outcome) << ": " << r.reason
                              << "\n";
                }
                if (o.quiet)
                    return;
                if (terminal)
                    std::cerr << "\r\033[K[" << finished << "/" << total << "] " << FileNamePart(r.source) << std::flush;
                else if (ok)
                    std::cerr << "[" << finished << "/" << total << "] " << r.source << " -> " << r.written << "\n";
            },
            &stopRequested);
    } catch (const UsageError&) {
        // An unreadable mask writes nothing, not even the folder made for it.
        removeMadeFolders();
        throw;
    }

    if (terminal && !o.quiet)
        std::cerr << "\r\033[K";
    maskCheck.Finish();

    int written = 0, failed = 0, notDone = 0;
    for (const BatchPhotoResult& r : results) {
        if (r.outcome == BatchPhotoResult::Outcome::Written)
            ++written;
        else if (r.outcome == BatchPhotoResult::Outcome::NotDone)
            ++notDone;
        else
            ++failed;
    }
    // A run that wrote nothing (every write failed, or every photograph was
    // unreadable) leaves no empty folder of its own making behind.
    if (written == 0)
        removeMadeFolders();
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    if (!o.quiet || failed > 0 || notDone > 0) {
        char time[32];
        std::snprintf(time, sizeof time, "%.1f s", seconds);
        std::cerr << written << " written, " << failed << " failed";
        if (notDone > 0)
            std::cerr << ", " << notDone << " not done (stopped)";
        std::cerr << ", " << time << "\n";
        for (const BatchPhotoResult& r : results)
            if (r.outcome != BatchPhotoResult::Outcome::Written)
                std::cerr << "  " << outcomeText(r.outcome) << ": " << r.source << " (" << r.reason << ")\n";
    }
    if (!o.maskFolder.empty() || o.lensProfile) {
        // Which mask each photograph got, in the order given.
        std::cerr << "Masks:\n";
        for (const BatchPhotoResult& r : results)
            std::cerr << "  " << r.source << ": " << (r.mask.empty() ? std::string("none") : r.mask) << "\n";
    }
    if (stopRequested.load() && notDone > 0)
        return kExitInterrupted;
    return failed > 0 || notDone > 0 ? kExitFailures : 0;
}

} // namespace

int main(int argc, char** argv)
{
    // Past a file-size limit (ulimit -f) the system would kill the program
    // with SIGXFSZ in the middle of a write; ignored, the write fails with
    // EFBIG, which is reported and the temporary file removed.
    std::signal(SIGXFSZ, SIG_IGN);
    InstallSilentTiffHandlers();
    try {
        const CliOptions options = ParseCommandLine(std::vector<std::string>(argv + 1, argv + argc));
        if (options.help) {
            std::cout << kUsage;
            return 0;
        }
        if (options.version) {
            std::cout << "lumivane-cli " LUMIVANE_VERSION "\n";
            return 0;
        }
        if (options.listLenses)
            return listLenses(*options.listLenses);
        return run(options);
    } catch (const UsageError& e) {
        std::cerr << "lumivane-cli: " << e.what() << "\n" << "Try 'lumivane-cli --help'.\n";
        return kExitUsage;
    } catch (const std::exception& e) {
        std::cerr << "lumivane-cli: " << e.what() << "\n";
        return kExitUsage;
    }
}
