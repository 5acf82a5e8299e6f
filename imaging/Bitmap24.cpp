// SPDX-License-Identifier: GPL-3.0-or-later
#include "Bitmap24.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <new>
#include <sys/mman.h>
#include <system_error>
#include <unistd.h>

namespace lumivane {

namespace detail {

namespace {
constexpr std::size_t kHugePage = std::size_t(2) << 20;
// Below this a block is an ordinary allocation.
constexpr std::size_t kLargeBlock = std::size_t(4) << 20;
} // namespace

// Large blocks start at a different offset inside their first huge page,
// one of 8 steps of 4 KiB + 64 bytes. Two full-size bitmaps read side by side
// (photograph and mask) would otherwise sit at the same offsets of their
// 2 MiB pages and fall into the same cache sets, which made the correction
// pass more than half again as slow.
namespace {
std::atomic<unsigned> largeBlockCount{0};
constexpr std::size_t kColourStep = 4096 + 64;
constexpr unsigned kColours = 8;
} // namespace

void* allocatePixelBlock(std::size_t bytes)
{
    if (bytes >= kLargeBlock) {
        const std::size_t offset = kColourStep * (1 + largeBlockCount.fetch_add(1) % kColours);
        const std::size_t rounded = (bytes + offset + kHugePage - 1) & ~(kHugePage - 1);
        void* block = std::aligned_alloc(kHugePage, rounded);
        if (!block)
            throw std::bad_alloc();
        // Only a hint: without huge pages the block works as usual.
        ::madvise(block, rounded, MADV_HUGEPAGE);
        return static_cast<char*>(block) + offset;
    }
    void* block = std::malloc(bytes == 0 ? 1 : bytes);
    if (!block)
        throw std::bad_alloc();
    return block;
}

void freePixelBlock(void* block, std::size_t bytes) noexcept
{
    if (block && bytes >= kLargeBlock) {
        // The block's start is the huge page the offset pointer lies in.
        const auto address = reinterpret_cast<std::uintptr_t>(block);
        std::free(reinterpret_cast<void*>(address & ~std::uintptr_t(kHugePage - 1)));
        return;
    }
    std::free(block);
}

} // namespace detail

void AdviseHugePages(void* storage, std::size_t bytes)
{
    if (!storage || bytes < detail::kLargeBlock)
        return;
    const std::uintptr_t begin = (reinterpret_cast<std::uintptr_t>(storage) + detail::kHugePage - 1) &
                                 ~std::uintptr_t(detail::kHugePage - 1);
    const std::uintptr_t end =
        (reinterpret_cast<std::uintptr_t>(storage) + bytes) & ~std::uintptr_t(detail::kHugePage - 1);
    if (end > begin)
        ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

BackgroundPrefault::BackgroundPrefault(void* storage, std::size_t bytes)
{
    if (!storage || bytes < kAtLeast)
        return;
    // Whole pages inside the storage only.
    const std::uintptr_t page = std::uintptr_t(::sysconf(_SC_PAGESIZE));
    const std::uintptr_t begin = (reinterpret_cast<std::uintptr_t>(storage) + page - 1) & ~(page - 1);
    const std::uintptr_t end = (reinterpret_cast<std::uintptr_t>(storage) + bytes) & ~(page - 1);
    if (end <= begin)
        return;
    try {
        thread_ = std::thread([begin, end] {
#ifdef MADV_POPULATE_WRITE
            // Fails harmlessly (EINVAL) on kernels before 5.14.
            ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
#endif
        });
    } catch (const std::system_error&) {
        // No thread: the writer faults the pages in itself.
    }
}

BackgroundPrefault::~BackgroundPrefault()
{
    if (thread_.joinable())
        thread_.join();
}

void Bitmap24::setSize(int width, int height)
{
    width = std::max(width, 0);
    height = std::max(height, 0);
    if (width == width_ && height == height_)
        return;
    const std::size_t newRow = std::size_t(width) * 3;
    const std::size_t newBytes = newRow * std::size_t(height);
    if (width == width_) {
        // Same row length: rows stay where they are; only the tail changes.
        pixels_.resize(newBytes, 0xFF);
    } else {
        Storage old;
        old.swap(pixels_);
        const std::size_t keepRow = std::min(newRow, rowBytes());
        const int keepRows = std::min(height, height_);
        // Reuse the old storage when it is large enough by building the new
        // layout in place from the last row upwards (or downwards when rows
        // shrink), so no second full-size buffer is touched.
        if (old.capacity() >= newBytes) {
            pixels_.swap(old);
            const std::size_t oldRow = rowBytes();
            pixels_.resize(std::max(pixels_.size(), newBytes), 0xFF);
            if (newRow > oldRow) {
                for (int y = keepRows - 1; y >= 0; --y) {
                    std::memmove(&pixels_[newRow * y], &pixels_[oldRow * y], keepRow);
                    std::memset(&pixels_[newRow * y + keepRow], 0xFF, newRow - keepRow);
                }
            } else {
                for (int y = 0; y < keepRows; ++y)
                    std::memmove(&pixels_[newRow * y], &pixels_[oldRow * y], keepRow);
            }
            pixels_.resize(newBytes);
            if (height > keepRows)
                std::memset(&pixels_[newRow * keepRows], 0xFF, newRow * (height - keepRows));
        } else {
            pixels_.assign(newBytes, 0xFF);
            const std::size_t oldRow = rowBytes();
            for (int y = 0; y < keepRows; ++y)
                std::memcpy(&pixels_[newRow * y], &old[oldRow * y], keepRow);
        }
    }
    width_ = width;
    height_ = height;
}

void Bitmap24::setSizeForOverwrite(int width, int height)
{
    width = std::max(width, 0);
    height = std::max(height, 0);
    const std::size_t newBytes = std::size_t(width) * 3 * std::size_t(height);
    if (newBytes > pixels_.capacity())
        Storage().swap(pixels_);
    pixels_.resize(newBytes);
    width_ = width;
    height_ = height;
}

void Bitmap24::reset(int width, int height)
{
    width_ = std::max(width, 0);
    height_ = std::max(height, 0);
    pixels_.resize(byteCount());
    fill(kWhite);
}

void Bitmap24::clear()
{
    width_ = 0;
    height_ = 0;
    Storage().swap(pixels_);
}

std::uint8_t* Bitmap24::scanLine(int y)
{
    if (y < 0 || y >= height_)
        throw BitmapError("Scan line index out of range");
    return pixels_.data() + rowBytes() * std::size_t(y);
}

const std::uint8_t* Bitmap24::scanLine(int y) const
{
    if (y < 0 || y >= height_)
        throw BitmapError("Scan line index out of range");
    return pixels_.data() + rowBytes() * std::size_t(y);
}

Colour Bitmap24::pixel(int x, int y) const
{
    if (x < 0 || y < 0 || x >= width_ || y >= height_)
        return kWhite;
    const std::uint8_t* p = pixels_.data() + rowBytes() * std::size_t(y) + std::size_t(x) * 3;
    return packColour(p[2], p[1], p[0]);
}

void Bitmap24::setPixel(int x, int y, Colour c)
{
    if (x < 0 || y < 0 || x >= width_ || y >= height_)
        return;
    std::uint8_t* p = pixels_.data() + rowBytes() * std::size_t(y) + std::size_t(x) * 3;
    p[0] = blueOf(c);
    p[1] = greenOf(c);
    p[2] = redOf(c);
}

void Bitmap24::fill(Colour c)
{
    if (empty())
        return;
    if (c == kWhite || c == kBlack) {
        std::memset(pixels_.data(), c == kWhite ? 0xFF : 0, byteCount());
        return;
    }
    std::uint8_t* row = pixels_.data();
    for (int x = 0; x < width_; ++x) {
        row[3 * x] = blueOf(c);
        row[3 * x + 1] = greenOf(c);
        row[3 * x + 2] = redOf(c);
    }
    for (int y = 1; y < height_; ++y)
        std::memcpy(row + rowBytes() * y, row, rowBytes());
}

bool Bitmap24::operator==(const Bitmap24& other) const
{
    if (width_ != other.width_ || height_ != other.height_)
        return false;
    const std::size_t bytes = byteCount();
    // Empty pictures hold no storage, and memcmp must not be handed a null pointer.
    if (bytes == 0)
        return true;
    if (pixels_.size() < bytes || other.pixels_.size() < bytes)
        return pixels_.size() == other.pixels_.size();
    return std::memcmp(pixels_.data(), other.pixels_.data(), bytes) == 0;
}

void stretchDraw(const Bitmap24& source, Bitmap24& dest, const Rect& rect)
{
    const int dw = rect.width();
    const int dh = rect.height();
    if (source.empty() || dw <= 0 || dh <= 0 || dest.empty())
        return;
    const int x0 = std::max(rect.left, 0);
    const int x1 = std::min(rect.right, dest.width());
    const int y0 = std::max(rect.top, 0);
    const int y1 = std::min(rect.bottom, dest.height());
    if (x0 >= x1 || y0 >= y1)
        return;
    // Source column for every destination column, as byte offsets.
    std::vector<std::size_t> columns(std::size_t(x1 - x0));
    for (int x = x0; x < x1; ++x) {
        const long long d = x - rect.left;
        const long long sx = ((2 * d + 1) * source.width()) / (2LL * dw);
        columns[std::size_t(x - x0)] = std::size_t(sx) * 3;
    }
    const std::size_t srcRow = source.rowBytes();
    const std::size_t dstRow = dest.rowBytes();
    const std::uint8_t* src = source.data();
    std::uint8_t* dst = dest.data();
    int lastSy = -1;
    for (int y = y0; y < y1; ++y) {
        const long long d = y - rect.top;
        const int sy = int(((2 * d + 1) * source.height()) / (2LL * dh));
        std::uint8_t* out = dst + dstRow * std::size_t(y) + std::size_t(x0) * 3;
        if (sy == lastSy) {
            // Repeated source row: copy the destination row just made.
            std::memcpy(out, out - dstRow, std::size_t(x1 - x0) * 3);
            continue;
        }
        lastSy = sy;
        const std::uint8_t* in = src + srcRow * std::size_t(sy);
        for (std::size_t i = 0; i < columns.size(); ++i) {
            const std::uint8_t* p = in + columns[i];
            out[3 * i] = p[0];
            out[3 * i + 1] = p[1];
            out[3 * i + 2] = p[2];
        }
    }
}

void stretchDraw(const Bitmap24& source, Bitmap24& dest)
{
    stretchDraw(source, dest, Rect{0, 0, dest.width(), dest.height()});
}

void stretchDrawThrough(const Bitmap24& source, int throughWidth, int throughHeight, Bitmap24& dest)
{
    if (source.empty() || dest.empty() || throughWidth <= 0 || throughHeight <= 0)
        return;
    std::vector<std::size_t> columns(std::size_t(dest.width()));
    for (int x = 0; x < dest.width(); ++x) {
        const long long through = stretchSourceIndex(x, throughWidth, dest.width());
        columns[std::size_t(x)] = std::size_t(stretchSourceIndex(through, source.width(), throughWidth)) * 3;
    }
    for (int y = 0; y < dest.height(); ++y) {
        const long long through = stretchSourceIndex(y, throughHeight, dest.height());
        const std::uint8_t* in = source.data() + source.rowBytes() * std::size_t(stretchSourceIndex(through, source.height(), throughHeight));
        std::uint8_t* out = dest.data() + dest.rowBytes() * std::size_t(y);
        for (std::size_t i = 0; i < columns.size(); ++i) {
            const std::uint8_t* p = in + columns[i];
            out[3 * i] = p[0];
            out[3 * i + 1] = p[1];
            out[3 * i + 2] = p[2];
        }
    }
}

void stretchRowsInto(const std::uint8_t* rows, std::size_t stride, int firstRow, int count, int sourceWidth,
                     int sourceHeight, Bitmap24& dest)
{
    if (dest.empty() || sourceWidth <= 0 || sourceHeight <= 0 || count <= 0)
        return;
    std::vector<std::size_t> columns(std::size_t(dest.width()));
    for (int x = 0; x < dest.width(); ++x)
        columns[std::size_t(x)] = std::size_t(stretchSourceIndex(x, sourceWidth, dest.width())) * 3;
    for (int y = 0; y < dest.height(); ++y) {
        const long long sy = stretchSourceIndex(y, sourceHeight, dest.height());
        if (sy < firstRow || sy >= static_cast<long long>(firstRow) + count)
            continue;
        const std::uint8_t* in = rows + std::size_t(sy - firstRow) * stride;
        std::uint8_t* out = dest.scanLine(y);
        for (std::size_t i = 0; i < columns.size(); ++i) {
            const std::uint8_t* p = in + columns[i];
            out[3 * i] = p[0];
            out[3 * i + 1] = p[1];
            out[3 * i + 2] = p[2];
        }
    }
}

void copyRect(const Bitmap24& source, const Rect& from, Bitmap24& dest, int x, int y)
{
    int sx = from.left, sy = from.top, w = from.width(), h = from.height();
    // Clip against the source.
    if (sx < 0) { x -= sx; w += sx; sx = 0; }
    if (sy < 0) { y -= sy; h += sy; sy = 0; }
    w = std::min(w, source.width() - sx);
    h = std::min(h, source.height() - sy);
    // Clip against the destination.
    if (x < 0) { sx -= x; w += x; x = 0; }
    if (y < 0) { sy -= y; h += y; y = 0; }
    w = std::min(w, dest.width() - x);
    h = std::min(h, dest.height() - y);
    if (w <= 0 || h <= 0)
        return;
    for (int r = 0; r < h; ++r)
        std::memcpy(dest.data() + dest.rowBytes() * std::size_t(y + r) + std::size_t(x) * 3,
                    source.data() + source.rowBytes() * std::size_t(sy + r) + std::size_t(sx) * 3,
                    std::size_t(w) * 3);
}

void draw(const Bitmap24& source, Bitmap24& dest, int x, int y)
{
    copyRect(source, Rect{0, 0, source.width(), source.height()}, dest, x, y);
}

void Canvas::plot(int x, int y)
{
    const int start = -(penWidth_ / 2);
    for (int dy = 0; dy < penWidth_; ++dy)
        for (int dx = 0; dx < penWidth_; ++dx)
            target_.setPixel(x + start + dx, y + start + dy, penColour_);
}

void Canvas::lineTo(int x1, int y1)
{
    // Bresenham, end point excluded.
    int x = x_, y = y_;
    const int dx = std::abs(x1 - x), sx = x < x1 ? 1 : -1;
    const int dy = -std::abs(y1 - y), sy = y < y1 ? 1 : -1;
    int err = dx + dy;
    while (!(x == x1 && y == y1)) {
        plot(x, y);
        const int e2 = 2 * err;
        if (e2 >= dy) {
            err += dy;
            x += sx;
        }
        if (e2 <= dx) {
            err += dx;
            y += sy;
        }
    }
    x_ = x1;
    y_ = y1;
}

void Canvas::rectangle(int x0, int y0, int x1, int y1)
{
    if (x1 < x0)
        std::swap(x0, x1);
    if (y1 < y0)
        std::swap(y0, y1);
    for (int y = std::max(y0, 0); y < std::min(y1, target_.height()); ++y)
        for (int x = std::max(x0, 0); x < std::min(x1, target_.width()); ++x)
            target_.setPixel(x, y, kWhite);
    moveTo(x0, y0);
    lineTo(x1 - 1, y0);
    lineTo(x1 - 1, y1 - 1);
    lineTo(x0, y1 - 1);
    lineTo(x0, y0);
}

} // namespace lumivane
