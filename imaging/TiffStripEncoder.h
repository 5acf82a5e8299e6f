// SPDX-License-Identifier: GPL-3.0-or-later
// Deflate with the horizontal predictor for a TIFF's strips, on worker
// threads. Compression is most of a TIFF save's time and libtiff encodes a
// strip at a time on the calling thread; here the caller fills one strip
// while workers compress the ones before it, and takes the compressed strips
// back in their order to write them raw. Each strip is exactly what libtiff's
// own codec makes of it: the predictor's differences (modulo the sample's
// range, in the host's byte order), then one zlib stream at level 6.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace lumivane {

// Applies the horizontal predictor to `rows` rows of `samplesPerRow`
// samples of `bitsPerSample` (8 or 16; three samples a pixel): each sample
// becomes its difference from the same channel's sample one pixel left.
void ApplyHorizontalPredictor(std::uint8_t* rows, int rowCount, std::size_t samplesPerRow, int bitsPerSample);

class TiffStripEncoder {
public:
    // Strips of `rowBytes` x `rowsPerStrip` bytes at most; `workers` threads
    // (at least one).
    TiffStripEncoder(std::size_t rowBytes, int rowsPerStrip, int bitsPerSample, int workers);
    ~TiffStripEncoder();
    TiffStripEncoder(const TiffStripEncoder&) = delete;
    TiffStripEncoder& operator=(const TiffStripEncoder&) = delete;

    // The worker count for this machine: one per core, at least one.
    static int DefaultWorkers();

    // Whether a strip can be filled now without waiting for the oldest.
    bool HasRoom() const { return inFlight_.size() < slots_.size(); }
    // The buffer of the strip being filled (HasRoom() must hold).
    std::uint8_t* Filling();
    // Hands the filled strip of `rows` rows to the workers.
    void Submit(int rows);

    bool Pending() const { return !inFlight_.empty(); }
    // Waits for the oldest submitted strip and returns its compressed bytes
    // (valid until PopOldest); raises std::runtime_error when zlib failed.
    const std::vector<std::uint8_t>& WaitOldest();
    void PopOldest();

private:
    struct Slot {
        std::vector<std::uint16_t> raw; // 16-bit storage: 16-bit rows are read as such
        std::vector<std::uint8_t> packed;
        int rows = 0;
        bool done = false;
        bool failed = false;
    };

    void work();
    void encode(Slot& slot, void* stream) const;

    std::size_t rowBytes_;
    int bitsPerSample_;
    std::vector<Slot> slots_;
    std::deque<std::size_t> inFlight_; // slots in the order submitted (caller's side)
    std::size_t next_ = 0;             // the slot filled next

    mutable std::mutex mutex_;
    std::condition_variable queued_;
    std::condition_variable finished_;
    std::deque<std::size_t> queue_; // slots waiting for a worker
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

} // namespace lumivane
