#include "BatchRunner.h"

#include "BitmapRotation.h"
#include "FileIO.h"
#include "ImageFile.h"
#include "Naming.h"
#include "SavePipeline.h"

#include <algorithm>
#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <tuple>
#include <utility>

namespace lumivane {

HotspotLevels PanelLevelsAt(const Bitmap24& mask, int x, int y)
{
    if (x < 0 || x >= 320 || y < 0 || y >= 240)
        throw std::invalid_argument("The hotspot " + std::to_string(x) + "," + std::to_string(y) +
                                    " lies outside the 320 x 240 view of the mask.");
    Bitmap24 view(320, 240);
    stretchDraw(mask, view);
    const Colour c = view.pixel(x, y);
    return {redOf(c), greenOf(c), blueOf(c)};
}

Bitmap24 TurnedMask(const Bitmap24& mask, int turns)
{
    Bitmap24 turned = mask;
    Bitmap24 next;
    for (int i = 0; i < ((turns % 4) + 4) % 4; ++i) {
        // A clockwise quarter turn is a turn of 270 degrees counterclockwise.
        Rotate90Into(270, turned, next);
        std::swap(turned, next);
    }
    return turned;
}

namespace {

using Outcome = BatchPhotoResult::Outcome;

// The mask fitted to each photograph size in use, per mask. A photograph of
// a mask's own size uses the mask itself; other sizes are stretched once and
// kept, the least recently used dropped beyond a few.
class FittedMasks {
public:
    std::shared_ptr<const Bitmap24> forSize(const std::shared_ptr<const Bitmap24>& mask, int w, int h)
    {
        if (w == mask->width() && h == mask->height())
            return mask;
        std::lock_guard<std::mutex> lock(mutex_);
        const auto key = std::make_tuple(mask.get(), w, h);
        auto found = fitted_.find(key);
        if (found == fitted_.end()) {
            if (fitted_.size() >= kKeep) {
                auto oldest = std::min_element(fitted_.begin(), fitted_.end(), [](const auto& a, const auto& b) {
                    return a.second.lastUse < b.second.lastUse;
                });
                fitted_.erase(oldest);
            }
            auto stretched = std::make_shared<Bitmap24>();
            stretched->setSizeForOverwrite(w, h);
            stretchDraw(*mask, *stretched);
            found = fitted_.emplace(key, Entry{std::move(stretched), mask, 0}).first;
        }
        found->second.lastUse = ++clock_;
        return found->second.bitmap;
    }

private:
    static constexpr std::size_t kKeep = 3;
    struct Entry {
        std::shared_ptr<const Bitmap24> bitmap;
        // Keeps the source alive, so its address names no other mask.
        std::shared_ptr<const Bitmap24> source;
        unsigned long lastUse;
    };
    std::mutex mutex_;
    std::map<std::tuple<const Bitmap24*, int, int>, Entry> fitted_;
    unsigned long clock_ = 0;
};

// Decodes a photograph by its name; false with the outcome set when it
// cannot be read.
bool decodePhotograph(const std::string& path, Bitmap24& into, BatchPhotoResult& result)
{
    try {
        if (!DecodeBySuffix(path, into, JpegSmoothing::Off)) {
            result.outcome = Outcome::Unsupported;
            result.reason = "not a .jpg, .jpeg, .bmp, .tif or .tiff name";
            return false;
        }
        if (into.empty()) {
            result.outcome = Outcome::Unreadable;
            result.reason = "the file holds no picture";
            return false;
        }
        return true;
    } catch (const std::exception& e) {
        result.outcome = Outcome::Unreadable;
        result.reason = e.what();
        return false;
    }
}

class Batch {
public:
    Batch(const std::vector<std::string>& photos, const BatchSettings& settings, const BatchProgress& progress,
          const std::atomic<bool>* stop)
        : photos_(photos), settings_(settings), progress_(progress), stop_(stop), results_(photos.size())
    {
        if (settings.mask)
            mask_ = std::shared_ptr<const Bitmap24>(settings.mask, [](const Bitmap24*) {});
        for (std::size_t i = 0; i < photos.size(); ++i) {
            results_[i].source = photos[i];
            results_[i].index = i;
        }
    }

    std::vector<BatchPhotoResult> run(int jobs, HotspotLevels* levelsUsed)
    {
        // More workers than photographs would idle; with a single one the
        // save's second thread uses the spare core instead.
        jobs = int(std::min<std::size_t>(std::size_t(std::max(1, jobs)), std::max<std::size_t>(1, photos_.size())));
        // The reference levels come from the mask fitted to the first
        // photograph that decodes, so that photograph is decoded here first
        // and handed to the first worker.
        Bitmap24 first;
        std::size_t firstIndex = 0;
        levels_ = settings_.levels.value_or(HotspotLevels{});
        for (; firstIndex < photos_.size() && !stopped(); ++firstIndex) {
            if (decodePhotograph(photos_[firstIndex], first, results_[firstIndex])) {
                if (settings_.decoded)
                    settings_.decoded(firstIndex, first);
                break;
            }
            finish(firstIndex);
        }
        next_ = firstIndex + 1;
        if (settings_.maskReady)
            settings_.maskReady();
        if (!settings_.chooseMask && settings_.mask->empty())
            throw std::invalid_argument("A batch needs a mask.");
        if (firstIndex < photos_.size() && !stopped()) {
            // Five pixels of the mask fitted to the first photograph, read
            // without fitting the whole mask. A mask chosen per photograph
            // brings its own levels.
            if (!settings_.levels && !settings_.chooseMask)
                levels_ = SampleCentreLevelsThrough(settings_.sampledMask ? *settings_.sampledMask : *settings_.mask,
                                                    first.width(), first.height());
            std::vector<std::thread> workers;
            for (int j = 1; j < jobs; ++j)
                workers.emplace_back([this, jobs] { work(nullptr, 0, jobs); });
            work(&first, firstIndex, jobs);
            for (std::thread& t : workers)
                t.join();
        }
        if (levelsUsed)
            *levelsUsed = levels_;
        for (std::size_t i = 0; i < results_.size(); ++i)
            if (results_[i].outcome == Outcome::NotDone && results_[i].reason.empty())
                results_[i].reason = "not started: the batch was stopped";
        return std::move(results_);
    }

private:
    bool stopped() const { return stop_ && stop_->load(); }

    void work(Bitmap24* decoded, std::size_t index, int jobs)
    {
        // Each worker keeps its own photograph and save buffers from one
        // photograph to the next. With several workers each saves on its own
        // thread; a single worker lets the pipeline use a second thread.
        Bitmap24 photo;
        SavePipeline pipeline(jobs > 1 ? 1 : 0);
        if (decoded) {
            std::swap(photo, *decoded);
            save(photo, pipeline, index);
        }
        for (;;) {
            if (stopped())
                return;
            const std::size_t i = next_.fetch_add(1);
            if (i >= photos_.size())
                return;
            if (decodePhotograph(photos_[i], photo, results_[i])) {
                if (settings_.decoded)
                    settings_.decoded(i, photo);
                save(photo, pipeline, i);
            } else
                finish(i);
        }
    }

    void save(const Bitmap24& photo, SavePipeline& pipeline, std::size_t i)
    {
        BatchPhotoResult& result = results_[i];
        const bool bmp = settings_.quality == 101;
        const bool cropped = HasCrop(settings_.crop);
        const std::string outName = OutNameFor(photos_[i], bmp);
        const OutputTarget target = OutputTarget::FirstFree(
            [folder = settings_.folder, outName, bmp, tick = settings_.tick, cropped](int attempt) {
                return BatchCandidatePath(folder, outName, bmp, tick, attempt, cropped);
            });
        try {
            if (!CropLeavesPixels(photo.width(), photo.height(), settings_.crop))
                throw std::invalid_argument("the crop margins leave no pixels of this " +
                                            std::to_string(photo.width()) + "x" + std::to_string(photo.height()) +
                                            " photograph");
            std::shared_ptr<const Bitmap24> mask;
            HotspotLevels levels = levels_;
            if (settings_.chooseMask) {
                const BatchMaskChoice choice = settings_.chooseMask(photos_[i]);
                result.mask = choice.name;
                if (!choice.mask || choice.mask->empty()) {
                    result.outcome = Outcome::NoMask;
                    result.reason = choice.reason;
                    finish(i);
                    return;
                }
                mask = masks_.forSize(choice.mask, photo.width(), photo.height());
                levels = choice.levels.value_or(SampleCentreLevels(*mask));
            } else {
                mask = masks_.forSize(mask_, photo.width(), photo.height());
            }
            const CorrectionRegion region =
                FullSizeRegion(settings_.offsetX, settings_.offsetY, photo.width(), photo.height());
            const float damping = DampingForStrength(settings_.strength);
            const CorrectionTargets targets = TargetsFor(levels.r, levels.g, levels.b, settings_.brightness);
            if (bmp)
                result.written = pipeline.SaveCorrectedBmp(photo, *mask, region, damping, targets, settings_.crop,
                                                           target);
            else {
                const SaveResult saved = pipeline.SaveCorrectedJpeg(photo, *mask, region, damping, targets,
                                                                    settings_.crop, settings_.quality, photos_[i],
                                                                    target);
                result.written = saved.path;
                result.transplant = saved.transplant;
            }
            result.outcome = Outcome::Written;
        } catch (const std::exception& e) {
            result.outcome = Outcome::WriteFailed;
            result.reason = e.what();
        }
        finish(i);
    }

    void finish(std::size_t i)
    {
        std::lock_guard<std::mutex> lock(progressMutex_);
        ++finished_;
        if (progress_)
            progress_(results_[i], finished_, int(photos_.size()));
    }

    const std::vector<std::string>& photos_;
    const BatchSettings& settings_;
    const BatchProgress& progress_;
    const std::atomic<bool>* stop_;
    std::shared_ptr<const Bitmap24> mask_;
    FittedMasks masks_;
    HotspotLevels levels_;
    std::vector<BatchPhotoResult> results_;
    std::atomic<std::size_t> next_{0};
    std::mutex progressMutex_;
    int finished_ = 0;
};

} // namespace

std::vector<BatchPhotoResult> RunBatch(const std::vector<std::string>& photos, const BatchSettings& settings,
                                       int jobs, const BatchProgress& progress, const std::atomic<bool>* stop,
                                       HotspotLevels* levelsUsed)
{
    if (!settings.chooseMask && (!settings.mask || (!settings.maskReady && settings.mask->empty())))
        throw std::invalid_argument("A batch needs a mask.");
    Batch batch(photos, settings, progress, stop);
    return batch.run(jobs, levelsUsed);
}

} // namespace lumivane
