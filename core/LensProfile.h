// SPDX-License-Identifier: GPL-3.0-or-later
// A mask made from the lens's measured fall-off instead of a flat field.
//
// The lens-profile library's database holds the vignetting its authors
// measured for many lenses at several focal lengths and apertures. For a
// photograph we read camera, lens, focal length, aperture and focus distance
// from its EXIF, let the library find camera and lens (its own matching of
// names) and compute the fall-off at that focal length and aperture (its own
// interpolation between the measured ones), and render it as the flat field
// the lens would have given: an evenly lit grey whose centre is code 230,
// darkened in linear light, encoded to sRGB. Such a mask is a fall-off in
// linear light, so it is always corrected with the exact method.
#pragma once

#include "Bitmap24.h"

#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

struct lfLens;

namespace lumivane {

// What a photograph's EXIF says about how it was taken.
struct LensFacts {
    std::string make;
    std::string model;
    // Where the lens name came from.
    enum class LensSource { None, Exif, MakerNote };
    LensSource lensSource = LensSource::None;
    std::string lensMake; // EXIF LensMake (0xA433), empty when not recorded
    // EXIF LensModel (0xA434), else a description built from the maker
    // note's lens fields ("18-55mm f/3.5-5.6"); empty when neither says.
    std::string lens;
    double focalLength = 0;   // millimetres, 0 when not recorded
    double fNumber = 0;       // 0 when not recorded
    double focusDistance = 0; // metres, 0 when not recorded (taken as infinity)
    double focal35 = 0;       // 35 mm equivalent focal length, 0 when not known
};

// Reads the facts with the program's metadata readers; a file without EXIF
// (or one that cannot be read) gives empty facts, never an error.
LensFacts ReadLensFacts(const std::string& path);

// The lens description the maker notes' lens fields give: Nikon's
// "LensInformation" as the maker-note decoder shows it ("18.0-55.0(mm)
// F3.5-F5.6") becomes "18-55mm f/3.5-5.6". Empty when it says nothing
// usable.
std::string LensFromMakerNote(const std::string& nikonLensInformation);

// The focus distance used when the EXIF does not give one: the library's
// own stand-in for "far away".
constexpr double kInfinityDistance = 1000.0;

// A lens of the database with a vignetting profile, for one photograph.
struct LensProfile {
    const lfLens* lens = nullptr; // owned by the database
    std::string camera;           // as the database names it; empty when the camera is unknown
    std::string lensName;         // maker and model as the database names them
    bool builtIn = false;         // the built-in lens of a fixed-lens camera
    double cropFactor = 1;
    double focalLength = 0;
    double fNumber = 0;
    double distance = kInfinityDistance;
};

// The outcome of looking a photograph up.
struct ProfileLookup {
    std::optional<LensProfile> profile;
    // Without a profile: "No lens profile for <camera> / <lens>".
    std::string reason;
    // What the database found, profile or not (empty: not found).
    std::string camera;
    std::string lens;
};

// The camera as the EXIF names it, the maker once: "Canon EOS 5D",
// "NIKON D300", "unknown camera".
std::string ExifCameraName(const LensFacts& facts);

// The reason text for a photograph without a profile.
std::string NoProfileText(const LensFacts& facts, const std::string& lensOverride);

// "Canon EF 24-105mm f/4L IS USM, 50 mm, F8": the lens, focal length and
// aperture a profile mask was made for.
std::string DescribeProfile(const LensProfile& profile);

class LensDatabaseError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The library's database, loaded once per process on first use. Safe to use
// from several threads.
class LensDatabase {
public:
    // The database, loading it on the first call; raises LensDatabaseError
    // when it cannot be loaded.
    static const LensDatabase& Instance();
    // Starts loading on another thread, so that a batch need not wait for
    // it later; does nothing when it is loaded or loading.
    static void Preload();
    // Milliseconds the load took (0 before it).
    static double LoadMilliseconds();

    ~LensDatabase();

    // Finds the photograph's camera and lens; `lensOverride`, when not
    // empty, names the lens instead of the EXIF.
    ProfileLookup Find(const LensFacts& facts, const std::string& lensOverride = {}) const;

    // Lenses whose names match `pattern` as the library matches a lens
    // description: "maker model", those with a vignetting profile marked.
    std::vector<std::string> ListLenses(const std::string& pattern) const;

private:
    LensDatabase();
    struct State;
    std::unique_ptr<State> state_;
};

// The linear light of the profile mask's centre: code 230.
double ProfileCentreLinear();

// The fall-off is radial about the picture's centre and smooth: the library
// computes it at kProfileTableSize + 1 radii along the half-diagonal, and
// every pixel takes it from there, interpolated in linear light. That is
// what makes a 24-megapixel mask cost less than decoding the photograph
// (the library on every pixel costs about 1.7 microseconds each), and it
// departs from the library's own value at each pixel by less than
// kProfileTableErrorEv (the tests measure it).
constexpr int kProfileTableSize = 1024;
constexpr double kProfileTableErrorEv = 0.005;

// The mask's linear light (one value a pixel, row after row), from the
// radial table.
std::vector<float> ProfileLinear(const LensProfile& profile, int width, int height);
// The same, computed by the library on every pixel.
std::vector<float> ProfileLinearByLibrary(const LensProfile& profile, int width, int height);

// The profile mask of a width x height photograph (see the top of this
// file), computed on `threads` threads (at least 1).
Bitmap24 RenderProfileMask(const LensProfile& profile, int width, int height, int threads = 2);

} // namespace lumivane
