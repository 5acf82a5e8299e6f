// SPDX-License-Identifier: GPL-3.0-or-later
#include "ImageFile.h"

#include "BmpCodec.h"
#include "JpegCodec.h"
#include "TiffReader.h"

#include <utility>

namespace lumivane {

ImageKind ImageKindBySuffix(const std::string& path)
{
    std::string suffix = path.size() > 3 ? path.substr(path.size() - 3) : path;
    for (char& c : suffix)
        if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
    if (suffix == "JPG")
        return ImageKind::Jpeg;
    if (suffix == "BMP")
        return ImageKind::Bmp;
    if (suffix == "TIF")
        return ImageKind::Tiff;
    // The longer names file managers hand over for the same kinds.
    return ImageKindOfLongName(path);
}

ImageKind ImageKindOfLongName(const std::string& path)
{
    const std::size_t dot = path.find_last_of("./");
    if (dot == std::string::npos || path[dot] != '.')
        return ImageKind::Unknown;
    std::string extension = path.substr(dot + 1);
    for (char& c : extension)
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    if (extension == "jpeg" || extension == "jpe")
        return ImageKind::Jpeg;
    if (extension == "tiff")
        return ImageKind::Tiff;
    return ImageKind::Unknown;
}

bool DecodeBySuffix(const std::string& path, Bitmap24& into, JpegSmoothing smoothing, std::string* damage)
{
    if (damage)
        damage->clear();
    switch (ImageKindBySuffix(path)) {
    case ImageKind::Jpeg: {
        TJPEGImage decoder;
        decoder.Smoothing = smoothing == JpegSmoothing::On;
        decoder.LoadFromFile(path);
        decoder.DecodeInto(into, damage);
        return true;
    }
    case ImageKind::Bmp:
        ReadBmpFile(path, into);
        return true;
    case ImageKind::Tiff: {
        Bitmap24 image;
        ReadTiffToBitmap(path, image, damage);
        std::swap(into, image);
        return true;
    }
    case ImageKind::Unknown:
        break;
    }
    return false;
}

} // namespace lumivane
