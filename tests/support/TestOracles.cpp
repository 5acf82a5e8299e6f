#include "TestOracles.h"

#include "FileIO.h"
#include "JpegCodec.h"

#include <stdexcept>
#include <sys/stat.h>
#include <vector>

namespace lumivane {

TransplantResult CopyExif(const std::string& sourceFile, const std::string& outPath)
{
    struct stat st {};
    if (::stat(sourceFile.c_str(), &st) != 0 || S_ISDIR(st.st_mode))
        return TransplantResult::SourceMissing;
    const std::vector<std::uint8_t> src = ReadWholeFile(sourceFile);
    if (src.size() < 4)
        return TransplantResult::Skipped;
    auto at = [&](std::size_t i) { return unsigned(src[i]); };
    std::size_t head = 0;
    if (at(0) == 0xFF && at(1) == 0xD8 && at(2) == 0xFF && at(3) == 0xE1) {
        if (src.size() < 6)
            return TransplantResult::Skipped;
        const std::size_t length = at(4) * 256 + at(5);
        if (length < 2 || length + 4 > 65536 || length + 4 > src.size())
            return TransplantResult::Skipped;
        head = length + 4;
    } else if (at(0) == 0xFF && at(1) == 0xD8 && at(2) == 0xFF && at(3) == 0xE0) {
        const std::size_t n = std::min<std::size_t>(src.size(), 65535);
        for (std::size_t j = 0; j + 1 < n && head == 0; ++j) {
            if (at(j) != 0xFF || at(j + 1) != 0xE1)
                continue;
            if (j + 3 >= n)
                return TransplantResult::Skipped;
            const std::size_t length = at(j + 2) * 256 + at(j + 3);
            if (length == 0)
                continue;
            if (length < 2 || j + 2 + length > n)
                return TransplantResult::Skipped;
            head = j + 2 + length;
        }
        if (head == 0)
            return TransplantResult::NoExifFound;
    } else {
        return TransplantResult::NotApplicable;
    }

    const std::vector<std::uint8_t> out = ReadWholeFile(outPath);
    static const std::uint8_t kEncoderHead[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10};
    if (out.size() < 20 || !std::equal(std::begin(kEncoderHead), std::end(kEncoderHead), out.begin()))
        return TransplantResult::Skipped;
    std::vector<std::uint8_t> result(src.begin(), src.begin() + long(head));
    result.insert(result.end(), out.begin() + 20, out.end());
    WriteFileAtomically(outPath, result);
    return TransplantResult::Transplanted;
}

Bitmap24 CropBitmap(const Bitmap24& source, int left, int top, int right, int bottom)
{
    const long long w = static_cast<long long>(source.width()) - left - right;
    const long long h = static_cast<long long>(source.height()) - top - bottom;
    if (left < 0 || top < 0 || right < 0 || bottom < 0 || w <= 0 || h <= 0)
        throw std::invalid_argument("Crop margins leave no pixels: " + std::to_string(source.width()) + "x" +
                                    std::to_string(source.height()) + " photograph with margins " +
                                    std::to_string(left) + ", " + std::to_string(top) + ", " +
                                    std::to_string(right) + ", " + std::to_string(bottom));
    Bitmap24 out(static_cast<int>(w), static_cast<int>(h));
    copyRect(source, Rect{left, top, left + int(w), top + int(h)}, out, 0, 0);
    return out;
}

void ApplyCorrectionRows(const Bitmap24& photoIn, Bitmap24& bandOut, int firstRow, int rowCount,
                         const Bitmap24& mask, const CorrectionRegion& region, float damping,
                         const CorrectionTargets& targets)
{
    const CorrectionPass pass(photoIn, mask, region, damping, targets);
    if (rowCount < 0 || firstRow < 0 || firstRow > photoIn.height() - rowCount)
        throw std::out_of_range("Correction rows " + std::to_string(firstRow) + " + " + std::to_string(rowCount) +
                                " outside a photograph of " + std::to_string(photoIn.height()) + " rows");
    bandOut.setSize(photoIn.width(), rowCount);
    pass.CorrectInto(Rect{0, firstRow, photoIn.width(), firstRow + rowCount}, bandOut.data(),
                     std::ptrdiff_t(bandOut.rowBytes()));
}

void SaveJpegFile(const Bitmap24& image, int quality, const std::string& path)
{
    WriteFileAtomically(path, EncodeJpeg(image, quality));
}

} // namespace lumivane
