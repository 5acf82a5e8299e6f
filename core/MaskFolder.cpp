// SPDX-License-Identifier: GPL-3.0-or-later
#include "MaskFolder.h"

#include "MessageText.h"

#include "ExifReader.h"
#include "FileIO.h"
#include "ImageFile.h"
#include "MaskQuality.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>

namespace lumivane {

namespace {

std::string trimmed(const std::string& text)
{
    std::size_t begin = 0, end = text.size();
    while (begin < end && (std::isspace((unsigned char)text[begin]) || text[begin] == '\0'))
        ++begin;
    while (end > begin && (std::isspace((unsigned char)text[end - 1]) || text[end - 1] == '\0'))
        --end;
    return text.substr(begin, end - begin);
}

// Makers write the same name with different case over the years; compare
// ignoring it.
bool sameName(const std::string& a, const std::string& b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower((unsigned char)x) == std::tolower((unsigned char)y);
           });
}

bool hasMaskName(const std::filesystem::path& path)
{
    std::string ext = path.extension().string();
    std::transform(ext.begin(), ext.end(), ext.begin(), [](unsigned char c) { return char(std::tolower(c)); });
    return ext == ".jpg" || ext == ".jpeg" || ext == ".jpe" || ext == ".bmp" || ext == ".tif" || ext == ".tiff";
}

// A finite positive number, or 0.
double positive(double value)
{
    return std::isfinite(value) && value > 0 ? value : 0;
}

std::string numberText(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    std::string s = text;
    if (s.size() > 2 && s.compare(s.size() - 2, 2, ".0") == 0)
        s.resize(s.size() - 2);
    return s;
}

} // namespace

// A camera or lens name from its stored bytes. Makers pad these values to
// a fixed length with NULs or blanks, differently from one firmware to the
// next, and display texts show each NUL as "."; the name is the stored text
// up to its first NUL without the blanks around it, any other control
// character shown as "." as in every display text.
std::string StoredName(const std::string& stored)
{
    std::string name = trimmed(stored.substr(0, stored.find('\0')));
    for (char& c : name)
        if ((unsigned char)c < 32)
            c = '.';
    return name;
}

CameraFacts CameraFactsOf(const TImageInfo& exif)
{
    CameraFacts facts;
    // Make and model from the tag list's stored bytes: the reader's own
    // make and model are display texts, padding included.
    facts.make = StoredName(exif.TagByKey("Make").rawBytes);
    facts.model = StoredName(exif.TagByKey("Model").rawBytes);
    facts.lens = StoredName(exif.lensModel);
    facts.fNumber = positive(exif.TagNumber("FNumber"));
    facts.focalLength = positive(exif.TagNumber("FocalLength"));
    return facts;
}

CameraFacts ReadCameraFacts(const std::string& path)
{
    CameraFacts facts;
    try {
        TImageMetadata metadata;
        if (!metadata.ReadMetadata(path) || !metadata.exif)
            return facts;
        facts = CameraFactsOf(*metadata.exif);
    } catch (const std::exception&) {
        // A file whose head cannot be read names no camera: it matches nothing.
        return CameraFacts();
    }
    return facts;
}

std::string DescribeCamera(const CameraFacts& facts)
{
    // The names come from the photograph's file: quoted, never whole.
    std::string text = QuotedLine(trimmed(facts.make + ' ' + facts.model));
    if (text.empty())
        text = "unknown camera";
    if (facts.fNumber > 0)
        text += ", F" + numberText(facts.fNumber);
    if (facts.focalLength > 0)
        text += ", " + numberText(facts.focalLength) + " mm";
    return text;
}

bool MaskFits(const CameraFacts& photo, const CameraFacts& mask)
{
    if (!photo.Matchable() || !mask.Matchable())
        return false;
    if (!sameName(photo.make, mask.make) || !sameName(photo.model, mask.model))
        return false;
    return photo.lens.empty() || mask.lens.empty() || sameName(photo.lens, mask.lens);
}

MatchDistance DistanceBetween(const CameraFacts& photo, const CameraFacts& mask)
{
    MatchDistance d;
    if (photo.fNumber > 0 && mask.fNumber > 0)
        d.stops = std::fabs(std::log2(photo.fNumber / mask.fNumber)) * 2;
    if (photo.focalLength > 0 && mask.focalLength > 0)
        d.focal = std::fabs(std::log(photo.focalLength / mask.focalLength));
    return d;
}

std::vector<std::size_t> RankMasks(const CameraFacts& photo, const std::vector<MaskCandidate>& masks)
{
    // Distances are compared with a small tolerance so that F-numbers stored
    // as different fractions of one value (28/10, 280/100) tie.
    constexpr double kSame = 1e-9;
    struct Ranked {
        std::size_t index;
        MatchDistance distance;
    };
    std::vector<Ranked> fitting;
    for (std::size_t i = 0; i < masks.size(); ++i)
        if (MaskFits(photo, masks[i].facts))
            fitting.push_back({i, DistanceBetween(photo, masks[i].facts)});
    const auto better = [&](const Ranked& a, const Ranked& b) {
        if (a.distance.stops < b.distance.stops - kSame)
            return true;
        if (a.distance.stops > b.distance.stops + kSame)
            return false;
        if (a.distance.focal < b.distance.focal - kSame)
            return true;
        if (a.distance.focal > b.distance.focal + kSame)
            return false;
        return masks[a.index].modified > masks[b.index].modified;
    };
    // Stable: among equals the earlier name stays first, as a scan in name
    // order that keeps the first of equals would choose.
    std::stable_sort(fitting.begin(), fitting.end(), better);
    std::vector<std::size_t> ranked;
    ranked.reserve(fitting.size());
    for (const Ranked& r : fitting)
        ranked.push_back(r.index);
    return ranked;
}

std::optional<std::size_t> ChooseMask(const CameraFacts& photo, const std::vector<MaskCandidate>& masks)
{
    const std::vector<std::size_t> ranked = RankMasks(photo, masks);
    if (ranked.empty())
        return std::nullopt;
    return ranked.front();
}

void MaskFolder::SetFolder(const std::string& folder)
{
    if (folder == folder_)
        return;
    folder_ = folder;
    candidates_.clear();
}

const std::vector<MaskCandidate>& MaskFolder::Scan()
{
    namespace fs = std::filesystem;
    if (folder_.empty()) {
        candidates_.clear();
        return candidates_;
    }
    std::vector<MaskCandidate> found;
    std::error_code ec;
    fs::directory_iterator it(fs::u8path(folder_), ec);
    for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
        std::error_code entryError;
        if (!it->is_regular_file(entryError) || !hasMaskName(it->path()))
            continue;
        MaskCandidate candidate;
        candidate.path = it->path().string();
        candidate.size = it->file_size(entryError);
        if (entryError)
            continue;
        const auto time = it->last_write_time(entryError);
        if (entryError)
            continue;
        candidate.modified =
            std::chrono::duration_cast<std::chrono::nanoseconds>(time.time_since_epoch()).count();
        found.push_back(std::move(candidate));
    }
    std::sort(found.begin(), found.end(),
              [](const MaskCandidate& a, const MaskCandidate& b) { return a.path < b.path; });
    // Facts of unchanged files are kept from the scan before; both lists are
    // in name order.
    auto known = candidates_.begin();
    for (MaskCandidate& candidate : found) {
        while (known != candidates_.end() && known->path < candidate.path)
            ++known;
        if (known != candidates_.end() && known->path == candidate.path && known->modified == candidate.modified &&
            known->size == candidate.size) {
            candidate.facts = known->facts;
        } else {
            candidate.facts = ReadCameraFacts(candidate.path);
            ++headsRead_;
        }
    }
    candidates_ = std::move(found);
    return candidates_;
}

MaskChoice ChooseFromFolder(MaskFolder& folder, const std::string& photoPath)
{
    MaskChoice choice;
    choice.photo = ReadCameraFacts(photoPath);
    const std::vector<MaskCandidate>& masks = folder.Scan();
    if (const std::optional<std::size_t> best = ChooseMask(choice.photo, masks))
        choice.path = masks[*best].path;
    return choice;
}

Bitmap24 DecodeMaskFile(const std::string& path, bool smooth)
{
    Bitmap24 mask;
    if (!DecodeBySuffix(path, mask, JpegSmoothing::On))
        throw std::runtime_error(path + ": not a .jpg, .jpeg, .bmp, .tif or .tiff name");
    if (mask.empty())
        throw std::runtime_error(path + ": the file holds no picture");
    // Two returns rather than a conditional expression: `cond ? a : mask`
    // would copy the full-size mask instead of moving it out.
    if (smooth)
        return SmoothMask(mask);
    return mask;
}

// ---- Decoded masks ----

struct DecodedMasks::Entry {
    std::string path;
    std::int64_t modified = 0;
    std::uintmax_t size = 0;
    bool done = false;
    std::shared_ptr<const Bitmap24> mask;
};

DecodedMasks::DecodedMasks(Decoder decoder) : decoder_(std::move(decoder)) {}

std::shared_ptr<const Bitmap24> DecodedMasks::Get(const std::string& path, bool* fresh)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::path file = fs::u8path(path);
    const std::int64_t modified = std::chrono::duration_cast<std::chrono::nanoseconds>(
                                      fs::last_write_time(file, ec).time_since_epoch())
                                      .count();
    const std::uintmax_t size = ec ? 0 : fs::file_size(file, ec);
    if (fresh)
        *fresh = false;

    std::unique_lock<std::mutex> lock(mutex_);
    for (auto it = entries_.begin(); it != entries_.end(); ++it) {
        std::shared_ptr<Entry> entry = *it;
        if (entry->path != path)
            continue;
        if (entry->modified == modified && entry->size == size && !ec) {
            entries_.splice(entries_.begin(), entries_, it);
            ready_.wait(lock, [&] { return entry->done; });
            if (entry->mask)
                return entry->mask;
            // The decode another thread waited for failed: try again here.
        }
        entries_.remove(entry);
        break;
    }
    auto entry = std::make_shared<Entry>();
    entry->path = path;
    entry->modified = modified;
    entry->size = size;
    entries_.push_front(entry);
    while (entries_.size() > kKept) {
        // Only finished entries are dropped; their masks live on with
        // whoever still holds them.
        auto last = std::find_if(entries_.rbegin(), entries_.rend(), [](const auto& e) { return e->done; });
        if (last == entries_.rend())
            break;
        entries_.erase(std::next(last).base());
    }
    lock.unlock();

    std::shared_ptr<const Bitmap24> mask;
    try {
        mask = std::make_shared<const Bitmap24>(decoder_(path));
    } catch (...) {
        lock.lock();
        entry->done = true;
        entries_.remove(entry);
        ready_.notify_all();
        throw;
    }
    lock.lock();
    entry->mask = mask;
    entry->done = true;
    ++decodes_;
    ready_.notify_all();
    if (fresh)
        *fresh = true;
    return mask;
}

void DecodedMasks::Clear()
{
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.remove_if([](const auto& e) { return e->done; });
}

int DecodedMasks::Decodes() const
{
    std::lock_guard<std::mutex> lock(mutex_);
    return decodes_;
}

// ---- masks.ini ----

void ForEachSettingsLine(std::string_view bytes, const std::function<void(std::string_view line)>& onLine)
{
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = start;
        while (end < bytes.size() && bytes[end] != '\r' && bytes[end] != '\n')
            ++end;
        const std::string_view line = bytes.substr(start, end - start);
        start = end + 1;
        if (end + 1 < bytes.size() && bytes[end] == '\r' && bytes[end + 1] == '\n')
            ++start;
        onLine(line);
    }
}

MaskSettings ParseMaskSettings(std::string_view bytes)
{
    MaskSettings settings;
    ForEachSettingsLine(bytes, [&settings](std::string_view line) {
        const std::size_t eq = line.find('=');
        if (eq == std::string_view::npos)
            return;
        const std::string_view key = line.substr(0, eq);
        const std::string_view value = line.substr(eq + 1);
        if (key == "folder") {
            // A path holds no NUL; an empty value means no folder.
            if (value.find('\0') == std::string_view::npos)
                settings.folder = std::string(value);
        } else if (key == "smooth") {
            if (value == "0" || value == "1")
                settings.smooth = value == "1";
        }
    });
    return settings;
}

std::string MaskSettingsText(const MaskSettings& settings)
{
    return "folder=" + settings.folder + "\r\nsmooth=" + (settings.smooth ? "1" : "0") + "\r\n";
}

MaskSettings ReadMaskSettingsFile(const std::string& path)
{
    std::error_code ec;
    if (!std::filesystem::exists(std::filesystem::u8path(path), ec))
        return MaskSettings();
    const std::vector<std::uint8_t> bytes = ReadFileHead(path, 64 * 1024);
    return ParseMaskSettings(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
}

void WriteMaskSettingsFile(const std::string& path, const MaskSettings& settings)
{
    // One value a line: a folder name that holds a line break cannot be kept.
    if (settings.folder.find_first_of("\r\n") != std::string::npos)
        throw FileError("Cannot keep the mask folder " + settings.folder + " in " + path +
                        ": its name holds a line break.");
    const std::string text = MaskSettingsText(settings);
    WriteFileAtomically(path, {ByteSpan{text.data(), text.size()}});
}

} // namespace lumivane
