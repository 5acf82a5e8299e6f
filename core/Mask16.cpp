// SPDX-License-Identifier: GPL-3.0-or-later
#include "Mask16.h"

#include "BitmapRotation.h"
#include "Tiff16Reader.h"

#include <exception>

namespace lumivane {

bool Mask16OfFile(const std::string& path, const Bitmap24& used, int counterclockwise, Bitmap48& out)
{
    out = Bitmap48();
    if (path.empty() || used.empty())
        return false;
    try {
        if (!IsTiff16(path))
            return false;
        Tiff16Picture read;
        if (!ReadTiff16(path, read))
            return false;
        Bitmap24 eight;
        EightBitPicture(read, eight);
        Bitmap24 turnedEight;
        Rotate90Into(counterclockwise, eight, turnedEight);
        if (!(turnedEight == used))
            return false;
        Rotate90Into(counterclockwise, read.pixels, out);
        return true;
    } catch (const std::exception&) {
        // A file that fails at 16 bits (damaged, gone, over the memory
        // budget) leaves the 8-bit mask, which was read when it loaded.
        out = Bitmap48();
        return false;
    }
}

const Bitmap48& FitMask16(const Bitmap48& mask16, int width, int height, Bitmap48& storage)
{
    if (mask16.width() == width && mask16.height() == height)
        return mask16;
    storage.setSizeForOverwrite(width, height);
    stretchDraw(mask16, storage);
    return storage;
}

} // namespace lumivane
