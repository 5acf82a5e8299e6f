// SPDX-License-Identifier: GPL-3.0-or-later
#include "CliOptions.h"

#include <charconv>
#include <cstring>

namespace lumivane::cli {

const char* const kUsage =
    "Usage: lumivane-cli [options] --out DIR PHOTO...\n"
    "Removes lens vignetting from JPEG, BMP and TIFF photographs with a flat-field mask and\n"
    "writes the corrected photographs into DIR (JPEGs keep their EXIF; no file is replaced).\n"
    "\n"
    "  --out DIR            output folder, created when missing\n"
    "  --mask FILE          the mask (default: the stored default mask); with --mask-folder,\n"
    "                       the mask of photographs that no mask of the folder matches\n"
    "  --mask-folder DIR    each photograph gets the mask of DIR taken with the same camera\n"
    "                       (and lens), nearest aperture, then focal length, then newest file\n"
    "  --smooth-mask        blur every mask to remove dust and grain, keeping its fall-off\n"
    "  --lens-profile       each photograph the mask its lens's measured fall-off gives (the\n"
    "                       lens-profile database; always the exact method); with --mask-folder,\n"
    "                       for the photographs that no mask of the folder matches\n"
    "  --lens NAME          the lens for --lens-profile when the EXIF does not name it (or\n"
    "                       names it wrongly)\n"
    "  --list-lenses PATTERN\n"
    "                       lists the lenses of the database whose names match PATTERN\n"
    "  --settings FILE      the defaults.ini to read (default: the window's); the method and\n"
    "                       colour option come from the lumivane.ini beside it\n"
    "  --method additive|exact\n"
    "                       additive: the mask's shortfall is added, damped by the boost (the\n"
    "                       original correction, byte for byte); exact: the photograph is divided\n"
    "                       by the mask in linear light, which is what vignetting is: flat\n"
    "                       corners without lifted shadows (default: stored, else additive)\n"
    "  --colour both|falloff|colour\n"
    "                       what the exact method takes from the mask: both (fall-off and tint),\n"
    "                       falloff (fall-off only: a tinted flat field does not tint the\n"
    "                       photograph), colour (only the tint); not with the additive method\n"
    "  --brightness N       0..50, 25 is neutral (default: stored)\n"
    "  --strength N         vignetting reduction boost 0..100 (default: stored); the exact\n"
    "                       method has no boost and ignores it with a warning\n"
    "  --quality N|bmp      JPEG quality 1..100, or bmp (default: stored)\n"
    "  --crop L,T,R,B       crop margins in photograph pixels\n"
    "  --offset X,Y         mask offset in preview pixels, each -150..150\n"
    "  --turns N            clockwise quarter turns of the mask, 0..3\n"
    "  --hotspot X,Y        hotspot in the adjustment panel's 320 x 240 view (default: stored\n"
    "                       for the stored default mask, else the mask's centre)\n"
    "  --jobs N             photographs in flight at once (default: number of cores)\n"
    "  --quiet              no progress, only errors\n"
    "  --help, --version\n"
    "\n"
    "Exit status: 0 all written, 1 some photographs failed (or had no mask), 2 usage or mask or\n"
    "folder error, "
    "130 interrupted. Warnings about a mask's quality go to standard error.\n";

namespace {

int parseInt(const std::string& option, const std::string& text, int min, int max)
{
    int value = 0;
    const char* begin = text.data();
    const char* end = begin + text.size();
    const auto [ptr, ec] = std::from_chars(begin, end, value);
    if (text.empty() || ec != std::errc() || ptr != end)
        throw UsageError(option + " needs a whole number, not '" + text + "'");
    if (value < min || value > max)
        throw UsageError(option + " must lie between " + std::to_string(min) + " and " + std::to_string(max) +
                         ", not " + text);
    return value;
}

std::vector<int> parseList(const std::string& option, const std::string& text, std::size_t count, int min,
                           int max)
{
    std::vector<int> values;
    std::size_t start = 0;
    for (;;) {
        const std::size_t comma = text.find(',', start);
        values.push_back(parseInt(option, text.substr(start, comma - start), min, max));
        if (comma == std::string::npos)
            break;
        start = comma + 1;
    }
    if (values.size() != count)
        throw UsageError(option + " takes " + std::to_string(count) + " numbers separated by commas, not '" +
                         text + "'");
    return values;
}

} // namespace

CliOptions ParseCommandLine(const std::vector<std::string>& args)
{
    CliOptions o;
    bool onlyPhotos = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (onlyPhotos || a.empty() || a[0] != '-' || a == "-") {
            o.photos.push_back(a);
            continue;
        }
        if (a == "--") {
            onlyPhotos = true;
            continue;
        }
        if (a == "--help" || a == "-h") {
            o.help = true;
            continue;
        }
        if (a == "--version") {
            o.version = true;
            continue;
        }
        if (a == "--quiet" || a == "-q") {
            o.quiet = true;
            continue;
        }
        if (a == "--smooth-mask") {
            o.smoothMask = true;
            continue;
        }
        if (a == "--lens-profile") {
            o.lensProfile = true;
            continue;
        }
        // Options with a value: "--name VALUE" or "--name=VALUE".
        std::string name = a;
        std::string value;
        const std::size_t eq = a.find('=');
        if (eq != std::string::npos) {
            name = a.substr(0, eq);
            value = a.substr(eq + 1);
        } else {
            if (i + 1 >= args.size())
                throw UsageError(a + " needs a value");
            value = args[++i];
        }
        if (name == "--out")
            o.outDir = value;
        else if (name == "--mask")
            o.maskFile = value;
        else if (name == "--mask-folder")
            o.maskFolder = value;
        else if (name == "--settings")
            o.settingsFile = value;
        else if (name == "--brightness")
            o.brightness = parseInt(name, value, 0, 50);
        else if (name == "--strength")
            o.strength = parseInt(name, value, 0, 100);
        else if (name == "--quality")
            o.quality = value == "bmp" || value == "BMP" ? 101 : parseInt(name, value, 1, 100);
        else if (name == "--crop") {
            const std::vector<int> v = parseList(name, value, 4, 0, 2147483647);
            o.crop = CropMargins{v[0], v[1], v[2], v[3]};
        } else if (name == "--offset") {
            const std::vector<int> v = parseList(name, value, 2, -150, 150);
            o.offsetX = v[0];
            o.offsetY = v[1];
        } else if (name == "--turns")
            o.turns = parseInt(name, value, 0, 3);
        else if (name == "--hotspot") {
            const std::vector<int> v = parseList(name, value, 2, 0, 319);
            if (v[1] > 239)
                throw UsageError("--hotspot Y must lie between 0 and 239, not " + std::to_string(v[1]));
            o.hotspot = std::make_pair(v[0], v[1]);
        } else if (name == "--method") {
            o.method = ParseMethodName(value);
            if (!o.method)
                throw UsageError("--method must be additive or exact, not '" + value + "'");
        } else if (name == "--colour" || name == "--color") {
            o.colour = ParseColourOptionName(value);
            if (!o.colour)
                throw UsageError("--colour must be both, falloff or colour, not '" + value + "'");
        } else if (name == "--lens")
            o.lens = value;
        else if (name == "--list-lenses")
            o.listLenses = value;
        else if (name == "--jobs")
            o.jobs = parseInt(name, value, 1, 256);
        else
            throw UsageError("unknown option " + name);
    }
    if (o.help || o.version || o.listLenses)
        return o;
    if (o.lensProfile && o.method == CorrectionMethod::Additive)
        throw UsageError("--lens-profile is always corrected with the exact method, not with --method additive");
    if (o.lensProfile && !o.maskFile.empty() && o.maskFolder.empty())
        throw UsageError("--lens-profile gives every photograph its own mask: --mask goes with it only beside "
                         "--mask-folder");
    if (!o.lens.empty() && !o.lensProfile)
        throw UsageError("--lens names the lens of --lens-profile; add --lens-profile");
    if (o.colour && o.method == CorrectionMethod::Additive)
        throw UsageError("--colour applies to the exact method only, not with --method additive");
    if (o.outDir.empty())
        throw UsageError("--out DIR is missing");
    if (o.photos.empty())
        throw UsageError("no photograph given");
    return o;
}

CorrectionMode ResolveMode(const CliOptions& options, const CorrectionMode& stored)
{
    CorrectionMode mode = stored;
    if (options.method)
        mode.method = *options.method;
    if (options.colour) {
        if (mode.method == CorrectionMethod::Additive)
            throw UsageError("--colour applies to the exact method only; the stored method is additive "
                             "(add --method exact)");
        mode.colour = *options.colour;
    }
    return mode;
}

} // namespace lumivane::cli
