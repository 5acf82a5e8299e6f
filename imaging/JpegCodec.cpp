// SPDX-License-Identifier: GPL-3.0-or-later
#include "JpegCodec.h"

#include "FileIO.h"
#include "MemoryBudget.h"

#include <algorithm>
#include <atomic>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
// jpeglib.h needs size_t and FILE declared before it.
#include <jpeglib.h>
#include <jerror.h>

namespace lumivane {

namespace {

// libjpeg reports a fatal error by calling error_exit, which must not
// return. It jumps back to the setjmp of the guarded function that made the
// failing call; that function returns false and its caller raises the C++
// exception, so no exception ever travels through libjpeg's C frames. The
// guarded functions keep no objects with destructors alive across libjpeg
// calls, so the jump skips nothing that needs cleaning up.
struct ErrorManager {
    jpeg_error_mgr pub{};
    std::jmp_buf jump{};
    // Where a decode's data ended early (see noteWarning): libjpeg then
    // decodes the rest as grey, which the caller reports as damage.
    bool endedEarly = false; // bits were missing
    bool sawEnd = false;     // the file's end was reached before its end marker
    bool multiScan = false;
    unsigned rowsWhole = 0;
    unsigned rowsAll = 0;
};

[[noreturn]] void errorExit(j_common_ptr cinfo)
{
    auto* manager = reinterpret_cast<ErrorManager*>(cinfo->err);
    std::longjmp(manager->jump, 1);
}

// Warnings are never printed. Two of them tell that the data ended before
// the picture did. The source manager warns of the file's end as soon as
// the decoder asks for bytes past it, which it may do to fill its bit
// buffer ahead even when every bit it needs is there; the entropy decoder
// warns of a marker (the end, or a marker where entropy-coded data should
// be) only when bits are really missing, and goes on with zeros: grey from
// there on. That moment gives the rows decoded whole, those of the iMCU
// rows the scan in progress had finished.
void noteWarning(j_common_ptr common, int level)
{
    if (level >= 0 || !common->is_decompressor)
        return;
    auto* manager = reinterpret_cast<ErrorManager*>(common->err);
    auto* cinfo = reinterpret_cast<j_decompress_ptr>(common);
    const int code = common->err->msg_code;
    if (code == JWRN_JPEG_EOF && !manager->endedEarly) {
        manager->sawEnd = true;
        manager->multiScan = cinfo->progressive_mode != 0;
        manager->rowsAll = cinfo->image_height;
        manager->rowsWhole = cinfo->image_height;
    }
    if (code != JWRN_HIT_MARKER || manager->endedEarly)
        return;
    const std::uint64_t rowsPerIMCURow = std::uint64_t(std::max(1, cinfo->max_v_samp_factor)) * DCTSIZE;
    manager->endedEarly = true;
    manager->multiScan = cinfo->progressive_mode != 0;
    manager->rowsAll = cinfo->image_height;
    manager->rowsWhole =
        unsigned(std::min<std::uint64_t>(cinfo->image_height, std::uint64_t(cinfo->input_iMCU_row) * rowsPerIMCURow));
}
void discardOutput(j_common_ptr) {}

void installErrorManager(ErrorManager& manager)
{
    jpeg_std_error(&manager.pub);
    manager.pub.error_exit = errorExit;
    manager.pub.emit_message = noteWarning;
    manager.pub.output_message = discardOutput;
}

// The damage a finished decode found, or "" for none. A single-scan file
// that lacks only its end marker lost no pixels; a progressive one that
// ends early lacks the refinement of its later scans even when no bits of
// the scans it has are missing.
std::string damageOf(const ErrorManager& manager)
{
    if (!manager.endedEarly && !(manager.sawEnd && manager.multiScan))
        return {};
    return "JPEG ends early: " + std::to_string(manager.rowsWhole) + " of " + std::to_string(manager.rowsAll) +
           " rows";
}

thread_local const std::atomic<bool>* tl_decodeStop = nullptr;

// Watches a decode through libjpeg's progress monitor, which libjpeg calls
// at least once per row of blocks while it reads the file: it abandons the
// decode when the stop flag is set, and refuses a file of more scans, or
// more blocks decoded over all its scans, than any honest file needs (a
// progressive file may repeat a scan thousands of times, and libjpeg
// decodes each repetition again with only a warning).
struct ProgressWatch {
    jpeg_progress_mgr pub{};
    const std::atomic<bool>* stop = nullptr;
    int lastScan = 0;
    std::uint64_t blockVisits = 0;
    std::uint64_t imageBlocks = 0; // of all components, counted once
    DecodeLimit why = DecodeLimit::None;
};

[[noreturn]] void leaveDecode(j_common_ptr common, ProgressWatch& watch, DecodeLimit why)
{
    watch.why = why;
    (*common->err->error_exit)(common);
    std::abort(); // error_exit never returns
}

void watchProgress(j_common_ptr common)
{
    auto& watch = *reinterpret_cast<ProgressWatch*>(common->progress);
    if (watch.stop && watch.stop->load(std::memory_order_relaxed))
        leaveDecode(common, watch, DecodeLimit::Stopped);
    if (!common->is_decompressor)
        return;
    auto* cinfo = reinterpret_cast<j_decompress_ptr>(common);
    if (cinfo->input_scan_number == watch.lastScan)
        return;
    if (watch.imageBlocks == 0)
        for (int c = 0; c < cinfo->num_components; ++c)
            watch.imageBlocks += std::uint64_t(cinfo->comp_info[c].width_in_blocks) *
                                 cinfo->comp_info[c].height_in_blocks;
    watch.lastScan = cinfo->input_scan_number;
    if (watch.lastScan > kMaxJpegScans)
        leaveDecode(common, watch, DecodeLimit::TooManyScans);
    for (int c = 0; c < cinfo->comps_in_scan && c < MAX_COMPS_IN_SCAN; ++c)
        if (const jpeg_component_info* component = cinfo->cur_comp_info[c])
            watch.blockVisits += std::uint64_t(component->width_in_blocks) * component->height_in_blocks;
    if (watch.blockVisits > kMaxJpegBlockVisitsPerBlock * watch.imageBlocks)
        leaveDecode(common, watch, DecodeLimit::TooMuchWork);
}

// libjpeg's own text for the error it raised last, e.g. "JPEG: Not a JPEG
// file: starts with 0x42 0x4d" (its message number alone tells a user
// nothing).
JpegError jpegErrorOf(j_common_ptr cinfo)
{
    char text[JMSG_LENGTH_MAX] = {};
    (*cinfo->err->format_message)(cinfo, text);
    return JpegError(cinfo->err->msg_code, std::string("JPEG: ") + text);
}

// Owns a decompressor; the struct starts zeroed so destroying it is safe
// even if creation itself failed.
struct Decompressor {
    jpeg_decompress_struct cinfo{};
    ErrorManager err;
    ProgressWatch watch;

    Decompressor()
    {
        installErrorManager(err);
        cinfo.err = &err.pub;
        watch.pub.progress_monitor = watchProgress;
        watch.stop = tl_decodeStop;
    }
    // Inside a guarded function: jpeg_create_decompress clears every field
    // but the error manager, so the monitor is attached after it.
    void create()
    {
        jpeg_create_decompress(&cinfo);
        cinfo.progress = &watch.pub;
    }
    ~Decompressor() { jpeg_destroy_decompress(&cinfo); }
    Decompressor(const Decompressor&) = delete;
    Decompressor& operator=(const Decompressor&) = delete;
};

// The error for a decode that libjpeg left through its error exit.
[[noreturn]] void raiseDecodeError(const Decompressor& d)
{
    switch (d.watch.why) {
    case DecodeLimit::Stopped:
        throw DecodeStoppedError();
    case DecodeLimit::TooManyScans:
        throw JpegRefusedError(d.err.pub.msg_code, "JPEG has more than " + std::to_string(kMaxJpegScans) +
                                                       " scans (a file that would take minutes to decode)");
    case DecodeLimit::TooMuchWork:
        throw JpegRefusedError(d.err.pub.msg_code, "JPEG scans repeat its blocks too often (a file that would "
                                                   "take minutes to decode)");
    case DecodeLimit::None:
        break;
    }
    throw jpegErrorOf(reinterpret_cast<j_common_ptr>(const_cast<jpeg_decompress_struct*>(&d.cinfo)));
}

// Owns a compressor and the growing output buffer of its destination.
struct Compressor {
    jpeg_compress_struct cinfo{};
    ErrorManager err;
    jpeg_destination_mgr destination{};
    unsigned char* buffer = nullptr;
    std::size_t capacity = 0;
    std::size_t size = 0;

    Compressor()
    {
        installErrorManager(err);
        cinfo.err = &err.pub;
        cinfo.client_data = this;
    }
    ~Compressor()
    {
        jpeg_destroy_compress(&cinfo);
        std::free(buffer);
    }
    Compressor(const Compressor&) = delete;
    Compressor& operator=(const Compressor&) = delete;
};

struct HeaderFacts {
    int width = 0;
    int height = 0;
    int components = 0;
    bool progressive = false;
    // What libjpeg stores of a progressive file's whole picture while it
    // decodes: every 8 x 8 block of every component (the picture padded to
    // whole MCUs), 64 coefficients of 2 bytes each.
    std::uint64_t coefficientBytes = 0;
    // The fewest bytes a whole file of this picture takes (see
    // leastFileBytesOf).
    std::uint64_t leastFileBytes = 0;
};

// The coefficients of the whole picture, as HeaderFacts::coefficientBytes
// describes, from the components' sampling factors.
std::uint64_t coefficientBytesOf(const jpeg_decompress_struct& cinfo)
{
    if (!cinfo.comp_info || cinfo.num_components < 1)
        return 0;
    int maxH = 1, maxV = 1;
    for (int c = 0; c < cinfo.num_components; ++c) {
        maxH = std::max(maxH, cinfo.comp_info[c].h_samp_factor);
        maxV = std::max(maxV, cinfo.comp_info[c].v_samp_factor);
    }
    const std::uint64_t mcusAcross = (std::uint64_t(cinfo.image_width) + 8 * maxH - 1) / (8 * maxH);
    const std::uint64_t mcusDown = (std::uint64_t(cinfo.image_height) + 8 * maxV - 1) / (8 * maxV);
    std::uint64_t blocks = 0;
    for (int c = 0; c < cinfo.num_components; ++c)
        blocks += mcusAcross * std::uint64_t(std::max(1, cinfo.comp_info[c].h_samp_factor)) * mcusDown *
                  std::uint64_t(std::max(1, cinfo.comp_info[c].v_samp_factor));
    return blocks * 64 * 2;
}

// The fewest bytes a whole file of the picture takes: its entropy-coded
// data spends at least one bit on every 8 x 8 block of every component (the
// shortest Huffman code, for the block's DC coefficient in the first scan
// that holds it). Only the blocks the picture covers are counted, not the
// padding of whole MCUs. An arithmetic-coded file of a nearly flat picture
// may spend less, and is then refused as any other.
std::uint64_t leastFileBytesOf(const jpeg_decompress_struct& cinfo)
{
    if (!cinfo.comp_info || cinfo.num_components < 1)
        return 0;
    std::uint64_t maxH = 1, maxV = 1;
    for (int c = 0; c < cinfo.num_components; ++c) {
        maxH = std::max<std::uint64_t>(maxH, cinfo.comp_info[c].h_samp_factor);
        maxV = std::max<std::uint64_t>(maxV, cinfo.comp_info[c].v_samp_factor);
    }
    const auto up = [](std::uint64_t a, std::uint64_t b) { return (a + b - 1) / b; };
    std::uint64_t blocks = 0;
    for (int c = 0; c < cinfo.num_components; ++c) {
        const std::uint64_t h = std::uint64_t(std::max(1, cinfo.comp_info[c].h_samp_factor));
        const std::uint64_t v = std::uint64_t(std::max(1, cinfo.comp_info[c].v_samp_factor));
        blocks += up(up(std::uint64_t(cinfo.image_width) * h, maxH), 8) *
                  up(up(std::uint64_t(cinfo.image_height) * v, maxV), 8);
    }
    return up(blocks, 8);
}

bool readHeaderGuarded(Decompressor& d, const std::uint8_t* data, std::size_t size, HeaderFacts& facts)
{
    if (setjmp(d.err.jump))
        return false;
    d.create();
    jpeg_mem_src(&d.cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&d.cinfo, TRUE);
    facts.width = int(d.cinfo.image_width);
    facts.height = int(d.cinfo.image_height);
    facts.components = d.cinfo.num_components;
    facts.progressive = jpeg_has_multiple_scans(&d.cinfo) != 0;
    if (facts.progressive)
        facts.coefficientBytes = coefficientBytesOf(d.cinfo);
    facts.leastFileBytes = leastFileBytesOf(d.cinfo);
    return true;
}

// Converts one row of CMYK samples to blue, green, red. Adobe writes CMYK
// inverted (0 = full ink), which is what nearly every CMYK JPEG holds.
void cmykRowToBgr(const JSAMPLE* cmyk, std::uint8_t* bgr, int width, bool inverted)
{
    for (int x = 0; x < width; ++x, cmyk += 4, bgr += 3) {
        unsigned c = cmyk[0], m = cmyk[1], y = cmyk[2], k = cmyk[3];
        if (!inverted) {
            c = 255 - c;
            m = 255 - m;
            y = 255 - y;
            k = 255 - k;
        }
        bgr[0] = std::uint8_t((y * k + 127) / 255);
        bgr[1] = std::uint8_t((m * k + 127) / 255);
        bgr[2] = std::uint8_t((c * k + 127) / 255);
    }
}

// What a row reader keeps between its calls into libjpeg.
struct RowSource {
    bool cmyk = false;
    bool inverted = false;
    // One CMYK row from libjpeg's own pool, which jpeg_destroy releases
    // whatever happens.
    JSAMPARRAY cmykRow = nullptr;
};

bool startDecodeGuarded(Decompressor& d, const std::uint8_t* data, std::size_t size, bool smoothing,
                        RowSource& source, unsigned scaleDenom = 1)
{
    if (setjmp(d.err.jump))
        return false;
    jpeg_decompress_struct& cinfo = d.cinfo;
    d.create();
    jpeg_mem_src(&cinfo, data, static_cast<unsigned long>(size));
    jpeg_read_header(&cinfo, TRUE);
    // Full scale unless a reduced picture is asked for; everything else
    // stays at libjpeg's defaults except the two choices below.
    cinfo.scale_num = 1;
    cinfo.scale_denom = scaleDenom;
    cinfo.dct_method = JDCT_FLOAT;
    cinfo.do_block_smoothing = smoothing ? TRUE : FALSE;
    source.cmyk = cinfo.jpeg_color_space == JCS_CMYK || cinfo.jpeg_color_space == JCS_YCCK;
    // Grey and colour files alike are expanded by libjpeg into blue, green,
    // red rows, which is exactly Bitmap24's layout.
    cinfo.out_color_space = source.cmyk ? JCS_CMYK : JCS_EXT_BGR;
    jpeg_start_decompress(&cinfo);
    if (source.cmyk) {
        source.inverted = cinfo.saw_Adobe_marker != 0;
        source.cmykRow = (*cinfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&cinfo), JPOOL_IMAGE,
                                                     cinfo.output_width * 4, 1);
    }
    return true;
}

// Reads up to `count` rows into out + i * stride; `delivered` is how many
// libjpeg gave (fewer only when its data source runs dry).
bool readRowsGuarded(Decompressor& d, const RowSource& source, std::uint8_t* out, std::size_t stride, int count,
                     int& delivered)
{
    if (setjmp(d.err.jump))
        return false;
    jpeg_decompress_struct& cinfo = d.cinfo;
    const int width = int(cinfo.output_width);
    delivered = 0;
    while (delivered < count) {
        if (source.cmyk) {
            if (jpeg_read_scanlines(&cinfo, source.cmykRow, 1) != 1)
                break;
            cmykRowToBgr(source.cmykRow[0], out + stride * std::size_t(delivered), width, source.inverted);
            ++delivered;
            continue;
        }
        JSAMPROW rows[16];
        const int ask = std::min(16, count - delivered);
        for (int i = 0; i < ask; ++i)
            rows[i] = out + stride * std::size_t(delivered + i);
        const JDIMENSION got = jpeg_read_scanlines(&cinfo, rows, JDIMENSION(ask));
        if (got == 0)
            break;
        delivered += int(got);
    }
    return true;
}

bool finishDecodeGuarded(Decompressor& d)
{
    if (setjmp(d.err.jump))
        return false;
    jpeg_finish_decompress(&d.cinfo);
    return true;
}

void initDestination(j_compress_ptr) {}

boolean growDestination(j_compress_ptr cinfo)
{
    auto* c = static_cast<Compressor*>(cinfo->client_data);
    // Called when the whole buffer is full.
    const std::size_t grown = c->capacity * 2;
    auto* bigger = static_cast<unsigned char*>(std::realloc(c->buffer, grown));
    if (!bigger) {
        cinfo->err->msg_code = JERR_OUT_OF_MEMORY;
        (*cinfo->err->error_exit)(reinterpret_cast<j_common_ptr>(cinfo));
    }
    c->buffer = bigger;
    c->destination.next_output_byte = bigger + c->capacity;
    c->destination.free_in_buffer = grown - c->capacity;
    c->capacity = grown;
    return TRUE;
}

void termDestination(j_compress_ptr cinfo)
{
    auto* c = static_cast<Compressor*>(cinfo->client_data);
    c->size = c->capacity - c->destination.free_in_buffer;
}

// The one set of compression settings: both the whole-bitmap encoder and
// the band encoder start here, which keeps their bytes identical.
void startCompression(jpeg_compress_struct& cinfo, int width, int height, int quality)
{
    cinfo.image_width = JDIMENSION(width);
    cinfo.image_height = JDIMENSION(height);
    // The input colour space must be known before jpeg_set_defaults, which
    // picks the file's colour space (YCbCr) from it.
    cinfo.in_color_space = JCS_EXT_BGR;
    cinfo.input_components = 3;
    jpeg_set_defaults(&cinfo);
    cinfo.dct_method = JDCT_FLOAT; // jpeg_set_defaults resets it to the integer DCT
    jpeg_set_quality(&cinfo, quality, TRUE);
    jpeg_start_compress(&cinfo, TRUE);
}

bool encodeGuarded(Compressor& c, const Bitmap24& image, int quality)
{
    if (setjmp(c.err.jump))
        return false;
    jpeg_compress_struct& cinfo = c.cinfo;
    jpeg_create_compress(&cinfo);
    cinfo.dest = &c.destination;
    c.destination.init_destination = initDestination;
    c.destination.empty_output_buffer = growDestination;
    c.destination.term_destination = termDestination;
    c.destination.next_output_byte = c.buffer;
    c.destination.free_in_buffer = c.capacity;

    startCompression(cinfo, image.width(), image.height(), quality);
    const std::size_t rowBytes = image.rowBytes();
    // libjpeg takes non-const row pointers but only reads the input rows.
    auto* base = const_cast<std::uint8_t*>(image.data());
    JSAMPROW rows[16];
    while (cinfo.next_scanline < cinfo.image_height) {
        const JDIMENSION y = cinfo.next_scanline;
        const JDIMENSION count = std::min<JDIMENSION>(16, cinfo.image_height - y);
        for (JDIMENSION i = 0; i < count; ++i)
            rows[i] = base + rowBytes * (y + i);
        jpeg_write_scanlines(&cinfo, rows, count);
    }
    jpeg_finish_compress(&cinfo);
    return true;
}

// Encodes into the compressor's buffer; raises JpegError on failure.
void encodeInto(Compressor& c, const Bitmap24& image, int quality)
{
    // A first guess that is usually enough at photographic qualities.
    c.capacity = image.byteCount() / 6 + 65536;
    c.buffer = static_cast<unsigned char*>(std::malloc(c.capacity));
    if (!c.buffer)
        throw std::bad_alloc();
    if (!encodeGuarded(c, image, quality))
        throw jpegErrorOf(reinterpret_cast<j_common_ptr>(&c.cinfo));
}

} // namespace

// The band encoder's compressor, its error manager and its destination,
// which writes straight into the caller's vector.
struct JpegBandEncoder::State {
    jpeg_compress_struct cinfo{};
    ErrorManager err;
    jpeg_destination_mgr destination{};
    std::vector<std::uint8_t>* out = nullptr;
    std::size_t used = 0;
    bool failed = false;
    bool finished = false;

    State()
    {
        installErrorManager(err);
        cinfo.err = &err.pub;
        cinfo.client_data = this;
    }
    // Safe on a zeroed struct, so also after a failed creation.
    ~State() { jpeg_destroy_compress(&cinfo); }
    State(const State&) = delete;
    State& operator=(const State&) = delete;
};

namespace {

using BandState = JpegBandEncoder::State;

// How much the band encoder's output vector grows at a time within its
// reserved room.
constexpr std::size_t kOutputStep = std::size_t(1) << 20;

void initVectorDestination(j_compress_ptr) {}

// Called by libjpeg when the whole vector is full. It must not throw through
// libjpeg's frames: a failed allocation becomes libjpeg's own error.
boolean growVectorDestination(j_compress_ptr cinfo)
{
    auto* s = static_cast<BandState*>(cinfo->client_data);
    const std::size_t full = s->out->size();
    bool grown = true;
    try {
        // Within the room reserved the vector grows a step at a time, so only
        // the pages the encoder fills are ever touched; beyond it, it doubles.
        const std::size_t room = s->out->capacity();
        s->out->resize(full < room ? std::min(room, full + kOutputStep) : full * 2);
    } catch (...) {
        grown = false;
    }
    if (!grown) {
        cinfo->err->msg_code = JERR_OUT_OF_MEMORY;
        (*cinfo->err->error_exit)(reinterpret_cast<j_common_ptr>(cinfo));
    }
    s->destination.next_output_byte = s->out->data() + full;
    s->destination.free_in_buffer = s->out->size() - full;
    return TRUE;
}

void termVectorDestination(j_compress_ptr cinfo)
{
    auto* s = static_cast<BandState*>(cinfo->client_data);
    s->used = s->out->size() - s->destination.free_in_buffer;
}

bool startBandGuarded(BandState& s, int width, int height, int quality)
{
    if (setjmp(s.err.jump))
        return false;
    jpeg_create_compress(&s.cinfo);
    s.cinfo.dest = &s.destination;
    s.destination.init_destination = initVectorDestination;
    s.destination.empty_output_buffer = growVectorDestination;
    s.destination.term_destination = termVectorDestination;
    s.destination.next_output_byte = s.out->data();
    s.destination.free_in_buffer = s.out->size();
    startCompression(s.cinfo, width, height, quality);
    return true;
}

bool writeBandGuarded(BandState& s, JSAMPARRAY rows, JDIMENSION count)
{
    if (setjmp(s.err.jump))
        return false;
    JDIMENSION done = 0;
    while (done < count) {
        const JDIMENSION n = jpeg_write_scanlines(&s.cinfo, rows + done, count - done);
        if (n == 0) {
            // Only a suspending destination returns without taking rows;
            // ours never suspends, so this is a broken state.
            s.cinfo.err->msg_code = JERR_BAD_STATE;
            return false;
        }
        done += n;
    }
    return true;
}

bool finishBandGuarded(BandState& s)
{
    if (setjmp(s.err.jump))
        return false;
    jpeg_finish_compress(&s.cinfo);
    return true;
}

} // namespace

JpegBandEncoder::JpegBandEncoder(int width, int height, int quality, std::vector<std::uint8_t>& out)
    : state_(std::make_unique<State>()), height_(height)
{
    if (width < 1 || height < 1)
        throw std::invalid_argument("JPEG band encoder: a picture of " + std::to_string(width) + " x " +
                                    std::to_string(height) + " pixels has nothing to encode");
    // The same first guess as EncodeJpeg, or all the room an earlier encode
    // left, is reserved; the encoder's output fills it a step at a time (see
    // growVectorDestination), so fresh memory beyond the file's size is
    // never touched.
    const std::size_t guess = std::size_t(width) * 3 * std::size_t(height) / 6 + 65536;
    const std::size_t room = out.capacity();
    out.reserve(std::max(guess, room));
    if (out.capacity() != room)
        AdviseHugePages(out.data(), out.capacity());
    // An earlier encode's bytes are room already paid for: the encoder
    // overwrites them, so the vector keeps that size rather than shrinking
    // and filling the same bytes with zeros again as it grows.
    if (out.size() < kOutputStep)
        out.resize(std::min(out.capacity(), kOutputStep));
    state_->out = &out;
    if (!startBandGuarded(*state_, width, height, quality)) {
        state_->failed = true;
        throw jpegErrorOf(reinterpret_cast<j_common_ptr>(&state_->cinfo));
    }
}

JpegBandEncoder::~JpegBandEncoder() = default;

void JpegBandEncoder::WriteRows(const std::uint8_t* const* rows, int count)
{
    if (state_->failed || state_->finished)
        throw std::invalid_argument("JPEG band encoder: rows written after the end or after an error");
    if (count < 0 || count > height_ - rowsWritten_)
        throw std::invalid_argument("JPEG band encoder: " + std::to_string(count) + " rows given, " +
                                    std::to_string(height_ - rowsWritten_) + " left");
    if (count == 0)
        return;
    // libjpeg takes non-const row pointers but only reads the input rows.
    auto* pointers = const_cast<JSAMPARRAY>(rows);
    if (!writeBandGuarded(*state_, pointers, JDIMENSION(count))) {
        state_->failed = true;
        throw jpegErrorOf(reinterpret_cast<j_common_ptr>(&state_->cinfo));
    }
    rowsWritten_ += count;
}

std::vector<std::uint8_t>& JpegBandEncoder::Finish()
{
    if (state_->failed || state_->finished)
        throw std::invalid_argument("JPEG band encoder: finished twice or after an error");
    if (rowsWritten_ != height_)
        throw std::logic_error("JPEG band encoder: " + std::to_string(rowsWritten_) + " of " +
                               std::to_string(height_) + " rows written");
    if (!finishBandGuarded(*state_)) {
        state_->failed = true;
        throw jpegErrorOf(reinterpret_cast<j_common_ptr>(&state_->cinfo));
    }
    state_->finished = true;
    state_->out->resize(state_->used);
    return *state_->out;
}

JpegError::JpegError(int code)
    : std::runtime_error("JPEG error #" + std::to_string(code)), code_(code)
{
}

JpegError::JpegError(int code, const std::string& message) : std::runtime_error(message), code_(code) {}

DecodeStoppedError::DecodeStoppedError() : std::runtime_error("stopped while it was read") {}

ScopedDecodeStop::ScopedDecodeStop(const std::atomic<bool>* stop) : earlier_(tl_decodeStop)
{
    tl_decodeStop = stop;
}

ScopedDecodeStop::~ScopedDecodeStop()
{
    tl_decodeStop = earlier_;
}

std::size_t JpegEndFinder::NeededOf(const std::uint8_t* data, std::size_t size)
{
    // libjpeg refuses a file that does not start with SOI after its first
    // two bytes, whatever follows them.
    if (pos_ == 0) {
        if (size < 2)
            return 0;
        if (data[0] != 0xFF || data[1] != 0xD8)
            return 2;
        pos_ = 2;
    }
    while (pos_ < size) {
        if (entropy_) {
            // Entropy-coded data ends at the first marker other than a
            // stuffed zero (FF 00) or a restart marker; fill bytes (FF FF)
            // may stand before either.
            const auto* ff = static_cast<const std::uint8_t*>(std::memchr(data + pos_, 0xFF, size - pos_));
            if (!ff) {
                pos_ = size;
                return 0;
            }
            std::size_t at = std::size_t(ff - data);
            std::size_t code = at + 1;
            while (code < size && data[code] == 0xFF)
                ++code;
            if (code >= size) {
                pos_ = at; // look at this FF again with more bytes
                return 0;
            }
            if (data[code] == 0x00 || (data[code] >= 0xD0 && data[code] <= 0xD7)) {
                pos_ = code + 1;
                continue;
            }
            entropy_ = false;
            pos_ = at;
            continue;
        }
        // Between segments libjpeg skips any bytes up to an FF, then fill
        // bytes, and reads the marker code; FF 00 is no marker.
        std::size_t at = pos_;
        while (at < size && data[at] != 0xFF)
            ++at;
        std::size_t code = at;
        while (code < size && data[code] == 0xFF)
            ++code;
        if (code >= size) {
            pos_ = at;
            return 0;
        }
        const std::uint8_t marker = data[code];
        if (marker == 0x00) {
            pos_ = code + 1;
            continue;
        }
        if (marker == 0xD9)
            return code + 1;
        // SOI, TEM and the restart markers stand alone; every other marker
        // has a length that counts itself.
        if (marker == 0xD8 || marker == 0x01 || (marker >= 0xD0 && marker <= 0xD7)) {
            pos_ = code + 1;
            continue;
        }
        if (code + 3 > size) {
            pos_ = at;
            return 0;
        }
        const std::size_t length = std::size_t(data[code + 1]) << 8 | data[code + 2];
        pos_ = code + 1 + length;
        // A scan header is followed by its entropy-coded data.
        entropy_ = marker == 0xDA;
    }
    return 0;
}

void TJPEGImage::LoadFromFile(const std::string& path)
{
    auto bytes = std::make_shared<std::vector<std::uint8_t>>();
    LoadFromFile(path, bytes);
}

void TJPEGImage::LoadFromFile(const std::string& path, const std::shared_ptr<std::vector<std::uint8_t>>& storage)
{
    // Bytes after the end-of-image marker are never read: libjpeg stops
    // there, and a file padded with gigabytes costs only what it holds.
    JpegEndFinder end;
    ReadWholeFileInto(path, *storage, &end);
    load(storage);
    name_ = path;
}

void TJPEGImage::LoadFromBytes(std::vector<std::uint8_t> bytes)
{
    load(std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes)));
}

void TJPEGImage::load(std::shared_ptr<const std::vector<std::uint8_t>> data)
{
    HeaderFacts facts;
    {
        Decompressor d;
        if (!readHeaderGuarded(d, data->data(), data->size(), facts))
            raiseDecodeError(d);
    }
    data_ = std::move(data);
    width_ = facts.width;
    height_ = facts.height;
    components_ = facts.components;
    progressive_ = facts.progressive;
    coefficientBytes_ = facts.coefficientBytes;
    leastFileBytes_ = facts.leastFileBytes;
    name_.clear();
}

std::uint64_t TJPEGImage::DecodeWorkingBytes() const
{
    if (!data_)
        return 0;
    // A baseline decode holds about two rows of 16 x 16 MCUs of each
    // component, its colour conversion and the file's bytes.
    const std::uint64_t rows = progressive_ ? coefficientBytes_ : std::uint64_t(width_) * 3 * 64;
    return std::uint64_t(data_->size()) + rows;
}

void TJPEGImage::DecodeInto(Bitmap24& out, std::string* damage) const
{
    if (damage)
        damage->clear();
    if (!data_) {
        out.setSize(0, 0);
        return;
    }
    JpegRowReader reader(*this);
    // libjpeg writes every row it delivers, so the storage is not painted
    // first; the reader paints only rows libjpeg never delivers.
    const std::size_t room = out.capacity();
    out.setSizeForOverwrite(reader.Width(), reader.Height());
    // Fresh storage has its pages faulted in beside the decoder.
    const BackgroundPrefault prefault(out.capacity() > room ? out.data() : nullptr, out.byteCount());
    reader.ReadRows(out.data(), out.rowBytes(), reader.Height());
    reader.Finish();
    if (damage)
        *damage = reader.Damage();
}

struct JpegRowReader::State {
    Decompressor d;
    RowSource source;
    // The file's bytes, kept alive while libjpeg reads them.
    std::shared_ptr<const std::vector<std::uint8_t>> data;
    bool failed = false;
    bool finished = false;
};

JpegRowReader::JpegRowReader(const TJPEGImage& image) : state_(std::make_unique<State>())
{
    if (!image.data_)
        throw std::invalid_argument("JPEG row reader: no file loaded");
    // The header's size is the output size (full scale), so the budget is
    // checked before libjpeg or the caller allocate anything of that size:
    // a header may claim 65500 x 65500 pixels in a few bytes.
    RequireMemoryFor(std::uint64_t(image.width_), std::uint64_t(image.height_), image.name_, kBytesPerPixel,
                     image.DecodeWorkingBytes());
    // The bytes kept are the file up to its end marker: all it can decode.
    RequireFileCanHold(std::uint64_t(image.width_), std::uint64_t(image.height_), image.name_, image.data_->size(),
                       image.leastFileBytes_);
    state_->data = image.data_;
    if (!startDecodeGuarded(state_->d, state_->data->data(), state_->data->size(), image.Smoothing,
                            state_->source))
        raiseDecodeError(state_->d);
    width_ = int(state_->d.cinfo.output_width);
    height_ = int(state_->d.cinfo.output_height);
}

JpegRowReader::~JpegRowReader() = default;

void JpegRowReader::ReadRows(std::uint8_t* out, std::size_t stride, int count)
{
    if (state_->failed || state_->finished)
        throw std::invalid_argument("JPEG row reader: rows read after the end or after an error");
    if (count < 0 || count > height_ - rowsRead_)
        throw std::invalid_argument("JPEG row reader: " + std::to_string(count) + " rows asked, " +
                                    std::to_string(height_ - rowsRead_) + " left");
    int delivered = 0;
    if (!readRowsGuarded(state_->d, state_->source, out, stride, count, delivered)) {
        state_->failed = true;
        raiseDecodeError(state_->d);
    }
    // Rows libjpeg never delivers are white.
    for (int i = delivered; i < count; ++i)
        std::memset(out + stride * std::size_t(i), 0xFF, std::size_t(width_) * 3);
    rowsRead_ += count;
}

void JpegRowReader::Finish()
{
    if (state_->failed || state_->finished)
        throw std::invalid_argument("JPEG row reader: finished twice or after an error");
    if (rowsRead_ != height_)
        throw std::logic_error("JPEG row reader: " + std::to_string(rowsRead_) + " of " +
                               std::to_string(height_) + " rows read");
    if (!finishDecodeGuarded(state_->d)) {
        state_->failed = true;
        raiseDecodeError(state_->d);
    }
    state_->finished = true;
}

std::string JpegRowReader::Damage() const
{
    return damageOf(state_->d.err);
}

int JpegRowReader::ScansRead() const
{
    return state_->d.watch.lastScan;
}

bool JpegRowReader::Failed() const
{
    return state_->failed;
}

Bitmap24 TJPEGImage::Decode() const
{
    Bitmap24 out;
    DecodeInto(out);
    return out;
}

std::vector<std::uint8_t> EncodeJpeg(const Bitmap24& image, int quality)
{
    Compressor c;
    encodeInto(c, image, quality);
    return std::vector<std::uint8_t>(c.buffer, c.buffer + c.size);
}

Bitmap24 DecodeJpegReduced(const std::uint8_t* data, std::size_t size, int minWidth, int minHeight)
{
    HeaderFacts facts;
    {
        Decompressor d;
        if (!readHeaderGuarded(d, data, size, facts))
            raiseDecodeError(d);
    }
    RequireMemoryFor(std::uint64_t(facts.width), std::uint64_t(facts.height));
    // libjpeg reduces by 1/2, 1/4 or 1/8 inside its inverse DCT, which costs
    // far less than decoding at full size and reducing afterwards.
    unsigned denom = 1;
    while (denom < 8 && facts.width / int(denom * 2) >= std::max(minWidth, 1) &&
           facts.height / int(denom * 2) >= std::max(minHeight, 1))
        denom *= 2;
    Decompressor d;
    RowSource source;
    if (!startDecodeGuarded(d, data, size, false, source, denom))
        raiseDecodeError(d);
    Bitmap24 out(int(d.cinfo.output_width), int(d.cinfo.output_height));
    int delivered = 0;
    if (!readRowsGuarded(d, source, out.data(), out.rowBytes(), out.height(), delivered) || !finishDecodeGuarded(d))
        raiseDecodeError(d);
    return out;
}

} // namespace lumivane
