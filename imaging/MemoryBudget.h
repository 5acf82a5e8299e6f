// SPDX-License-Identifier: GPL-3.0-or-later
// How large a picture the program agrees to hold in memory.
//
// Before any full-size storage is taken the decoders ask whether what the
// job of the picture needs fits the memory budget: half of the machine's
// physical memory, or LUMIVANE_MEMORY_LIMIT_MIB mebibytes when that
// variable is set (anything but a positive whole number there is an error
// naming it). What a job needs depends on its path: the window holds four
// full-size copies, a batch counts the buffers of the path it takes (a
// streamed JPEG never holds its picture whole). A picture above the budget
// is refused with a message naming the file, its size in pixels and the
// memory it would need; a header that merely claims a huge size is refused
// the same way, before anything large is allocated.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

namespace lumivane {

// Full-size buffers of 3 bytes a pixel that one job holds at once: the
// photograph shown, the spare bitmap the next photograph decodes into (a
// TIFF's 4-byte working raster and its result take about the same room while
// it is read), the mask fitted to the photograph's size, and the save's
// output (a BMP file is as large as the pixels).
inline constexpr std::uint64_t kFullSizeBuffers = 4;
inline constexpr std::uint64_t kBytesPerPixel = 3;
// The same buffers for a photograph of 16 bits a channel.
inline constexpr std::uint64_t kBytesPerPixel16 = 6;

// The environment variable that overrides the default budget.
inline constexpr const char* kMemoryLimitVariable = "LUMIVANE_MEMORY_LIMIT_MIB";

// The longest side any decoder accepts whatever the budget: four bytes a
// pixel of one row still fit a signed 32-bit count.
inline constexpr std::uint64_t kMaxPictureSide = 0x1FFFFFFF;

// A picture refused because the job would need more memory than the budget.
class MemoryBudgetError : public std::runtime_error {
public:
    // `file` names the picture ("" while the decoder does not know it).
    MemoryBudgetError(std::string file, std::uint64_t width, std::uint64_t height, std::uint64_t neededBytes,
                      std::uint64_t budgetBytes);
    const std::string& File() const { return file_; }
    std::uint64_t Width() const { return width_; }
    std::uint64_t Height() const { return height_; }
    std::uint64_t NeededBytes() const { return needed_; }
    std::uint64_t BudgetBytes() const { return budget_; }
    // The same refusal, naming `file`.
    MemoryBudgetError Named(const std::string& file) const;

private:
    std::string file_;
    std::uint64_t width_;
    std::uint64_t height_;
    std::uint64_t needed_;
    std::uint64_t budget_;
};

// LUMIVANE_MEMORY_LIMIT_MIB holds something other than a positive whole
// number of mebibytes; the message names the variable and its value.
class MemoryLimitSettingError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The machine's physical memory in bytes (0 when the system does not say).
std::uint64_t PhysicalMemoryBytes();

// The budget in bytes, read afresh on every call: the variable when it is
// set and not empty, else half of the physical memory. Raises
// MemoryLimitSettingError when the variable holds anything but a positive
// whole number of mebibytes: a typo never silently means "half of the
// machine".
std::uint64_t MemoryBudgetBytes();

// Bytes the job needs for a width x height picture: kFullSizeBuffers buffers
// of kBytesPerPixel bytes a pixel. Saturates instead of wrapping. This is
// what the window's job holds; a batch counts its own paths (see
// ScopedMemoryNeed).
std::uint64_t MemoryNeededFor(std::uint64_t width, std::uint64_t height,
                              std::uint64_t bytesPerPixel = kBytesPerPixel);

// a * b and a + b, or the largest value where that would wrap.
std::uint64_t SaturatedProduct(std::uint64_t a, std::uint64_t b);
std::uint64_t SaturatedSum(std::uint64_t a, std::uint64_t b);

// What a decoder is about to allocate for a picture: its size, the bytes a
// pixel of the picture it delivers, and the working storage it holds
// beside that picture while decoding (a progressive JPEG's coefficients, a
// TIFF's 4-byte raster, the file's own bytes).
struct PictureCost {
    std::uint64_t width = 0;
    std::uint64_t height = 0;
    std::uint64_t bytesPerPixel = kBytesPerPixel;
    std::uint64_t workingBytes = 0;
    // The delivered picture's bytes (saturating).
    std::uint64_t PictureBytes() const { return SaturatedProduct(SaturatedProduct(width, height), bytesPerPixel); }
};

// Raises MemoryBudgetError (naming `file`) when a width x height picture's
// job does not fit the budget or a side exceeds kMaxPictureSide. Decoders
// call it once the header is known and before allocating the picture,
// saying how much working storage they hold beside it. The job's need is
// MemoryNeededFor unless a ScopedMemoryNeed on this thread says otherwise.
void RequireMemoryFor(std::uint64_t width, std::uint64_t height, const std::string& file = {},
                      std::uint64_t bytesPerPixel = kBytesPerPixel, std::uint64_t workingBytes = 0);

// A picture of up to this many bytes (3 a pixel) is decoded whatever its
// file holds: a damaged file's missing part is filled in and reported. A
// larger one must be one its file could hold at all (RequireFileCanHold).
inline constexpr std::uint64_t kPictureBytesDecodedRegardless = std::uint64_t(16) << 20;

// Raises FileRefusedError naming `file` when a width x height picture larger
// than kPictureBytesDecodedRegardless needs at least `leastFileBytes` bytes
// of file at the densest coding its format allows and its file holds only
// `fileBytes`. A header of a few hundred bytes may claim a picture of
// gigabytes that fits the budget: it is refused here, before anything of
// its size is allocated, instead of decoded into gigabytes of filler.
// Decoders call it once the header is known, after RequireMemoryFor.
void RequireFileCanHold(std::uint64_t width, std::uint64_t height, const std::string& file,
                        std::uint64_t fileBytes, std::uint64_t leastFileBytes);

// While the object lives, the need RequireMemoryFor checks on this thread
// is `need` of the decoder's cost instead of the window's four copies: a
// batch that streams a JPEG holds its bands and buffers, never the picture
// whole, and a mask being loaded holds only itself.
class ScopedMemoryNeed {
public:
    using Need = std::function<std::uint64_t(const PictureCost& cost)>;
    explicit ScopedMemoryNeed(Need need);
    ~ScopedMemoryNeed();
    ScopedMemoryNeed(const ScopedMemoryNeed&) = delete;
    ScopedMemoryNeed& operator=(const ScopedMemoryNeed&) = delete;

private:
    Need need_;
    const Need* earlier_;
};

// The need of a decode that keeps nothing but its picture (a mask: the
// copies fitted to photographs are counted with those photographs).
std::uint64_t PictureAloneNeed(const PictureCost& cost);

// While the object lives, every picture that RequireMemoryFor accepts on
// this thread is also shown to `check` with the bytes its job needs;
// `check` raises to refuse the picture: a decoder then stops at its header,
// before anything of the picture's size is allocated (a batch refuses a
// photograph whose output could not hold it this way, and reserves the
// bytes here).
class ScopedSizeCheck {
public:
    using Check = std::function<void(std::uint64_t width, std::uint64_t height, std::uint64_t neededBytes)>;
    explicit ScopedSizeCheck(Check check);
    ~ScopedSizeCheck();
    ScopedSizeCheck(const ScopedSizeCheck&) = delete;
    ScopedSizeCheck& operator=(const ScopedSizeCheck&) = delete;

private:
    Check check_;
    const Check* earlier_;
};

// A share of the budget held for one picture's job. The budget is one pool
// for the whole process: the jobs of a batch (`--jobs N`, the window's
// batch) together never hold more of it than it has, and a job that finds
// too little room left waits for another to finish. The share returns to
// the pool when it is released or destroyed.
class MemoryReservation {
public:
    MemoryReservation() = default;
    ~MemoryReservation();
    MemoryReservation(MemoryReservation&& other) noexcept;
    MemoryReservation& operator=(MemoryReservation&& other) noexcept;
    MemoryReservation(const MemoryReservation&) = delete;
    MemoryReservation& operator=(const MemoryReservation&) = delete;

    // Takes `bytes` of the budget. While other reservations leave too little
    // room it waits for them to be released, asking `giveUp` every few
    // milliseconds; it returns nothing when `giveUp` says true. A
    // reservation alone in the pool is granted whatever its size: a picture
    // larger than the whole budget is RequireMemoryFor's to refuse, so no
    // job waits for room that can never come.
    static std::optional<MemoryReservation> Take(std::uint64_t bytes, const std::function<bool()>& giveUp);

    // Takes `bytes` at once, without waiting, even past the budget: storage
    // already allocated that the process holds for a while (a batch's
    // mask). Later reservations wait until they fit beside it; a
    // reservation taken while only held ones exist counts as alone.
    static MemoryReservation Hold(std::uint64_t bytes);

    // Returns the share to the pool (nothing when none is held).
    void Release();
    std::uint64_t Bytes() const { return bytes_; }

private:
    MemoryReservation(std::uint64_t bytes, bool taken) : bytes_(bytes), taken_(taken) {}
    std::uint64_t bytes_ = 0;
    // Taken by Take (counted among those a lone reservation is alone from).
    bool taken_ = false;
};

// The bytes every reservation of the process holds now.
std::uint64_t ReservedMemoryBytes();

} // namespace lumivane
