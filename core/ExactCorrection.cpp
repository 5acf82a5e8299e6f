// SPDX-License-Identifier: GPL-3.0-or-later
#include "ExactCorrection.h"

#include "KeptTables.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#ifdef __SSE2__
#include <emmintrin.h>
#endif
#include <iterator>
#include <limits>
#include <mutex>
#include <vector>

namespace lumivane {

namespace {

// Rec. 709 luminance weights of linear red, green and blue.
constexpr double kLumaR = 0.2126;
constexpr double kLumaG = 0.7152;
constexpr double kLumaB = 0.0722;

double luminance(double blue, double green, double red)
{
    return kLumaR * red + kLumaG * green + kLumaB * blue;
}

// Linear light of every code and its shares of a luminance, computed once.
struct CodeLight {
    double lin[256];
    double share[3][256]; // the luminance weight of blue, green, red times lin
    CodeLight()
    {
        for (int c = 0; c < 256; ++c) {
            lin[c] = LinearOfCode(c);
            share[0][c] = kLumaB * lin[c];
            share[1][c] = kLumaG * lin[c];
            share[2][c] = kLumaR * lin[c];
        }
    }

    // luminance() of a mask pixel: the same sum of the same products.
    double maskLuma(const std::uint8_t* m) const { return share[2][m[2]] + share[1][m[1]] + share[0][m[0]]; }
};

const CodeLight& codeLight()
{
    static const CodeLight light;
    return light;
}

// What the gains need of the targets, worked out once per pass.
struct TargetLight {
    int target[3];         // blue, green, red
    double lin[3];         // linear light of each target
    double luma = 0;       // their luminance
    double colourScale[3]; // lin / luma, for colour only
    bool anyBlack = false; // a target of 0 or less: that channel is black
    // For colour only, when asked for (a pass's kernel): colourGainOf(c, m)
    // for every mask code m.
    double colourGain[3][256];

    explicit TargetLight(const CorrectionTargets& targets, bool colourTable = false)
        : target{targets.b, targets.g, targets.r}
    {
        for (int c = 0; c < 3; ++c) {
            lin[c] = LinearOfCode(target[c]);
            anyBlack = anyBlack || target[c] <= 0;
        }
        luma = luminance(lin[0], lin[1], lin[2]);
        for (int c = 0; c < 3; ++c) {
            colourScale[c] = luma > 0 ? lin[c] / luma : 0.0;
            for (int m = 0; colourTable && m < 256; ++m)
                colourGain[c][m] = colourGainOf(c, m);
        }
    }

    // (lin T_c / Y(T)) / lin(m), infinite for m = 0 (the cap then takes
    // over).
    double colourGainOf(int channel, int maskCode) const
    {
        return maskCode == 0 ? std::numeric_limits<double>::infinity()
                             : colourScale[channel] / codeLight().lin[maskCode];
    }
};

// ---------------------------------------------------------------------------
// Codes without pow. The code of linear light l is the number of thresholds
// t_k = lin(k - 0.5), k = 1 .. 255, at or below l, except within a hair of a
// threshold, where only the formula itself knows which way the rounding of
// 255 * encode(l) goes (ties included). The key x = l + 2^-14 (never below
// 2^-14, so no lower clamp is needed; below t_1 every code is 0) is cut
// into buckets by its double's exponent and top 12 mantissa bits, from
// 2^-14 up to 32 (l is at most 16: linear light of at most 1 times a capped
// gain). A bucket spans a relative 2^-12 while neighbouring thresholds lie
// at least 0.9 % apart, so it holds one threshold at most: most buckets
// hold none and give their code outright; the few that come within
// kNearThreshold of one look at the neighbouring thresholds and defer to
// CodeOfLinear when that close.

constexpr double kKeyOffset = 0x1p-14;
constexpr int kMantissaBits = 14;
constexpr int kBucketShift = 52 - kMantissaBits;
constexpr int kOctaves = 19; // keys 2^-14 .. 2^5
constexpr std::int64_t kBuckets = std::int64_t(kOctaves) << kMantissaBits;
constexpr std::uint16_t kNearFlag = 256;
// The bucket of key 2^-14 (linear light 0): its double's exponent field is
// 1023 - 14 and its mantissa 0.
constexpr std::uint64_t kFirstBucket = std::uint64_t(1023 - 14) << kMantissaBits;
constexpr double kLargestLinear = kExactMaxGain; // linear light 1 times the cap

std::uint64_t bitsOf(double value)
{
    std::uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

double doubleOf(std::uint64_t bits)
{
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

class CodeFinder {
public:
    explicit CodeFinder(double nearThreshold) : near_(nearThreshold)
    {
        thresholds_[0] = -1.0;
        for (int k = 1; k < 256; ++k)
            thresholds_[k] = LinearOfCode(k - 0.5);
        thresholds_[256] = 2 * kLargestLinear; // above any linear value
        int below = 0; // thresholds at or below the bucket's start
        for (std::int64_t i = 0; i < kBuckets; ++i) {
            const double start = doubleOf((kFirstBucket + std::uint64_t(i)) << kBucketShift) - kKeyOffset;
            const double end = doubleOf((kFirstBucket + std::uint64_t(i) + 1) << kBucketShift) - kKeyOffset;
            while (below < 255 && thresholds_[below + 1] <= start)
                ++below;
            // The key's own rounding moves a value by far less than the
            // margin, which is therefore taken generously on both sides.
            bool nearOne = false;
            for (int k = std::max(below, 1); k <= std::min(below + 1, 255); ++k)
                nearOne = nearOne ||
                          (thresholds_[k] * (1 - 2 * near_) < end && thresholds_[k] * (1 + 2 * near_) >= start);
            buckets_[i] = std::uint16_t(below | (nearOne ? kNearFlag : 0));
        }
    }

    // Any linear value: held to 0 .. kLargestLinear first.
    std::uint8_t operator()(double linear) const
    {
        const double held = std::min(std::max(linear, 0.0), kLargestLinear);
        return resolve(held, bucket(held));
    }

    // The bucket's entry for 0 <= linear <= kLargestLinear: the code, or
    // kNearFlag plus the code at its start when it comes near a threshold.
    std::uint16_t bucket(double linear) const
    {
        return entry(bitsOf(linear + kKeyOffset) >> kBucketShift);
    }

    // The entry of a key's bits shifted right by kBucketShift.
    std::uint16_t entry(std::uint64_t keyBucket) const { return buckets_[keyBucket - kFirstBucket]; }

    std::uint8_t resolve(double linear, std::uint16_t entry) const
    {
        return entry < kNearFlag ? std::uint8_t(entry) : nearThreshold(linear, entry & 0xFF);
    }

private:
    std::uint8_t nearThreshold(double linear, int code) const
    {
        while (code > 0 && linear < thresholds_[code])
            --code;
        while (code < 255 && linear >= thresholds_[code + 1])
            ++code;
        const double below = thresholds_[code], above = thresholds_[code + 1];
        if (linear - below <= near_ * below || above - linear <= near_ * above)
            return CodeOfLinear(linear);
        return std::uint8_t(code);
    }

    double near_;
    double thresholds_[257];
    std::uint16_t buckets_[kBuckets];
};

// The rounding errors of pow and of the products are below 2^-50 of the
// value; anything within 2^-30 of a threshold goes the slow way.
constexpr double kNearThreshold = 0x1p-30;

const CodeFinder& codeFinder()
{
    static const CodeFinder finder(kNearThreshold);
    return finder;
}

// The least luminance a colour-only gain is formed with (see gainsFor).
constexpr double kLeastLuma = 1e-300;

double capped(double gain)
{
    return std::min(gain, kExactMaxGain);
}

[[gnu::always_inline]] inline std::array<double, 3> gainsFor(const std::uint8_t* m, const TargetLight& t,
                                                               ColourOption colour, const CodeLight& light)
{
    std::array<double, 3> gains{};
    switch (colour) {
    case ColourOption::FalloffAndColour:
        for (int c = 0; c < 3; ++c)
            gains[c] = m[c] == 0 ? kExactMaxGain : capped(t.lin[c] / light.lin[m[c]]);
        break;
    case ColourOption::FalloffOnly: {
        const double maskLuma = light.maskLuma(m);
        // A black mask gives an infinite ratio, which the cap holds at 16
        // (the target's luminance is above 0 where this is used).
        const double gain = t.luma > 0 ? capped(t.luma / maskLuma) : 0.0;
        gains = {gain, gain, gain};
        break;
    }
    case ColourOption::ColourOnly: {
        // (lin T_c / lin m_c) / (Y(T) / Y(m)) written as Y(m) * ((lin T_c /
        // Y(T)) / lin m_c): no division per pixel. A mask code of 0 gives an
        // infinite gain, which the cap holds at 16; the luminance is held
        // above 0 so that a black mask does the same (its luminance is 0
        // only when all three codes are, and the smallest other is 2e-5).
        const double maskLuma = std::max(light.maskLuma(m), kLeastLuma);
        for (int c = 0; c < 3; ++c)
            gains[c] = capped(maskLuma * t.colourGainOf(c, m[c]));
        break;
    }
    }
    return gains;
}

// ---------------------------------------------------------------------------
// Tables for fall-off and colour. A channel's result depends on (v, m) and
// its target only, so one 256 x 256 table per target serves every channel
// with that target; the tables of the last few targets are kept, so moving
// the crop or the offset rebuilds nothing.

constexpr std::size_t kKeptTargets = 8;

struct TargetTable {
    int target = 0;
    std::unique_ptr<std::uint8_t[]> cells{new std::uint8_t[65536]};

    void build(int newTarget)
    {
        target = newTarget;
        const CodeLight& light = codeLight();
        const CodeFinder& code = codeFinder();
        const TargetLight targetLight({target, target, target});
        for (int m = 0; m < 256; ++m) {
            std::uint8_t* row = cells.get() + std::size_t(m) * 256;
            if (target <= 0) {
                std::fill(row, row + 256, std::uint8_t(0));
                continue;
            }
            const std::uint8_t mask[3] = {std::uint8_t(m), std::uint8_t(m), std::uint8_t(m)};
            const double gain = gainsFor(mask, targetLight, ColourOption::FalloffAndColour, light)[0];
            for (int v = 0; v < 256; ++v)
                row[v] = code(light.lin[v] * gain);
        }
    }
};

KeptTables<TargetTable>& targetTableCache()
{
    static KeptTables<TargetTable> cache(kKeptTargets);
    return cache;
}

std::shared_ptr<const TargetTable> tableFor(int target)
{
    return targetTableCache().acquire([&](const TargetTable& kept) { return kept.target == target; },
                                      [&](TargetTable& fresh) { fresh.build(target); }, [](TargetTable&) {});
}

// The gains of one mask pixel with the black channels' (target 0 or less)
// set to 0.
std::array<double, 3> gainsWithBlack(const std::uint8_t* m, const TargetLight& t, ColourOption colour,
                                     const CodeLight& light)
{
    std::array<double, 3> gains = gainsFor(m, t, colour, light);
    for (int c = 0; c < 3; ++c)
        if (t.target[c] <= 0)
            gains[c] = 0;
    return gains;
}

#ifdef __SSE2__
// Two pixels' linear values, channel by channel in the halves, with their
// bucket entries (pixel a's, then b's) to codes: the entries that come near
// a rounding threshold are resolved one at a time, the rest taken as they
// are. Rare: a value's bucket comes near a threshold for about one value in
// a hundred.
[[gnu::noinline]] void resolvePair(const CodeFinder& code, const __m128d* linear, const std::uint16_t* entries,
                                   std::uint8_t* out)
{
    alignas(16) double values[2];
    for (int c = 0; c < 3; ++c) {
        _mm_store_pd(values, linear[c]);
        out[c] = code.resolve(values[0], entries[c]);
        out[3 + c] = code.resolve(values[1], entries[3 + c]);
    }
}

// Two values of a table, the first in the low half.
inline __m128d pairOf(double low, double high)
{
    return _mm_set_pd(high, low);
}

// The bucket entries of two linear values.
inline void bucketsOf(const CodeFinder& code, __m128d linear, std::uint16_t& low, std::uint16_t& high)
{
    const __m128i bits = _mm_srli_epi64(_mm_castpd_si128(_mm_add_pd(linear, _mm_set1_pd(kKeyOffset))), kBucketShift);
    low = code.entry(std::uint64_t(_mm_cvtsi128_si64(bits)));
    high = code.entry(std::uint64_t(_mm_cvtsi128_si64(_mm_unpackhi_epi64(bits, bits))));
}
#endif

// A run with a gain per pixel, the colour option fixed at compile time and
// every target above 0. The gains are those of gainsFor, formed from
// tables of the luminance shares of every code so the products are the same
// doubles (two pixels at a time in the halves of SSE2 registers, whose
// arithmetic is the scalar arithmetic); the codes come from the buckets,
// and one test per pixel pair sends the rare pixel with a channel near a
// rounding threshold the slow way.
template <ColourOption colour>
[[gnu::noinline]] void correctByBuckets(const std::uint8_t* p, const std::uint8_t* m, std::uint8_t* out,
                                       long long pixels, const TargetLight& targets)
{
    const CodeLight& light = codeLight();
    const CodeFinder& code = codeFinder();
    long long i = 0;
#ifdef __SSE2__
    const __m128d cap = _mm_set1_pd(kExactMaxGain);
    for (; i + 6 <= 3 * pixels; i += 6) {
        const std::uint8_t* ma = m + i;
        const std::uint8_t* mb = ma + 3;
        __m128d luma = _mm_add_pd(_mm_add_pd(pairOf(light.share[2][ma[2]], light.share[2][mb[2]]),
                                             pairOf(light.share[1][ma[1]], light.share[1][mb[1]])),
                                  pairOf(light.share[0][ma[0]], light.share[0][mb[0]]));
        __m128d gains[3];
        if constexpr (colour == ColourOption::FalloffOnly) {
            // min(x, 16) as std::min(x, 16.0) gives it for any x but NaN.
            gains[0] = gains[1] = gains[2] = _mm_min_pd(_mm_div_pd(_mm_set1_pd(targets.luma), luma), cap);
        } else {
            luma = _mm_max_pd(luma, _mm_set1_pd(kLeastLuma));
            for (int c = 0; c < 3; ++c)
                gains[c] = _mm_min_pd(
                    _mm_mul_pd(luma, pairOf(targets.colourGain[c][ma[c]], targets.colourGain[c][mb[c]])), cap);
        }
        __m128d linear[3];
        std::uint16_t a0, a1, a2, b0, b1, b2;
        linear[0] = _mm_mul_pd(pairOf(light.lin[p[i]], light.lin[p[i + 3]]), gains[0]);
        linear[1] = _mm_mul_pd(pairOf(light.lin[p[i + 1]], light.lin[p[i + 4]]), gains[1]);
        linear[2] = _mm_mul_pd(pairOf(light.lin[p[i + 2]], light.lin[p[i + 5]]), gains[2]);
        bucketsOf(code, linear[0], a0, b0);
        bucketsOf(code, linear[1], a1, b1);
        bucketsOf(code, linear[2], a2, b2);
        if ((a0 | a1 | a2 | b0 | b1 | b2) < kNearFlag) {
            out[i] = std::uint8_t(a0);
            out[i + 1] = std::uint8_t(a1);
            out[i + 2] = std::uint8_t(a2);
            out[i + 3] = std::uint8_t(b0);
            out[i + 4] = std::uint8_t(b1);
            out[i + 5] = std::uint8_t(b2);
        } else {
            const std::uint16_t entries[6] = {a0, a1, a2, b0, b1, b2};
            resolvePair(code, linear, entries, out + i);
        }
    }
#endif
    for (; i < 3 * pixels; i += 3) {
        const std::array<double, 3> gains = gainsFor(m + i, targets, colour, light);
        for (int c = 0; c < 3; ++c) {
            const double linear = light.lin[p[i + c]] * gains[c];
            out[i + c] = code.resolve(linear, code.bucket(linear));
        }
    }
}

// ---------------------------------------------------------------------------
// A mask holds far fewer distinct pixels than it has pixels, and in a
// smooth one (a flat field, smoothed or not far from it) neighbours repeat.
// So a pass may keep the gains of the mask pixels it met last (a
// direct-mapped cache keyed by the three codes) and, beside each, the codes
// already worked out for every photograph code and channel under those
// gains: a pixel whose mask pixel and codes are there costs a few lookups.
// New ones are worked out by gainsFor and the buckets, as the plain loop
// does, so the results stay the formula's byte for byte. A noisy mask meets
// new mask pixels all the time; a run that does so goes by buckets, and
// the cache is tried again a few runs later.

constexpr int kSlotBits = 9;
constexpr std::uint32_t kSlots = 1u << kSlotBits;
constexpr std::uint32_t kNoKey = 0xFFFFFFFFu; // three codes never give it
constexpr std::uint16_t kUnknownCode = 0xFFFF;
constexpr long long kProbePixels = 256;   // pixels a run tries the cache on
constexpr int kMostNewInProbe = 32;       // new mask pixels it may meet there
constexpr int kRunsByBuckets = 16;        // runs that skip the cache after that

template <int Channels>
struct GainCache {
    std::uint64_t kernel = 0; // the kernel whose gains the slots hold
    int runsByBuckets = 0;
    std::uint32_t key[kSlots];
    double gain[kSlots][Channels];
    // The code of every photograph code and channel, kUnknownCode until
    // worked out. Only a new code writes here: a hit reads alone.
    std::uint16_t code[kSlots][Channels][256];

    void reset(std::uint64_t forKernel)
    {
        kernel = forKernel;
        runsByBuckets = 0;
        std::fill(std::begin(key), std::end(key), kNoKey);
    }
};

// Caches lent to the runs, so their pages stay mapped from pass to pass
// and thread to thread (fresh memory costs more to touch than a run's
// work).
template <int Channels>
class GainCachePool {
public:
    std::unique_ptr<GainCache<Channels>> take(std::uint64_t kernel)
    {
        std::unique_ptr<GainCache<Channels>> cache;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            auto same = std::find_if(free_.begin(), free_.end(), [&](const auto& c) { return c->kernel == kernel; });
            if (same == free_.end() && !free_.empty())
                same = free_.end() - 1;
            if (same != free_.end()) {
                cache = std::move(*same);
                free_.erase(same);
            }
        }
        if (!cache)
            cache = std::make_unique<GainCache<Channels>>();
        if (cache->kernel != kernel)
            cache->reset(kernel);
        return cache;
    }

    void give(std::unique_ptr<GainCache<Channels>> cache)
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (free_.size() < kKeptCaches)
            free_.push_back(std::move(cache));
    }

    void clear()
    {
        std::lock_guard<std::mutex> lock(mutex_);
        free_.clear();
    }

private:
    static constexpr std::size_t kKeptCaches = 4;
    std::mutex mutex_;
    std::vector<std::unique_ptr<GainCache<Channels>>> free_;
};

template <int Channels>
GainCachePool<Channels>& gainCachePool()
{
    static GainCachePool<Channels> pool;
    return pool;
}

std::uint64_t nextKernelNumber()
{
    static std::atomic<std::uint64_t> number{0};
    return ++number;
}

// A run with a gain per pixel, every target above 0, through `cache`.
// Channels is 1 for fall-off only (one gain for all three channels), 3 for
// colour only.
template <ColourOption colour, int Channels>
[[gnu::noinline]] void correctByCache(const std::uint8_t* p, const std::uint8_t* m, std::uint8_t* out,
                                      long long pixels, const TargetLight& targets, GainCache<Channels>& cache)
{
    const CodeLight& light = codeLight();
    const CodeFinder& finder = codeFinder();
    long long i = 0;
    while (i < pixels) {
        if (cache.runsByBuckets > 0) {
            --cache.runsByBuckets;
            correctByBuckets<colour>(p, m, out, pixels - i, targets);
            return;
        }
        const long long probeEnd = std::min(pixels, i + kProbePixels);
        int newPixels = 0;
        for (; i < probeEnd; ++i, p += 3, m += 3, out += 3) {
            const std::uint32_t key = std::uint32_t(m[0]) | std::uint32_t(m[1]) << 8 | std::uint32_t(m[2]) << 16;
            const std::uint32_t slot = (key * 0x9E3779B1u) >> (32 - kSlotBits);
            if (cache.key[slot] != key) {
                ++newPixels;
                cache.key[slot] = key;
                const std::array<double, 3> gains = gainsFor(m, targets, colour, light);
                for (int c = 0; c < Channels; ++c) {
                    cache.gain[slot][c] = gains[std::size_t(c)];
                    std::fill(std::begin(cache.code[slot][c]), std::end(cache.code[slot][c]), kUnknownCode);
                }
            }
            const std::uint16_t* codes = cache.code[slot][0];
            const double* gain = cache.gain[slot];
            // The code of photograph code v in cached channel k.
            auto codeOf = [&](int k, std::uint8_t v) {
                std::uint16_t known = codes[256 * k + v];
                if (known == kUnknownCode) [[unlikely]] {
                    const double linear = light.lin[v] * gain[k];
                    known = finder.resolve(linear, finder.bucket(linear));
                    cache.code[slot][k][v] = known;
                }
                return std::uint8_t(known);
            };
            // Every byte of the photograph pixel is read before any is
            // written (out may be p); scalars, so nothing waits on memory.
            const std::uint8_t v0 = p[0], v1 = p[1], v2 = p[2];
            const std::uint8_t c0 = codeOf(0, v0);
            const std::uint8_t c1 = codeOf(Channels == 1 ? 0 : 1, v1);
            const std::uint8_t c2 = codeOf(Channels == 1 ? 0 : 2, v2);
            out[0] = c0;
            out[1] = c1;
            out[2] = c2;
        }
        if (newPixels > kMostNewInProbe)
            cache.runsByBuckets = kRunsByBuckets;
    }
}

template <ColourOption colour, int Channels>
void correctPerPixel(const std::uint8_t* p, const std::uint8_t* m, std::uint8_t* out, long long pixels,
                     const TargetLight& targets, std::uint64_t kernel)
{
    GainCachePool<Channels>& pool = gainCachePool<Channels>();
    std::unique_ptr<GainCache<Channels>> cache = pool.take(kernel);
    correctByCache<colour, Channels>(p, m, out, pixels, targets, *cache);
    pool.give(std::move(cache));
}

} // namespace

double LinearOfCode(double code)
{
    if (!(code > 0))
        return 0.0;
    const double x = code / 255.0;
    return x <= 0.04045 ? x / 12.92 : std::pow((x + 0.055) / 1.055, 2.4);
}

std::uint8_t CodeOfLinear(double linear)
{
    const double l = std::clamp(linear, 0.0, 1.0);
    const double encoded = l <= 0.0031308 ? 12.92 * l : 1.055 * std::pow(l, 1.0 / 2.4) - 0.055;
    // nearbyint rounds ties to even in the default rounding mode.
    return std::uint8_t(std::clamp(std::nearbyint(255.0 * encoded), 0.0, 255.0));
}

std::array<double, 3> ExactGains(const std::uint8_t* maskBgr, const CorrectionTargets& targets, ColourOption colour)
{
    return gainsWithBlack(maskBgr, TargetLight(targets), colour, codeLight());
}

std::array<std::uint8_t, 3> ExactPixelReference(const std::uint8_t* photoBgr, const std::uint8_t* maskBgr,
                                                const CorrectionTargets& targets, ColourOption colour)
{
    const std::array<double, 3> gains = ExactGains(maskBgr, targets, colour);
    std::array<std::uint8_t, 3> out{};
    for (int c = 0; c < 3; ++c)
        out[c] = CodeOfLinear(LinearOfCode(photoBgr[c]) * gains[c]);
    return out;
}

struct ExactKernel::State {
    ColourOption colour;
    TargetLight targets;
    std::shared_ptr<const TargetTable> tables[3];
    // Tells the gain caches of this kernel from those of others.
    std::uint64_t number = nextKernelNumber();

    State(const CorrectionTargets& t, ColourOption option)
        : colour(option), targets(t, option == ColourOption::ColourOnly)
    {
    }
};

ExactKernel::ExactKernel(const CorrectionTargets& targets, ColourOption colour)
    : state_(std::make_unique<State>(targets, colour))
{
    if (colour == ColourOption::FalloffAndColour)
        for (int c = 0; c < 3; ++c)
            state_->tables[c] = tableFor(state_->targets.target[c]);
}

ExactKernel::~ExactKernel() = default;

const std::uint8_t* ExactKernel::TableBase(int channel) const
{
    const auto& table = state_->tables[channel];
    return table ? table->cells.get() : nullptr;
}

void ExactKernel::CorrectRun(const std::uint8_t* p, const std::uint8_t* m, std::uint8_t* out,
                             long long pixels) const
{
    if (state_->tables[0]) {
        const std::uint8_t* b0 = TableBase(0);
        const std::uint8_t* b1 = TableBase(1);
        const std::uint8_t* b2 = TableBase(2);
        for (long long i = 0; i < pixels; ++i, p += 3, m += 3, out += 3) {
            const std::size_t v0 = p[0], v1 = p[1], v2 = p[2];
            const std::size_t m0 = m[0], m1 = m[1], m2 = m[2];
            out[0] = b0[(m0 << 8) | v0];
            out[1] = b1[(m1 << 8) | v1];
            out[2] = b2[(m2 << 8) | v2];
        }
        return;
    }
    if (state_->targets.anyBlack) {
        // Not reachable from the sliders with a usable mask: the plain way.
        const CodeLight& light = codeLight();
        const CodeFinder& code = codeFinder();
        for (long long i = 0; i < pixels; ++i, p += 3, m += 3, out += 3) {
            const std::array<double, 3> gains = gainsWithBlack(m, state_->targets, state_->colour, light);
            const double l0 = light.lin[p[0]], l1 = light.lin[p[1]], l2 = light.lin[p[2]];
            out[0] = code(l0 * gains[0]);
            out[1] = code(l1 * gains[1]);
            out[2] = code(l2 * gains[2]);
        }
    } else if (state_->colour == ColourOption::FalloffOnly) {
        correctPerPixel<ColourOption::FalloffOnly, 1>(p, m, out, pixels, state_->targets, state_->number);
    } else {
        correctPerPixel<ColourOption::ColourOnly, 3>(p, m, out, pixels, state_->targets, state_->number);
    }
}

namespace detail {

void CodesOfLinearByBuckets(const double* linear, std::uint8_t* codes, std::size_t count, double nearThreshold)
{
    const auto finder = std::make_unique<CodeFinder>(nearThreshold);
    for (std::size_t i = 0; i < count; ++i)
        codes[i] = (*finder)(linear[i]);
}

} // namespace detail

void ClearExactTables()
{
    targetTableCache().clear();
    gainCachePool<1>().clear();
    gainCachePool<3>().clear();
}

} // namespace lumivane
