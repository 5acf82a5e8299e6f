// SPDX-License-Identifier: GPL-3.0-or-later
#include "TiffReader.h"

#include "FileIO.h"
#include "MemoryBudget.h"
#include "RegularFile.h"
#include "TiffHandle.h"

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdarg>
#include <cstring>
#include <mutex>
#include <new>
#include <sys/stat.h>
#include <tiffio.h>
#include <vector>

namespace lumivane {

namespace {

// libtiff's JPEG codecs report a fatal libjpeg error through the error
// handler (module "JPEGLib", or "LibJpeg" for old-style JPEG) and then make
// the read return failure. That case must end the read with an error,
// unlike a merely refused layout, so the handler notes it for the read in
// progress on this thread.
thread_local bool tl_reading = false;
thread_local bool tl_jpegFailed = false;
// Any error heard during the read: a strip past the end of the file, a
// compression libtiff does not know. The read goes on and leaves white
// rows, so the picture is kept and reported as damaged.
thread_local bool tl_anyError = false;

bool isJpegModule(const char* module)
{
    if (!module)
        return false;
    std::string name(module);
    for (char& c : name)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return name == "jpeglib" || name == "libjpeg";
}

void noteError(thandle_t, const char* module, const char*, va_list)
{
    if (!tl_reading)
        return;
    tl_anyError = true;
    if (isJpegModule(module))
        tl_jpegFailed = true;
}

// Marks the span of one TIFFReadRGBAImage call.
class ReadWatch {
public:
    ReadWatch()
    {
        tl_reading = true;
        tl_jpegFailed = false;
        tl_anyError = false;
    }
    ~ReadWatch() { tl_reading = false; }
    ReadWatch(const ReadWatch&) = delete;
    ReadWatch& operator=(const ReadWatch&) = delete;
    bool jpegFailed() const { return tl_jpegFailed; }
    bool anyError() const { return tl_anyError; }
};

} // namespace

void InstallSilentTiffHandlers()
{
    static std::once_flag once;
    std::call_once(once, [] {
        TIFFSetWarningHandler(nullptr);
        TIFFSetWarningHandlerExt(nullptr);
        TIFFSetErrorHandler(nullptr);
        TIFFSetErrorHandlerExt(noteError);
    });
}

void SwapRedBlue(int width, int height, std::uint32_t* pixels)
{
    if (width <= 0 || height <= 0)
        return;
    const std::size_t count = std::size_t(width) * std::size_t(height);
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t v = pixels[i];
        pixels[i] = (v & 0xFF00FF00u) | ((v & 0xFFu) << 16) | ((v >> 16) & 0xFFu);
    }
}

std::unique_ptr<Bitmap24> ReadTiffToBitmap(const std::string& path)
{
    auto bitmap = std::make_unique<Bitmap24>();
    ReadTiffToBitmap(path, *bitmap);
    return bitmap;
}

namespace {

TIFF* openTiff(const std::string& path)
{
    TIFF* tif = OpenTiffFile(path);
    if (!tif)
        throw TiffError("Unable to open file '" + path + "'");
    return tif;
}

// The bytes of a tag read as (count, pointer).
std::vector<std::uint8_t> tagBytes(TIFF* tif, ttag_t tag)
{
    const std::size_t unit = TiffTagUnit(tif, tag);
    std::uint32_t count = 0;
    const void* data = nullptr;
    if (!TIFFGetField(tif, tag, &count, &data) || !data || count == 0)
        return {};
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    return std::vector<std::uint8_t>(bytes, bytes + std::size_t(count) * unit);
}

// The fewest bytes a file of the first directory's picture must hold to be
// read, at the densest its compression allows: uncompressed samples a 64th
// of their size (a file cut short is read as damaged while it holds that
// much; a header claiming gigapixels over a few bytes never does),
// PackBits 128 bytes in 2, Deflate about 1032 bytes in 1, LZW never above
// 4096 in 1, JPEG one bit an 8 x 8 block, the fax codings one bit a row. A
// compression this libtiff cannot decode delivers nothing, so no file holds
// its picture; one of no known bound (LZMA, Zstandard...) gives 0.
std::uint64_t leastTiffFileBytes(TIFF* tif, std::uint64_t width, std::uint64_t height)
{
    std::uint16_t compression = COMPRESSION_NONE, bits = 1, samples = 1;
    TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    const std::uint64_t pixels = SaturatedProduct(width, height);
    const std::uint64_t raw = SaturatedProduct(pixels, std::uint64_t(bits) * samples) / 8;
    if (!TIFFIsCODECConfigured(compression))
        return UINT64_MAX;
    switch (compression) {
    case COMPRESSION_NONE:
    case COMPRESSION_PACKBITS:
        return raw / 64;
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
        return raw / 1032;
    case COMPRESSION_LZW:
        return raw / 4096;
    case COMPRESSION_JPEG:
    case COMPRESSION_OJPEG:
        return pixels / 512;
    case COMPRESSION_CCITTRLE:
    case COMPRESSION_CCITTRLEW:
    case COMPRESSION_CCITTFAX3:
    case COMPRESSION_CCITTFAX4:
        return height / 8;
    default:
        return 0;
    }
}

} // namespace

TIFF* OpenTiffFile(const std::string& path)
{
    InstallSilentTiffHandlers();
    OpenedFile opened = OpenRegularFile(path);
    if (!opened.refusal.empty())
        throw FileRefusedError(opened.refusal);
    if (!opened.ok())
        return nullptr;
    // On success the handle owns the descriptor (TIFFClose closes it); a
    // refused file leaves it to `opened`.
    TIFF* tif = TIFFFdOpen(opened.fd.get(), path.c_str(), "r");
    if (tif)
        opened.fd.release();
    return tif;
}

TiffMetadata ReadTiffMetadata(const std::string& path)
{
    TiffHandle tif(openTiff(path));
    TiffMetadata metadata;
    metadata.icc = tagBytes(tif.get(), TIFFTAG_ICCPROFILE);
    metadata.xmp = tagBytes(tif.get(), TIFFTAG_XMLPACKET);
    metadata.iptc = tagBytes(tif.get(), TIFFTAG_RICHTIFFIPTC);
    return metadata;
}

void ReadTiffToBitmap(const std::string& path, Bitmap24& out, std::string* damage)
{
    if (damage)
        damage->clear();
    TiffHandle tif(openTiff(path));

    std::uint32_t width = 0;
    std::uint32_t height = 0;
    TIFFGetField(tif.get(), TIFFTAG_IMAGEWIDTH, &width);
    TIFFGetField(tif.get(), TIFFTAG_IMAGELENGTH, &height);
    if (width == 0 || height == 0)
        throw TiffError("TIFF image has no pixels (" + std::to_string(width) + " x " + std::to_string(height) +
                        ")");

    // The working raster (4 bytes a pixel) and the result (3 bytes) are
    // only attempted within the memory budget; the header alone may claim
    // 4 billion pixels on each side.
    RequireMemoryFor(width, height, path, kBytesPerPixel, SaturatedProduct(SaturatedProduct(width, height), 4));
    // libtiff decodes a strip or tile at a time into a buffer of its own
    // (one a plane when the planes are separate): a header claiming
    // thousands of samples a pixel makes that buffer hundreds of times the
    // picture, so it must fit the budget too.
    std::uint16_t samples = 1, planar = PLANARCONFIG_CONTIG;
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_SAMPLESPERPIXEL, &samples);
    TIFFGetFieldDefaulted(tif.get(), TIFFTAG_PLANARCONFIG, &planar);
    const std::uint64_t unit = std::uint64_t(TIFFIsTiled(tif.get()) ? TIFFTileSize64(tif.get())
                                                                    : TIFFStripSize64(tif.get()));
    const std::uint64_t planes = planar == PLANARCONFIG_SEPARATE ? std::max<std::uint16_t>(samples, 1) : 1;
    const std::uint64_t working = unit > UINT64_MAX / planes ? UINT64_MAX : unit * planes;
    if (const std::uint64_t budget = MemoryBudgetBytes(); working > budget)
        throw MemoryBudgetError(path, width, height, working, budget);
    // A header of a few hundred bytes may claim a picture its file could
    // never hold, within the budget: refused before the raster is made.
    struct stat file {};
    if (::fstat(TIFFFileno(tif.get()), &file) == 0)
        RequireFileCanHold(width, height, path, std::uint64_t(file.st_size),
                           leastTiffFileBytes(tif.get(), width, height));
    // The working raster starts white, so whatever the library does not
    // deliver stays white.
    const std::uint64_t pixels = std::uint64_t(width) * height;
    std::vector<std::uint32_t> raster;
    try {
        raster.assign(std::size_t(pixels), 0xFFFFFFFFu);
    } catch (const std::bad_alloc&) {
        throw TiffError("Unable to create TBitmap buffer");
    }

    bool jpegFailed = false;
    bool unreadable = false;
    {
        ReadWatch watch;
        // Lower-left origin: raster row k is the image's row height-1-k.
        // A refused layout or a read error leaves white pixels behind, which
        // are kept; the picture is then reported as damaged.
        unreadable = TIFFReadRGBAImage(tif.get(), width, height, raster.data(), 0) == 0;
        jpegFailed = watch.jpegFailed();
        unreadable = unreadable || watch.anyError();
    }
    tif.close();
    if (jpegFailed)
        throw TiffError("The JPEG data of '" + path + "' cannot be decoded");
    if (unreadable && damage)
        *damage = "TIFF strip unreadable";

    SwapRedBlue(int(width), int(height), raster.data());

    // Every pixel is copied from the raster below, so nothing is painted.
    try {
        out.setSizeForOverwrite(int(width), int(height));
    } catch (const std::bad_alloc&) {
        throw TiffError("Unable to create TBitmap buffer");
    }
    // Drop the alpha byte; no compositing.
    for (std::uint32_t k = 0; k < height; ++k) {
        const std::uint32_t* in = raster.data() + std::size_t(k) * width;
        std::uint8_t* row = out.data() + out.rowBytes() * std::size_t(height - 1 - k);
        for (std::uint32_t x = 0; x < width; ++x, row += 3) {
            const std::uint32_t v = in[x];
            row[0] = std::uint8_t(v);
            row[1] = std::uint8_t(v >> 8);
            row[2] = std::uint8_t(v >> 16);
        }
    }
}

std::uint16_t OrientationAfterTiffRead(std::uint16_t orientation)
{
    switch (orientation) {
    case 5: // transposed: nothing mirrored
    case 7: // transverse: turned half round, which leaves the transpose
        return 5;
    case 6: // turned right: mirrored left to right, which leaves the transverse
    case 8: // turned left: mirrored top to bottom, likewise
        return 7;
    default:
        return 1;
    }
}

void LoadTiffImage(const std::string& path, TImageHolder& image, Bitmap24& spare)
{
    try {
        ReadTiffToBitmap(path, spare);
        image.Picture.ExchangeBitmap(spare);
    } catch (...) {
        // Every failure shows as an empty picture and nothing else.
        image.Picture.Clear();
    }
}

void LoadTiffImage(const std::string& path, TImageHolder& image)
{
    try {
        std::unique_ptr<Bitmap24> bitmap = ReadTiffToBitmap(path);
        image.Picture.AssignBitmap(std::move(*bitmap));
    } catch (...) {
        // Every failure shows as an empty picture and nothing else.
        image.Picture.Clear();
    }
}

} // namespace lumivane
