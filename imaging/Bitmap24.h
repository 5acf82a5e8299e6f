// SPDX-License-Identifier: GPL-3.0-or-later
// A 24-bit bitmap: rows of blue, green, red bytes, row 0 at the top.
// This is the one pixel container of the program; every decoder produces it,
// the correction kernel works on its scan lines and the encoders consume it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <utility>
#include <thread>
#include <vector>

namespace lumivane {

// Raised for misuse of a bitmap (a scan line outside the picture, a
// rotation angle that is not a multiple of 90 degrees, ...).
class BitmapError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Packed colour as canvas colours are given: red + 256 * green + 65536 * blue.
using Colour = std::uint32_t;

constexpr Colour packColour(std::uint8_t r, std::uint8_t g, std::uint8_t b)
{
    return Colour(r) | (Colour(g) << 8) | (Colour(b) << 16);
}
constexpr std::uint8_t redOf(Colour c) { return std::uint8_t(c & 0xFF); }
constexpr std::uint8_t greenOf(Colour c) { return std::uint8_t((c >> 8) & 0xFF); }
constexpr std::uint8_t blueOf(Colour c) { return std::uint8_t((c >> 16) & 0xFF); }

constexpr Colour kWhite = packColour(255, 255, 255);
constexpr Colour kBlack = packColour(0, 0, 0);
constexpr Colour kPureRed = packColour(255, 0, 0);
constexpr Colour kPureBlue = packColour(0, 0, 255);

namespace detail {

// Pixel storage for bitmaps. Blocks of several megabytes are aligned to
// 2 MiB and marked for transparent huge pages: a full-size photograph
// (72 MB) then costs a few dozen page faults instead of eighteen thousand,
// and quarter turns, which touch a new result row for every pixel, miss
// the TLB far less often.
void* allocatePixelBlock(std::size_t bytes);
void freePixelBlock(void* block, std::size_t bytes) noexcept;

template <typename T>
struct PixelAllocator {
    using value_type = T;
    PixelAllocator() = default;
    template <typename U>
    PixelAllocator(const PixelAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) { return static_cast<T*>(allocatePixelBlock(n * sizeof(T))); }
    void deallocate(T* p, std::size_t n) noexcept { freePixelBlock(p, n * sizeof(T)); }
    template <typename U>
    bool operator==(const PixelAllocator<U>&) const noexcept { return true; }
    // Growing the storage without a value leaves the new bytes as they come
    // from the system: a decoder that writes every pixel then touches each
    // page once instead of twice. Growing with a value fills as usual.
    template <typename U>
    void construct(U* p) noexcept
    {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args)
    {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

} // namespace detail

struct Rect {
    int left = 0;
    int top = 0;
    int right = 0;  // exclusive
    int bottom = 0; // exclusive
    int width() const { return right - left; }
    int height() const { return bottom - top; }
};

class Bitmap24 {
public:
    Bitmap24() = default;
    Bitmap24(int width, int height) { setSize(width, height); }

    int width() const { return width_; }
    int height() const { return height_; }
    bool empty() const { return width_ <= 0 || height_ <= 0; }
    // Bytes in one row: width * 3, rows are stored without padding.
    std::size_t rowBytes() const { return std::size_t(width_) * 3; }
    std::size_t byteCount() const { return rowBytes() * std::size_t(height_); }

    // Resizes the bitmap. Pixels inside both the old and the new size keep
    // their values; newly added area is white. The storage is kept when the
    // bitmap shrinks or is re-grown within its capacity, so a full-size
    // bitmap re-created for every photograph pays its page faults once.
    void setSize(int width, int height);
    // Resizes for a writer that sets every pixel itself (a decoder): the
    // pixels are left as they are in memory, nothing is painted. Storage
    // large enough is kept; otherwise the old storage is released before
    // the new is taken, so two full-size blocks never exist at once.
    void setSizeForOverwrite(int width, int height);
    // Resizes and paints the whole bitmap white.
    void reset(int width, int height);
    // Bytes the storage holds without growing.
    std::size_t capacity() const { return pixels_.capacity(); }
    // Releases the pixels and the storage.
    void clear();

    // Row y (0 = top): width * 3 bytes, blue, green, red per pixel.
    // Raises BitmapError "Scan line index out of range" outside 0..height-1.
    std::uint8_t* scanLine(int y);
    const std::uint8_t* scanLine(int y) const;

    // Unchecked access to the whole pixel block, for kernels that have
    // already validated their ranges.
    std::uint8_t* data() { return pixels_.data(); }
    const std::uint8_t* data() const { return pixels_.data(); }

    // Pixel access as packed colours. Reads outside the bitmap give white
    // and writes outside it are ignored, as a canvas clips them.
    Colour pixel(int x, int y) const;
    void setPixel(int x, int y, Colour c);

    void fill(Colour c);

    bool operator==(const Bitmap24& other) const;

private:
    int width_ = 0;
    int height_ = 0;
    using Storage = std::vector<std::uint8_t, detail::PixelAllocator<std::uint8_t>>;
    Storage pixels_;
};

// Asks the kernel to back the whole 2 MiB pages inside [storage, storage +
// bytes) with huge pages, for large buffers that are filled once and then
// reused (a file read, an encoder's output): one fault per 2 MiB instead of
// one per 4 KiB, which on virtual machines is most of the cost of first
// touching them. Only a hint; smaller ranges are left alone.
void AdviseHugePages(void* storage, std::size_t bytes);

// Faults in the pages of fresh storage on a thread of its own while the
// caller starts filling it, so the cost of first touching memory (large on
// virtual machines) is paid on an idle core rather than by the filling
// thread. Only page tables are filled (madvise MADV_POPULATE_WRITE): no
// byte is written, so the caller may write anywhere meanwhile. Without
// kernel support, or without a thread to be had, it does nothing. The
// destructor waits for the thread.
class BackgroundPrefault {
public:
    BackgroundPrefault(void* storage, std::size_t bytes);
    ~BackgroundPrefault();
    BackgroundPrefault(const BackgroundPrefault&) = delete;
    BackgroundPrefault& operator=(const BackgroundPrefault&) = delete;

    // Storage smaller than this is faulted in by its first writer.
    static constexpr std::size_t kAtLeast = std::size_t(8) << 20;

private:
    std::thread thread_;
};

// Nearest-neighbour resample of the whole source onto the destination
// rectangle: each destination pixel takes one source pixel (source index =
// floor((d + 0.5) * source size / destination size)); nothing is averaged
// and the aspect ratio is not kept. The part of the rectangle outside the
// destination is clipped.
void stretchDraw(const Bitmap24& source, Bitmap24& dest, const Rect& rect);
// Same, onto the whole destination.
void stretchDraw(const Bitmap24& source, Bitmap24& dest);
// The pixels the whole destination gets when the source is first stretched
// to throughWidth x throughHeight and that picture then onto the
// destination, without making the intermediate picture. A small view of a
// picture that would be fitted to a large size first (the mask thumbnail)
// shows the same pixels at a fraction of the memory.
void stretchDrawThrough(const Bitmap24& source, int throughWidth, int throughHeight, Bitmap24& dest);
// stretchDraw(source, dest) for a sourceWidth x sourceHeight source whose
// rows arrive a band at a time, top to bottom: the `count` rows from
// `firstRow` on (each sourceWidth * 3 bytes, `stride` apart) fill the
// destination rows that take their pixels from them. Once every band has
// been given, dest holds what stretchDraw makes of the whole source.
void stretchRowsInto(const std::uint8_t* rows, std::size_t stride, int firstRow, int count, int sourceWidth,
                     int sourceHeight, Bitmap24& dest);
// The source index the stretches above take for destination index d when
// `from` source pixels are stretched to `to`.
inline long long stretchSourceIndex(long long d, int from, int to)
{
    return ((2 * d + 1) * from) / (2LL * to);
}

// Same-size copy of the source with its top-left corner at (x, y), clipped
// to the destination.
void draw(const Bitmap24& source, Bitmap24& dest, int x, int y);

// Copies rectangle `from` of the source to the same-sized rectangle whose
// top-left corner is (x, y) in the destination, clipped to both bitmaps.
void copyRect(const Bitmap24& source, const Rect& from, Bitmap24& dest, int x, int y);

// A pen and a move-to/line-to/rectangle drawing surface over a bitmap,
// following the usual canvas rules: a line excludes its end point, a pen of
// width w covers a w x w square centred on each point of the line, and a
// rectangle is filled white inside its outline.
class Canvas {
public:
    explicit Canvas(Bitmap24& target) : target_(target) {}

    void setPen(Colour colour, int width = 1)
    {
        penColour_ = colour;
        penWidth_ = width < 1 ? 1 : width;
    }
    Colour penColour() const { return penColour_; }
    int penWidth() const { return penWidth_; }

    void moveTo(int x, int y)
    {
        x_ = x;
        y_ = y;
    }
    void lineTo(int x, int y);
    void line(int x0, int y0, int x1, int y1)
    {
        moveTo(x0, y0);
        lineTo(x1, y1);
    }
    // Outline from (x0, y0) to (x1 - 1, y1 - 1) with the pen, inside filled
    // with the brush (solid white).
    void rectangle(int x0, int y0, int x1, int y1);

private:
    void plot(int x, int y);

    Bitmap24& target_;
    Colour penColour_ = kBlack;
    int penWidth_ = 1;
    int x_ = 0;
    int y_ = 0;
};

} // namespace lumivane
