// SPDX-License-Identifier: GPL-3.0-or-later
// The correction job done with libvips, as a peer for bench_vips: decode the
// photograph (sequential access) and the mask, stretch the mask onto the
// photograph's size with the nearest-neighbour kernel, correct every channel
// value v against the mask value m as
//     clamp(v + rint(v / (v + damping) * (T - m)), 0, 255)
// in floating point, and save. One chain of libvips operations, run by
// libvips' own threads when the result is saved; no pixel loop here.
//
//   vips_job PHOTO MASK OUT TR TG TB DAMPING
//       OUT ending in .jpg: JPEG quality 90, colour subsampled 2 x 2 like
//       the program's encoder; any other name: the format libvips picks by
//       its suffix (.ppm for an uncompressed comparison file).
//   vips_job --decoded PHOTO MASK PHOTO_OUT MASK_OUT
//       the decoded photograph and the stretched mask, for comparisons.
#include <vips/vips.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

[[noreturn]] void fail(const char* what)
{
    std::fprintf(stderr, "vips_job: %s: %s\n", what, vips_error_buffer());
    std::exit(1);
}

bool endsWith(const std::string& text, const std::string& suffix)
{
    return text.size() >= suffix.size() && text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (VIPS_INIT(argv[0]))
        fail("cannot start libvips");
    const bool decodedOnly = argc == 6 && std::strcmp(argv[1], "--decoded") == 0;
    if (!decodedOnly && argc != 8) {
        std::fprintf(stderr, "usage: vips_job PHOTO MASK OUT TR TG TB DAMPING\n"
                             "       vips_job --decoded PHOTO MASK PHOTO_OUT MASK_OUT\n");
        return 2;
    }
    const int first = decodedOnly ? 2 : 1;
    const char* photoPath = argv[first];
    const char* maskPath = argv[first + 1];

    // Every image of the chain belongs to `context` and goes with it.
    VipsImage* context = vips_image_new();
    VipsImage** t = reinterpret_cast<VipsImage**>(vips_object_local_array(VIPS_OBJECT(context), 10));

    t[0] = vips_image_new_from_file(photoPath, "access", VIPS_ACCESS_SEQUENTIAL, nullptr);
    if (!t[0])
        fail(photoPath);
    t[1] = vips_image_new_from_file(maskPath, nullptr);
    if (!t[1])
        fail(maskPath);
    const double hscale = double(t[0]->Xsize) / t[1]->Xsize;
    const double vscale = double(t[0]->Ysize) / t[1]->Ysize;
    if (vips_resize(t[1], &t[2], hscale, "vscale", vscale, "kernel", VIPS_KERNEL_NEAREST, nullptr))
        fail("resize the mask");

    if (decodedOnly) {
        if (vips_image_write_to_file(t[0], argv[4], nullptr) || vips_image_write_to_file(t[2], argv[5], nullptr))
            fail("write the decoded pictures");
        g_object_unref(context);
        vips_shutdown();
        return 0;
    }

    const char* outPath = argv[3];
    double targets[3];
    for (int i = 0; i < 3; ++i)
        targets[i] = std::atof(argv[4 + i]);
    const double damping = std::atof(argv[7]);
    double minusOne[3] = {-1.0, -1.0, -1.0};

    // weight = v / (v + damping)
    if (vips_linear1(t[0], &t[3], 1.0, damping, nullptr) || vips_divide(t[0], t[3], &t[4], nullptr))
        fail("weight");
    // difference = T - m, per band
    if (vips_linear(t[2], &t[5], minusOne, targets, 3, nullptr))
        fail("difference");
    // v + rint(weight * difference), clamped into 0..255 by the cast
    if (vips_multiply(t[4], t[5], &t[6], nullptr) || vips_round(t[6], &t[7], VIPS_OPERATION_ROUND_RINT, nullptr) ||
        vips_add(t[0], t[7], &t[8], nullptr) || vips_cast_uchar(t[8], &t[9], nullptr))
        fail("correction");

    const std::string out = outPath;
    const int saved = endsWith(out, ".jpg")
                          ? vips_jpegsave(t[9], outPath, "Q", 90, "subsample_mode", VIPS_FOREIGN_SUBSAMPLE_ON, nullptr)
                          : vips_image_write_to_file(t[9], outPath, nullptr);
    if (saved)
        fail(outPath);
    g_object_unref(context);
    vips_shutdown();
    return 0;
}
