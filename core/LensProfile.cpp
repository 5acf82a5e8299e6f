// SPDX-License-Identifier: GPL-3.0-or-later
#include "LensProfile.h"

#include "MessageText.h"

#include "ExactCorrection.h"
#include "ExifReader.h"
#include "MaskFolder.h"

#include <lensfun.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstring>
#include <cstdio>
#include <cstdlib>
#include <future>
#include <mutex>
#include <thread>

namespace lumivane {

namespace {

// A finite positive number, or 0.
double positive(double value)
{
    return std::isfinite(value) && value > 0 ? value : 0;
}

// "18", "3.5": a number as lens names write it.
std::string shortNumber(double value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", std::round(value * 10) / 10);
    return text;
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

// A number in a maker-note display text: the text itself, or the number
// before its first blank.
double leadingNumber(const std::string& text)
{
    if (text.empty())
        return 0;
    char* end = nullptr;
    const double value = std::strtod(text.c_str(), &end);
    return end == text.c_str() ? 0 : positive(value);
}

// Frees a list the library hands out (the list only, not its entries).
template <typename T>
struct LibraryList {
    const T** items = nullptr;
    ~LibraryList() { lf_free(items); }
    const T* first() const { return items ? items[0] : nullptr; }
};

std::string joinedName(const char* maker, const char* model)
{
    const std::string m = maker ? maker : "";
    const std::string n = model ? model : "";
    // The database often repeats the maker in the model ("Canon" / "Canon EF
    // 24-105mm ..."): name it once.
    if (m.empty() || n.compare(0, m.size(), m) == 0)
        return n;
    return m + " " + n;
}

std::string cameraName(const lfCamera* camera)
{
    return joinedName(lf_mlstr_get(camera->Maker), lf_mlstr_get(camera->Model));
}

std::string lensName(const lfLens* lens)
{
    return joinedName(lf_mlstr_get(lens->Maker), lf_mlstr_get(lens->Model));
}

bool hasMount(const lfLens* lens, const char* mount)
{
    if (!mount || !lens->Mounts)
        return false;
    for (char** m = lens->Mounts; *m; ++m)
        if (std::string(*m) == mount)
            return true;
    return false;
}

// The database names the mounts of fixed-lens cameras in lower case
// ("canonS30", "nikonP6000") and interchangeable mounts capitalised
// ("Canon EF", "4/3 System").
bool fixedLensMount(const char* mount)
{
    return mount && *mount >= 'a' && *mount <= 'z';
}

bool hasVignetting(const lfLens* lens, double focal, double aperture, double distance)
{
    lfLensCalibVignetting calibration{};
    return lens->CalibVignetting && lens->CalibVignetting[0] &&
           lens->InterpolateVignetting(float(focal), float(aperture), float(distance), calibration) &&
           calibration.Model != LF_VIGNETTING_MODEL_NONE;
}

} // namespace

std::string LensFromMakerNote(const std::string& nikonLensInformation)
{
    double shortest = 0, longest = 0, widest = 0, narrowest = 0;
    if (std::sscanf(nikonLensInformation.c_str(), "%lf-%lf(mm) F%lf-F%lf", &shortest, &longest, &widest,
                    &narrowest) != 4 ||
        positive(shortest) == 0 || positive(longest) == 0)
        return {};
    std::string text = shortNumber(shortest);
    if (std::round(longest * 10) != std::round(shortest * 10))
        text += "-" + shortNumber(longest);
    text += "mm";
    if (positive(widest) > 0) {
        text += " f/" + shortNumber(widest);
        if (positive(narrowest) > 0 && std::round(narrowest * 10) != std::round(widest * 10))
            text += "-" + shortNumber(narrowest);
    }
    return text;
}

LensFacts ReadLensFacts(const std::string& path)
{
    LensFacts facts;
    try {
        TImageMetadata metadata;
        if (!metadata.ReadMetadata(path) || !metadata.exif)
            return facts;
        const TImageInfo& exif = *metadata.exif;
        const CameraFacts camera = CameraFactsOf(exif);
        facts.make = camera.make;
        facts.model = camera.model;
        facts.lensMake = StoredName(exif.lensMake);
        facts.lens = camera.lens;
        if (!facts.lens.empty()) {
            facts.lensSource = LensFacts::LensSource::Exif;
        } else {
            facts.lens = LensFromMakerNote(exif.TagText("LensInformation"));
            if (!facts.lens.empty())
                facts.lensSource = LensFacts::LensSource::MakerNote;
        }
        facts.fNumber = camera.fNumber;
        facts.focalLength = camera.focalLength;
        // SubjectDistance in metres; 0 is unknown and 0xFFFFFFFF infinity.
        const double distance = positive(exif.TagNumber("SubjectDistance"));
        facts.focusDistance = distance >= kInfinityDistance ? 0 : distance;
        // The tag as stored, else the value derived from the focal-plane
        // resolution, which carries its number in its text only.
        facts.focal35 = positive(exif.TagNumber("FocalLengthin35mmFilm"));
        if (facts.focal35 == 0)
            facts.focal35 = leadingNumber(exif.TagText("FocalLengthin35mmFilm"));
    } catch (const std::exception&) {
        // A head that cannot be read says nothing about the lens.
        return LensFacts();
    }
    return facts;
}

std::string ExifCameraName(const LensFacts& facts)
{
    // "Canon" / "Canon EOS 5D" and "NIKON CORPORATION" / "NIKON D300" name
    // the maker twice: the model alone says it.
    const std::string firstWord = facts.make.substr(0, facts.make.find(' '));
    if (!facts.model.empty() && !firstWord.empty() && facts.model.size() >= firstWord.size() &&
        std::equal(firstWord.begin(), firstWord.end(), facts.model.begin(),
                   [](char a, char b) { return std::tolower((unsigned char)a) == std::tolower((unsigned char)b); }))
        return facts.model;
    std::string camera = facts.make;
    if (!facts.model.empty())
        camera += (camera.empty() ? "" : " ") + facts.model;
    return camera.empty() ? std::string("unknown camera") : camera;
}

std::string NoProfileText(const LensFacts& facts, const std::string& lensOverride)
{
    const std::string& lens = lensOverride.empty() ? facts.lens : lensOverride;
    // The names come from the photograph's file: quoted, never whole.
    return "No lens profile for " + QuotedLine(ExifCameraName(facts)) + " / " +
           (lens.empty() ? std::string("unknown lens") : QuotedLine(lens));
}

std::string DescribeProfile(const LensProfile& profile)
{
    return profile.lensName + ", " + numberText(profile.focalLength) + " mm, F" + numberText(profile.fNumber);
}

// ---------------------------------------------------------------------------
// The database

struct LensDatabase::State {
    lfDatabase database;
    // The library's look-ups keep no promise about running on several
    // threads at once.
    mutable std::mutex mutex;
};

namespace {

std::once_flag loadOnce;
std::shared_future<void> loading;
std::mutex loadingMutex;
LensDatabase* loaded = nullptr;
std::string loadError;
double loadMilliseconds = 0;

} // namespace

LensDatabase::LensDatabase() : state_(std::make_unique<State>())
{
    const lfError error = state_->database.Load();
    if (error != LF_NO_ERROR)
        throw LensDatabaseError("cannot load the lens-profile database (error " + std::to_string(int(error)) +
                                "): is liblensfun-data-v1 installed?");
    if (!state_->database.GetLenses() || !state_->database.GetLenses()[0])
        throw LensDatabaseError("the lens-profile database holds no lens: is liblensfun-data-v1 installed?");
}

LensDatabase::~LensDatabase() = default;

void LensDatabase::Preload()
{
    std::call_once(loadOnce, [] {
        std::lock_guard<std::mutex> lock(loadingMutex);
        loading = std::async(std::launch::async, [] {
                      const auto started = std::chrono::steady_clock::now();
                      try {
                          // Lives until the process ends: profiles point into it.
                          loaded = new LensDatabase();
                      } catch (const std::exception& e) {
                          loadError = e.what();
                      }
                      loadMilliseconds = std::chrono::duration<double, std::milli>(
                                             std::chrono::steady_clock::now() - started)
                                             .count();
                  }).share();
    });
}

const LensDatabase& LensDatabase::Instance()
{
    Preload();
    std::shared_future<void> done;
    {
        std::lock_guard<std::mutex> lock(loadingMutex);
        done = loading;
    }
    done.wait();
    if (!loaded)
        throw LensDatabaseError(loadError);
    return *loaded;
}

double LensDatabase::LoadMilliseconds()
{
    return loadMilliseconds;
}

ProfileLookup LensDatabase::Find(const LensFacts& facts, const std::string& lensOverride) const
{
    ProfileLookup lookup;
    lookup.reason = NoProfileText(facts, lensOverride);
    const std::string& description = lensOverride.empty() ? facts.lens : lensOverride;

    std::lock_guard<std::mutex> lock(state_->mutex);
    const lfDatabase& db = state_->database;
    const lfCamera* camera = nullptr;
    LibraryList<lfCamera> cameras;
    if (!facts.make.empty() && !facts.model.empty()) {
        cameras.items = db.FindCamerasExt(facts.make.c_str(), facts.model.c_str());
        camera = cameras.first();
    }
    const lfLens* lens = nullptr;
    LibraryList<lfLens> lenses;
    bool builtIn = false;
    if (!description.empty()) {
        const char* maker = lensOverride.empty() && !facts.lensMake.empty() ? facts.lensMake.c_str() : nullptr;
        lenses.items = db.FindLenses(camera, maker, description.c_str());
        lens = lenses.first();
    } else if (camera && fixedLensMount(camera->Mount)) {
        // A compact's own lens: the one lens on the camera's own mount.
        lenses.items = db.FindLenses(camera, nullptr, "");
        lens = lenses.first();
        if (lens && !hasMount(lens, camera->Mount))
            lens = nullptr;
        builtIn = lens != nullptr;
    }
    if (camera)
        lookup.camera = cameraName(camera);
    if (!lens)
        return lookup;
    lookup.lens = lensName(lens);

    LensProfile profile;
    profile.lens = lens;
    profile.camera = camera ? cameraName(camera) : std::string();
    profile.lensName = lensName(lens);
    profile.builtIn = builtIn;
    // The camera's crop factor; for a camera the database does not know,
    // the one its 35 mm equivalent focal length gives, else the one the
    // lens was measured with.
    if (camera && camera->CropFactor > 0)
        profile.cropFactor = camera->CropFactor;
    else if (facts.focal35 > 0 && facts.focalLength > 0)
        profile.cropFactor = facts.focal35 / facts.focalLength;
    else
        profile.cropFactor = lens->CropFactor > 0 ? lens->CropFactor : 1;
    // A prime lens needs no focal length from the EXIF.
    profile.focalLength = facts.focalLength > 0 ? facts.focalLength
                          : lens->MinFocal > 0 && lens->MinFocal == lens->MaxFocal ? lens->MinFocal
                                                                                   : 0;
    profile.fNumber = facts.fNumber;
    profile.distance = facts.focusDistance > 0 ? facts.focusDistance : kInfinityDistance;
    if (profile.focalLength <= 0 || profile.fNumber <= 0 ||
        !hasVignetting(lens, profile.focalLength, profile.fNumber, profile.distance))
        return lookup;
    lookup.profile = profile;
    lookup.reason.clear();
    return lookup;
}

std::vector<std::string> LensDatabase::ListLenses(const std::string& pattern) const
{
    std::vector<std::string> names;
    std::lock_guard<std::mutex> lock(state_->mutex);
    LibraryList<lfLens> lenses;
    lenses.items = state_->database.FindLenses(static_cast<const lfCamera*>(nullptr), nullptr, pattern.c_str());
    for (const lfLens* const* lens = lenses.items; lens && *lens; ++lens) {
        const bool measured = (*lens)->CalibVignetting && (*lens)->CalibVignetting[0];
        names.push_back(lensName(*lens) + (measured ? "" : " (no vignetting profile)"));
    }
    return names;
}

// ---------------------------------------------------------------------------
// The mask

double ProfileCentreLinear()
{
    return LinearOfCode(230);
}

namespace {

// The library's reverse modification (a clean picture darkened as the lens
// darkens it: what a flat field records) on an evenly lit grey.
class LibraryFalloff {
public:
    LibraryFalloff(const LensProfile& profile, int width, int height)
        : modifier_(profile.lens, float(profile.cropFactor), width, height)
    {
        modifier_.Initialize(profile.lens, LF_PF_F32, float(profile.focalLength), float(profile.fNumber),
                             float(profile.distance), 1.0f, profile.lens->Type, LF_MODIFY_VIGNETTING, true);
    }
    // `count` pixels of the grey from (x, y) along a row.
    void Row(float x, float y, int count, float* linear)
    {
        pixels_.assign(std::size_t(count) * 3, float(ProfileCentreLinear()));
        modifier_.ApplyColorModification(pixels_.data(), x, y, count, 1, LF_CR_3(RED, GREEN, BLUE),
                                         int(pixels_.size() * sizeof(float)));
        for (int i = 0; i < count; ++i)
            linear[i] = pixels_[std::size_t(i) * 3 + 1];
    }

private:
    lfModifier modifier_;
    std::vector<float> pixels_;
};

// The library's fall-off sampled along the half-diagonal from the centre to
// the bottom right corner: kProfileTableSize + 1 radii, the corner last and
// once more, so interpolation at the corner needs no test.
std::vector<float> radialTable(const LensProfile& profile, int width, int height)
{
    LibraryFalloff library(profile, width, height);
    const double cx = (width - 1) / 2.0, cy = (height - 1) / 2.0;
    std::vector<float> table(kProfileTableSize + 2);
    for (int i = 0; i <= kProfileTableSize; ++i) {
        const double t = double(i) / kProfileTableSize;
        library.Row(float(cx + t * cx), float(cy + t * cy), 1, &table[std::size_t(i)]);
    }
    table.back() = table[kProfileTableSize];
    return table;
}

// Rows [first, last) of the mask in linear light from the radial table;
// `onRow` hears each row.
template <typename OnRow>
void tableRows(const std::vector<float>& table, int width, int height, int first, int last, const OnRow& onRow)
{
    const double cx = (width - 1) / 2.0, cy = (height - 1) / 2.0;
    const double halfDiagonal = std::sqrt(cx * cx + cy * cy);
    // Table steps per pixel of distance (a 1 x 1 picture has only its centre).
    const double scale = halfDiagonal > 0 ? kProfileTableSize / halfDiagonal : 0;
    // In float, as RenderProfileMask computes it, so both give the same light.
    std::vector<float> dx2(static_cast<std::size_t>(width));
    for (int x = 0; x < width; ++x)
        dx2[std::size_t(x)] = float((x - cx) * (x - cx) * scale * scale);
    std::vector<float> row(static_cast<std::size_t>(width));
    for (int y = first; y < last; ++y) {
        const float dy2 = float((y - cy) * (y - cy) * scale * scale);
        for (int x = 0; x < width; ++x) {
            const float at = std::min(std::sqrt(dx2[std::size_t(x)] + dy2), float(kProfileTableSize));
            const int i = int(at);
            const float f = at - float(i);
            row[std::size_t(x)] = table[std::size_t(i)] + f * (table[std::size_t(i) + 1] - table[std::size_t(i)]);
        }
        onRow(y, row.data());
    }
}

} // namespace

std::vector<float> ProfileLinearByLibrary(const LensProfile& profile, int width, int height)
{
    std::vector<float> linear(std::size_t(width) * std::size_t(height));
    LibraryFalloff library(profile, width, height);
    for (int y = 0; y < height; ++y)
        library.Row(0.0f, float(y), width, linear.data() + std::ptrdiff_t(y) * width);
    return linear;
}

std::vector<float> ProfileLinear(const LensProfile& profile, int width, int height)
{
    std::vector<float> linear(std::size_t(width) * std::size_t(height));
    tableRows(radialTable(profile, width, height), width, height, 0, height, [&](int y, const float* row) {
        std::copy(row, row + width, linear.begin() + std::ptrdiff_t(y) * width);
    });
    return linear;
}

Bitmap24 RenderProfileMask(const LensProfile& profile, int width, int height, int threads)
{
    Bitmap24 mask;
    if (width <= 0 || height <= 0 || !profile.lens)
        return mask;
    mask.setSizeForOverwrite(width, height);
    const std::vector<float> table = radialTable(profile, width, height);
    // Linear light where CodeOfLinear's result steps from c - 1 to c.
    std::vector<double> steps;
    for (int c = 1; c <= 255; ++c)
        steps.push_back(LinearOfCode(c - 0.5));
    const auto codeOf = [&](double linear) {
        return std::uint8_t(std::upper_bound(steps.begin(), steps.end(), linear) - steps.begin());
    };
    // Within one step of the table the light runs straight from one entry
    // to the next: where both entries have one code, so has every value
    // between (nearly every step: a step is 1/1024 of the half-diagonal).
    // -1: the codes differ, each value is encoded.
    std::vector<int> stepCode(table.size() - 1);
    for (std::size_t i = 0; i + 1 < table.size(); ++i) {
        const std::uint8_t a = codeOf(table[i]), b = codeOf(table[i + 1]);
        stepCode[i] = a == b ? a : -1;
    }
    const double cx = (width - 1) / 2.0, cy = (height - 1) / 2.0;
    const double halfDiagonal = std::sqrt(cx * cx + cy * cy);
    const double scale = halfDiagonal > 0 ? kProfileTableSize / halfDiagonal : 0;
    // The fall-off is symmetric about the centre: column x and column
    // width-1-x lie at the same distance (the offsets from the centre are
    // exact halves, so their squares agree exactly), and so do rows y and
    // height-1-y. Each thread computes the left half of rows of the top
    // half, mirrors it into the right half and copies the row to its mirror
    // row below: a quarter of the arithmetic, every pixel written once.
    const int halfWidth = (width + 1) / 2, halfHeight = (height + 1) / 2;
    const auto band = [&](int first, int last) {
        std::vector<float> dx2(static_cast<std::size_t>(halfWidth));
        for (int x = 0; x < halfWidth; ++x)
            dx2[std::size_t(x)] = float((x - cx) * (x - cx) * scale * scale);
        for (int y = first; y < last; ++y) {
            const float dy2 = float((y - cy) * (y - cy) * scale * scale);
            std::uint8_t* out = mask.scanLine(y);
            for (int x = 0; x < halfWidth; ++x) {
                const float at = std::min(std::sqrt(dx2[std::size_t(x)] + dy2), float(kProfileTableSize));
                const int i = int(at);
                int code = stepCode[std::size_t(i)];
                if (code < 0) {
                    const float f = at - float(i);
                    code = codeOf(table[std::size_t(i)] + f * (table[std::size_t(i) + 1] - table[std::size_t(i)]));
                }
                const std::uint8_t c = std::uint8_t(code);
                std::uint8_t* left = out + 3 * std::size_t(x);
                std::uint8_t* right = out + 3 * std::size_t(width - 1 - x);
                left[0] = left[1] = left[2] = c;
                right[0] = right[1] = right[2] = c;
            }
            if (height - 1 - y != y)
                std::memcpy(mask.scanLine(height - 1 - y), out, std::size_t(width) * 3);
        }
    };
    const int bands = std::clamp(threads, 1, std::max(1, halfHeight / 32));
    std::vector<std::jthread> workers;
    for (int b = 1; b < bands; ++b)
        workers.emplace_back(band, halfHeight * b / bands, halfHeight * (b + 1) / bands);
    band(0, halfHeight / bands);
    return mask;
}

} // namespace lumivane
