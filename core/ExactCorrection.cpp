#include "ExactCorrection.h"

#include "KeptTables.h"

#include <algorithm>
#include <cmath>

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

// Linear light of every code and its reciprocal, computed once.
struct CodeLight {
    double lin[256];
    double inverse[256]; // 1 / lin; code 0 never uses it (it gets the cap)
    CodeLight()
    {
        for (int c = 0; c < 256; ++c) {
            lin[c] = LinearOfCode(c);
            inverse[c] = c == 0 ? 0.0 : 1.0 / lin[c];
        }
    }
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
    double keep[3];        // 0 for a channel whose target is 0 or less: it is black

    explicit TargetLight(const CorrectionTargets& targets)
        : target{targets.b, targets.g, targets.r}
    {
        for (int c = 0; c < 3; ++c) {
            lin[c] = LinearOfCode(target[c]);
            keep[c] = target[c] > 0 ? 1.0 : 0.0;
        }
        luma = luminance(lin[0], lin[1], lin[2]);
        for (int c = 0; c < 3; ++c)
            colourScale[c] = luma > 0 ? lin[c] / luma : 0.0;
    }
};

double capped(double gain)
{
    return std::min(gain, kExactMaxGain);
}

// The fall-off-and-colour gain of one channel: lin(T) / lin(m), capped.
double channelGain(double targetLight, int maskCode)
{
    return maskCode == 0 ? kExactMaxGain : capped(targetLight / codeLight().lin[maskCode]);
}

std::array<double, 3> gainsFor(const std::uint8_t* m, const TargetLight& t, ColourOption colour)
{
    const CodeLight& light = codeLight();
    std::array<double, 3> gains{};
    switch (colour) {
    case ColourOption::FalloffAndColour:
        for (int c = 0; c < 3; ++c)
            gains[c] = channelGain(t.lin[c], m[c]);
        break;
    case ColourOption::FalloffOnly: {
        const double maskLuma = luminance(light.lin[m[0]], light.lin[m[1]], light.lin[m[2]]);
        const double gain = maskLuma > 0 ? capped(t.luma / maskLuma) : kExactMaxGain;
        gains = {gain, gain, gain};
        break;
    }
    case ColourOption::ColourOnly: {
        // (lin T_c / lin m_c) / (Y(T) / Y(m)) written as (lin T_c / Y(T)) *
        // (Y(m) / lin m_c): no division per pixel.
        const double maskLuma = luminance(light.lin[m[0]], light.lin[m[1]], light.lin[m[2]]);
        for (int c = 0; c < 3; ++c)
            gains[c] = m[c] == 0 ? kExactMaxGain : capped(t.colourScale[c] * (maskLuma * light.inverse[m[c]]));
        break;
    }
    }
    for (int c = 0; c < 3; ++c)
        gains[c] *= t.keep[c];
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
        const double targetLight = LinearOfCode(target);
        for (int m = 0; m < 256; ++m) {
            std::uint8_t* row = cells.get() + std::size_t(m) * 256;
            if (target <= 0) {
                std::fill(row, row + 256, std::uint8_t(0));
                continue;
            }
            const double gain = channelGain(targetLight, m);
            for (int v = 0; v < 256; ++v)
                row[v] = CodeOfLinear(light.lin[v] * gain);
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
    return gainsFor(maskBgr, TargetLight(targets), colour);
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

    State(const CorrectionTargets& t, ColourOption option) : colour(option), targets(t) {}
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
    const CodeLight& light = codeLight();
    for (long long i = 0; i < pixels; ++i, p += 3, m += 3, out += 3) {
        const std::array<double, 3> gains = gainsFor(m, state_->targets, state_->colour);
        const double l0 = light.lin[p[0]], l1 = light.lin[p[1]], l2 = light.lin[p[2]];
        out[0] = CodeOfLinear(l0 * gains[0]);
        out[1] = CodeOfLinear(l1 * gains[1]);
        out[2] = CodeOfLinear(l2 * gains[2]);
    }
}

void ClearExactTables()
{
    targetTableCache().clear();
}

} // namespace lumivane
