// SPDX-License-Identifier: GPL-3.0-or-later
#include "CorrectionKernel.h"

#include "ExactCorrection.h"
#include "ExactCorrection16.h"
#include "KeptTables.h"

#include <algorithm>
#include <bitset>
#include <cstring>
#include <cmath>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <thread>
#include <vector>

namespace lumivane {

float DampingForStrength(int strength)
{
    return float(25.01L - static_cast<long double>(strength) / 4.0L);
}

CorrectionTargets TargetsFor(int hotspotR, int hotspotG, int hotspotB, int brightness)
{
    const int shift = brightness - 25;
    return {hotspotR + shift, hotspotG + shift, hotspotB + shift};
}

namespace {

// v / (v + damping) in extended precision. Both the plain formula and the
// tables start from this very value, so their products agree bit for bit.
long double weightFor(std::uint8_t v, float damping)
{
    const long double lv = v;
    return lv / (lv + static_cast<long double>(damping));
}

// The corrected byte for weight w and difference d = T - m.
std::uint8_t correctedByte(std::uint8_t v, long double weight, long long difference)
{
    const float f = float(weight * static_cast<long double>(difference));
    // Ties to even on the float value (default rounding mode).
    const long long sum = static_cast<long long>(v) + std::llrint(f);
    return std::uint8_t(std::clamp<long long>(sum, 0, 255));
}

using Span = CorrectionSpan;

Span spanFor(int photoWidth, int photoHeight, const Bitmap24& mask, const CorrectionRegion& r, float damping,
             CorrectionMethod method = CorrectionMethod::Additive)
{
    // The sliders give 0.01 .. 25.01; zero or less would divide 0 by 0 for
    // black pixels. The exact method has no damping.
    if (method == CorrectionMethod::Additive && (!(damping > 0) || !std::isfinite(damping)))
        throw std::invalid_argument("Correction damping must be a positive finite number");
    return ClippedSpan(photoWidth, photoHeight, mask, r);
}

// ---------------------------------------------------------------------------
// Tables. For one damping value the corrected byte depends on v and on
// d = T - m only, so one table of columns d (256 bytes each, indexed by v)
// serves every target: the 256 x 256 table of a channel with target T is the
// run of columns T - 255 .. T, stored from high d to low so that m counts
// upwards through them. Columns are filled on
// first use and the tables of the last few damping values are kept, so a
// slider step that changes only the brightness reuses them.

constexpr int kMinDiff = -511;
constexpr int kMaxDiff = 511;
constexpr int kColumns = kMaxDiff - kMinDiff + 1;
constexpr std::size_t kKeptDampings = 4;

// Relative distance below which the double product is not trusted to round
// like the extended one (their difference is below 2^-51 of the value).
constexpr double kProductMargin = 0x1p-40;

// One column (256 bytes, indexed by v) for difference d, equal to the exact
// formula. The extended product w * d and the double product differ by far
// less than margin * |w d|, and float conversion and ties-to-even rounding
// are both monotone, so when x - margin |x| and x + margin |x| round to the
// same integer the extended value does too. Only values that close to a
// rounding boundary take the extended path.
void buildColumn(const long double* weight, const double* weightDouble, int d, std::uint8_t* __restrict out,
                 double margin)
{
    const double dd = d;
    const double ad = std::fabs(dd);
    // 1.5 * 2^23: adding and subtracting it rounds a float of magnitude
    // below 2^22 to an integer, ties to even.
    constexpr float kRound = 12582912.0f;
    std::uint8_t unsure[256];
    for (int v = 0; v < 256; ++v) {
        const double x = weightDouble[v] * dd;
        const double eps = weightDouble[v] * ad * margin;
        const float lo = float(x - eps);
        const float hi = float(x + eps);
        const float rlo = (lo + kRound) - kRound;
        const float rhi = (hi + kRound) - kRound;
        out[v] = std::uint8_t(std::clamp(v + int(rlo), 0, 255));
        unsure[v] = rlo != rhi;
    }
    for (int v = 0; v < 256; ++v)
        if (unsure[v])
            out[v] = correctedByte(std::uint8_t(v), weight[v], d);
}

struct DampingTable {
    float damping = 0;
    long double weight[256] = {};
    double weightDouble[256] = {};
    // Left uninitialised: only the columns in use are ever touched, which
    // keeps the first call from paying page faults for the whole table.
    std::unique_ptr<std::uint8_t[]> cells{new std::uint8_t[std::size_t(kColumns) * 256]};
    std::bitset<kColumns> built;

    void reset(float newDamping)
    {
        damping = newDamping;
        for (int v = 0; v < 256; ++v) {
            weight[v] = weightFor(std::uint8_t(v), damping);
            weightDouble[v] = double(weight[v]);
        }
        built.reset();
    }

    void buildColumns(int dLow, int dHigh)
    {
        for (int d = std::max(dLow, kMinDiff); d <= std::min(dHigh, kMaxDiff); ++d) {
            const int column = kMaxDiff - d;
            if (built[std::size_t(column)])
                continue;
            buildColumn(weight, weightDouble, d, cells.get() + std::size_t(column) * 256, kProductMargin);
            built.set(std::size_t(column));
        }
    }

    // Columns are stored from d = kMaxDiff down, so entry (v, m) of the
    // channel table for target T (column T - m) is at base[256 m + v].
    const std::uint8_t* base(int target) const
    {
        return cells.get() + std::ptrdiff_t(kMaxDiff - target) * 256;
    }
};

bool sameDamping(float a, float b)
{
    // Compare the stored values exactly (both are finite floats here).
    return std::memcmp(&a, &b, sizeof a) == 0;
}

KeptTables<DampingTable>& tableCache()
{
    static KeptTables<DampingTable> cache(kKeptDampings);
    return cache;
}

bool fitsSharedTable(int target)
{
    return target - 255 >= kMinDiff && target <= kMaxDiff;
}

// Table for a target outside the shared range (not reachable from the
// sliders, but the kernel accepts any int): built for this call only, laid
// out so that base[256 m + v] addresses it like a shared table.
struct LocalTable {
    std::vector<std::uint8_t> cells;
    const std::uint8_t* base = nullptr;

    void build(float damping, int target)
    {
        cells.resize(65536);
        for (int m = 0; m < 256; ++m) {
            std::uint8_t* out = cells.data() + std::size_t(m) * 256;
            const long long d = static_cast<long long>(target) - m;
            for (int v = 0; v < 256; ++v)
                out[v] = correctedByte(std::uint8_t(v), weightFor(std::uint8_t(v), damping), d);
        }
        base = cells.data();
    }
};

// The three channel tables of one call, blue, green, red: shared ones from
// the cache where the target allows, otherwise built for this call.
struct ChannelTables {
    std::shared_ptr<const DampingTable> table;
    LocalTable local[3];
    const std::uint8_t* bases[3] = {};

    ChannelTables(float damping, const CorrectionTargets& targets)
    {
        int shared[3];
        int sharedCount = 0;
        for (int t : {targets.b, targets.g, targets.r})
            if (fitsSharedTable(t))
                shared[sharedCount++] = t;
        if (sharedCount > 0)
            table = tableCache().acquire(
                [&](const DampingTable& kept) { return sameDamping(kept.damping, damping); },
                [&](DampingTable& fresh) { fresh.reset(damping); },
                [&](DampingTable& ready) {
                    for (int i = 0; i < sharedCount; ++i)
                        ready.buildColumns(shared[i] - 255, shared[i]);
                });
        const int channelTargets[3] = {targets.b, targets.g, targets.r};
        for (int c = 0; c < 3; ++c) {
            if (fitsSharedTable(channelTargets[c])) {
                bases[c] = table->base(channelTargets[c]);
            } else {
                local[c].build(damping, channelTargets[c]);
                bases[c] = local[c].base;
            }
        }
    }
};

// A row run read from one place and written to another: the same lookups
// as correctRun, for a photograph that must stay as it is.
[[gnu::noinline]] void correctRunInto(const std::uint8_t* __restrict p, const std::uint8_t* __restrict m,
                                      std::uint8_t* __restrict out, long long pixels,
                                      const std::uint8_t* __restrict baseB, const std::uint8_t* __restrict baseG,
                                      const std::uint8_t* __restrict baseR)
{
    // The output never overlaps the inputs or the tables; saying so lets
    // the loads of one pixel run ahead of the stores of the last.
    for (long long i = 0; i < pixels; ++i, p += 3, m += 3, out += 3) {
        const std::size_t v0 = p[0], v1 = p[1], v2 = p[2];
        const std::size_t m0 = m[0], m1 = m[1], m2 = m[2];
        out[0] = baseB[(m0 << 8) | v0];
        out[1] = baseG[(m1 << 8) | v1];
        out[2] = baseR[(m2 << 8) | v2];
    }
}

// One row run. Kept out of line so the few pointers it needs stay in
// registers instead of competing with the caller's state.
[[gnu::noinline]] void correctRun(std::uint8_t* p, const std::uint8_t* m, long long pixels,
                                  const std::uint8_t* baseB, const std::uint8_t* baseG, const std::uint8_t* baseR)
{
    for (long long i = 0; i < pixels; ++i, p += 3, m += 3) {
        // All six bytes are read before any is written, so a mask that is
        // the photograph itself behaves like the plain loop.
        const std::size_t v0 = p[0], v1 = p[1], v2 = p[2];
        const std::size_t m0 = m[0], m1 = m[1], m2 = m[2];
        p[0] = baseB[(m0 << 8) | v0];
        p[1] = baseG[(m1 << 8) | v1];
        p[2] = baseR[(m2 << 8) | v2];
    }
}

void correctRows(std::uint8_t* photo, std::size_t photoStride, const std::uint8_t* mask,
                 std::size_t maskStride, long long rowFirst, long long rowLast, long long columns,
                 const std::uint8_t* baseB, const std::uint8_t* baseG, const std::uint8_t* baseR)
{
    for (long long row = rowFirst; row <= rowLast; ++row)
        correctRun(photo + std::size_t(row) * photoStride, mask + std::size_t(row) * maskStride, columns, baseB,
                   baseG, baseR);
}

// Runs band(i) for i = 0 .. n - 1, band 0 on the calling thread, the others
// on threads of their own (or on the calling thread when none can be had),
// all finished before returning.
template <typename Band>
void runBands(int n, const Band& band)
{
    if (n == 1) {
        band(0);
        return;
    }
    std::vector<std::thread> workers;
    workers.reserve(std::size_t(n - 1));
    int started = 1;
    try {
        for (; started < n; ++started)
            workers.emplace_back(band, started);
    } catch (const std::system_error&) {
        // No more threads to be had: the calling thread does the rest.
    }
    for (int i = started; i < n; ++i)
        band(i);
    band(0);
    for (auto& w : workers)
        w.join();
}

int threadCountFor(int requested, long long rows, long long pixels)
{
    int n = requested;
    if (n <= 0) {
        // Below about a quarter megapixel starting threads costs more than
        // it saves (the preview is 62,424 pixels).
        if (pixels < (1LL << 18))
            return 1;
        n = int(std::min(std::thread::hardware_concurrency(), 8u));
    }
    n = std::min(n, 64);
    return int(std::max<long long>(1, std::min<long long>(n, rows)));
}

} // namespace

void ApplyCorrection(Bitmap24& photo, const Bitmap24& mask, const CorrectionRegion& region,
                     float damping, const CorrectionTargets& targets, int threads)
{
    const Span s = spanFor(photo.width(), photo.height(), mask, region, damping);
    if (s.empty())
        return;

    const ChannelTables tables(damping, targets);
    const std::uint8_t* const* bases = tables.bases;

    const long long rows = s.y1 - s.y0 + 1;
    const long long columns = s.x1 - s.x0 + 1;
    std::uint8_t* photoStart = photo.data() + std::size_t(s.y0 + region.py) * photo.rowBytes() +
                               std::size_t(s.x0 + region.px) * 3;
    const std::uint8_t* maskStart = mask.data() + std::size_t(s.y0 + region.my) * mask.rowBytes() +
                                    std::size_t(s.x0 + region.mx) * 3;
    // With the photograph as its own mask, pixels depend on pixels corrected
    // before them; only the top-to-bottom order gives the plain loop's result.
    const int n = &photo == &mask ? 1 : threadCountFor(threads, rows, rows * columns);
    runBands(n, [&](int i) {
        const long long first = rows * i / n;
        const long long last = rows * (i + 1) / n - 1;
        correctRows(photoStart, photo.rowBytes(), maskStart, mask.rowBytes(), first, last, columns,
                    bases[0], bases[1], bases[2]);
    });
}

void ApplyCorrection(Bitmap24& photo, const Bitmap24& mask, const CorrectionRegion& region, float damping,
                     const CorrectionTargets& targets, CorrectionMode mode, int threads)
{
    if (mode.method == CorrectionMethod::Additive) {
        ApplyCorrection(photo, mask, region, damping, targets, threads);
        return;
    }
    const Span s = spanFor(photo.width(), photo.height(), mask, region, damping, mode.method);
    if (s.empty())
        return;
    const ExactKernel kernel(targets, mode.colour);
    const long long rows = s.y1 - s.y0 + 1;
    const long long columns = s.x1 - s.x0 + 1;
    // As above: a photograph that is its own mask is done top to bottom.
    const int n = &photo == &mask ? 1 : threadCountFor(threads, rows, rows * columns);
    runBands(n, [&](int i) {
        for (long long row = s.y0 + rows * i / n; row < s.y0 + rows * (i + 1) / n; ++row) {
            std::uint8_t* p = photo.scanLine(int(row + region.py)) + std::size_t(s.x0 + region.px) * 3;
            const std::uint8_t* m = mask.scanLine(int(row + region.my)) + std::size_t(s.x0 + region.mx) * 3;
            // Fall-off and colour runs through the additive method's lookup.
            if (kernel.TableBase(0))
                correctRun(p, m, columns, kernel.TableBase(0), kernel.TableBase(1), kernel.TableBase(2));
            else
                kernel.CorrectRun(p, m, p, columns);
        }
    });
}

// What a pass applies: the additive tables, or the exact kernel (whose
// fall-off-and-colour tables are used through the same lookup runs).
struct CorrectionPass::Tables {
    std::optional<ChannelTables> additive;
    std::unique_ptr<ExactKernel> exact;
    std::unique_ptr<ExactCurveKernel> curves;
    const std::uint8_t* bases[3] = {};

    Tables(const CorrectionTargets& targets, ColourOption colour, const LightCurve& photoCurve,
           const LightCurve& maskCurve)
        : curves(std::make_unique<ExactCurveKernel>(targets, colour, photoCurve, maskCurve))
    {
    }

    Tables(float damping, const CorrectionTargets& targets, CorrectionMode mode)
    {
        if (mode.method == CorrectionMethod::Additive) {
            additive.emplace(damping, targets);
            std::copy(additive->bases, additive->bases + 3, bases);
            return;
        }
        exact = std::make_unique<ExactKernel>(targets, mode.colour);
        for (int c = 0; c < 3; ++c)
            bases[c] = exact->TableBase(c);
    }
};

CorrectionPass::CorrectionPass(const Bitmap24& photo, const Bitmap24& mask, const CorrectionRegion& region,
                               float damping, const CorrectionTargets& targets)
    : CorrectionPass(photo, mask, region, damping, targets, CorrectionMode{})
{
}

CorrectionPass::CorrectionPass(int photoWidth, int photoHeight, const Bitmap24& mask, const CorrectionRegion& region,
                               float damping, const CorrectionTargets& targets)
    : CorrectionPass(photoWidth, photoHeight, mask, region, damping, targets, CorrectionMode{})
{
}

CorrectionPass::CorrectionPass(const Bitmap24& photo, const Bitmap24& mask, const CorrectionRegion& region,
                               float damping, const CorrectionTargets& targets, CorrectionMode mode)
    : CorrectionPass(photo.width(), photo.height(), mask, region, damping, targets, mode)
{
    photo_ = &photo;
}

CorrectionPass::CorrectionPass(int photoWidth, int photoHeight, const Bitmap24& mask, const CorrectionRegion& region,
                               float damping, const CorrectionTargets& targets, CorrectionMode mode)
    : photoWidth_(photoWidth), photoHeight_(photoHeight), mask_(mask), region_(region)
{
    const Span s = spanFor(photoWidth, photoHeight, mask, region, damping, mode.method);
    if (!s.empty()) {
        x0_ = s.x0;
        x1_ = s.x1;
        y0_ = s.y0;
        y1_ = s.y1;
        tables_ = std::make_unique<Tables>(damping, targets, mode);
    }
}

CorrectionPass::CorrectionPass(const Bitmap24& photo, const Bitmap24& mask, const CorrectionRegion& region,
                               const CorrectionTargets& targets, ColourOption colour, const LightCurve& photoCurve,
                               const LightCurve& maskCurve)
    : CorrectionPass(photo.width(), photo.height(), mask, region, targets, colour, photoCurve, maskCurve)
{
    photo_ = &photo;
}

CorrectionPass::CorrectionPass(int photoWidth, int photoHeight, const Bitmap24& mask, const CorrectionRegion& region,
                               const CorrectionTargets& targets, ColourOption colour, const LightCurve& photoCurve,
                               const LightCurve& maskCurve)
    : photoWidth_(photoWidth), photoHeight_(photoHeight), mask_(mask), region_(region)
{
    const Span s = ClippedSpan(photoWidth, photoHeight, mask, region);
    if (!s.empty()) {
        x0_ = s.x0;
        x1_ = s.x1;
        y0_ = s.y0;
        y1_ = s.y1;
        tables_ = std::make_unique<Tables>(targets, colour, photoCurve, maskCurve);
    }
}

CorrectionPass::~CorrectionPass() = default;

void CorrectionPass::CorrectInto(const Rect& window, std::uint8_t* out, std::ptrdiff_t outStride) const
{
    if (!photo_)
        throw std::logic_error("Correction pass made without a photograph: its rows must be given");
    if (window.top < 0 || window.bottom > photoHeight_)
        throw std::out_of_range("Correction window outside the " + std::to_string(photoWidth_) + "x" +
                                std::to_string(photoHeight_) + " photograph");
    const std::size_t photoStride = photo_->rowBytes();
    CorrectRowsInto(window, photo_->data() + std::size_t(std::max(window.top, 0)) * photoStride,
                    std::ptrdiff_t(photoStride), out, outStride);
}

void CorrectionPass::CorrectRowsInto(const Rect& window, const std::uint8_t* rows, std::ptrdiff_t rowStride,
                                     std::uint8_t* out, std::ptrdiff_t outStride) const
{
    if (window.left < 0 || window.top < 0 || window.right > photoWidth_ || window.bottom > photoHeight_)
        throw std::out_of_range("Correction window outside the " + std::to_string(photoWidth_) + "x" +
                                std::to_string(photoHeight_) + " photograph");
    if (window.width() <= 0 || window.height() <= 0)
        return;
    // Photo columns that the region covers, clipped to the window.
    const long long c0 = std::max<long long>(window.left, x0_ + region_.px);
    const long long c1 = std::min<long long>(window.right - 1, x1_ + region_.px);
    for (int y = window.top; y < window.bottom; ++y) {
        std::uint8_t* dst = out + std::ptrdiff_t(y - window.top) * outStride;
        const std::uint8_t* src = rows + std::ptrdiff_t(y - window.top) * rowStride;
        const long long regionRow = static_cast<long long>(y) - region_.py;
        if (!tables_ || regionRow < y0_ || regionRow > y1_ || c0 > c1) {
            std::memcpy(dst, src + std::size_t(window.left) * 3, std::size_t(window.width()) * 3);
            continue;
        }
        // Uncorrected on the left, the region's run, uncorrected on the right.
        std::memcpy(dst, src + std::size_t(window.left) * 3, std::size_t(c0 - window.left) * 3);
        const std::uint8_t* maskPixels = mask_.data() + std::size_t(regionRow + region_.my) * mask_.rowBytes() +
                                         std::size_t(c0 - region_.px + region_.mx) * 3;
        if (tables_->bases[0])
            correctRunInto(src + std::size_t(c0) * 3, maskPixels, dst + std::size_t(c0 - window.left) * 3,
                           c1 - c0 + 1, tables_->bases[0], tables_->bases[1], tables_->bases[2]);
        else if (tables_->exact)
            tables_->exact->CorrectRun(src + std::size_t(c0) * 3, maskPixels, dst + std::size_t(c0 - window.left) * 3,
                                       c1 - c0 + 1);
        else
            tables_->curves->CorrectRun(src + std::size_t(c0) * 3, maskPixels,
                                        dst + std::size_t(c0 - window.left) * 3, c1 - c0 + 1);
        std::memcpy(dst + std::size_t(c1 + 1 - window.left) * 3, src + std::size_t(c1 + 1) * 3,
                    std::size_t(window.right - 1 - c1) * 3);
    }
}

CorrectionSpan ClippedSpan(int photoWidth, int photoHeight, const Bitmap24& mask, const CorrectionRegion& r)
{
    if (r.px < 0 || r.py < 0 || r.mx < 0 || r.my < 0 || r.left < 0 || r.right < 0 || r.top < 0 ||
        r.bottom < 0)
        throw std::invalid_argument("Correction region with a negative offset or margin");
    CorrectionSpan s;
    s.x0 = r.left;
    s.y0 = r.top;
    s.x1 = static_cast<long long>(mask.width()) - 1 - r.right - r.px - r.mx;
    s.y1 = static_cast<long long>(mask.height()) - 1 - r.bottom - r.py - r.my;
    // A photograph smaller than mask + offset: stop where the photo ends.
    s.x1 = std::min<long long>(s.x1, static_cast<long long>(photoWidth) - 1 - r.px);
    s.y1 = std::min<long long>(s.y1, static_cast<long long>(photoHeight) - 1 - r.py);
    if (photoWidth <= 0 || photoHeight <= 0 || mask.empty())
        s.x1 = s.x0 - 1;
    return s;
}

namespace detail {

void ClearAdditiveTables()
{
    tableCache().clear();
}

void BuildCorrectionColumn(float damping, int difference, std::uint8_t* out256, double relativeMargin)
{
    long double weight[256];
    double weightDouble[256];
    for (int v = 0; v < 256; ++v) {
        weight[v] = weightFor(std::uint8_t(v), damping);
        weightDouble[v] = double(weight[v]);
    }
    buildColumn(weight, weightDouble, difference, out256, relativeMargin);
}

} // namespace detail

} // namespace lumivane
