// SPDX-License-Identifier: GPL-3.0-or-later
// "Save Images": every photograph of the list is decoded, corrected and
// written by RunBatch on worker threads, while the calling (window) thread
// shows each photograph and reports it to the host in list order, exactly as
// a loop over the list would, however the workers finish.
#include "Workflow.h"

#include "BatchRunner.h"
#include "MessageText.h"
#include "Naming.h"
#include "ProfileMaskChooser.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <optional>
#include <set>
#include <thread>
#include <utility>

namespace lumivane {

namespace {

// What the workers hand over to the calling thread. Workers only write here,
// under the mutex; the calling thread takes each entry out in list order,
// so at most the photographs in flight wait here.
struct BatchMailbox {
    explicit BatchMailbox(std::size_t count) : previews(count), sizes(count), decoded(count, 0), results(count) {}

    std::mutex mutex;
    std::condition_variable changed;
    // The kPreviewWidth x kPreviewHeight preview of each photograph decoded, and its full size.
    std::vector<Bitmap24> previews;
    std::vector<std::pair<int, int>> sizes;
    std::vector<char> decoded;
    std::vector<std::optional<BatchPhotoResult>> results;
    // RunBatch has returned: every photograph without a result was not done.
    bool finished = false;
};

// Waits until `ready` holds or the batch has finished, letting the host's
// event loop run meanwhile. Returns with the mailbox locked.
template <class Ready>
void waitFor(WorkflowHost& host, BatchMailbox& box, std::unique_lock<std::mutex>& lock, Ready ready)
{
    const auto done = [&] { return box.finished || ready(); };
    while (!done()) {
        lock.unlock();
        host.KeepResponsive();
        lock.lock();
        box.changed.wait_for(lock, std::chrono::milliseconds(10), done);
    }
}

// One message naming every photograph that could not be saved and why.
std::string failureMessage(const std::vector<const BatchPhotoResult*>& failed, std::size_t total)
{
    std::string text = std::to_string(failed.size()) + (failed.size() == 1 ? " photograph" : " photographs") +
                       " of " + std::to_string(total) + " could not be saved:";
    for (const BatchPhotoResult* r : failed)
        text += "\n" + VisibleText(r->source) + ": " + VisibleText(r->reason);
    return text;
}

// One message naming every photograph written from a damaged source.
std::string damageMessage(const std::vector<const BatchPhotoResult*>& damaged, std::size_t total)
{
    std::string text = std::to_string(damaged.size()) + (damaged.size() == 1 ? " photograph" : " photographs") +
                       " of " + std::to_string(total) + (damaged.size() == 1 ? " is" : " are") +
                       " damaged; saved as decoded:";
    for (const BatchPhotoResult* r : damaged)
        text += "\n" + VisibleText(r->source) + ": " + r->damage;
    return text;
}

} // namespace

void Workflow::RequestStop()
{
    stopRequested_.store(true);
}

void Workflow::showBatchPhotograph(int index, Bitmap24* preview, int width, int height)
{
    selectEntry(index);
    sayShowing();
    if (!preview) {
        showEmptyPhotograph();
        return;
    }
    photos_.PhotoPresent = true;
    std::swap(photos_.PhotoPreview, *preview);
    showPreviewPictures(width, height);
    fitThumbnail(width, height);
    updateMaskRatioLabel(width, height);
    previewPass(width, height);
}

void Workflow::saveBatch(WorkflowHost& host, const std::string& folder, std::uint32_t startTime,
                         SaveOutcome& outcome)
{
    const std::vector<std::string> photos = photos_.Files;
    const std::size_t count = photos.size();

    // Masks of the folder skipped as unreadable, each said once; written by
    // the workers, read after they are joined.
    std::mutex warningsMutex;
    std::set<std::string> warnings;
    // The settings a save of the shown photograph uses, for every photograph.
    BatchSettings settings;
    settings.mask = &mask_.MaskImage;
    settings.levels = HotspotLevels{mask_.HotspotR, mask_.HotspotG, mask_.HotspotB};
    // The mask's colour profile: its file's, sRGB for a lens profile's mask.
    settings.maskProfile = maskProfileInUse();
    settings.SetChoices(Choices());
    // 16-bit photographs written as 16-bit TIFF get the mask at 16 bits too
    // when its file has them.
    Bitmap48 mask16;
    HotspotLevels levels16;
    if (settings.Format() == OutputFormat::Tiff && settings.depth != 8 && mask16InUse(mask16, levels16)) {
        settings.mask16 = &mask16;
        settings.levels16 = levels16;
    }
    settings.folder = folder;
    settings.tick = startTime;
    // With a mask folder each photograph gets the mask showing it would
    // choose; the mask in use serves those that match none.
    if (MaskMatchingOn())
        settings.chooseMask = FolderMaskChooser(
            std::shared_ptr<const Bitmap24>(&mask_.MaskImage, [](const Bitmap24*) {}), *settings.levels,
            [&](const std::string& warning) {
                std::lock_guard<std::mutex> lock(warningsMutex);
                warnings.insert(warning);
            });
    else if (lensProfileOn_)
        // Each photograph its own profile, as stepping to it would give it;
        // one without a profile is reported and skipped.
        settings.chooseMask = MakeProfileMaskChooser(std::string());
    const CorrectionSetup shown = CurrentSetup();
    correction_.TargetR = shown.targets.r;
    correction_.TargetG = shown.targets.g;
    correction_.TargetB = shown.targets.b;

    BatchMailbox box(count);
    // The preview the window would stretch from each photograph, made by
    // the worker while it decodes, so no photograph is decoded twice.
    settings.previewWidth = kPreviewWidth;
    settings.previewHeight = kPreviewHeight;
    settings.decoded = [&box](std::size_t index, Bitmap24& preview, int width, int height) {
        std::lock_guard<std::mutex> lock(box.mutex);
        box.previews[index] = std::move(preview);
        box.sizes[index] = {width, height};
        box.decoded[index] = 1;
        box.changed.notify_all();
    };
    const BatchProgress progress = [&box](const BatchPhotoResult& result, int, int) {
        std::lock_guard<std::mutex> lock(box.mutex);
        box.results[result.index] = result;
        box.changed.notify_all();
    };

    // Esc stops the batch and abandons the decodes in flight.
    settings.abandon = &stopRequested_;
    session_.ProgressShown = true;
    host.BatchStarted();
    texts_.ProgressValue = 0;
    stopRequested_.store(false);
    const int jobs = session_.BatchJobsInFlight > 0 ? session_.BatchJobsInFlight
                                           : int(std::max(1u, std::thread::hardware_concurrency()));
    std::exception_ptr batchError;
    std::thread runner([&] {
        try {
            RunBatch(photos, settings, jobs, progress, &stopRequested_);
        } catch (...) {
            batchError = std::current_exception();
        }
        std::lock_guard<std::mutex> lock(box.mutex);
        box.finished = true;
        box.changed.notify_all();
    });
    // Whatever leaves this function, the workers finish what they hold and
    // are joined first: they read the mask and settings above.
    struct Joined {
        std::thread& runner;
        std::atomic<bool>& stop;
        ~Joined()
        {
            if (runner.joinable()) {
                stop.store(true);
                runner.join();
            }
        }
    } joined{runner, stopRequested_};

    std::vector<BatchPhotoResult> reported;
    reported.reserve(count);
    int written = 0;
    std::vector<std::string> profiled; // written with their lens profile
    for (std::size_t i = 0; i < count; ++i) {
        std::unique_lock<std::mutex> lock(box.mutex);
        if (i > 0) {
            // The next photograph is shown as soon as its worker has it.
            waitFor(host, box, lock, [&] { return box.decoded[i] || box.results[i]; });
            if (!box.decoded[i] && !box.results[i])
                break; // stopped before it was started
            Bitmap24 preview = std::move(box.previews[i]);
            const auto [width, height] = box.sizes[i];
            const bool decoded = box.decoded[i];
            lock.unlock();
            showBatchPhotograph(int(i), decoded ? &preview : nullptr, width, height);
            lock.lock();
        } else {
            box.previews[0] = Bitmap24(); // entry 0 is on screen already
        }
        waitFor(host, box, lock, [&] { return box.results[i].has_value(); });
        if (!box.results[i])
            break;
        reported.push_back(std::move(*box.results[i]));
        box.results[i].reset();
        lock.unlock();

        const BatchPhotoResult& r = reported.back();
        PhotoResult result;
        result.Source = r.source;
        result.Written = r.written;
        result.Transplant = r.transplant;
        result.Damage = r.damage;
        result.Mask = r.mask;
        if (r.outcome == BatchPhotoResult::Outcome::Written) {
            ++written;
            photos_.OutPath = r.written;
            // A photograph corrected with its lens profile says so.
            const bool withProfile = IsProfileMaskName(r.mask);
            if (withProfile)
                profiled.push_back(FileNamePart(r.written));
            const std::string saved =
                FileNamePart(r.written) + " saved" + (withProfile ? " with its " + r.mask : std::string());
            result.MakerNoteDropped = r.makerNoteDropped;
            if (r.damage.empty())
                say(WithMakerNoteClause(saved + '.', r.makerNoteDropped));
            else
                say(WithMakerNoteClause(saved + ", " + FileNamePart(r.source) + " damaged: " + r.damage,
                                        r.makerNoteDropped));
        } else {
            result.Error = r.reason;
            say(' ' + FileNamePart(r.source) + " was not saved: " + r.reason);
        }
        outcome.Results.push_back(result);
        texts_.ProgressValue = int(i) + 1;
        texts_.ProgressText = BatchProgressText(FileNamePart(photos[i]), int(i) + 1, int(count));
        WorkflowProgress step;
        step.Done = int(i) + 1;
        step.Total = int(count);
        step.Last = &outcome.Results.back();
        host.Progress(step);
    }
    runner.join();
    for (const std::string& warning : warnings)
        outcome.Warnings += (outcome.Warnings.empty() ? "Warning: " : "\nWarning: ") + warning;

    // The batch ends showing the first entry again. The photograph holder
    // still holds it (only the previews showed the others), so it is not
    // decoded again.
    selectEntry(0);
    // An unreadable TIFF on screen left no photograph: the thumbnail then
    // shows the mask in its own proportions.
    if (PhotoFull().empty())
        fitThumbnail(mask_.MaskImage.width(), mask_.MaskImage.height());
    else
        fitThumbnail(PhotoFull().width(), PhotoFull().height());
    showHeldPhotograph();
    if (batchError)
        std::rethrow_exception(batchError);

    // A photograph whose decode Esc abandoned was not done, not failed.
    std::vector<const BatchPhotoResult*> failed, damaged;
    std::size_t abandoned = 0;
    for (const BatchPhotoResult& r : reported) {
        if (r.outcome == BatchPhotoResult::Outcome::NotDone)
            ++abandoned;
        else if (r.outcome != BatchPhotoResult::Outcome::Written)
            failed.push_back(&r);
        else if (!r.damage.empty())
            damaged.push_back(&r);
    }
    if (!failed.empty())
        outcome.Failures = failureMessage(failed, count);
    if (!damaged.empty())
        outcome.Damaged = damageMessage(damaged, count);
    if (reported.size() < count || abandoned > 0) {
        outcome.StoppedByUser = true;
        say(" Saving stopped: " + std::to_string(written) + " of " + std::to_string(count) +
            " photographs written" + LensProfileClause(profiled) + ".");
    } else {
        say(BatchSavedText(written, int(count), folder) + LensProfileClause(profiled));
    }
}

} // namespace lumivane
