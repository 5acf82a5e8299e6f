// SPDX-License-Identifier: GPL-3.0-or-later
#include "MaskQuality.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdint>

namespace lumivane {

namespace {

// A small picture of float samples, blue, green, red per pixel.
struct Reduced {
    int width = 0;
    int height = 0;
    std::vector<float> samples;

    float* row(int y) { return samples.data() + std::size_t(y) * std::size_t(width) * 3; }
    const float* row(int y) const { return samples.data() + std::size_t(y) * std::size_t(width) * 3; }
};

// Block boundaries of the reduction along one axis: block i covers
// [edges[i], edges[i + 1]); blocks differ in size by at most one pixel and
// their centres lie evenly, at (i + 0.5) x full / reduced.
std::vector<int> blockEdges(int full, int reduced)
{
    std::vector<int> edges(std::size_t(reduced) + 1);
    for (int i = 0; i <= reduced; ++i)
        edges[std::size_t(i)] = int((long long)i * full / reduced);
    return edges;
}

int reducedSize(int full, int longer)
{
    if (longer <= kReducedSide)
        return full;
    return std::max(1, int(std::lround(double(full) * kReducedSide / longer)));
}

// Averages the mask down block by block and, in the same pass, counts the
// pixels with a channel at 255. The rows of one block are first added
// column by column (a plain vector sum), then each block's columns; a row
// without any byte at 255 is not looked at pixel by pixel.
Reduced reduce(const Bitmap24& mask, long long* clipped)
{
    const int w = mask.width(), h = mask.height();
    const int longer = std::max(w, h);
    Reduced out;
    out.width = reducedSize(w, longer);
    out.height = reducedSize(h, longer);
    out.samples.assign(std::size_t(out.width) * std::size_t(out.height) * 3, 0.0f);
    const std::vector<int> xs = blockEdges(w, out.width);
    const std::vector<int> ys = blockEdges(h, out.height);
    const std::size_t rowBytes = mask.rowBytes();
    std::vector<std::uint32_t> columns(rowBytes);
    long long clippedCount = 0;
    for (int by = 0; by < out.height; ++by) {
        std::fill(columns.begin(), columns.end(), 0u);
        for (int y = ys[std::size_t(by)]; y < ys[std::size_t(by) + 1]; ++y) {
            const std::uint8_t* p = mask.scanLine(y);
            std::uint32_t* sum = columns.data();
            for (std::size_t i = 0; i < rowBytes; ++i)
                sum[i] += p[i];
            if (std::find(p, p + rowBytes, std::uint8_t(255)) != p + rowBytes)
                for (int x = 0; x < w; ++x)
                    clippedCount += (p[3 * x] == 255) | (p[3 * x + 1] == 255) | (p[3 * x + 2] == 255);
        }
        float* dst = out.row(by);
        const int rows = ys[std::size_t(by) + 1] - ys[std::size_t(by)];
        for (int bx = 0; bx < out.width; ++bx) {
            std::uint64_t b = 0, g = 0, r = 0;
            for (int x = xs[std::size_t(bx)]; x < xs[std::size_t(bx) + 1]; ++x) {
                b += columns[3 * std::size_t(x)];
                g += columns[3 * std::size_t(x) + 1];
                r += columns[3 * std::size_t(x) + 2];
            }
            const double count = double(rows) * double(xs[std::size_t(bx) + 1] - xs[std::size_t(bx)]);
            dst[3 * bx] = count > 0 ? float(double(b) / count) : 0.0f;
            dst[3 * bx + 1] = count > 0 ? float(double(g) / count) : 0.0f;
            dst[3 * bx + 2] = count > 0 ? float(double(r) / count) : 0.0f;
        }
    }
    if (clipped)
        *clipped = clippedCount;
    return out;
}

std::vector<float> gaussianKernel(double sigma)
{
    const int radius = std::max(1, int(std::ceil(3 * sigma)));
    std::vector<float> kernel(std::size_t(2 * radius + 1));
    double total = 0;
    for (int i = -radius; i <= radius; ++i) {
        const double v = std::exp(-0.5 * i * i / (sigma * sigma));
        kernel[std::size_t(i + radius)] = float(v);
        total += v;
    }
    for (float& v : kernel)
        v = float(v / total);
    return kernel;
}

// One-dimensional blur of `count` samples `stride` floats apart. Beyond the
// ends the line is continued by point reflection (2 f(end) - f(end - d)), so
// a straight slope stays as it is: the fall-off towards the border is not
// flattened the way repeating the edge value would flatten it.
void blurLine(const float* in, float* out, int count, std::size_t stride, const std::vector<float>& kernel,
              std::vector<float>& padded)
{
    const int radius = int(kernel.size() / 2);
    padded.resize(std::size_t(count + 2 * radius));
    for (int i = 0; i < count; ++i)
        padded[std::size_t(i + radius)] = in[std::size_t(i) * stride];
    for (int d = 1; d <= radius; ++d) {
        const int inside = std::min(d, count - 1);
        padded[std::size_t(radius - d)] = 2 * in[0] - in[std::size_t(inside) * stride];
        padded[std::size_t(radius + count - 1 + d)] =
            2 * in[std::size_t(count - 1) * stride] - in[std::size_t(count - 1 - inside) * stride];
    }
    for (int i = 0; i < count; ++i) {
        float sum = 0;
        const float* p = padded.data() + i;
        for (std::size_t k = 0; k < kernel.size(); ++k)
            sum += kernel[k] * p[k];
        out[std::size_t(i) * stride] = sum;
    }
}

// The reduced picture blurred with a Gaussian of kBlurShare of its longer
// side, which is the same share of the mask's longer side.
Reduced blurred(const Reduced& in)
{
    const double sigma = kBlurShare * std::max(in.width, in.height);
    const std::vector<float> kernel = gaussianKernel(std::max(0.5, sigma));
    Reduced tmp = in, out = in;
    std::vector<float> padded;
    for (int y = 0; y < in.height; ++y)
        for (int c = 0; c < 3; ++c)
            blurLine(in.row(y) + c, tmp.row(y) + c, in.width, 3, kernel, padded);
    const std::size_t rowStride = std::size_t(in.width) * 3;
    for (int x = 0; x < in.width; ++x)
        for (int c = 0; c < 3; ++c)
            blurLine(tmp.samples.data() + 3 * std::size_t(x) + std::size_t(c),
                     out.samples.data() + 3 * std::size_t(x) + std::size_t(c), in.height, rowStride, kernel,
                     padded);
    return out;
}

float luminance(const float* bgr)
{
    return 0.114f * bgr[0] + 0.587f * bgr[1] + 0.299f * bgr[2];
}

std::string percentText(double share)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", share * 100);
    return text;
}

} // namespace

bool MaskQuality::Has(MaskFinding::Kind kind) const
{
    return std::any_of(findings.begin(), findings.end(), [kind](const MaskFinding& f) { return f.kind == kind; });
}

MaskQuality CheckMaskQuality(const Bitmap24& mask, const HotspotLevels& levels)
{
    MaskQuality q;
    q.darkestLevel = std::min({levels.r, levels.g, levels.b});
    using Kind = MaskFinding::Kind;
    if (q.darkestLevel < kDarkLevelLimit)
        q.findings.push_back({Kind::TooDark, "Too dark: the hotspot level is " + std::to_string(q.darkestLevel) +
                                                 "; take the mask again with more exposure."});
    if (mask.empty())
        return q;
    long long clipped = 0;
    const Reduced small = reduce(mask, &clipped);
    const Reduced smooth = blurred(small);

    q.clippedShare = double(clipped) / (double(mask.width()) * double(mask.height()));

    double squares = 0;
    for (std::size_t i = 0; i < small.samples.size(); ++i) {
        const double d = double(small.samples[i]) - double(smooth.samples[i]);
        squares += d * d;
    }
    q.textureRms = std::sqrt(squares / double(small.samples.size()));

    // Centre of the pixels within 2 % of the brightest, in full-size
    // coordinates.
    float brightest = 0;
    for (int y = 0; y < smooth.height; ++y)
        for (int x = 0; x < smooth.width; ++x)
            brightest = std::max(brightest, luminance(smooth.row(y) + 3 * x));
    const float floor = 0.98f * brightest;
    double sumX = 0, sumY = 0, count = 0;
    for (int y = 0; y < smooth.height; ++y)
        for (int x = 0; x < smooth.width; ++x)
            if (luminance(smooth.row(y) + 3 * x) >= floor) {
                sumX += x + 0.5;
                sumY += y + 0.5;
                count += 1;
            }
    const double scaleX = double(mask.width()) / smooth.width;
    const double scaleY = double(mask.height()) / smooth.height;
    const double dx = sumX / count * scaleX - mask.width() / 2.0;
    const double dy = sumY / count * scaleY - mask.height() / 2.0;
    q.brightOffset = std::hypot(dx, dy) / std::hypot(double(mask.width()), double(mask.height()));

    if (q.clippedShare > kClippedShareLimit)
        q.findings.insert(q.findings.begin(),
                          {Kind::Clipped, "Clipped: " + percentText(q.clippedShare) +
                                              " % of the mask is at full brightness; take it again with less "
                                              "exposure."});
    if (q.textureRms > kTextureRmsLimit)
        q.findings.push_back({Kind::Texture, "Texture or dust: defocus the lens when taking the mask, or choose "
                                             "\"smooth mask\"."});
    if (q.brightOffset > kBrightOffsetLimit)
        q.findings.push_back({Kind::UnevenLight, "Uneven light: the brightest part lies off centre; even out the "
                                                 "light on the surface."});
    return q;
}

Bitmap24 SmoothMask(const Bitmap24& mask)
{
    if (mask.empty())
        return mask;
    const int w = mask.width(), h = mask.height();
    const Reduced smooth = blurred(reduce(mask, nullptr));

    // Bilinear enlargement back to full size. Outside the outermost sample
    // centres the line through the last two samples is continued, so the
    // border keeps its slope.
    struct Tap {
        int i0;
        float t;
    };
    auto taps = [](int full, int reduced) {
        std::vector<Tap> out(static_cast<std::size_t>(full));
        for (int d = 0; d < full; ++d) {
            const double u = (d + 0.5) * reduced / full - 0.5;
            const int i0 = reduced < 2 ? 0 : std::clamp(int(std::floor(u)), 0, reduced - 2);
            out[std::size_t(d)] = {i0, reduced < 2 ? 0.0f : float(u - i0)};
        }
        return out;
    };
    const std::vector<Tap> xt = taps(w, smooth.width);
    const std::vector<Tap> yt = taps(h, smooth.height);
    const bool oneColumn = smooth.width < 2;
    const bool oneRow = smooth.height < 2;

    Bitmap24 out;
    out.setSizeForOverwrite(w, h);
    std::vector<float> line(std::size_t(smooth.width) * 3);
    for (int y = 0; y < h; ++y) {
        const Tap ty = yt[std::size_t(y)];
        const float* a = smooth.row(ty.i0);
        const float* b = oneRow ? a : smooth.row(ty.i0 + 1);
        for (std::size_t i = 0; i < line.size(); ++i)
            line[i] = a[i] + ty.t * (b[i] - a[i]);
        std::uint8_t* dst = out.scanLine(y);
        for (int x = 0; x < w; ++x) {
            const Tap tx = xt[std::size_t(x)];
            const float* p = line.data() + 3 * tx.i0;
            const float* q = oneColumn ? p : p + 3;
            for (int c = 0; c < 3; ++c) {
                const float v = std::clamp(p[c] + tx.t * (q[c] - p[c]), 0.0f, 255.0f);
                dst[3 * x + c] = std::uint8_t(v + 0.5f);
            }
        }
    }
    return out;
}

std::string QualityStatusText(const MaskQuality& quality)
{
    if (quality.findings.empty())
        return std::string();
    std::string text = " Mask check: " + quality.findings.front().text;
    if (quality.findings.size() > 1)
        text += " (" + std::to_string(quality.findings.size() - 1) + " more in the adjustment panel)";
    return text;
}

} // namespace lumivane
