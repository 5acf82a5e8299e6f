// SPDX-License-Identifier: GPL-3.0-or-later
// A folder of flat-field masks that finds the mask for each photograph, the
// decoded masks kept between photographs, and masks.ini, the file that keeps
// the folder and the smoothing choice beside defaults.ini (which keeps its
// own lines unchanged).
//
// Matching: a mask is a candidate for a photograph when both were taken with
// the same camera (make and model) and, where both name a lens model, the
// same lens. Among the candidates the nearest aperture in stops wins, then
// the nearest focal length as a ratio, then the newest file. A photograph or
// mask without make, model or F-number matches nothing.
#pragma once

#include "Bitmap24.h"

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumivane {

class TImageInfo;

// What matching reads of a photograph's or a mask's EXIF.
struct CameraFacts {
    std::string make;
    std::string model;
    std::string lens;         // lens model (tag 0xA434), empty when not recorded
    double fNumber = 0;       // 0 when not recorded
    double focalLength = 0;   // millimetres, 0 when not recorded

    // Make, model and F-number are all known: only then can it match.
    bool Matchable() const { return !make.empty() && !model.empty() && fNumber > 0; }
};

// A camera or lens name from its stored bytes: up to the first NUL, without
// the blanks around it, other control characters shown as ".".
std::string StoredName(const std::string& stored);

// The facts of an EXIF block already read.
CameraFacts CameraFactsOf(const TImageInfo& exif);

// Reads the facts from the file's EXIF head (JPEG sections up to the image
// data, or the head of a TIFF); never the pixels. A file without EXIF, or
// one that cannot be read, gives empty facts.
CameraFacts ReadCameraFacts(const std::string& path);

// The camera as the status line names it: "Canon EOS 5D, F4, 50 mm"; parts
// that are not recorded are left out ("unknown camera" without make and
// model).
std::string DescribeCamera(const CameraFacts& facts);

// One mask file of a folder and what was read of it.
struct MaskCandidate {
    std::string path;
    CameraFacts facts;
    std::int64_t modified = 0; // modification time, nanoseconds since the epoch
    std::uintmax_t size = 0;
};

// True when the mask may serve the photograph (camera and, where both carry
// one, lens agree; both matchable).
bool MaskFits(const CameraFacts& photo, const CameraFacts& mask);

// Distance of a candidate: aperture difference in stops (|log2 of the
// F-number ratio| x 2), then focal-length difference (|ln of the ratio|;
// 0 when either is unknown).
struct MatchDistance {
    double stops = 0;
    double focal = 0;
};
MatchDistance DistanceBetween(const CameraFacts& photo, const CameraFacts& mask);

// Indices of the candidates that fit the photograph, best first.
std::vector<std::size_t> RankMasks(const CameraFacts& photo, const std::vector<MaskCandidate>& masks);

// Index of the best candidate for the photograph, none when nothing fits.
std::optional<std::size_t> ChooseMask(const CameraFacts& photo, const std::vector<MaskCandidate>& masks);

// The masks of one folder. The first scan reads the EXIF head of every file
// with a mask name (.jpg, .jpeg, .jpe, .bmp, .tif, .tiff); later scans read
// only files that are new or changed since (by modification time and size).
class MaskFolder {
public:
    // Empty: no folder.
    void SetFolder(const std::string& folder);
    const std::string& Folder() const { return folder_; }
    // Looks at the folder again; returns the candidates in name order. A
    // folder that cannot be listed gives none.
    const std::vector<MaskCandidate>& Scan();
    const std::vector<MaskCandidate>& Candidates() const { return candidates_; }
    // Files whose EXIF head was read by all scans so far.
    int HeadsRead() const { return headsRead_; }

private:
    std::string folder_;
    std::vector<MaskCandidate> candidates_;
    int headsRead_ = 0;
};

// The outcome of looking for a photograph's mask.
struct MaskChoice {
    std::string path;       // empty when nothing matches
    CameraFacts photo;      // what the photograph's EXIF says
};
// Scans the folder (cheaply when nothing changed) and chooses.
MaskChoice ChooseFromFolder(MaskFolder& folder, const std::string& photoPath);

// A mask file decoded by its name (JPEG block smoothing on, as for every
// mask) and, when `smooth` is set, smoothed (SmoothMask). Raises
// std::runtime_error naming the file when it is not a readable JPEG, BMP or
// TIFF file or holds no picture.
Bitmap24 DecodeMaskFile(const std::string& path, bool smooth);

// Masks as decoded (and smoothed, when asked), shared by the workflow and
// the batch: each file is decoded once as long as it stays unchanged and
// among the most recently used. Safe to use from several threads; two
// threads asking for one file wait for one decode.
class DecodedMasks {
public:
    // At most this many decoded masks are kept (three full-size 24-megapixel
    // masks are about 216 MB).
    static constexpr std::size_t kKept = 3;

    // Turns a file into a mask; raises when it cannot be read.
    using Decoder = std::function<Bitmap24(const std::string& path)>;
    explicit DecodedMasks(Decoder decoder);

    // The mask of the file; raises what the decoder raises. `fresh` is set
    // when this call decoded it.
    std::shared_ptr<const Bitmap24> Get(const std::string& path, bool* fresh = nullptr);
    // Drops every kept mask (the decoder's choices changed).
    void Clear();
    int Decodes() const;

private:
    struct Entry;
    Decoder decoder_;
    mutable std::mutex mutex_;
    std::condition_variable ready_;
    std::list<std::shared_ptr<Entry>> entries_; // most recently used first
    int decodes_ = 0;
};

// masks.ini: the mask folder and the smoothing choice.
struct MaskSettings {
    std::string folder; // empty: no folder
    bool smooth = false;
    // A photograph that no mask of the folder matches gets its lens profile.
    bool profileFallback = false;
    bool operator==(const MaskSettings&) const = default;
};

// Calls `onLine` with each line of a settings file's bytes, without its
// ending (CR LF, LF or CR).
void ForEachSettingsLine(std::string_view bytes, const std::function<void(std::string_view line)>& onLine);

// The file's bytes as settings. Lines "folder=PATH" and "smooth=0|1" (CR LF,
// LF or CR endings); a line that is not one of these, or whose value is not
// valid, is ignored, and anything at all gives settings, never an error.
MaskSettings ParseMaskSettings(std::string_view bytes);
std::string MaskSettingsText(const MaskSettings& settings);
// Reads the file (absent: defaults); raises FileError when it exists but
// cannot be read. Only the first 64 KiB are looked at.
MaskSettings ReadMaskSettingsFile(const std::string& path);
// Writes the file all or nothing; raises FileError.
void WriteMaskSettingsFile(const std::string& path, const MaskSettings& settings);

} // namespace lumivane
