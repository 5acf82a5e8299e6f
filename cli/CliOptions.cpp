// SPDX-License-Identifier: GPL-3.0-or-later
#include "CliOptions.h"

#include <algorithm>
#include <charconv>
#include <iterator>
#include <cstring>

namespace lumivane::cli {

const char* const kUsage =
    "Usage: lumivane-cli [options] --out DIR PHOTO...\n"
    "Removes lens vignetting from JPEG, BMP and TIFF photographs with a flat-field mask and\n"
    "writes the corrected photographs into DIR (JPEGs keep their EXIF). Each photograph's result\n"
    "depends only on the photograph, the mask and the settings, never on the rest of the list.\n"
    "\n"
    "  --out DIR            output folder, created when missing and tested for writing first\n"
    "  --name TEMPLATE      output names inside DIR: {stem} (the photograph's name without its\n"
    "                       suffix), {ext} (jpg, bmp or tif), {dir} (its folder below the --recursive\n"
    "                       folder), {n} (its place in the list); default: the names of Save\n"
    "                       Images, in {dir}\n"
    "  --overwrite          replace existing outputs (atomically)\n"
    "  --skip-existing      skip photographs whose output exists (reported as skipped)\n"
    "                       (default: neither; an existing file is kept and the new one gets a\n"
    "                       clash name)\n"
    "  -r, --recursive      photographs in the folders given and their subfolders (.jpg, .jpeg,\n"
    "                       .jpe, .bmp, .tif, .tiff), the tree mirrored under DIR\n"
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
    "  --format jpeg|bmp|tiff\n"
    "                       the files written (default: as the quality says); tiff: lossless,\n"
    "                       Deflate-compressed, the source's colour profile kept\n"
    "  --depth 8|16         bits a channel of a TIFF (default: the photograph's own)\n"
    "  --crop L,T,R,B       crop margins in photograph pixels\n"
    "  --offset X,Y         mask offset in preview pixels, each -150..150\n"
    "  --turns N            clockwise quarter turns of the mask, 0..3\n"
    "  --hotspot X,Y        hotspot in the adjustment panel's 320 x 240 view (default: stored\n"
    "                       for the stored default mask, else the centre of the mask fitted to\n"
    "                       each photograph)\n"
    "  --levels R,G,B       the reference levels themselves, each 0..255 (not with --hotspot)\n"
    "  --jobs N             photographs in flight at once (default: number of cores)\n"
    "  --report FILE        one JSON object a line per photograph: source, output, outcome,\n"
    "                       reason, levels, mask, method, seconds\n"
    "  --allow-damaged      a photograph whose file is damaged (a JPEG that ends early, a\n"
    "                       TIFF strip that cannot be read) is written as decoded without\n"
    "                       failing the run; it is still reported\n"
    "  -q, --quiet          no progress, only errors\n"
    "  -v, --verbose        the mask, levels, method and output of each photograph\n"
    "  -h, --help, -V, --version\n"
    "\n"
    "Exit status: 0 all written (or skipped), 1 some photographs failed (or had no mask, or were\n"
    "damaged without --allow-damaged), 2 usage, mask or output folder error (nothing is written),\n"
    "130 interrupted. Warnings go to standard error.\n";

namespace {

// Every option that takes a value ("--name VALUE" or "--name=VALUE").
constexpr const char* kValueOptions[] = {
    "--out",    "--mask",  "--mask-folder", "--settings", "--brightness", "--strength", "--quality", "--crop",
    "--offset", "--turns", "--hotspot",     "--levels",   "--method",     "--colour",   "--color",   "--jobs",
    "--name",   "--report", "--format", "--depth", "--lens", "--list-lenses",
};

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
        if (a == "--version" || a == "-V") {
            o.version = true;
            continue;
        }
        if (a == "--quiet" || a == "-q") {
            o.quiet = true;
            continue;
        }
        if (a == "--verbose" || a == "-v") {
            o.verbose = true;
            continue;
        }
        if (a == "--recursive" || a == "-r") {
            o.recursive = true;
            continue;
        }
        if (a == "--overwrite" || a == "--skip-existing") {
            const ExistingOutputs chosen = a == "--overwrite" ? ExistingOutputs::Overwrite : ExistingOutputs::Skip;
            if (o.existing != ExistingOutputs::ClashName && o.existing != chosen)
                throw UsageError("--overwrite and --skip-existing exclude each other");
            o.existing = chosen;
            continue;
        }
        if (a == "--allow-damaged") {
            o.allowDamaged = true;
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
        if (eq != std::string::npos)
            name = a.substr(0, eq);
        if (std::find(std::begin(kValueOptions), std::end(kValueOptions), name) == std::end(kValueOptions))
            throw UsageError("unknown option " + name);
        if (eq != std::string::npos) {
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
            o.quality = value == "bmp" || value == "BMP" ? kBmpQuality : parseInt(name, value, 1, kBestJpegQuality);
        else if (name == "--format") {
            if (value == "jpeg")
                o.format = OutputFormat::Jpeg;
            else if (value == "bmp")
                o.format = OutputFormat::Bmp;
            else if (value == "tiff")
                o.format = OutputFormat::Tiff;
            else
                throw UsageError("--format must be jpeg, bmp or tiff, not '" + value + "'");
        } else if (name == "--depth") {
            o.depth = parseInt(name, value, 8, 16);
            if (o.depth != 8 && o.depth != 16)
                throw UsageError("--depth must be 8 or 16, not " + value);
        } else if (name == "--crop") {
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
        } else if (name == "--levels") {
            const std::vector<int> v = parseList(name, value, 3, 0, 255);
            o.levels = HotspotLevels{v[0], v[1], v[2]};
        } else if (name == "--name")
            o.nameTemplate = value;
        else if (name == "--report")
            o.reportFile = value;
        else if (name == "--lens")
            o.lens = value;
        else if (name == "--list-lenses")
            o.listLenses = value;
        else if (name == "--jobs")
            o.jobs = parseInt(name, value, 1, 256);
    }
    if (o.help || o.version || o.listLenses)
        return o;
    if (o.levels && o.hotspot)
        throw UsageError("--levels and --hotspot both set the levels; give one of them");
    if (o.nameTemplate && o.nameTemplate->empty())
        throw UsageError("--name needs a template such as {stem}.{ext}");
    if (o.lensProfile && o.method == CorrectionMethod::Additive)
        throw UsageError("--lens-profile is always corrected with the exact method, not with --method additive");
    if (o.lensProfile && !o.maskFile.empty() && o.maskFolder.empty())
        throw UsageError("--lens-profile gives every photograph its own mask: --mask goes with it only beside "
                         "--mask-folder");
    if (!o.lens.empty() && !o.lensProfile)
        throw UsageError("--lens names the lens of --lens-profile; add --lens-profile");
    if (o.colour && o.method == CorrectionMethod::Additive)
        throw UsageError("--colour applies to the exact method only, not with --method additive");
    if (o.depth != 0 && o.format != OutputFormat::Tiff)
        throw UsageError("--depth applies to TIFF files only (add --format tiff)");
    if (o.format && o.quality) {
        const bool bmpQuality = IsBmpQuality(*o.quality);
        if (*o.format == OutputFormat::Tiff)
            throw UsageError("--quality does not apply to --format tiff");
        if ((*o.format == OutputFormat::Bmp) != bmpQuality)
            throw UsageError("--quality " + (bmpQuality ? std::string("bmp") : std::to_string(*o.quality)) +
                             " contradicts --format " + (*o.format == OutputFormat::Bmp ? "bmp" : "jpeg"));
    }
    if (o.outDir.empty())
        throw UsageError("--out DIR is missing");
    if (o.photos.empty())
        throw UsageError("no photograph given");
    return o;
}

int ResolveQuality(const CliOptions& options, int storedQuality)
{
    if (options.quality)
        return *options.quality;
    if (options.format == OutputFormat::Bmp)
        return kBmpQuality;
    if (options.format == OutputFormat::Jpeg && IsBmpQuality(storedQuality))
        return 90;
    return storedQuality;
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
