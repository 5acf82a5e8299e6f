// SPDX-License-Identifier: GPL-3.0-or-later
// lumivane-cli: the correction set up in the window, run over many
// photographs from a terminal or a script, without a display.
#include "BatchRunner.h"
#include "CliOptions.h"
#include "FolderMaskChooser.h"
#include "ImageFile.h"
#include "LensProfile.h"
#include "MaskFolder.h"
#include "MaskQuality.h"
#include "MemoryBudget.h"
#include "MessageText.h"
#include "Naming.h"
#include "ProfileMaskChooser.h"
#include "ProgramSettings.h"
#include "SaveQuality.h"
#include "Settings.h"
#include "SettingsLocation.h"
#include "OutputPlan.h"
#include "TextFormat.h"
#include "Tiff16Reader.h"
#include "TiffReader.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <mutex>
#include <new>
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

// Whether the stored default mask names something that is there. Whatever
// it is goes to the mask reader, which refuses a FIFO, a device or a folder
// naming it; only a mask that is gone counts as none stored.
bool isThere(const std::string& path)
{
    std::error_code ec;
    return !path.empty() && std::filesystem::exists(path, ec);
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
    case BatchPhotoResult::Outcome::Skipped:
        return "skipped";
    }
    return "";
}

// Why a photograph failed, with a hint where the command line can do better:
// a folder is walked with --recursive.
std::string reasonText(const BatchPhotoResult& r)
{
    const std::string folder = ": is a folder";
    if (r.reason.size() >= folder.size() && r.reason.compare(r.reason.size() - folder.size(), folder.size(), folder) == 0)
        return r.reason + " (use --recursive)";
    return r.reason;
}

// A finding of the mask check in the words of this program: the window's
// "smooth mask" check box is the --smooth-mask option here.
std::string CommandLineFinding(std::string text)
{
    const std::string windowWords = "choose \"smooth mask\"";
    const std::size_t at = text.find(windowWords);
    if (at != std::string::npos)
        text.replace(at, windowWords.size(), "use --smooth-mask");
    return text;
}

// The warnings the mask-quality check gives for one mask, one a line.
std::string maskWarnings(const std::string& path, const Bitmap24& mask)
{
    std::string lines;
    const MaskQuality quality = CheckMaskQuality(mask, SampleCentreLevels(mask));
    for (const MaskFinding& finding : quality.findings)
        lines += "lumivane-cli: warning: mask " + VisibleText(path) + ": " + CommandLineFinding(finding.text) + "\n";
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
        std::cout << VisibleText(name) << "\n";
    if (names.empty()) {
        std::cerr << "lumivane-cli: no lens of the database matches '" << VisibleText(pattern) << "'\n";
        return kExitFailures;
    }
    return 0;
}

// ---- Resolving the setup: settings, method, mask path and choices ----

// What the stored settings and the command line make of a run.
struct ResolvedSetup {
    std::string settingsPath;
    CorrectionMode mode;
    // The --mask file or the stored default mask; empty with a mask folder
    // alone.
    std::string maskPath;
    // The window's fallback to lens profiles for photographs no mask of the
    // folder matches, stored in lumivane.ini.
    bool profileFallback = false;
    BatchSettings batch;
};

ResolvedSetup resolveSetup(const CliOptions& o)
{
    // A malformed memory limit stops the program before anything is read.
    try {
        MemoryBudgetBytes();
    } catch (const MemoryLimitSettingError& e) {
        throw UsageError(e.what());
    }
    ResolvedSetup r;
    // Settings: the stored sliders, default mask and hotspot.
    // The window's defaults.ini unless another is named.
    r.settingsPath = o.settingsFile.empty()
                         ? SettingsFolder(executableFolder(), ProcessEnvironment()) + "/defaults.ini"
                         : o.settingsFile;
    // A named settings file must exist; one that is no regular file is
    // refused by the reader in its own words.
    std::error_code settingsError;
    if (!o.settingsFile.empty() && !std::filesystem::exists(r.settingsPath, settingsError))
        throw UsageError("cannot read the settings file " + r.settingsPath);
    // The file is read only when a value the command line leaves open is
    // needed, so a broken or unreadable defaults.ini stops nothing whose
    // every value was given.
    std::optional<SettingsValues> storedValues;
    const auto stored = [&]() -> const SettingsValues& {
        if (storedValues)
            return *storedValues;
        try {
            storedValues = ReadSettingsFile(r.settingsPath, isThere);
        } catch (const SettingsError& e) {
            throw UsageError(e.what());
        }
        // A damaged line costs only what it holds: the batch goes on with
        // the rest of the file.
        for (int line : storedValues->ignoredLines)
            std::cerr << "lumivane-cli: warning: "
                      << VisibleText(IgnoredLinesText(FileNamePart(r.settingsPath), {line})) << "\n";
        return *storedValues;
    };
    // The method and colour option: lumivane.ini beside the settings file
    // (none: additive), then the command line.
    const std::string settingsFolder = std::filesystem::path(r.settingsPath).parent_path().string();
    const std::string programSettingsPath = ProgramSettingsPath(settingsFolder.empty() ? "." : settingsFolder);
    ProgramSettings program;
    try {
        program = ReadProgramSettingsFile(programSettingsPath);
    } catch (const std::exception& e) {
        throw UsageError(std::string("cannot read ") + programSettingsPath + ": " + e.what());
    }
    r.mode = ResolveMode(o, program.mode);
    r.profileFallback = program.masks.profileFallback;
    if (o.lensProfile) {
        // The database loads while the first photograph decodes.
        LensDatabase::Preload();
        if (r.mode.method != CorrectionMethod::Exact && !o.quiet && o.maskFolder.empty())
            std::cerr << "Lens profile: exact correction used\n";
        if (o.maskFolder.empty())
            r.mode.method = CorrectionMethod::Exact;
    }

    // With a mask folder the stored default mask is not used; --mask is the
    // fallback for photographs that no mask of the folder matches. Lens
    // profiles alone need no mask file.
    r.maskPath =
        o.maskFile.empty() && o.maskFolder.empty() && !o.lensProfile ? stored().defaultMask : o.maskFile;
    if (r.maskPath.empty() && o.maskFolder.empty() && !o.lensProfile)
        throw UsageError("no mask: give --mask FILE or --mask-folder DIR, or store a default mask in the window (" +
                         (stored().fileExisted ? r.settingsPath + " names none)" : "no " + r.settingsPath + ")"));

    BatchSettings& settings = r.batch;
    settings.mode = r.mode;
    try {
        settings.brightness = o.brightness ? *o.brightness : ClampedSliderPosition(stored().iniBrightness, 0, 50);
        // The exact method has no boost: no stored one is needed.
        settings.strength = o.strength || settings.mode.method == CorrectionMethod::Exact
                                ? 0
                                : ClampedSliderPosition(stored().iniStrength, 0, 100);
        settings.quality = ResolveQuality(o, o.quality ? *o.quality : ClampedSliderPosition(stored().iniQuality, 1, kBmpQuality));
    } catch (const SettingsError& e) {
        throw UsageError(std::string("the settings file ") + r.settingsPath + ": " + e.what());
    }
    if (o.strength) {
        if (settings.mode.method == CorrectionMethod::Exact)
            std::cerr << "lumivane-cli: warning: --strength is ignored: the exact method has no boost, it removes "
                         "the whole fall-off\n";
        else
            settings.strength = *o.strength;
    }
    settings.crop = o.crop;
    settings.tiff = o.format == OutputFormat::Tiff;
    settings.depth = o.depth;
    settings.offsetX = o.offsetX;
    settings.offsetY = o.offsetY;
    // Without a hotspot each photograph's levels come from the mask fitted
    // to it, so that its result never depends on the rest of the list.
    settings.levelsOfEachPhotograph = true;
    if (o.levels)
        settings.levels = o.levels;
    else if (!o.hotspot && !r.maskPath.empty() && r.maskPath == stored().defaultMask &&
             stored().storedHotspotPending() && stored().hotspotR + stored().hotspotG + stored().hotspotB != 0)
        settings.levels = HotspotLevels{stored().hotspotR, stored().hotspotG, stored().hotspotB};
    switch (o.existing) {
    case ExistingOutputs::ClashName:
        settings.existing = BatchSettings::Existing::ClashName;
        break;
    case ExistingOutputs::Overwrite:
        settings.existing = BatchSettings::Existing::Replace;
        break;
    case ExistingOutputs::Skip:
        settings.existing = BatchSettings::Existing::Skip;
        break;
    }
    return r;
}

// ---- Loading the mask ----

// The --mask file (or stored default mask), decoded on a second thread
// while the batch decodes its first photograph (a single photograph would
// otherwise leave a core idle); whatever needs its pixels earlier waits.
class MaskLoad {
public:
    MaskLoad(const std::string& path, const CliOptions& o) : path_(path), turns_(o.turns)
    {
        if (path_.empty())
            return;
        loader_ = std::jthread([this, smooth = o.smoothMask] {
            try {
                // The mask stays for the whole run, with its smoothed and
                // turned copies; the copies fitted to photographs are
                // counted with those photographs.
                const int copies = 1 + (smooth ? 1 : 0) + (turns_ % 4 != 0 ? 1 : 0);
                const ScopedMemoryNeed need([copies](const PictureCost& cost) {
                    return PictureAloneNeed(cost) +
                           SaturatedProduct(cost.PictureBytes(), std::uint64_t(copies - 1));
                });
                if (!DecodeBySuffix(path_, loaded_, JpegSmoothing::On))
                    throw std::runtime_error("not a .jpg, .jpeg, .bmp, .tif or .tiff name");
                if (loaded_.empty())
                    throw std::runtime_error("the file holds no picture");
                if (smooth)
                    loaded_ = SmoothMask(loaded_);
            } catch (const std::bad_alloc&) {
                error_ = "out of memory while decoding it";
            } catch (const std::exception& e) {
                error_ = e.what();
            }
        });
    }
    bool Given() const { return !path_.empty(); }
    // Waits for the mask; raises UsageError when it cannot be read. The
    // first call starts the quality check and makes the turned copy.
    void Await()
    {
        if (loader_.joinable())
            loader_.join();
        if (!error_.empty())
            // The path may be the stored default mask's, a line of a file:
            // escaped here, a NUL in it cannot end the message early.
            throw UsageError("cannot read the mask " + VisibleText(path_) + ": " + VisibleText(error_));
        if (!checked_ && Given()) {
            check_.Start(path_, loaded_);
            // Turned masks are copies; an unturned one is used as loaded.
            if (turns_ % 4 != 0)
                turned_ = TurnedMask(loaded_, turns_);
        }
        checked_ = true;
    }
    const Bitmap24& Loaded() const { return loaded_; }
    const Bitmap24& Used() const { return turns_ % 4 != 0 ? turned_ : loaded_; }
    BackgroundMaskCheck& Check() { return check_; }

private:
    std::string path_;
    int turns_;
    Bitmap24 loaded_;
    Bitmap24 turned_;
    std::string error_;
    bool checked_ = false;
    BackgroundMaskCheck check_;
    std::jthread loader_;
};

// ---- The output folders ----

// Makes the folders the outputs go into and proves each writable with an
// unnamed temporary file, before any photograph is decoded. Remembers the
// folders it made so that they can be removed again when left empty.
class OutputFolders {
public:
    void Prepare(const std::string& outDir, const std::vector<std::string>& outputs)
    {
        std::set<std::filesystem::path> folders = {std::filesystem::path(outDir).lexically_normal()};
        for (const std::string& output : outputs)
            folders.insert(std::filesystem::path(output).parent_path().lexically_normal());
        for (const std::filesystem::path& folder : folders)
            make(folder);
        for (const std::filesystem::path& folder : folders)
            testWritable(folder);
    }
    // Removes the folders this run made that are still empty, deepest first.
    void RemoveEmpty() const
    {
        std::vector<std::filesystem::path> deepestFirst(made_.begin(), made_.end());
        std::sort(deepestFirst.begin(), deepestFirst.end(), [](const auto& a, const auto& b) {
            return std::distance(a.begin(), a.end()) > std::distance(b.begin(), b.end());
        });
        std::error_code ignored;
        for (const std::filesystem::path& p : deepestFirst)
            std::filesystem::remove(p, ignored); // fails, harmlessly, when not empty
    }

private:
    void make(const std::filesystem::path& folder)
    {
        std::error_code ec;
        for (std::filesystem::path p = folder; !p.empty() && p != p.root_path(); p = p.parent_path()) {
            if (std::filesystem::exists(p, ec) || ec)
                break;
            if (!p.filename().empty())
                made_.insert(p);
        }
        std::filesystem::create_directories(folder, ec);
        std::error_code isDirError;
        if (!std::filesystem::is_directory(folder, isDirError)) {
            RemoveEmpty();
            const std::error_code& why = ec ? ec : isDirError;
            throw UsageError("cannot make the output folder " + folder.string() +
                             (why ? ": " + why.message() : std::string(": a file of that name is in the way")));
        }
    }
    void testWritable(const std::filesystem::path& folder)
    {
        int fd = ::open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0600);
        int error = fd < 0 ? errno : 0;
        if (fd < 0 && (error == EOPNOTSUPP || error == EISDIR || error == EINVAL)) {
            // A file system without unnamed files: a named one, removed at once.
            std::string name = (folder / ".lumivane-write-test.XXXXXX").string();
            fd = ::mkstemp(name.data());
            error = fd < 0 ? errno : 0;
            if (fd >= 0)
                ::unlink(name.c_str());
        }
        if (fd >= 0) {
            ::close(fd);
            return;
        }
        RemoveEmpty();
        throw UsageError("cannot write into the output folder " + folder.string() + ": " +
                         std::generic_category().message(error));
    }
    std::set<std::filesystem::path> made_;
};

// ---- Reporting progress, the report file and the summary ----

// A photograph written from a damaged file is "damaged": written, with the
// damage as its reason.
const char* reportOutcome(const BatchPhotoResult& r)
{
    switch (r.outcome) {
    case BatchPhotoResult::Outcome::Written:
        return r.damage.empty() ? "written" : "damaged";
    case BatchPhotoResult::Outcome::Skipped:
        return "skipped";
    case BatchPhotoResult::Outcome::NotDone:
        return "not-done";
    default:
        return "failed";
    }
}

std::string methodText(const CorrectionMode& mode)
{
    std::string text(MethodName(mode.method));
    if (mode.method == CorrectionMethod::Exact)
        text += " (" + std::string(ColourOptionName(mode.colour)) + ")";
    return text;
}

std::string levelsText(const HotspotLevels& levels)
{
    return std::to_string(levels.r) + "," + std::to_string(levels.g) + "," + std::to_string(levels.b);
}

// The JSON string of a text (UTF-8 passed through; control characters and
// the two JSON specials escaped).
std::string jsonString(const std::string& text)
{
    std::string json = "\"";
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            json += '\\';
            json += c;
        } else if (byte < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", byte);
            json += escaped;
        } else {
            json += c;
        }
    }
    return json + "\"";
}

// What is said about each photograph as it finishes: the progress line,
// errors, warnings about the mask's fit, --verbose and the --report line.
class ProgressReport {
public:
    ProgressReport(const CliOptions& o, const ResolvedSetup& setup, const std::vector<std::string>& outputs,
                   MaskLoad& mask)
        : o_(o), setup_(setup), outputs_(outputs), mask_(mask), terminal_(::isatty(STDERR_FILENO) == 1)
    {
        if (!setup_.maskPath.empty())
            maskFacts_ = ReadCameraFacts(setup_.maskPath);
        if (o.reportFile.empty())
            return;
        report_.open(o.reportFile, std::ios::out | std::ios::trunc | std::ios::binary);
        if (!report_)
            throw UsageError("cannot write the report " + o.reportFile + ": " + std::strerror(errno));
    }

    // One photograph done; `index` is its place in the whole list.
    void Photo(const BatchPhotoResult& r, std::size_t index, int finished, int total)
    {
        mask_.Check().PrintIfDone(terminal_ && !o_.quiet);
        const bool ok = r.outcome == BatchPhotoResult::Outcome::Written;
        const bool skipped = r.outcome == BatchPhotoResult::Outcome::Skipped;
        const std::string maskName = r.mask.empty() ? setup_.maskPath : r.mask;
        if (!ok && !skipped) {
            clearLine();
            std::cerr << "lumivane-cli: " << VisibleText(r.source) << ": " << outcomeText(r.outcome) << ": "
                      << VisibleText(reasonText(r)) << "\n";
        }
        if (ok && !r.damage.empty()) {
            clearLine();
            std::cerr << "lumivane-cli: " << VisibleText(r.source) << ": damaged, written as decoded: " << r.damage
                      << "\n";
        }
        if (ok)
            warnAboutFit(r);
        if (ok && r.makerNoteDropped) {
            clearLine();
            std::cerr << "lumivane-cli: warning: " << VisibleText(r.source) << ": " << kMakerNoteDroppedWarning << "\n";
        }
        if (o_.verbose && ok) {
            clearLine();
            std::cerr << "lumivane-cli: " << VisibleText(r.source) << ": mask " << VisibleText(maskName) << ", levels "
                      << (r.levels ? levelsText(*r.levels) : std::string("none")) << ", method "
                      << methodText(setup_.mode) << ", output " << VisibleText(r.written) << "\n";
        }
        writeReportLine(r, index, maskName);
        if (o_.quiet)
            return;
        if (terminal_)
            std::cerr << "\r\033[K[" << finished << "/" << total << "] " << VisibleText(FileNamePart(r.source))
                      << std::flush;
        else if (ok)
            std::cerr << "[" << finished << "/" << total << "] " << VisibleText(r.source) << " -> "
                      << VisibleText(r.written) << "\n";
        else if (skipped)
            std::cerr << "[" << finished << "/" << total << "] " << VisibleText(r.source) << ": skipped ("
                      << VisibleText(r.reason) << ")\n";
    }
    // The run was refused after all (the mask cannot be read): no report.
    void Discard()
    {
        if (!report_.is_open())
            return;
        report_.close();
        std::remove(o_.reportFile.c_str());
    }
    void EndProgressLine()
    {
        if (terminal_ && !o_.quiet)
            std::cerr << "\r\033[K";
    }

private:
    void clearLine()
    {
        if (terminal_ && !o_.quiet)
            std::cerr << "\r\033[K";
    }

    // The window shows a mask of another shape in red; here it is a
    // warning line, as is a mask taken with another camera.
    void warnAboutFit(const BatchPhotoResult& r)
    {
        if (!r.mask.empty() || !mask_.Given())
            return; // a folder's mask was chosen for this photograph's camera
        const Bitmap24& mask = mask_.Used();
        if (r.width > 0 && r.height > 0 && mask.height() > 0 &&
            MaskRatioDiffers(r.width, r.height, mask.width(), mask.height()))
            std::cerr << "lumivane-cli: warning: " << VisibleText(r.source) << ": the mask's aspect ratio 1:"
                      << RatioText(mask.width(), mask.height()) << " differs from the photograph's 1:"
                      << RatioText(r.width, r.height) << "\n";
        if (maskFacts_.make.empty() || maskFacts_.model.empty())
            return;
        const CameraFacts photo = ReadCameraFacts(r.source);
        if (!photo.make.empty() && !photo.model.empty() &&
            (photo.make != maskFacts_.make || photo.model != maskFacts_.model))
            std::cerr << "lumivane-cli: warning: " << VisibleText(r.source) << ": the mask was taken with "
                      << maskFacts_.make << " " << maskFacts_.model << ", the photograph with " << photo.make << " "
                      << photo.model << "\n";
    }

    void writeReportLine(const BatchPhotoResult& r, std::size_t index, const std::string& maskName)
    {
        if (!report_.is_open())
            return;
        const std::string output = r.written.empty() ? outputs_[index] : r.written;
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.3f", r.seconds);
        report_ << "{\"source\":" << jsonString(r.source) << ",\"output\":" << jsonString(output)
                << ",\"outcome\":\"" << reportOutcome(r) << "\",\"reason\":"
                << jsonString(r.reason.empty() ? r.damage : r.reason)
                << ",\"levels\":" << (r.levels ? "[" + levelsText(*r.levels) + "]" : std::string("null"))
                << ",\"mask\":" << jsonString(maskName) << ",\"method\":" << jsonString(methodText(setup_.mode))
                << ",\"timings\":{\"seconds\":" << seconds << "}"
                << ",\"maker_note_dropped\":" << (r.makerNoteDropped ? "true" : "false") << "}\n"
                << std::flush;
    }

    const CliOptions& o_;
    const ResolvedSetup& setup_;
    const std::vector<std::string>& outputs_;
    MaskLoad& mask_;
    const bool terminal_;
    std::ofstream report_;
    CameraFacts maskFacts_;
};

// The counts, what went wrong, and (with a mask folder) which mask each
// photograph got. Returns the exit status.
int printSummary(const CliOptions& o, const std::vector<BatchPhotoResult>& results, double seconds)
{
    int written = 0, failed = 0, notDone = 0, skipped = 0, damaged = 0;
    for (const BatchPhotoResult& r : results) {
        if (r.outcome == BatchPhotoResult::Outcome::Written) {
            ++written;
            damaged += r.damage.empty() ? 0 : 1;
        }
        else if (r.outcome == BatchPhotoResult::Outcome::NotDone)
            ++notDone;
        else if (r.outcome == BatchPhotoResult::Outcome::Skipped)
            ++skipped;
        else
            ++failed;
    }
    if (!o.quiet || failed > 0 || notDone > 0 || damaged > 0) {
        char time[32];
        std::snprintf(time, sizeof time, "%.1f s", seconds);
        std::cerr << written << " written, " << failed << " failed";
        if (damaged > 0)
            std::cerr << ", " << damaged << " damaged";
        if (skipped > 0)
            std::cerr << ", " << skipped << " skipped (output exists)";
        if (notDone > 0)
            std::cerr << ", " << notDone << " not done (stopped)";
        std::cerr << ", " << time << "\n";
        for (const BatchPhotoResult& r : results)
            if (r.outcome == BatchPhotoResult::Outcome::Written) {
                if (!r.damage.empty())
                    std::cerr << "  damaged: " << VisibleText(r.source) << " (" << r.damage << ")\n";
            } else if (r.outcome != BatchPhotoResult::Outcome::Skipped)
                std::cerr << "  " << outcomeText(r.outcome) << ": " << VisibleText(r.source) << " ("
                          << VisibleText(reasonText(r)) << ")\n";
    }
    // Which mask each photograph got, in the order given: with --quiet only
    // when something went wrong, like the counts.
    if ((!o.maskFolder.empty() || o.lensProfile) && (!o.quiet || failed > 0 || notDone > 0 || damaged > 0)) {
        std::cerr << "Masks:\n";
        for (const BatchPhotoResult& r : results)
            if (r.outcome != BatchPhotoResult::Outcome::Skipped)
                std::cerr << "  " << VisibleText(r.source) << ": "
                          << (r.mask.empty() ? std::string("none") : VisibleText(r.mask)) << "\n";
    }
    if (stopRequested.load() && notDone > 0)
        return kExitInterrupted;
    // A damaged photograph was written, but not as its file should have
    // given it: that fails the run unless the user allowed it.
    return failed > 0 || notDone > 0 || (damaged > 0 && !o.allowDamaged) ? kExitFailures : 0;
}

// The photographs still to be done after those finished before the batch
// starts: a folder given as a photograph (without --recursive), and with
// --skip-existing a photograph whose output is there, is not even read.
struct PendingPhotos {
    std::vector<BatchPhotoResult> results; // one for each input, in order
    std::vector<std::string> photos;        // the batch's photographs
    std::vector<std::size_t> todo;          // their indexes among the inputs
    int finishedFirst = 0;                  // inputs finished before the batch
};

PendingPhotos sortOutPending(const CliOptions& o, const std::vector<InputPhoto>& inputs,
                             const std::vector<std::string>& outputs, ProgressReport& progress)
{
    PendingPhotos pending;
    pending.results.resize(inputs.size());
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        BatchPhotoResult& result = pending.results[i];
        result.source = inputs[i].path;
        result.index = i;
        std::error_code existsError;
        if (std::filesystem::is_directory(inputs[i].path, existsError)) {
            // Refused as the file reader refuses it, whatever its name.
            result.outcome = BatchPhotoResult::Outcome::Unreadable;
            result.reason = inputs[i].path + ": is a folder";
            progress.Photo(result, i, ++pending.finishedFirst, int(inputs.size()));
            continue;
        }
        if (o.existing == ExistingOutputs::Skip && std::filesystem::exists(outputs[i], existsError)) {
            // One whose output appears meanwhile is skipped by the batch.
            result.outcome = BatchPhotoResult::Outcome::Skipped;
            result.reason = "the output exists: " + outputs[i];
            progress.Photo(result, i, ++pending.finishedFirst, int(inputs.size()));
            continue;
        }
        pending.todo.push_back(i);
        pending.photos.push_back(inputs[i].path);
    }
    return pending;
}

// Where each photograph's mask and levels come from: the mask given (its
// 16-bit pixels too, when it has them), the mask folder, or lens profiles.
// Holds what the batch's settings point at, so it outlives the batch.
class MaskSources {
public:
    explicit MaskSources(const CliOptions& o)
        : decoded_([&o](const std::string& path) { return DecodeMaskFile(path, o.smoothMask); })
    {
    }

    void Attach(const CliOptions& o, const ResolvedSetup& setup, MaskLoad& mask, OutputFolders& folders,
                BatchSettings& settings)
    {
        settings.mask = mask.Given() ? &mask.Used() : nullptr;
        settings.sampledMask = &mask.Loaded();
        // The hotspot as the window decides it: a pick in the adjustment
        // panel's view, else the stored levels when the mask is the stored
        // default mask (resolveSetup), else the centre of the mask fitted to
        // each photograph.
        if (o.hotspot && mask.Given()) {
            mask.Await();
            settings.levels = PanelLevelsAt(mask.Used(), o.hotspot->first, o.hotspot->second);
        }
        if (mask.Given())
            settings.maskReady = [&mask] { mask.Await(); };

        // A 16-bit TIFF mask, unturned and unsmoothed, gives 16-bit gains to
        // the 16-bit photographs written as 16-bit TIFF; its levels are taken
        // at 16 bits at the picked hotspot when one was given (the 8-bit
        // levels picked there are these, rounded), else at the centre of
        // the mask fitted to each photograph (by the batch) unless stored
        // levels decide them.
        if (settings.tiff && settings.depth != 8 && !setup.maskPath.empty() && o.turns % 4 == 0 &&
            !o.smoothMask && IsTiff16(setup.maskPath) && ReadTiff16(setup.maskPath, mask16_)) {
            settings.mask16 = &mask16_.pixels;
            if (o.hotspot)
                settings.levels16 = PanelLevelsAt16(mask16_.pixels, o.hotspot->first, o.hotspot->second);
        }

        // The mask file's own colour profile, for the exact method's curves.
        settings.maskProfile = MaskProfileOfFile(setup.maskPath);

        if (!o.maskFolder.empty())
            attachFolder(o, setup, mask, folders, settings);
        else if (o.lensProfile)
            settings.chooseMask = MakeProfileMaskChooser(o.lens);
    }

private:
    // The mask folder: the camera facts of its masks are read once, then a
    // mask is chosen per photograph; each mask is decoded once (a few kept
    // at a time).
    void attachFolder(const CliOptions& o, const ResolvedSetup& setup, MaskLoad& mask, OutputFolders& folders,
                      BatchSettings& settings)
    {
        std::error_code dirError;
        if (!std::filesystem::is_directory(o.maskFolder, dirError)) {
            folders.RemoveEmpty();
            throw UsageError("cannot read the mask folder " + o.maskFolder + ": no such folder");
        }
        folder_.SetFolder(o.maskFolder);
        folder_.Scan();
        FolderChooserOptions options;
        if (mask.Given()) {
            options.fallback = std::shared_ptr<const Bitmap24>(&mask.Used(), [](const Bitmap24*) {});
            options.fallbackLevels = settings.levels;
            options.fallbackName = FileNamePart(setup.maskPath) + " (no match in the folder)";
            options.fallbackProfile = settings.maskProfile;
        }
        if (o.hotspot)
            options.levelsOf = [&o](const Bitmap24& chosen) -> std::optional<HotspotLevels> {
                return PanelLevelsAt(chosen, o.hotspot->first, o.hotspot->second);
            };
        else if (o.levels)
            options.levelsOf = [&o](const Bitmap24&) -> std::optional<HotspotLevels> { return o.levels; };
        options.warn = [this](const std::string& warning) {
            std::lock_guard<std::mutex> lock(warnings_);
            std::cerr << "lumivane-cli: warning: " << VisibleText(warning) << "\n";
        };
        options.decodedFresh = [this](const std::string& path, const Bitmap24& chosen) {
            // A mask decoded again after others pushed it out is not
            // warned about twice.
            std::lock_guard<std::mutex> lock(warnings_);
            if (warned_.insert(path).second)
                std::cerr << maskWarnings(path, chosen);
        };
        // The window's fallback to lens profiles, stored in lumivane.ini,
        // serves here too.
        if (o.lensProfile || setup.profileFallback)
            options.profileFallback = MakeProfileMaskChooser(o.lens);
        settings.chooseMask = MakeFolderMaskChooser(folder_.Candidates(), decoded_, std::move(options));
    }

    Tiff16Picture mask16_;
    MaskFolder folder_;
    DecodedMasks decoded_;
    std::mutex warnings_;
    std::set<std::string> warned_;
};

// Runs the batch over the pending photographs, their results put in their
// places among the inputs'.
void runPending(const CliOptions& o, const BatchSettings& settings, PendingPhotos& pending, int inputCount,
                ProgressReport& progress, OutputFolders& folders)
{
    if (pending.photos.empty())
        return;
    const int jobs = o.jobs > 0 ? o.jobs : int(std::max(1u, std::thread::hardware_concurrency()));
    std::vector<BatchPhotoResult> done;
    try {
        done = RunBatch(
            pending.photos, settings, jobs,
            [&](const BatchPhotoResult& r, int finished, int) {
                progress.Photo(r, pending.todo[r.index], pending.finishedFirst + finished, inputCount);
            },
            &stopRequested);
    } catch (const UsageError&) {
        // An unreadable mask writes nothing, not even the folder made for it.
        progress.Discard();
        folders.RemoveEmpty();
        throw;
    }
    for (BatchPhotoResult& r : done) {
        r.index = pending.todo[r.index];
        pending.results[r.index] = std::move(r);
    }
}

int run(const CliOptions& o)
{
    ResolvedSetup setup = resolveSetup(o);
    BatchSettings& settings = setup.batch;

    // Which photographs, and where each goes: decided, and refused when an
    // output would land on an input, before anything is read or written.
    const std::vector<InputPhoto> inputs = CollectPhotos(o.photos, o.recursive, o.outDir);
    if (inputs.empty())
        throw UsageError("no photograph found in the folders given");
    const std::vector<std::string> outputs = PlanOutputs(inputs, o, settings.Format());
    std::error_code ec;
    if (!setup.maskPath.empty() && std::filesystem::is_directory(setup.maskPath, ec))
        throw UsageError("cannot read the mask " + setup.maskPath + ": is a folder (use --mask-folder)");

    OutputFolders folders;
    folders.Prepare(o.outDir, outputs);
    MaskLoad mask(setup.maskPath, o);
    std::unique_ptr<ProgressReport> progress;
    try {
        progress = std::make_unique<ProgressReport>(o, setup, outputs, mask);
    } catch (const UsageError&) {
        folders.RemoveEmpty();
        throw;
    }

    PendingPhotos pending = sortOutPending(o, inputs, outputs, *progress);
    MaskSources masks(o);
    masks.Attach(o, setup, mask, folders, settings);
    settings.folder = o.outDir;
    settings.outputPath = [&](std::size_t index) { return outputs[pending.todo[index]]; };
    settings.tick = SystemTickCount();
    settings.abandon = &abandonRequested;

    const auto started = std::chrono::steady_clock::now();
    installStopHandlers();
    runPending(o, settings, pending, int(inputs.size()), *progress, folders);
    progress->EndProgressLine();
    mask.Check().Finish();
    // No empty folder of this run's making is left behind (a run that wrote
    // nothing, or nothing into some folder of the mirrored tree).
    folders.RemoveEmpty();
    return printSummary(o, pending.results,
                        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
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
        std::cerr << "lumivane-cli: " << VisibleText(e.what()) << "\n" << "Try 'lumivane-cli --help'.\n";
        return kExitUsage;
    } catch (const std::exception& e) {
        std::cerr << "lumivane-cli: " << VisibleText(e.what()) << "\n";
        return kExitUsage;
    }
}
