// SPDX-License-Identifier: GPL-3.0-or-later
#include "TiffStripEncoder.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <zlib.h>

namespace lumivane {

namespace {

// libtiff's Deflate quality for the files this program writes.
constexpr int kDeflateLevel = 6;

// Two strips a worker in flight keep every worker busy while the caller
// fills the next one; more would only hold memory.
constexpr int kSlotsPerWorker = 2;

// One zlib stream a worker, reset for every strip.
struct Deflater {
    z_stream stream{};
    bool ready = false;
    Deflater() { ready = deflateInit(&stream, kDeflateLevel) == Z_OK; }
    ~Deflater()
    {
        if (ready)
            deflateEnd(&stream);
    }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;
};

} // namespace

void ApplyHorizontalPredictor(std::uint8_t* rows, int rowCount, std::size_t samplesPerRow, int bitsPerSample)
{
    const std::size_t rowBytes = samplesPerRow * std::size_t(bitsPerSample / 8);
    for (int r = 0; r < rowCount; ++r) {
        std::uint8_t* row = rows + std::size_t(r) * rowBytes;
        // From the right, so each difference is taken against the original
        // sample to its left.
        if (bitsPerSample == 16) {
            for (std::size_t i = samplesPerRow; i-- > 3;) {
                std::uint16_t here, left;
                std::memcpy(&here, row + 2 * i, 2);
                std::memcpy(&left, row + 2 * (i - 3), 2);
                here = std::uint16_t(here - left);
                std::memcpy(row + 2 * i, &here, 2);
            }
        } else {
            for (std::size_t i = samplesPerRow; i-- > 3;)
                row[i] = std::uint8_t(row[i] - row[i - 3]);
        }
    }
}

TiffStripEncoder::TiffStripEncoder(std::size_t rowBytes, int rowsPerStrip, int bitsPerSample, int workers)
    : rowBytes_(rowBytes), bitsPerSample_(bitsPerSample)
{
    workers = std::max(workers, 1);
    slots_.resize(std::size_t(workers * kSlotsPerWorker + 1));
    const std::size_t stripBytes = rowBytes * std::size_t(std::max(rowsPerStrip, 1));
    for (Slot& slot : slots_)
        slot.raw.resize((stripBytes + 1) / 2);
    workers_.reserve(std::size_t(workers));
    try {
        for (int i = 0; i < workers; ++i)
            workers_.emplace_back([this] { work(); });
    } catch (...) {
        // No thread to be had: the ones started stop before the slots go.
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stopping_ = true;
        }
        queued_.notify_all();
        for (std::thread& t : workers_)
            t.join();
        throw;
    }
}

TiffStripEncoder::~TiffStripEncoder()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    queued_.notify_all();
    for (std::thread& t : workers_)
        t.join();
}

int TiffStripEncoder::DefaultWorkers()
{
    return int(std::clamp(std::thread::hardware_concurrency(), 1u, 8u));
}

std::uint8_t* TiffStripEncoder::Filling()
{
    return reinterpret_cast<std::uint8_t*>(slots_[next_].raw.data());
}

void TiffStripEncoder::Submit(int rows)
{
    Slot& slot = slots_[next_];
    slot.rows = rows;
    slot.done = false;
    slot.failed = false;
    inFlight_.push_back(next_);
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(next_);
    }
    queued_.notify_one();
    next_ = (next_ + 1) % slots_.size();
}

const std::vector<std::uint8_t>& TiffStripEncoder::WaitOldest()
{
    Slot& slot = slots_[inFlight_.front()];
    std::unique_lock<std::mutex> lock(mutex_);
    finished_.wait(lock, [&] { return slot.done; });
    if (slot.failed)
        throw std::runtime_error("zlib could not compress a strip");
    return slot.packed;
}

void TiffStripEncoder::PopOldest()
{
    inFlight_.pop_front();
}

void TiffStripEncoder::work()
{
    Deflater deflater;
    for (;;) {
        std::size_t index;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            queued_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
            if (stopping_)
                return;
            index = queue_.front();
            queue_.pop_front();
        }
        Slot& slot = slots_[index];
        bool ok = deflater.ready;
        if (ok) {
            try {
                encode(slot, &deflater.stream);
            } catch (...) {
                ok = false; // no memory for the compressed strip
            }
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            slot.failed = !ok || slot.failed;
            slot.done = true;
        }
        finished_.notify_all();
    }
}

// Predictor, then one zlib stream of the whole strip. Sets slot.failed when
// zlib does not finish the stream.
void TiffStripEncoder::encode(Slot& slot, void* stream) const
{
    auto* z = static_cast<z_stream*>(stream);
    auto* raw = reinterpret_cast<std::uint8_t*>(slot.raw.data());
    const std::size_t bytes = rowBytes_ * std::size_t(slot.rows);
    ApplyHorizontalPredictor(raw, slot.rows, rowBytes_ / std::size_t(bitsPerSample_ / 8), bitsPerSample_);
    if (deflateReset(z) != Z_OK) {
        slot.failed = true;
        return;
    }
    slot.packed.resize(deflateBound(z, uLong(bytes)));
    z->next_in = raw;
    z->avail_in = uInt(bytes);
    z->next_out = slot.packed.data();
    z->avail_out = uInt(slot.packed.size());
    const int status = deflate(z, Z_FINISH);
    slot.failed = status != Z_STREAM_END;
    slot.packed.resize(std::size_t(z->total_out));
}

} // namespace lumivane
