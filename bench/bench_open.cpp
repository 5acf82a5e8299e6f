// SPDX-License-Identifier: GPL-3.0-or-later
// What a user waits for and how much memory the program takes, measured in
// fresh processes, where every full-size buffer is new memory:
//   cold_open_24mp_vs_decode  open a 24-megapixel JPEG photograph in a window
//                             already shown (handler call to both previews
//                             drawn) against a plain libjpeg decode of the
//                             same file into one new buffer (and, stricter,
//                             into a new huge-page buffer)
//   mask_load_24mp_vs_decode  load a 24-megapixel JPEG mask onto that
//                             photograph against a plain decode of the mask
//   job_peak_rss_mib          peak resident memory of a process that opens
//                             the photograph, loads the mask and saves a JPEG
// The program re-executes itself with a role argument for every measured
// run; each child prints its time, the parent reads the child's peak memory
// from wait4.
#include "BenchFiles.h"
#include "BenchProcess.h"
#include "BenchUtil.h"

#include "PlatformServices.h"
#include "Unit1.h"

#include <QApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

#include <jpeglib.h>

namespace {

const int kRuns = bench::pick(7, 1);

using Clock = std::chrono::steady_clock;

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// Dialogs answer from what the child was told; nothing else is asked for.
class BenchServices : public lumivane::QtPlatformServices {
public:
    QStringList openAnswer;
    QString saveAnswer;
    QStringList openFiles(QWidget*, const lumivane::OpenDialogRequest&) override { return openAnswer; }
    QString saveFile(QWidget*, const lumivane::SaveDialogRequest&) override { return saveAnswer; }
    void showMessage(QWidget*, const QString& text) override { std::fprintf(stderr, "%s\n", qPrintable(text)); }
    void showError(QWidget*, const QString& text) override { std::fprintf(stderr, "%s\n", qPrintable(text)); }
    void processEvents() override {}
};

// Paints both previews now instead of at the next turn of the event loop.
void drawPreviews(TForm1& form)
{
    form.img_left->repaint();
    form.img_right->repaint();
}

// A shown main window with nothing loaded, as after start-up.
struct Window {
    QTemporaryDir programDir;
    BenchServices services;
    TForm1 form{services, programDir.path()};
    Window()
    {
        form.show();
        QApplication::processEvents();
    }
    void open(const char* photo)
    {
        services.openAnswer = {QString::fromLocal8Bit(photo)};
        form.Button1Click(form.BitBtn5);
        drawPreviews(form);
    }
    void loadMask(const char* maskFile)
    {
        services.openAnswer = {QString::fromLocal8Bit(maskFile)};
        form.Button3Click();
        drawPreviews(form);
    }
};

int childOpen(int argc, char** argv)
{
    QApplication app(argc, argv);
    Window window;
    const auto start = Clock::now();
    window.open(argv[2]);
    const double ms = msSince(start);
    if (!window.form.status->text().startsWith(QStringLiteral(" Showing ")) || !window.form.Button3->isEnabled())
        return 1;
    std::printf("%.3f\n", ms);
    return 0;
}

int childMask(int argc, char** argv)
{
    QApplication app(argc, argv);
    Window window;
    window.open(argv[2]);
    const auto start = Clock::now();
    window.loadMask(argv[3]);
    const double ms = msSince(start);
    if (!window.form.flow().mask().MaskLoaded)
        return 1;
    std::printf("%.3f\n", ms);
    return 0;
}

int childJob(int argc, char** argv)
{
    QApplication app(argc, argv);
    Window window;
    window.open(argv[2]);
    window.loadMask(argv[3]);
    window.services.saveAnswer = QString::fromLocal8Bit(argv[4]);
    window.form.Button2Click();
    const bool saved = ::access(argv[4], F_OK) == 0;
    std::remove(argv[4]);
    return saved ? 0 : 1;
}

// libjpeg alone, as the program asks it: the whole file read, float IDCT,
// blue-green-red rows, into one buffer allocated for this decode.
struct DecodeError {
    jpeg_error_mgr pub;
    std::jmp_buf jump;
};

// The decode's buffer: an ordinary allocation, or, for the stricter
// comparison, a 2 MiB-aligned block marked for huge pages as the program's
// own full-size bitmaps are.
unsigned char* newBuffer(std::size_t bytes, bool hugePages)
{
    if (!hugePages)
        return static_cast<unsigned char*>(std::malloc(bytes));
    constexpr std::size_t kHugePage = std::size_t(2) << 20;
    const std::size_t rounded = (bytes + kHugePage - 1) & ~(kHugePage - 1);
    void* block = std::aligned_alloc(kHugePage, rounded);
    if (block)
        ::madvise(block, rounded, MADV_HUGEPAGE);
    return static_cast<unsigned char*>(block);
}

int childDecode(char** argv, bool smoothing, bool hugePages)
{
    const auto start = Clock::now();
    std::FILE* file = std::fopen(argv[2], "rb");
    if (!file)
        return 1;
    std::vector<unsigned char> bytes;
    unsigned char chunk[1 << 16];
    for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
        bytes.insert(bytes.end(), chunk, chunk + n);
    std::fclose(file);

    jpeg_decompress_struct cinfo;
    DecodeError err;
    cinfo.err = jpeg_std_error(&err.pub);
    err.pub.error_exit = [](j_common_ptr c) { std::longjmp(reinterpret_cast<DecodeError*>(c->err)->jump, 1); };
    unsigned char* pixels = nullptr;
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&cinfo);
        std::free(pixels);
        return 1;
    }
    jpeg_create_decompress(&cinfo);
    jpeg_mem_src(&cinfo, bytes.data(), static_cast<unsigned long>(bytes.size()));
    jpeg_read_header(&cinfo, TRUE);
    cinfo.dct_method = JDCT_FLOAT;
    cinfo.do_block_smoothing = smoothing ? TRUE : FALSE;
    cinfo.out_color_space = JCS_EXT_BGR;
    jpeg_start_decompress(&cinfo);
    const std::size_t rowBytes = std::size_t(cinfo.output_width) * 3;
    pixels = newBuffer(rowBytes * cinfo.output_height, hugePages);
    if (!pixels) {
        jpeg_destroy_decompress(&cinfo);
        return 1;
    }
    while (cinfo.output_scanline < cinfo.output_height) {
        JSAMPROW rows[16];
        const JDIMENSION y = cinfo.output_scanline;
        const JDIMENSION count = std::min<JDIMENSION>(16, cinfo.output_height - y);
        for (JDIMENSION i = 0; i < count; ++i)
            rows[i] = pixels + rowBytes * (y + i);
        jpeg_read_scanlines(&cinfo, rows, count);
    }
    jpeg_finish_decompress(&cinfo);
    jpeg_destroy_decompress(&cinfo);
    const double ms = msSince(start);
    bench::keep(pixels[rowBytes * cinfo.output_height / 2]);
    std::free(pixels);
    std::printf("%.3f\n", ms);
    return 0;
}

struct ChildResult {
    double ms = 0;
    double peakMiB = 0;
};

// Runs this program again with `args`, returns the number it printed and
// its peak resident memory.
ChildResult runChild(const std::vector<std::string>& args)
{
    std::vector<std::string> command = {"/proc/self/exe"};
    command.insert(command.end(), args.begin(), args.end());
    const bench::ProcessRun run = bench::runProcess(command);
    ChildResult result;
    result.ms = run.output.empty() ? 0 : std::stod(run.output);
    result.peakMiB = run.peakMiB;
    return result;
}

using bench::median;

int parent()
{
    const bench::BenchFiles files = bench::writeBenchFiles();
    std::vector<double> open, openDecode, openRatio, openHuge, openHugeRatio, mask, maskDecode, maskRatio, peak;
    // Interleaved, so every figure sees the same machine load.
    for (int run = 0; run < kRuns; ++run) {
        const double o = runChild({"--open", files.photo}).ms;
        const double od = runChild({"--decode-photo", files.photo}).ms;
        const double oh = runChild({"--decode-photo-huge", files.photo}).ms;
        const double m = runChild({"--mask", files.photo, files.mask}).ms;
        const double md = runChild({"--decode-mask", files.mask}).ms;
        peak.push_back(runChild({"--job", files.photo, files.mask, files.folder + "/out.jpg"}).peakMiB);
        open.push_back(o);
        openDecode.push_back(od);
        openRatio.push_back(o / od);
        openHuge.push_back(oh);
        openHugeRatio.push_back(o / oh);
        mask.push_back(m);
        maskDecode.push_back(md);
        maskRatio.push_back(m / md);
    }
    bench::removeBenchFiles(files);
    bench::figure("cold_open_24mp_vs_decode", median(openRatio), "x");
    bench::figure("cold_open_24mp_ms", median(open), "ms");
    bench::figure("fresh_decode_24mp_ms", median(openDecode), "ms");
    // The same against a decode whose buffer also uses huge pages: what the
    // open costs beyond the decode itself, page-fault advantage taken away.
    bench::figure("cold_open_24mp_vs_hugepage_decode", median(openHugeRatio), "x");
    bench::figure("fresh_decode_hugepage_24mp_ms", median(openHuge), "ms");
    bench::figure("mask_load_24mp_vs_decode", median(maskRatio), "x");
    bench::figure("mask_load_24mp_ms", median(mask), "ms");
    bench::figure("fresh_decode_mask_24mp_ms", median(maskDecode), "ms");
    bench::figure("job_peak_rss_mib", median(peak), "MiB");
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    try {
        const std::string role = argc > 1 ? argv[1] : "";
        if (role == "--open" && argc == 3)
            return childOpen(argc, argv);
        if (role == "--mask" && argc == 4)
            return childMask(argc, argv);
        if (role == "--job" && argc == 5)
            return childJob(argc, argv);
        if (role == "--decode-photo" && argc == 3)
            return childDecode(argv, false, false);
        if (role == "--decode-photo-huge" && argc == 3)
            return childDecode(argv, false, true);
        if (role == "--decode-mask" && argc == 3)
            return childDecode(argv, true, false);
        return parent();
    } catch (const std::exception& e) {
        std::fprintf(stderr, "bench_open: %s\n", e.what());
        return 1;
    }
}
