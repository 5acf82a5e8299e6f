// SPDX-License-Identifier: GPL-3.0-or-later
#include "Picture.h"

#include "BmpCodec.h"

#include <algorithm>
#include <cctype>

namespace lumivane {

namespace {

// The extension after the last dot of the file name (not of a folder),
// without the dot; empty when there is none.
std::string extensionOf(const std::string& path)
{
    const std::size_t slash = path.find_last_of('/');
    const std::size_t dot = path.find_last_of('.');
    if (dot == std::string::npos || (slash != std::string::npos && dot < slash))
        return {};
    return path.substr(dot + 1);
}

std::string lowerCase(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return char(std::tolower(c)); });
    return text;
}

} // namespace

TPicture& TPicture::operator=(const TPicture& other)
{
    if (this != &other) {
        graphic_ = other.graphic_;
        changed();
    }
    return *this;
}

TPicture& TPicture::operator=(TPicture&& other) noexcept
{
    if (this != &other) {
        graphic_ = std::move(other.graphic_);
        changed();
    }
    return *this;
}

void TPicture::changed()
{
    if (OnChange)
        OnChange();
}

void TPicture::LoadFromFile(const std::string& path)
{
    const std::string extension = extensionOf(path);
    const std::string kind = lowerCase(extension);
    // Decode into a new graphic first so a failure keeps the old one.
    if (kind == "bmp") {
        Bitmap24 bitmap;
        ReadBmpFile(path, bitmap);
        graphic_ = std::move(bitmap);
    } else if (kind == "jpg" || kind == "jpeg") {
        TJPEGImage jpeg;
        jpeg.LoadFromFile(path);
        graphic_ = std::move(jpeg);
    } else {
        throw InvalidGraphic("Unknown picture file extension (." + extension + ")");
    }
    changed();
}

void TPicture::LoadFromFile(const std::string& path, Bitmap24& spare)
{
    if (lowerCase(extensionOf(path)) != "bmp") {
        LoadFromFile(path);
        return;
    }
    ReadBmpFile(path, spare);
    ExchangeBitmap(spare);
}

void TPicture::ExchangeBitmap(Bitmap24& bitmap)
{
    if (Bitmap24* held = std::get_if<Bitmap24>(&graphic_)) {
        std::swap(*held, bitmap);
    } else {
        graphic_ = std::move(bitmap);
        bitmap = Bitmap24();
    }
    changed();
}

Bitmap24& TPicture::Bitmap()
{
    if (Bitmap24* held = std::get_if<Bitmap24>(&graphic_))
        return *held;
    graphic_ = Bitmap24();
    changed();
    return std::get<Bitmap24>(graphic_);
}

void TPicture::AssignBitmap(const Bitmap24& bitmap)
{
    // Copy into the held bitmap's storage when there is one.
    if (Bitmap24* held = std::get_if<Bitmap24>(&graphic_))
        *held = bitmap;
    else
        graphic_ = bitmap;
    changed();
}

void TPicture::AssignBitmap(Bitmap24&& bitmap)
{
    graphic_ = std::move(bitmap);
    changed();
}

void TPicture::AssignJpeg(TJPEGImage jpeg)
{
    graphic_ = std::move(jpeg);
    changed();
}

void TPicture::Clear()
{
    graphic_ = std::monostate{};
    changed();
}

int TPicture::Width() const
{
    if (const Bitmap24* b = std::get_if<Bitmap24>(&graphic_))
        return b->width();
    if (const TJPEGImage* j = std::get_if<TJPEGImage>(&graphic_))
        return j->Width();
    return 0;
}

int TPicture::Height() const
{
    if (const Bitmap24* b = std::get_if<Bitmap24>(&graphic_))
        return b->height();
    if (const TJPEGImage* j = std::get_if<TJPEGImage>(&graphic_))
        return j->Height();
    return 0;
}

TImageHolder::TImageHolder()
{
    Picture.OnChange = [this] { PictureChanged(); };
}

void TImageHolder::PictureChanged()
{
    if (AutoSize && Picture.Width() > 0 && Picture.Height() > 0) {
        Width = Picture.Width();
        Height = Picture.Height();
    }
}

Bitmap24& TImageHolder::CanvasBitmap()
{
    if (Picture.HoldsJpeg())
        throw InvalidOperation("Can only modify an image if it contains a bitmap");
    if (Picture.HoldsNothing())
        Picture.AssignBitmap(Bitmap24(Width, Height));
    return Picture.Bitmap();
}

} // namespace lumivane
