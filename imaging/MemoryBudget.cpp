// SPDX-License-Identifier: GPL-3.0-or-later
#include "MemoryBudget.h"

#include "FileIO.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <limits>
#include <mutex>
#include <utility>

namespace lumivane {

namespace {

constexpr std::uint64_t kMiB = 1024 * 1024;

// Whole mebibytes, rounded up so that a need is never shown below its size.
std::string mebibytes(std::uint64_t bytes)
{
    return std::to_string(bytes / kMiB + (bytes % kMiB != 0 ? 1 : 0)) + " MiB";
}

std::string refusalText(const std::string& file, std::uint64_t width, std::uint64_t height, std::uint64_t needed,
                        std::uint64_t budget)
{
    const std::string who = file.empty() ? std::string("The picture") : "'" + file + "'";
    return who + " is too large: " + std::to_string(width) + " x " + std::to_string(height) +
           " pixels need " + mebibytes(needed) + " of memory, more than the " + mebibytes(budget) +
           " available (" + kMemoryLimitVariable + ")";
}

// A positive whole number of mebibytes in bytes; anything else raises
// MemoryLimitSettingError naming the variable.
std::uint64_t parseMebibytes(const char* text)
{
    errno = 0;
    char* end = nullptr;
    const unsigned long long value = *text >= '0' && *text <= '9' ? std::strtoull(text, &end, 10) : 0;
    if (errno != 0 || !end || *end != '\0' || value == 0 ||
        value > std::numeric_limits<std::uint64_t>::max() / kMiB)
        throw MemoryLimitSettingError(std::string(kMemoryLimitVariable) + "=\"" + text +
                                      "\" is not a positive whole number of mebibytes");
    return std::uint64_t(value) * kMiB;
}

} // namespace

MemoryBudgetError::MemoryBudgetError(std::string file, std::uint64_t width, std::uint64_t height,
                                     std::uint64_t neededBytes, std::uint64_t budgetBytes)
    : std::runtime_error(refusalText(file, width, height, neededBytes, budgetBytes)), file_(std::move(file)),
      width_(width), height_(height), needed_(neededBytes), budget_(budgetBytes)
{
}

MemoryBudgetError MemoryBudgetError::Named(const std::string& file) const
{
    return MemoryBudgetError(file, width_, height_, needed_, budget_);
}

std::uint64_t PhysicalMemoryBytes()
{
    const long pages = ::sysconf(_SC_PHYS_PAGES);
    const long pageSize = ::sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0)
        return 0;
    return std::uint64_t(pages) * std::uint64_t(pageSize);
}

std::uint64_t MemoryBudgetBytes()
{
    const char* set = std::getenv(kMemoryLimitVariable);
    if (set && *set)
        return parseMebibytes(set);
    const std::uint64_t physical = PhysicalMemoryBytes();
    // A system that does not tell its memory size gets a modest 2 GiB.
    return physical != 0 ? physical / 2 : 2048 * kMiB;
}

std::uint64_t SaturatedProduct(std::uint64_t a, std::uint64_t b)
{
    constexpr std::uint64_t most = std::numeric_limits<std::uint64_t>::max();
    return a != 0 && b > most / a ? most : a * b;
}

std::uint64_t SaturatedSum(std::uint64_t a, std::uint64_t b)
{
    return b > std::numeric_limits<std::uint64_t>::max() - a ? std::numeric_limits<std::uint64_t>::max() : a + b;
}

std::uint64_t MemoryNeededFor(std::uint64_t width, std::uint64_t height, std::uint64_t bytesPerPixel)
{
    return SaturatedProduct(SaturatedProduct(width, height), kFullSizeBuffers * bytesPerPixel);
}

std::uint64_t PictureAloneNeed(const PictureCost& cost)
{
    return SaturatedSum(cost.PictureBytes(), cost.workingBytes);
}

namespace {
thread_local const ScopedSizeCheck::Check* tl_sizeCheck = nullptr;
thread_local const ScopedMemoryNeed::Need* tl_need = nullptr;
} // namespace

void RequireMemoryFor(std::uint64_t width, std::uint64_t height, const std::string& file,
                      std::uint64_t bytesPerPixel, std::uint64_t workingBytes)
{
    const PictureCost cost{width, height, bytesPerPixel, workingBytes};
    const std::uint64_t needed = tl_need ? (*tl_need)(cost) : MemoryNeededFor(width, height, bytesPerPixel);
    const std::uint64_t budget = MemoryBudgetBytes();
    if (needed > budget || width > kMaxPictureSide || height > kMaxPictureSide)
        throw MemoryBudgetError(file, width, height, needed, budget);
    if (tl_sizeCheck)
        (*tl_sizeCheck)(width, height, needed);
}

void RequireFileCanHold(std::uint64_t width, std::uint64_t height, const std::string& file,
                        std::uint64_t fileBytes, std::uint64_t leastFileBytes)
{
    const std::uint64_t pictureBytes = SaturatedProduct(SaturatedProduct(width, height), kBytesPerPixel);
    if (pictureBytes <= kPictureBytesDecodedRegardless || fileBytes >= leastFileBytes)
        return;
    const std::string who = file.empty() ? std::string("The picture") : "'" + file + "'";
    throw FileRefusedError(who + " claims " + std::to_string(width) + " x " + std::to_string(height) +
                           " pixels, more than its " + std::to_string(fileBytes) + " bytes can hold");
}

ScopedMemoryNeed::ScopedMemoryNeed(Need need) : need_(std::move(need)), earlier_(tl_need)
{
    tl_need = &need_;
}

ScopedMemoryNeed::~ScopedMemoryNeed()
{
    tl_need = earlier_;
}

ScopedSizeCheck::ScopedSizeCheck(Check check) : check_(std::move(check)), earlier_(tl_sizeCheck)
{
    tl_sizeCheck = &check_;
}

ScopedSizeCheck::~ScopedSizeCheck()
{
    tl_sizeCheck = earlier_;
}

namespace {

// The process's one pool of reservations.
struct ReservationPool {
    std::mutex mutex;
    std::condition_variable released;
    std::uint64_t reserved = 0;
    // Reservations taken by Take and not yet released; held ones (Hold)
    // are not among them.
    int taken = 0;
};

ReservationPool& pool()
{
    static ReservationPool thePool;
    return thePool;
}

} // namespace

std::optional<MemoryReservation> MemoryReservation::Take(std::uint64_t bytes, const std::function<bool()>& giveUp)
{
    const std::uint64_t budget = MemoryBudgetBytes();
    ReservationPool& p = pool();
    std::unique_lock<std::mutex> lock(p.mutex);
    // The wait is cut into short slices so a stop is seen even when no
    // reservation is released meanwhile.
    while (p.taken != 0 && (bytes > budget || p.reserved > budget - bytes)) {
        if (giveUp && giveUp())
            return std::nullopt;
        p.released.wait_for(lock, std::chrono::milliseconds(20));
    }
    p.reserved += bytes;
    ++p.taken;
    return MemoryReservation(bytes, true);
}

MemoryReservation MemoryReservation::Hold(std::uint64_t bytes)
{
    ReservationPool& p = pool();
    const std::lock_guard<std::mutex> lock(p.mutex);
    p.reserved += bytes;
    return MemoryReservation(bytes, false);
}

void MemoryReservation::Release()
{
    if (bytes_ == 0 && !taken_)
        return;
    ReservationPool& p = pool();
    {
        const std::lock_guard<std::mutex> lock(p.mutex);
        p.reserved -= bytes_;
        if (taken_)
            --p.taken;
    }
    bytes_ = 0;
    taken_ = false;
    p.released.notify_all();
}

MemoryReservation::~MemoryReservation()
{
    Release();
}

MemoryReservation::MemoryReservation(MemoryReservation&& other) noexcept
    : bytes_(std::exchange(other.bytes_, 0)), taken_(std::exchange(other.taken_, false))
{
}

MemoryReservation& MemoryReservation::operator=(MemoryReservation&& other) noexcept
{
    if (this != &other) {
        Release();
        bytes_ = std::exchange(other.bytes_, 0);
        taken_ = std::exchange(other.taken_, false);
    }
    return *this;
}

std::uint64_t ReservedMemoryBytes()
{
    ReservationPool& p = pool();
    const std::lock_guard<std::mutex> lock(p.mutex);
    return p.reserved;
}

} // namespace lumivane
