// SPDX-License-Identifier: GPL-3.0-or-later
// Correcting a list of photographs into a folder with one mask, several
// photographs in flight at once.
//
// Every photograph is decoded, corrected against the mask fitted to its size,
// encoded and written under the batch's names (the plain output name first,
// then the tick-count names; never replacing a file), with the source's EXIF
// in a JPEG. A photograph that cannot be read or written is reported and the
// batch goes on. With N jobs, N workers each take the next photograph of the
// list, so while one photograph is corrected and encoded the next is being
// decoded. With more than one job each worker streams a JPEG through a band
// of rows: decoded, corrected and encoded a band at a time, the photograph
// never held whole. Memory is then about N file buffers plus the mask
// fitted to each distinct photograph size in use (and one decoded
// photograph: the first, read while the mask loads, and any BMP or TIFF).
// The mask is held in the memory budget's pool for the whole batch, and
// each photograph reserves beside it what its path needs (see
// MemoryReservation): the workers wait for each other rather than pass
// the budget together.
#pragma once

#include "Bitmap24.h"
#include "CorrectionKernel.h"
#include "CorrectionSetup.h"
#include "ExifTransplant.h"
#include "MaskGeometry.h"

#include <atomic>
#include <cstdint>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace lumivane {

// The mask one photograph of a batch is corrected with, chosen for it.
struct BatchMaskChoice {
    // Null when no mask serves this photograph: it fails with `reason`.
    std::shared_ptr<const Bitmap24> mask;
    std::string name;
    // Levels to use; when empty, sampled at the centre of the mask fitted
    // to the photograph, as a mask loaded onto it samples them.
    std::optional<HotspotLevels> levels;
    std::string reason;
    // When set, the mask is made for the photograph's size by this instead
    // of stretching `mask` (a lens profile renders its fall-off at full
    // size).
    std::function<std::shared_ptr<const Bitmap24>(int width, int height)> maskForSize;
    // When set, this photograph is corrected with this method whatever the
    // batch's (a lens profile always with the exact method).
    std::optional<CorrectionMethod> method;
    // The colour profile of the mask's file (a lens profile's mask is
    // sRGB); none: the mask is in the photograph's space.
    MaskProfile profile;
    bool HasMask() const { return maskForSize || (mask && !mask->empty()); }
};

// Chooses the mask of one photograph by its path. Called from the batch's
// workers, several at once.
using BatchMaskChooser = std::function<BatchMaskChoice(const std::string& photo)>;

// What the correction of a batch uses; the same for every photograph. The
// choices (offset, brightness, boost, method, quality, crop) are those of
// CorrectionChoices; the batch makes each photograph's CorrectionSetup
// from them.
struct BatchSettings : CorrectionChoices {
    // The mask as loaded and turned, at its own size.
    const Bitmap24* mask = nullptr;
    // Reference levels of the mask; when empty, they are sampled at the
    // centre of `sampledMask` (the mask as loaded, before any turn; `mask`
    // when null) fitted to the first photograph that decodes, as a mask
    // loaded onto that photograph samples them.
    std::optional<HotspotLevels> levels;
    const Bitmap24* sampledMask = nullptr;
    // When true (and `levels` is empty), each photograph's levels are
    // sampled at the centre of `sampledMask` fitted to that photograph, as
    // "Save Image" of that photograph alone samples them: its result then
    // depends on nothing else in the list.
    bool levelsOfEachPhotograph = false;
    // The mask at 16 bits a channel when its file has them (as `mask`:
    // turned, at its own size), for photographs of 16 bits saved as 16-bit
    // TIFF by the exact method; fitted to each as `mask` is. Its levels on
    // the 16-bit scale: `levels16` when given, else sampled as `levels` are
    // when those are sampled for each photograph (then `sampledMask` must
    // be unturned), else `levels` x 257.
    const Bitmap48* mask16 = nullptr;
    std::optional<HotspotLevels> levels16;
    // The colour profile of `mask`'s file (a mask chosen for each
    // photograph brings its own: BatchMaskChoice::profile).
    MaskProfile maskProfile;
    const CorrectionChoices& Choices() const { return *this; }
    void SetChoices(const CorrectionChoices& choices) { static_cast<CorrectionChoices&>(*this) = choices; }
    // Output folder and the tick count its clash names carry.
    std::string folder;
    std::uint32_t tick = 0;
    // When set, the output path of photograph `index` (instead of the
    // "Save Images" name in `folder`); its folder exists.
    std::function<std::string(std::size_t index)> outputPath;
    // What happens when a photograph's output name is taken.
    enum class Existing {
        ClashName, // the next free clash name (never replacing a file)
        Replace,   // replaced, atomically
        Skip,      // nothing is written: the photograph is reported Skipped
    };
    Existing existing = Existing::ClashName;
    // When set, each photograph's mask comes from here instead of `mask`
    // (which may then be null) and `levels` and `sampledMask` are not used.
    BatchMaskChooser chooseMask;
    // When set, each photograph decoded is shown to it as a preview: the
    // whole photograph stretched to previewWidth x previewHeight (as
    // stretchDraw stretches it), with its place in the list and its full
    // size. Called by the worker once the photograph is decoded, before its
    // file is written; the preview may be moved from. Several workers may
    // call at once.
    int previewWidth = 0;
    int previewHeight = 0;
    std::function<void(std::size_t index, Bitmap24& preview, int width, int height)> decoded;
    // When set, `mask` may still be loading when the batch starts: this is
    // called on the calling thread once the first photograph has been
    // decoded, before the mask is first read, and returns when the mask is
    // complete. An exception it raises leaves RunBatch before anything is
    // written.
    std::function<void()> maskReady;
    // When it becomes true, the JPEG decodes in progress are abandoned (see
    // ScopedDecodeStop): nothing of those photographs is written and they
    // are reported NotDone, "stopped while it was read". The window's Esc
    // sets it with the stop; lumivane-cli's second Ctrl-C.
    const std::atomic<bool>* abandon = nullptr;
};

struct BatchPhotoResult {
    enum class Outcome { Written, Unsupported, Unreadable, WriteFailed, NotDone, NoMask, Skipped };
    std::string source;
    // The photograph's place in the list.
    std::size_t index = 0;
    Outcome outcome = Outcome::NotDone;
    // The name of the mask chosen for it (only with a mask chooser).
    std::string mask;
    // The file written, or why nothing was.
    std::string written;
    std::string reason;
    // Whether the source's EXIF reached a JPEG written.
    TransplantResult transplant = TransplantResult::NotApplicable;
    // The source's maker note could not come along into the file written.
    bool makerNoteDropped = false;
    // The photograph's size and the levels it was corrected with, once its
    // mask was chosen.
    int width = 0;
    int height = 0;
    std::optional<HotspotLevels> levels;
    // Seconds from opening the photograph to its file written.
    double seconds = 0;
    // The decoder's description of damage it found in the photograph ("JPEG
    // ends early: N of M rows", "TIFF strip unreadable"), whose pixels were
    // kept and written; "" for an intact photograph.
    std::string damage;
};

// Called once per photograph as it finishes (from the worker that did it,
// one call at a time): the result and how many photographs are finished.
using BatchProgress = std::function<void(const BatchPhotoResult& result, int finished, int total)>;

// Runs the batch. `jobs` is the number of photographs in flight (at least 1).
// When `stop` becomes true, no further photograph is started; those in
// progress are finished and the rest are reported as NotDone. Results come
// back in the order of `photos`. The levels actually used are stored in
// `levelsUsed` when given.
std::vector<BatchPhotoResult> RunBatch(const std::vector<std::string>& photos, const BatchSettings& settings,
                                       int jobs, const BatchProgress& progress = {},
                                       const std::atomic<bool>* stop = nullptr,
                                       HotspotLevels* levelsUsed = nullptr);

} // namespace lumivane
