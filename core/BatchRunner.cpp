// SPDX-License-Identifier: GPL-3.0-or-later
#include "BatchRunner.h"

#include "Mask16.h"
#include "Tiff16Reader.h"

#include "FileIO.h"
#include "ImageFile.h"
#include "JpegCodec.h"
#include "MemoryBudget.h"
#include "Naming.h"
#include "SavePipeline.h"

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <stdexcept>
#include <thread>
#include <tuple>
#include <utility>

namespace lumivane {

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

// Records why photograph `result` could not be opened: an output too
// small for it, running out of memory while decoding it, an abandoned
// decode, or a file that cannot be read. Called inside a catch block.
void recordOpenFailure(BatchPhotoResult& result)
{
    try {
        throw;
    } catch (const OutputSizeError& e) {
        result.outcome = Outcome::WriteFailed;
        result.reason = e.what();
    } catch (const std::bad_alloc&) {
        result.outcome = Outcome::Unreadable;
        result.reason = "out of memory while decoding it";
    } catch (const DecodeStoppedError& e) {
        result.outcome = Outcome::NotDone;
        result.reason = e.what();
    } catch (const std::exception& e) {
        result.outcome = Outcome::Unreadable;
        result.reason = e.what();
    }
}

// Decodes a photograph by its name; false with the outcome set when it
// cannot be read.
bool decodePhotograph(const std::string& path, Bitmap24& into, BatchPhotoResult& result)
{
    try {
        if (!DecodeBySuffix(path, into, JpegSmoothing::Off, &result.damage)) {
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
    } catch (...) {
        recordOpenFailure(result);
        return false;
    }
}

class Batch {
public:
    Batch(const std::vector<std::string>& photos, const BatchSettings& settings, const BatchProgress& progress,
          const std::atomic<bool>* stop)
        : photos_(photos), settings_(settings), choices_(settings.Choices()), progress_(progress), stop_(stop),
          results_(photos.size()), started_(photos.size())
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
        // With several workers each streams its JPEGs; a single worker
        // decodes each photograph whole and saves it on two threads.
        stream_ = jobs > 1;
        // The reference levels come from the mask fitted to the first
        // photograph that opens, so that photograph is opened here first
        // and handed to the first worker. A streamed JPEG opens with its
        // header; anything else is decoded whole, while the mask may still
        // be loading.
        const ScopedDecodeStop abandon(settings_.abandon);
        // A mask loaded already is held in the budget before any photograph.
        if (!settings_.maskReady)
            holdMask();
        Opened first;
        std::size_t firstIndex = 0;
        levels_ = settings_.levels.value_or(HotspotLevels{});
        for (; firstIndex < photos_.size() && !stopped(); ++firstIndex) {
            if (open(firstIndex, first))
                break;
            finish(firstIndex);
        }
        next_ = firstIndex + 1;
        if (settings_.maskReady)
            settings_.maskReady();
        if (!settings_.chooseMask && settings_.mask->empty())
            throw std::invalid_argument("A batch needs a mask.");
        holdMask();
        // The first photograph may have been opened before the mask's size
        // was known; with the mask now held beside it, it must still fit.
        const int firstWidth = first.width(), firstHeight = first.height();
        const bool firstFits = firstIndex >= photos_.size() || fitsBesideTheMask(first, firstIndex);
        if (firstIndex < photos_.size() && !stopped()) {
            // Five pixels of the mask fitted to the first photograph, read
            // without fitting the whole mask. A mask chosen per photograph
            // brings its own levels.
            if (!settings_.levels && !settings_.chooseMask && !settings_.levelsOfEachPhotograph)
                levels_ = SampleCentreLevelsThrough(settings_.sampledMask ? *settings_.sampledMask : *settings_.mask,
                                                    firstWidth, firstHeight);
            std::vector<std::thread> workers;
            for (int j = 1; j < jobs; ++j)
                workers.emplace_back([this] { work(nullptr, 0); });
            work(firstFits ? &first : nullptr, firstIndex);
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
    // A photograph ready to be saved: a JPEG opened for streaming, or
    // anything decoded whole.
    struct Opened {
        std::unique_ptr<JpegRowReader> reader;
        Bitmap24 photo;
        // The streamed file's bytes, kept from photograph to photograph.
        std::shared_ptr<std::vector<std::uint8_t>> fileBytes;
        // The photograph's share of the process's memory budget, held from
        // its header until it is finished, and what its decoder said it
        // holds.
        MemoryReservation memory;
        PictureCost cost;
        bool streamed = false;
        int width() const { return reader ? reader->Width() : photo.width(); }
        int height() const { return reader ? reader->Height() : photo.height(); }
    };

    // A fault in the photograph's own file, found while it is streamed.
    struct UnreadablePhoto : std::runtime_error {
        using std::runtime_error::runtime_error;
    };

    bool stopped() const { return stop_ && stop_->load(); }
    bool abandoned() const { return settings_.abandon && settings_.abandon->load(); }
    bool wantsPreviews() const
    {
        return settings_.decoded && settings_.previewWidth > 0 && settings_.previewHeight > 0;
    }

    // The memory photograph `cost` describes needs on its path, besides
    // the mask the batch holds: the decoded picture unless it is streamed,
    // the decoder's working storage, the mask fitted to its size (unless the
    // mask is that size), the save's buffers, and for a TIFF saved at 16
    // bits its 16-bit picture and 16-bit mask. `maskKnown` is false while
    // the mask is still loading: a fitted copy is counted then.
    std::uint64_t jobNeed(const PictureCost& cost, ImageKind source, bool streamed, bool maskKnown) const
    {
        const std::uint64_t w = cost.width, h = cost.height;
        const std::uint64_t pixels = SaturatedProduct(w, h);
        const OutputFormat format = choices_.Format();
        const bool tiff16 = format == OutputFormat::Tiff && choices_.depth != 8 && source == ImageKind::Tiff;
        const bool maskOfThisSize = maskKnown && !settings_.chooseMask && settings_.mask &&
                                    std::uint64_t(settings_.mask->width()) == w &&
                                    std::uint64_t(settings_.mask->height()) == h;
        const std::uint64_t parts[] = {
            streamed ? 0 : cost.PictureBytes(),
            cost.workingBytes,
            maskOfThisSize ? 0 : SaturatedProduct(pixels, kBytesPerPixel),
            SavePipeline::WorkingBytes(w, h, format, choices_.OutputDepth(tiff16 ? 16 : 8), streamed),
            tiff16 ? SaturatedProduct(pixels, kBytesPerPixel16) : 0,
            tiff16 && settings_.mask16 && !maskOfThisSize ? SaturatedProduct(pixels, kBytesPerPixel16) : 0,
        };
        std::uint64_t need = 0;
        for (const std::uint64_t part : parts)
            need = SaturatedSum(need, part);
        return need;
    }

    // Refuses photograph i of width x height when its job's need beside the
    // mask the batch holds is more than the whole budget: it could never
    // get its share.
    void requireRoomBesideTheMask(std::size_t i, std::uint64_t width, std::uint64_t height, std::uint64_t need) const
    {
        const std::uint64_t budget = MemoryBudgetBytes();
        const std::uint64_t held = maskMemory_.Bytes();
        if (need > budget || held > budget - need)
            throw MemoryBudgetError(photos_[i], width, height, SaturatedSum(need, held), budget);
    }

    // The mask (and its 16-bit and unturned copies) stays in memory for the
    // whole batch: its bytes are held in the budget's pool, so the
    // photographs' shares fit beside it.
    // Done once, when the mask is known.
    void holdMask()
    {
        if (maskKnown_)
            return;
        maskKnown_ = true;
        if (settings_.chooseMask || !settings_.mask)
            return;
        std::uint64_t bytes = settings_.mask->byteCount();
        if (settings_.sampledMask && settings_.sampledMask != settings_.mask)
            bytes += settings_.sampledMask->byteCount();
        if (settings_.mask16)
            bytes += settings_.mask16->byteCount();
        maskMemory_ = MemoryReservation::Hold(bytes);
    }

    // Whether the first photograph, opened while the mask loaded, fits
    // beside the mask now held; when not, it is reported refused.
    bool fitsBesideTheMask(Opened& first, std::size_t i)
    {
        try {
            requireRoomBesideTheMask(
                i, first.cost.width, first.cost.height,
                jobNeed(first.cost, ImageKindBySuffix(photos_[i]), first.streamed, true));
            return true;
        } catch (const MemoryBudgetError& e) {
            first.reader.reset();
            first.photo = Bitmap24();
            first.memory.Release();
            results_[i].outcome = Outcome::Unreadable;
            results_[i].reason = e.what();
            finish(i);
            return false;
        }
    }

    // Opens photograph i into `into` (reusing its decoded storage); false
    // with the outcome set when it cannot be read.
    bool open(std::size_t i, Opened& into)
    {
        started_[i] = std::chrono::steady_clock::now();
        into.reader.reset();
        into.memory.Release();
        // A photograph the output cannot hold at the size the crop leaves
        // is refused at its header, before it is decoded. One that can takes
        // its share of the budget there, what its path needs (a streamed
        // JPEG its bands and buffers, not the picture), waiting while the
        // other workers' photographs leave too little of it beside the
        // mask: together they never hold more than the budget. A stop ends
        // the wait, the photograph not done. Both follow the output the
        // choices make (format and depth), not the quality slider alone.
        const ImageKind source = ImageKindBySuffix(photos_[i]);
        into.streamed = stream_ && source == ImageKind::Jpeg;
        const bool maskKnown = maskKnown_;
        const ScopedMemoryNeed need([this, &into, source, maskKnown](const PictureCost& cost) {
            into.cost = cost;
            return jobNeed(cost, source, into.streamed, maskKnown);
        });
        const ScopedSizeCheck fits([this, i, &into](std::uint64_t width, std::uint64_t height, std::uint64_t needed) {
            RequireOutputFits(width, height, choices_.crop, choices_.Format());
            requireRoomBesideTheMask(i, width, height, needed);
            into.memory.Release();
            std::optional<MemoryReservation> memory =
                MemoryReservation::Take(needed, [this] { return stopped() || abandoned(); });
            if (!memory)
                throw DecodeStoppedError();
            into.memory = std::move(*memory);
        });
        if (!into.streamed) {
            if (!decodePhotograph(photos_[i], into.photo, results_[i]))
                return false;
            showDecoded(i, into.photo);
            return true;
        }
        try {
            // The reader just dropped held the last file's bytes; nothing
            // else does, so they are overwritten in place.
            if (!into.fileBytes || into.fileBytes.use_count() > 1)
                into.fileBytes = std::make_shared<std::vector<std::uint8_t>>();
            TJPEGImage jpeg;
            jpeg.Smoothing = false;
            jpeg.LoadFromFile(photos_[i], into.fileBytes);
            into.reader = std::make_unique<JpegRowReader>(jpeg);
            return true;
        } catch (...) {
            recordOpenFailure(results_[i]);
            return false;
        }
    }

    void work(Opened* first, std::size_t index)
    {
        // Each worker keeps its own photograph and save buffers from one
        // photograph to the next. Streaming workers save on their own
        // thread; a single worker lets the pipeline use a second thread on
        // the decoded photograph instead.
        // Decodes started on this worker may be abandoned.
        const ScopedDecodeStop abandon(settings_.abandon);
        Opened opened;
        SavePipeline pipeline(stream_ ? 2 : 0);
        if (first) {
            std::swap(opened.reader, first->reader);
            std::swap(opened.photo, first->photo);
            std::swap(opened.fileBytes, first->fileBytes);
            std::swap(opened.memory, first->memory);
            saveOpened(opened, pipeline, index);
            opened.memory.Release();
        }
        for (;;) {
            if (stopped())
                return;
            const std::size_t i = next_.fetch_add(1);
            if (i >= photos_.size())
                return;
            if (open(i, opened))
                saveOpened(opened, pipeline, i);
            else
                finish(i);
            opened.memory.Release();
        }
    }

    void saveOpened(Opened& opened, SavePipeline& pipeline, std::size_t i)
    {
        if (opened.reader)
            saveStreamed(*opened.reader, pipeline, i);
        else
            saveDecoded(opened.photo, pipeline, i);
    }

    void showDecoded(std::size_t i, const Bitmap24& photo)
    {
        if (!wantsPreviews())
            return;
        Bitmap24 preview;
        preview.setSizeForOverwrite(settings_.previewWidth, settings_.previewHeight);
        stretchDraw(photo, preview);
        settings_.decoded(i, preview, photo.width(), photo.height());
    }

    void saveDecoded(const Bitmap24& photo, SavePipeline& pipeline, std::size_t i)
    {
        // A TIFF of 16 bits a channel keeps them in a TIFF output: it is read
        // again at full precision. A file that fails that read is saved from
        // its 8-bit picture, as any other.
        Tiff16Picture photo16;
        bool full = false;
        if (choices_.Format() == OutputFormat::Tiff && choices_.depth != 8) {
            // The 16-bit picture is part of the photograph's share already.
            const ScopedMemoryNeed counted(PictureAloneNeed);
            full = ReadTiff16ForSave(photos_[i], photo.width(), photo.height(), photo16);
        }
        save(photo.width(), photo.height(), i, [&](CorrectionSetup setup, const OutputTarget& target) {
            if (!full)
                return pipeline.Save(photo, setup, photos_[i], target);
            // The mask at 16 bits when it has them, fitted to the photograph
            // as the 8-bit mask is; its levels at 16 bits where the 8-bit
            // levels are sampled, unless given.
            Bitmap48 fitted16;
            if (settings_.mask16 && !settings_.chooseMask) {
                setup.mask16 = &FitMask16(*settings_.mask16, photo.width(), photo.height(), fitted16);
                if (settings_.levels16)
                    setup.levels16 = *settings_.levels16;
                else if (!settings_.levels && settings_.levelsOfEachPhotograph)
                    setup.levels16 = SampleCentreLevels16Through(*settings_.mask16, photo.width(), photo.height());
            }
            return pipeline.Save(photo, photo16.pixels, setup, photos_[i], target);
        });
    }

    // A JPEG decoded a band at a time while it is corrected and encoded.
    void saveStreamed(JpegRowReader& reader, SavePipeline& pipeline, std::size_t i)
    {
        const int width = reader.Width(), height = reader.Height();
        Bitmap24 preview;
        SavePipeline::RowObserver observe;
        if (wantsPreviews()) {
            preview.setSizeForOverwrite(settings_.previewWidth, settings_.previewHeight);
            observe = [&](int firstRow, const std::uint8_t* rows, std::size_t stride, int count) {
                stretchRowsInto(rows, stride, firstRow, count, width, height, preview);
                if (firstRow + count == height)
                    settings_.decoded(i, preview, width, height);
            };
        }
        save(width, height, i, [&](CorrectionSetup setup, const OutputTarget& target) {
            try {
                SaveResult saved = pipeline.Save(reader, setup, photos_[i], target, observe);
                results_[i].damage = reader.Damage();
                return saved;
            } catch (const DecodeStoppedError&) {
                throw;
            } catch (const std::exception& e) {
                if (reader.Failed())
                    throw UnreadablePhoto(e.what());
                throw;
            }
        });
    }

    // Chooses the mask and names for photograph i of width x height and
    // saves it through `write`, recording the outcome.
    using Writer = std::function<SaveResult(CorrectionSetup, const OutputTarget&)>;
    void save(int width, int height, std::size_t i, const Writer& write)
    {
        BatchPhotoResult& result = results_[i];
        result.width = width;
        result.height = height;
        const OutputTarget target = targetOf(i);
        // The step in progress, named when memory runs out.
        const char* step = "fitting the mask to it";
        try {
            if (!CropLeavesPixels(width, height, settings_.crop))
                throw std::invalid_argument("the crop margins leave no pixels of this " + std::to_string(width) +
                                            "x" + std::to_string(height) + " photograph");
            std::shared_ptr<const Bitmap24> mask;
            HotspotLevels levels = levels_;
            CorrectionChoices choices = choices_;
            MaskProfile maskProfile = settings_.maskProfile;
            if (settings_.chooseMask) {
                // A mask decoded for the batch holds only itself; its copy
                // fitted to this photograph is part of the photograph's share.
                const BatchMaskChoice choice = [&] {
                    const ScopedMemoryNeed alone(PictureAloneNeed);
                    return settings_.chooseMask(photos_[i]);
                }();
                result.mask = choice.name;
                if (!choice.HasMask()) {
                    result.outcome = Outcome::NoMask;
                    result.reason = choice.reason;
                    finish(i);
                    return;
                }
                mask = choice.maskForSize ? choice.maskForSize(width, height)
                                          : masks_.forSize(choice.mask, width, height);
                levels = choice.levels.value_or(SampleCentreLevels(*mask));
                if (choice.method)
                    choices.mode.method = *choice.method;
                maskProfile = choice.profile;
            } else {
                if (!settings_.levels && settings_.levelsOfEachPhotograph)
                    levels = SampleCentreLevelsThrough(settings_.sampledMask ? *settings_.sampledMask : *mask_,
                                                       width, height);
                mask = masks_.forSize(mask_, width, height);
            }
            result.levels = levels;
            step = "saving it";
            CorrectionSetup setup = SetUpCorrection(*mask, levels, choices, width, height);
            setup.maskProfile = maskProfile;
            const SaveResult saved = write(setup, target);
            result.written = saved.path;
            result.transplant = saved.transplant;
            result.makerNoteDropped = saved.metadata.makerNoteDropped;
            result.outcome = Outcome::Written;
        } catch (const FileExistsError& e) {
            // Only a target written when free raises this: the name is taken.
            result.outcome = Outcome::Skipped;
            result.reason = std::string("the output exists: ") + e.what();
        } catch (const UnreadablePhoto& e) {
            result.outcome = Outcome::Unreadable;
            result.reason = e.what();
        } catch (const DecodeStoppedError& e) {
            result.outcome = Outcome::NotDone;
            result.reason = e.what();
        } catch (const std::bad_alloc&) {
            result.outcome = Outcome::WriteFailed;
            result.reason = std::string("out of memory while ") + step;
        } catch (const std::exception& e) {
            result.outcome = Outcome::WriteFailed;
            result.reason = e.what();
        }
        finish(i);
    }

    // Where photograph i goes, as the settings name it and treat a taken
    // name.
    OutputTarget targetOf(std::size_t i) const
    {
        using Existing = BatchSettings::Existing;
        const OutputFormat format = settings_.Format();
        const bool cropped = HasCrop(settings_.crop);
        if (settings_.outputPath) {
            std::string path = settings_.outputPath(i);
            if (settings_.existing == Existing::Replace)
                return OutputTarget(std::move(path));
            if (settings_.existing == Existing::Skip)
                return OutputTarget::OnlyIfFree(std::move(path));
            // The clash names of the chosen name: its tick before the suffix.
            const std::size_t slash = path.rfind('/');
            const std::string folder = slash == std::string::npos ? "." : path.substr(0, slash);
            const std::string name = path.substr(slash == std::string::npos ? 0 : slash + 1);
            return OutputTarget::FirstFree([path, folder, name, format, tick = settings_.tick, cropped](int attempt) {
                return attempt == 0 ? path : BatchCandidatePath(folder, name, format, tick, attempt, cropped);
            });
        }
        const std::string outName = OutNameFor(photos_[i], format);
        const std::string plain = BatchCandidatePath(settings_.folder, outName, format, settings_.tick, 0, cropped);
        if (settings_.existing == Existing::Replace)
            return OutputTarget(plain);
        if (settings_.existing == Existing::Skip)
            return OutputTarget::OnlyIfFree(plain);
        return OutputTarget::FirstFree(
            [folder = settings_.folder, outName, format, tick = settings_.tick, cropped](int attempt) {
                return BatchCandidatePath(folder, outName, format, tick, attempt, cropped);
            });
    }

    void finish(std::size_t i)
    {
        if (started_[i] != std::chrono::steady_clock::time_point{})
            results_[i].seconds =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started_[i]).count();
        std::lock_guard<std::mutex> lock(progressMutex_);
        ++finished_;
        if (progress_)
            progress_(results_[i], finished_, int(photos_.size()));
    }

    const std::vector<std::string>& photos_;
    const BatchSettings& settings_;
    const CorrectionChoices choices_;
    const BatchProgress& progress_;
    const std::atomic<bool>* stop_;
    std::shared_ptr<const Bitmap24> mask_;
    FittedMasks masks_;
    HotspotLevels levels_;
    std::vector<BatchPhotoResult> results_;
    // When each photograph was opened (each written by its one worker).
    std::vector<std::chrono::steady_clock::time_point> started_;
    std::atomic<std::size_t> next_{0};
    bool stream_ = false;
    // The mask's bytes in the budget's pool, once it is loaded; workers
    // start after that.
    MemoryReservation maskMemory_;
    bool maskKnown_ = false;
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
