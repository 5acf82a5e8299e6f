// SPDX-License-Identifier: GPL-3.0-or-later
// Picture holders: what the program's image controls hold and how they
// react when their picture changes, free of any window toolkit.
//
// TPicture holds at most one graphic: a Bitmap24 or a TJPEGImage (whose
// pixels are decoded only on demand). TImageHolder is an image control's
// model: a picture plus the control's own size, which follows the picture
// when AutoSize is set. The workflow keeps the full-size photograph in a
// hidden TImageHolder.
#pragma once

#include "Bitmap24.h"
#include "JpegCodec.h"

#include <functional>
#include <stdexcept>
#include <string>
#include <variant>

namespace lumivane {

// A file whose kind of picture is not known.
class InvalidGraphic : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An operation the holder's current graphic does not allow.
class InvalidOperation : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TPicture {
public:
    TPicture() = default;
    // Copies carry the graphic only; the change notification belongs to the
    // holder that owns the picture.
    TPicture(const TPicture& other) : graphic_(other.graphic_) {}
    TPicture(TPicture&& other) noexcept : graphic_(std::move(other.graphic_)) {}
    TPicture& operator=(const TPicture& other);
    TPicture& operator=(TPicture&& other) noexcept;

    // Reads the file with the reader its extension names, ignoring case:
    // "bmp" gives a bitmap, "jpg" and "jpeg" a JPEG image object. Any other
    // extension raises InvalidGraphic "Unknown picture file extension (.ext)".
    // When reading fails the error passes to the caller and the picture
    // keeps the graphic it held.
    void LoadFromFile(const std::string& path);
    // Same, but a bitmap file is decoded into `spare`, which is then
    // exchanged with the held bitmap: a full-size picture loaded again and
    // again reuses two blocks of storage instead of taking a new one each
    // time. After a failure `spare` holds no particular pixels.
    void LoadFromFile(const std::string& path, Bitmap24& spare);

    // The held bitmap. If the picture holds a JPEG or nothing, that is
    // discarded and an empty (0 x 0) bitmap takes its place.
    Bitmap24& Bitmap();
    // The held bitmap, or nullptr; never changes what is held.
    const Bitmap24* HeldBitmap() const { return std::get_if<Bitmap24>(&graphic_); }
    // The held JPEG image, or nullptr (callers set Smoothing on it before
    // decoding).
    const TJPEGImage* Jpeg() const { return std::get_if<TJPEGImage>(&graphic_); }
    TJPEGImage* Jpeg() { return std::get_if<TJPEGImage>(&graphic_); }

    void AssignBitmap(const Bitmap24& bitmap);
    void AssignBitmap(Bitmap24&& bitmap);
    // Holds `bitmap`'s pixels afterwards; `bitmap` receives the storage of
    // the bitmap held before (or an empty bitmap).
    void ExchangeBitmap(Bitmap24& bitmap);
    void AssignJpeg(TJPEGImage jpeg);
    // Holds nothing afterwards; width and height become 0.
    void Clear();

    // A JPEG reports its header size; nothing held reports 0 x 0.
    int Width() const;
    int Height() const;
    // True when nothing is held or the held graphic has no pixels.
    bool Empty() const { return Width() <= 0 || Height() <= 0; }
    bool HoldsNothing() const { return std::holds_alternative<std::monostate>(graphic_); }
    bool HoldsBitmap() const { return std::holds_alternative<Bitmap24>(graphic_); }
    bool HoldsJpeg() const { return std::holds_alternative<TJPEGImage>(graphic_); }

    // Called after every change of the graphic (set by the owning holder).
    std::function<void()> OnChange;

private:
    void changed();

    std::variant<std::monostate, Bitmap24, TJPEGImage> graphic_;
};

class TImageHolder {
public:
    TImageHolder();
    // The picture reports to this holder, so a holder cannot be copied.
    TImageHolder(const TImageHolder&) = delete;
    TImageHolder& operator=(const TImageHolder&) = delete;

    TPicture Picture;
    // When set, the holder takes its picture's width and height whenever
    // the picture changes and both are positive; an emptied picture leaves
    // the size as it was.
    bool AutoSize = false;
    // The control's own size.
    int Width = 0;
    int Height = 0;

    // Applies the AutoSize rule; every change of Picture calls it.
    void PictureChanged();

    // The bitmap to draw on. An empty picture first gets a white bitmap of
    // the control's own size; a picture holding a JPEG raises
    // InvalidOperation "Can only modify an image if it contains a bitmap".
    Bitmap24& CanvasBitmap();

    // Loads the picture from a file (see TPicture::LoadFromFile).
    void LoadFromFile(const std::string& path) { Picture.LoadFromFile(path); }
    void LoadFromFile(const std::string& path, Bitmap24& spare) { Picture.LoadFromFile(path, spare); }
};

} // namespace lumivane
