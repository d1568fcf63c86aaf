#include "imaging/jpegcodec.h"

#include <sys/mman.h>

#include <algorithm>
#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include "imaging/picture.h"
#include "imaging/rowsink.h"
#include "platform/errors.h"

namespace {

// The codec reads and writes through these chunks.
constexpr size_t kChunk = 4096;
constexpr int kQuantisedColours = 236;
// The codec's own working memory (coefficient buffers of multi-scan files,
// the two-pass quantiser's picture): enough for the largest picture we take.
constexpr long kMaxCodecMemory = 1L << 30;
// The codec recommends at most 4 rows per call.
constexpr JDIMENSION kMaxBatch = 16;
// Rows handed to a sink per call: few enough to stay in the cache.
constexpr JDIMENSION kStripRows = 16;

// ---------------------------------------------------------------------------
// Fatal codec errors.
//
// libjpeg reports a fatal error by calling error_exit, which must not return.
// Throwing a C++ exception from there would unwind through libjpeg's C frames,
// which is undefined behaviour (the library is not built for it). So every
// codec call runs inside Guarded(), the one frame with a setjmp, and
// error_exit longjmps back to it. Between the two lie only libjpeg's frames and
// our plain callbacks below, none of which owns an object with a destructor,
// so the jump skips no cleanup. Guarded() reports false and ordinary C++ code
// above it throws the exception.

enum class Failure { Codec, TooManyScans, TooMuchWork, Handler, Sink };

// What the callbacks reach through client_data. It lives in the frame that
// owns the codec object, above every jump.
struct CodecContext {
  jpeg_error_mgr err{};
  jpeg_progress_mgr progress{};
  std::jmp_buf jump{};
  bool armed = false;
  Failure failure = Failure::Codec;
  const TJPEGProgress* progress_ = nullptr;  // told about progress when set
  int lastPercent = -1;
  std::exception_ptr pending;         // what the progress handler threw
  char reason[JMSG_LENGTH_MAX] = {};  // the codec's own text for a fatal error
  void (*standardFormat)(j_common_ptr, char*) = nullptr;
  uint64_t blocks = 0;  // coefficient blocks of a multi-scan file, once known
  int scans = 0;        // scans met when the work ran out
};

CodecContext* ContextOf(j_common_ptr cinfo) {
  return static_cast<CodecContext*>(cinfo->client_data);
}

[[noreturn]] void ErrorExit(j_common_ptr cinfo) {
  CodecContext* ctx = ContextOf(cinfo);
  if (!ctx->armed) std::abort();  // a codec call outside Guarded(): a bug here, not in the file
  // The library's own words for the failure, for the report's second line.
  if (ctx->failure == Failure::Codec) ctx->standardFormat(cinfo, ctx->reason);
  std::longjmp(ctx->jump, 1);
}

[[noreturn]] void Fail(j_common_ptr cinfo, Failure failure) {
  ContextOf(cinfo)->failure = failure;
  ErrorExit(cinfo);
}

// Warnings and traces are ignored: a damaged or cut file decodes as far as the
// codec can take it.
void EmitMessage(j_common_ptr, int) {}
void OutputMessage(j_common_ptr) {}
void FormatMessage(j_common_ptr, char*) {}
void ResetErrorMgr(j_common_ptr cinfo) {
  cinfo->err->num_warnings = 0;
  cinfo->err->msg_code = 0;
}

bool Guarded(CodecContext& ctx, void (*step)(void*), void* arg) {
  ctx.armed = true;
  if (setjmp(ctx.jump) != 0) {
    ctx.armed = false;
    return false;
  }
  step(arg);
  ctx.armed = false;
  return true;
}

[[noreturn]] void Raise(const CodecContext& ctx) {
  switch (ctx.failure) {
    case Failure::TooManyScans:
      throw EJPEG(Format(SJPEGError, JERR_BAD_PROGRESSION), std::string(),
                  Format(SJPEGTooManyScans, JPEGMaxScans));
    case Failure::TooMuchWork:
      throw EJPEG(Format(SJPEGError, JERR_IMAGE_TOO_BIG), std::string(),
                  Format(SJPEGTooMuchWork, ctx.scans, static_cast<unsigned long long>(ctx.blocks)));
    case Failure::Handler:
    case Failure::Sink:
      std::rethrow_exception(ctx.pending);
    case Failure::Codec:
      break;
  }
  throw EJPEG(Format(SJPEGError, ctx.err.msg_code), std::string(), ctx.reason);
}

void Run(CodecContext& ctx, void (*step)(void*), void* arg) {
  if (!Guarded(ctx, step, arg)) Raise(ctx);
}

bool IsAbort(const std::exception_ptr& e) {
  try {
    std::rethrow_exception(e);
  } catch (const EAbort&) {
    return true;
  } catch (...) {
    return false;
  }
}

// As Run, but false when the progress handler stopped the step with EAbort.
bool RunUnlessStopped(CodecContext& ctx, void (*step)(void*), void* arg) {
  if (Guarded(ctx, step, arg)) return true;
  if (ctx.failure == Failure::Handler && IsAbort(ctx.pending)) return false;
  Raise(ctx);
}

int Percent(const jpeg_progress_mgr& p) {
  if (p.total_passes <= 0) return 0;
  const double pass = p.pass_limit > 0 ? static_cast<double>(p.pass_counter) / p.pass_limit : 0.0;
  return std::clamp(static_cast<int>((p.completed_passes + pass) * 100.0 / p.total_passes), 0, 100);
}

// Calls the progress handler; an exception it throws is kept for Raise().
bool Notify(CodecContext& ctx, int percent) noexcept {
  try {
    (*ctx.progress_)(percent);
    return true;
  } catch (...) {
    ctx.pending = std::current_exception();
    return false;
  }
}

// Scans are counted from the markers before decoding; this catches whatever
// the count missed, as the codec meets each scan.
void CheckScanCount(j_decompress_ptr cinfo) {
  const int scans = cinfo->input_scan_number;
  if (scans > JPEGMaxScans) Fail(reinterpret_cast<j_common_ptr>(cinfo), Failure::TooManyScans);
  CodecContext* ctx = ContextOf(reinterpret_cast<j_common_ptr>(cinfo));
  if (uint64_t(scans) * ctx->blocks > JPEGMaxScanBlocks) {
    ctx->scans = scans;
    Fail(reinterpret_cast<j_common_ptr>(cinfo), Failure::TooMuchWork);
  }
}

void Monitor(j_common_ptr cinfo) {
  if (cinfo->is_decompressor) CheckScanCount(reinterpret_cast<j_decompress_ptr>(cinfo));
  CodecContext* ctx = ContextOf(cinfo);
  if (ctx->progress_ == nullptr || !*ctx->progress_) return;
  const int percent = Percent(ctx->progress);
  if (percent == ctx->lastPercent) return;
  ctx->lastPercent = percent;
  if (!Notify(*ctx, percent)) Fail(cinfo, Failure::Handler);
}

jpeg_error_mgr* InitErrorManager(CodecContext& ctx) {
  jpeg_std_error(&ctx.err);
  ctx.standardFormat = ctx.err.format_message;
  ctx.err.error_exit = ErrorExit;
  ctx.err.emit_message = EmitMessage;
  ctx.err.output_message = OutputMessage;
  ctx.err.format_message = FormatMessage;
  ctx.err.reset_error_mgr = ResetErrorMgr;
  ctx.progress.progress_monitor = Monitor;
  return &ctx.err;
}

// ---------------------------------------------------------------------------
// In-memory source: the held bytes, handed over in chunks without copying.

struct MemorySource {
  jpeg_source_mgr pub;
  const uint8_t* data;
  size_t size;
  size_t position;
};

const JOCTET kFakeEoi[2] = {0xFF, JPEG_EOI};

MemorySource* SourceOf(j_decompress_ptr cinfo) {
  return reinterpret_cast<MemorySource*>(cinfo->src);
}

void InitSource(j_decompress_ptr) {}

boolean FillInputBuffer(j_decompress_ptr cinfo) {
  MemorySource* src = SourceOf(cinfo);
  if (src->position >= src->size) {
    if (src->size == 0) ERREXIT(cinfo, JERR_INPUT_EMPTY);
    // The data ends early: end the image here and let the codec fill in the
    // missing part.
    WARNMS(cinfo, JWRN_JPEG_EOF);
    src->pub.next_input_byte = kFakeEoi;
    src->pub.bytes_in_buffer = sizeof kFakeEoi;
    return TRUE;
  }
  const size_t count = std::min(kChunk, src->size - src->position);
  src->pub.next_input_byte = src->data + src->position;
  src->pub.bytes_in_buffer = count;
  src->position += count;
  return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long count) {
  if (count <= 0) return;
  MemorySource* src = SourceOf(cinfo);
  size_t left = static_cast<size_t>(count);
  while (left > src->pub.bytes_in_buffer) {
    left -= src->pub.bytes_in_buffer;
    const size_t jump = std::min(left, src->size - src->position);
    src->position += jump;
    left -= jump;
    FillInputBuffer(cinfo);
    if (src->pub.next_input_byte == kFakeEoi) return;  // skipped past the end
  }
  src->pub.next_input_byte += left;
  src->pub.bytes_in_buffer -= left;
}

void TermSource(j_decompress_ptr) {}

// ---------------------------------------------------------------------------
// In-memory destination: a vector grown a chunk at a time.

struct VectorDestination {
  jpeg_destination_mgr pub;
  std::vector<uint8_t>* bytes;
};

VectorDestination* DestinationOf(j_compress_ptr cinfo) {
  return reinterpret_cast<VectorDestination*>(cinfo->dest);
}

bool Grow(std::vector<uint8_t>& bytes) noexcept {
  try {
    bytes.resize(bytes.size() + kChunk);
    return true;
  } catch (...) {
    return false;
  }
}

void NextChunk(j_compress_ptr cinfo) {
  VectorDestination* dest = DestinationOf(cinfo);
  const size_t used = dest->bytes->size();
  if (!Grow(*dest->bytes)) ERREXIT1(cinfo, JERR_OUT_OF_MEMORY, 0);
  dest->pub.next_output_byte = dest->bytes->data() + used;
  dest->pub.free_in_buffer = kChunk;
}

void InitDestination(j_compress_ptr cinfo) {
  DestinationOf(cinfo)->bytes->clear();
  NextChunk(cinfo);
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
  NextChunk(cinfo);  // the whole chunk is full
  return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
  VectorDestination* dest = DestinationOf(cinfo);
  dest->bytes->resize(dest->bytes->size() - dest->pub.free_in_buffer);
}

// ---------------------------------------------------------------------------
// Codec objects, destroyed on every path.

class Decompressor {
 public:
  Decompressor(std::span<const uint8_t> bytes, const TJPEGProgress* progress) {
    FHandle.cinfo.err = InitErrorManager(FContext);
    FHandle.cinfo.client_data = &FContext;
    Run(+[](void* p) { jpeg_create_decompress(static_cast<j_decompress_ptr>(p)); });
    FHandle.cinfo.mem->max_memory_to_use = kMaxCodecMemory;
    FSource.pub.init_source = InitSource;
    FSource.pub.fill_input_buffer = FillInputBuffer;
    FSource.pub.skip_input_data = SkipInputData;
    FSource.pub.resync_to_restart = jpeg_resync_to_restart;
    FSource.pub.term_source = TermSource;
    FSource.data = bytes.data();
    FSource.size = bytes.size();
    FHandle.cinfo.src = &FSource.pub;
    FHandle.cinfo.progress = &FContext.progress;  // always: it enforces the scan limit
    FContext.progress_ = progress;
  }

  jpeg_decompress_struct& Info() { return FHandle.cinfo; }
  CodecContext& Context() { return FContext; }

  // Runs a step on the codec object.
  void Run(void (*step)(void*)) { ::Run(FContext, step, &FHandle.cinfo); }

 private:
  struct Handle {
    jpeg_decompress_struct cinfo{};
    ~Handle() { jpeg_destroy_decompress(&cinfo); }  // harmless when creation failed
  };
  CodecContext FContext;
  MemorySource FSource{};
  Handle FHandle;
};

class Compressor {
 public:
  Compressor(std::vector<uint8_t>& bytes, const TJPEGProgress& progress) {
    FHandle.cinfo.err = InitErrorManager(FContext);
    FHandle.cinfo.client_data = &FContext;
    ::Run(
        FContext, +[](void* p) { jpeg_create_compress(static_cast<j_compress_ptr>(p)); },
        &FHandle.cinfo);
    FDestination.pub.init_destination = InitDestination;
    FDestination.pub.empty_output_buffer = EmptyOutputBuffer;
    FDestination.pub.term_destination = TermDestination;
    FDestination.bytes = &bytes;
    FHandle.cinfo.dest = &FDestination.pub;
    if (progress) {
      FContext.progress_ = &progress;
      FHandle.cinfo.progress = &FContext.progress;
    }
  }

  jpeg_compress_struct& Info() { return FHandle.cinfo; }
  CodecContext& Context() { return FContext; }

 private:
  struct Handle {
    jpeg_compress_struct cinfo{};
    ~Handle() { jpeg_destroy_compress(&cinfo); }
  };
  CodecContext FContext;
  VectorDestination FDestination{};
  Handle FHandle;
};

// ---------------------------------------------------------------------------
// Reading rows: straight into a picture's rows, or into a strip of rows that
// is handed on to a sink whenever it is full.

struct Strip {
  TRowSink* sink;
  JDIMENSION rows;   // its height
  JDIMENSION first;  // the picture row in its first row
  JDIMENSION read;   // rows of the current pass read so far
  bool handOver;     // the current pass is the one the sink gets
  uint8_t* bgr;      // 8-bit rows expanded through the colour map
  size_t bgrStride;
};

// Everything a decoding pass needs, as plain data for the guarded steps.
struct RowJob {
  j_decompress_ptr cinfo;
  CodecContext* ctx;
  Picture* picture;  // the rows' home, or null for a sink
  Strip* strip;      // the rows' way to a sink, or null
  uint8_t* base;     // the picture's first row, or the strip's
  size_t stride;
  size_t rowBytes;
  uint8_t* cmyk;  // four-sample rows of a CMYK file before conversion, or null
  size_t cmykStride;
  bool inverted;  // Adobe CMYK: 0 means full ink
  bool quantised;
  bool showScans;       // buffered mode with someone to show each scan to
  JDIMENSION rowsDone;  // the furthest row any pass has reached
};

uint8_t* RowAt(const RowJob& job, JDIMENSION y) {
  const JDIMENSION first = job.strip != nullptr ? job.strip->first : 0;
  return job.base + (y - first) * job.stride;
}

// The codec's colour map, grey entries from a one-component output; `out`
// has room for 256. Returns the number of entries.
size_t ColourMap(const jpeg_decompress_struct& c, Rgb* out) {
  if (c.colormap == nullptr) return 0;
  const size_t count = static_cast<size_t>(std::clamp(c.actual_number_of_colors, 0, 256));
  for (size_t i = 0; i < count; ++i) {
    if (c.out_color_components == 1) {
      const uint8_t v = c.colormap[0][i];
      out[i] = {v, v, v};
    } else {
      out[i] = {c.colormap[0][i], c.colormap[1][i], c.colormap[2][i]};
    }
  }
  return count;
}

void SetPaletteFrom(Picture& picture, const jpeg_decompress_struct& c) {
  Rgb entries[256];
  picture.SetPalette(std::vector<Rgb>(entries, entries + ColourMap(c, entries)));
}

// Blue, green, red from C, M, Y, K. Stored plainly, 0 is no ink; Adobe's
// files store them inverted, so 255 is no ink.
void CmykToBgr(const uint8_t* cmyk, uint8_t* bgr, JDIMENSION width, bool inverted) {
  const unsigned flip = inverted ? 0 : 255;
  for (JDIMENSION x = 0; x < width; ++x, cmyk += 4, bgr += 3) {
    const unsigned c = cmyk[0] ^ flip, m = cmyk[1] ^ flip, y = cmyk[2] ^ flip, k = cmyk[3] ^ flip;
    bgr[0] = static_cast<uint8_t>((y * k + 127) / 255);
    bgr[1] = static_cast<uint8_t>((m * k + 127) / 255);
    bgr[2] = static_cast<uint8_t>((c * k + 127) / 255);
  }
}

// Hands the strip's first `count` rows to the sink. 8-bit rows become 24-bit
// ones exactly as a converted 8-bit picture would: indices past the colour
// map are black.
void Deliver(const RowJob& job, JDIMENSION count) {
  const Strip& s = *job.strip;
  const uint8_t* data = job.base;
  size_t stride = job.stride;
  if (job.quantised) {
    Rgb map[256] = {};
    ColourMap(*job.cinfo, map);
    const JDIMENSION width = job.cinfo->output_width;
    for (JDIMENSION r = 0; r < count; ++r) {
      const uint8_t* index = job.base + r * job.stride;
      uint8_t* bgr = s.bgr + r * s.bgrStride;
      for (JDIMENSION x = 0; x < width; ++x, bgr += 3) {
        const Rgb colour = map[index[x]];
        bgr[0] = colour.b;
        bgr[1] = colour.g;
        bgr[2] = colour.r;
      }
    }
    data = s.bgr;
    stride = s.bgrStride;
  }
  s.sink->Rows(static_cast<int>(s.first), static_cast<int>(count), data,
               static_cast<ptrdiff_t>(stride));
}

// Deliver inside a guarded step: what the sink throws is kept for Raise().
bool HandOver(const RowJob& job, JDIMENSION count) noexcept {
  try {
    Deliver(job, count);
    return true;
  } catch (...) {
    job.ctx->pending = std::current_exception();
    return false;
  }
}

// One output pass, the codec's recommended number of rows per call, into the
// job's rows (CMYK goes through a small buffer). A strip goes to the sink
// only in the pass that is its own; other passes just reuse it.
void ReadPass(RowJob& job, bool last) {
  j_decompress_ptr c = job.cinfo;
  const JDIMENSION batch = std::clamp(static_cast<JDIMENSION>(std::max(c->rec_outbuf_height, 1)),
                                      JDIMENSION{1}, kMaxBatch);
  const size_t padding = job.stride - job.rowBytes;
  Strip* strip = job.strip;
  if (strip != nullptr) {
    strip->first = strip->read = c->output_scanline;
    strip->handOver = last;
  }
  JSAMPROW rows[kMaxBatch];
  while (c->output_scanline < c->output_height) {
    const JDIMENSION y = c->output_scanline;
    JDIMENSION count = std::min(batch, c->output_height - y);
    if (strip != nullptr) count = std::min(count, strip->first + strip->rows - y);
    for (JDIMENSION i = 0; i < count; ++i)
      rows[i] = job.cmyk != nullptr ? job.cmyk + i * job.cmykStride : RowAt(job, y + i);
    const JDIMENSION got = jpeg_read_scanlines(c, rows, count);
    if (got == 0) break;
    for (JDIMENSION i = 0; i < got; ++i) {
      uint8_t* row = RowAt(job, y + i);
      if (job.cmyk != nullptr) CmykToBgr(rows[i], row, c->output_width, job.inverted);
      if (padding != 0) std::memset(row + job.rowBytes, 0, padding);
    }
    const JDIMENSION end = y + got;
    job.rowsDone = std::max(job.rowsDone, end);
    if (strip == nullptr) continue;
    strip->read = end;
    if (end == strip->first + strip->rows || end == c->output_height) {
      if (strip->handOver && !HandOver(job, end - strip->first))
        Fail(reinterpret_cast<j_common_ptr>(c), Failure::Sink);
      strip->first = end;
    }
  }
}

// After a pass shown while a multi-scan file arrives: palette, then the handler.
bool ShowPass(RowJob& job) noexcept {
  try {
    if (job.quantised && job.picture != nullptr) SetPaletteFrom(*job.picture, *job.cinfo);
  } catch (...) {
    job.ctx->pending = std::current_exception();
    return false;
  }
  return Notify(*job.ctx, Percent(job.ctx->progress));
}

void ReadSingle(void* p) { ReadPass(*static_cast<RowJob*>(p), true); }

// Buffered-image mode: a pass per scan for someone watching, then the final
// pass. Unwatched, the whole file is taken in first and shown once.
void ReadBuffered(void* p) {
  RowJob& job = *static_cast<RowJob*>(p);
  j_decompress_ptr c = job.cinfo;
  if (job.showScans) {
    while (!jpeg_input_complete(c)) {
      CheckScanCount(c);
      jpeg_start_output(c, c->input_scan_number);
      ReadPass(job, false);
      jpeg_finish_output(c);
      if (!ShowPass(job)) Fail(reinterpret_cast<j_common_ptr>(c), Failure::Handler);
    }
  } else {
    int status;
    do {
      CheckScanCount(c);
      status = jpeg_consume_input(c);
    } while (status != JPEG_REACHED_EOI && status != JPEG_SUSPENDED);
  }
  jpeg_start_output(c, c->input_scan_number);
  ReadPass(job, true);
  jpeg_finish_output(c);
}

// Rows the codec never reached become zero rather than stale memory; the
// colour map of buffered passes lives until the decompression is finished.
void CompletePicture(RowJob& job, bool buffered) {
  for (JDIMENSION y = job.rowsDone; y < job.cinfo->output_height; ++y)
    std::memset(job.base + y * job.stride, 0, job.stride);
  if (job.quantised && buffered) SetPaletteFrom(*job.picture, *job.cinfo);
}

// The sink gets every row even after a stop: those of its pass still in the
// strip, then zero rows (index 0 of an 8-bit decode, as in a decoded picture).
void CompleteStrip(RowJob& job) {
  Strip& s = *job.strip;
  const JDIMENSION height = job.cinfo->output_height;
  JDIMENSION done = 0;
  if (s.handOver) {
    if (s.read > s.first) Deliver(job, s.read - s.first);
    done = s.read;
  }
  if (done >= height) return;
  std::memset(job.base, 0, s.rows * job.stride);
  for (JDIMENSION y = done; y < height; y += s.rows) {
    s.first = y;
    Deliver(job, std::min(s.rows, height - y));
  }
}

// The output must fit the pixel limit. The codec works through every coded
// pixel even for a scaled output, so both sizes count.
void CheckDecodeSize(const jpeg_decompress_struct& c) {
  const uint64_t outputPixels = uint64_t{c.output_width} * c.output_height;
  const uint64_t codedPixels = uint64_t{c.image_width} * c.image_height;
  if (std::max(outputPixels, codedPixels) > static_cast<uint64_t>(Picture::MaxPixels))
    throw EJPEG(Format(SJPEGError, JERR_IMAGE_TOO_BIG), std::string(),
                Format(SPictureTooLarge, static_cast<int>(c.image_width),
                       static_cast<int>(c.image_height)));
}

// Coefficient blocks of all components: what one scan of a multi-scan file
// may have to visit.
uint64_t CoefficientBlocks(const jpeg_decompress_struct& c) {
  uint64_t blocks = 0;
  for (int i = 0; i < c.num_components; ++i)
    blocks += uint64_t{c.comp_info[i].width_in_blocks} * c.comp_info[i].height_in_blocks;
  return blocks;
}

constexpr uint8_t kSoi = 0xD8;

bool IsRestart(uint8_t marker) { return marker >= 0xD0 && marker <= 0xD7; }

// Skips entropy-coded data: returns the position of the 0xFF that starts the
// next marker other than a restart, or the end.
size_t SkipScanData(std::span<const uint8_t> b, size_t i) {
  while (i < b.size()) {
    const void* ff = std::memchr(b.data() + i, 0xFF, b.size() - i);
    if (ff == nullptr) return b.size();
    const size_t at = static_cast<size_t>(static_cast<const uint8_t*>(ff) - b.data());
    size_t next = at + 1;
    while (next < b.size() && b[next] == 0xFF) ++next;  // fill bytes
    if (next >= b.size()) return b.size();
    if (b[next] != 0 && !IsRestart(b[next])) return next - 1;
    i = next + 1;
  }
  return b.size();
}

}  // namespace

TJPEGLayout ReadJPEGLayout(std::span<const uint8_t> b) {
  TJPEGLayout layout;
  layout.End = b.size();
  if (b.size() < 2 || b[0] != 0xFF || b[1] != kSoi) return layout;
  size_t i = 2;
  while (i < b.size()) {
    // The codec skips stray bytes before a marker, and so do we.
    const void* ff = std::memchr(b.data() + i, 0xFF, b.size() - i);
    if (ff == nullptr) break;
    i = static_cast<size_t>(static_cast<const uint8_t*>(ff) - b.data()) + 1;
    while (i < b.size() && b[i] == 0xFF) ++i;
    if (i >= b.size()) break;
    const uint8_t marker = b[i++];
    if (marker == JPEG_EOI) {
      layout.End = i;
      break;
    }
    if (marker == 0 || marker == 0x01 || marker == kSoi || IsRestart(marker)) continue;
    if (b.size() - i < 2) break;
    i += size_t{b[i]} << 8 | b[i + 1];
    if (marker == 0xDA) {
      ++layout.Scans;
      i = SkipScanData(b, i);
    }
  }
  return layout;
}

namespace {

// A file with more scans than any encoder writes, or whose scans would each
// visit a huge picture's coefficients again, is refused before the work.
void CheckWork(CodecContext& ctx, const jpeg_decompress_struct& c, int scans) {
  if (scans > JPEGMaxScans)
    throw EJPEG(Format(SJPEGError, JERR_BAD_PROGRESSION), std::string(),
                Format(SJPEGTooManyScans, JPEGMaxScans));
  if (!jpeg_has_multiple_scans(const_cast<j_decompress_ptr>(&c))) return;
  ctx.blocks = CoefficientBlocks(c);
  if (uint64_t(scans) * ctx.blocks > JPEGMaxScanBlocks)
    throw EJPEG(Format(SJPEGError, JERR_IMAGE_TOO_BIG), std::string(),
                Format(SJPEGTooMuchWork, scans, static_cast<unsigned long long>(ctx.blocks)));
}

// The rows are written once, top to bottom, into fresh memory. Faulting that
// in 4 KiB at a time costs a large share of the decode itself on virtual
// machines; with transparent huge pages it is nearly free. Advice only: where
// the system does not follow it nothing changes.
void AdviseHugePages(uint8_t* bytes, size_t size) {
  constexpr uintptr_t kHugePage = uintptr_t{2} << 20;
  const uintptr_t start = reinterpret_cast<uintptr_t>(bytes);
  const uintptr_t begin = (start + kHugePage - 1) & ~(kHugePage - 1);
  const uintptr_t end = (start + size) & ~(kHugePage - 1);
  if (end > begin) ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
}

// ---------------------------------------------------------------------------
// Encoding.

struct EncodeJob {
  j_compress_ptr cinfo;
  JSAMPARRAY rows;
  JDIMENSION width, height;
  int quality;
  bool grayscale, progressive;
};

void Encode(void* p) {
  const EncodeJob& job = *static_cast<const EncodeJob*>(p);
  j_compress_ptr c = job.cinfo;
  c->image_width = job.width;
  c->image_height = job.height;
  c->input_components = 3;
  c->in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(c);
  // The file's layout is fixed here rather than left to the library's
  // defaults: YCbCr 4:2:0, standard Huffman tables, no restarts, a JFIF
  // header without a physical resolution.
  c->comp_info[0].h_samp_factor = 2;
  c->comp_info[0].v_samp_factor = 2;
  for (int i = 1; i < 3; ++i) {
    c->comp_info[i].h_samp_factor = 1;
    c->comp_info[i].v_samp_factor = 1;
  }
  c->optimize_coding = FALSE;
  c->arith_code = FALSE;
  c->restart_interval = 0;
  c->restart_in_rows = 0;
  c->write_JFIF_header = TRUE;
  c->density_unit = 0;
  c->X_density = 1;
  c->Y_density = 1;
  c->dct_method = JDCT_FLOAT;
  jpeg_set_quality(c, job.quality, TRUE);
  if (job.grayscale) jpeg_set_colorspace(c, JCS_GRAYSCALE);
  if (job.progressive) jpeg_simple_progression(c);
  jpeg_start_compress(c, TRUE);
  while (c->next_scanline < c->image_height)
    jpeg_write_scanlines(c, job.rows + c->next_scanline, c->image_height - c->next_scanline);
  jpeg_finish_compress(c);
}

}  // namespace

TJPEGHeader ReadJPEGHeader(std::span<const uint8_t> bytes) {
  const TJPEGLayout layout = ReadJPEGLayout(bytes);
  Decompressor d(bytes.first(layout.End), nullptr);
  jpeg_decompress_struct& c = d.Info();
  d.Run(+[](void* p) { jpeg_read_header(static_cast<j_decompress_ptr>(p), TRUE); });
  TJPEGHeader header;
  header.Width = static_cast<int>(c.image_width);
  header.Height = static_cast<int>(c.image_height);
  header.Grayscale = c.jpeg_color_space == JCS_GRAYSCALE;
  header.MultiScan = jpeg_has_multiple_scans(&c) != FALSE;
  header.Scans = layout.Scans;
  header.Blocks = CoefficientBlocks(c);
  return header;
}

void DecodeJPEG(std::span<const uint8_t> bytes, const TJPEGSettings& settings,
                const TJPEGProgress& progress, Picture* picture, TRowSink* sink) {
  const TJPEGLayout layout = ReadJPEGLayout(bytes);
  Decompressor d(bytes.first(layout.End), &progress);
  jpeg_decompress_struct& c = d.Info();
  CodecContext& ctx = d.Context();
  // A stop by the progress handler before the size is settled leaves an
  // empty picture.
  auto step = [&](void (*f)(void*)) { return RunUnlessStopped(ctx, f, &c); };
  auto stoppedEarly = [&] {
    if (sink != nullptr) sink->Begin(0, 0);
  };
  if (!step(+[](void* p) { jpeg_read_header(static_cast<j_decompress_ptr>(p), TRUE); }))
    return stoppedEarly();

  c.scale_num = 1;
  c.scale_denom = 1u << std::clamp(settings.ScaleShift, 0, 3);
  c.do_block_smoothing = settings.BlockSmoothing ? TRUE : FALSE;
  // CMYK and YCCK files come out as CMYK, which we turn into RGB ourselves;
  // the quantiser takes only one or three components, so they stay 24-bit.
  const bool cmyk = c.out_color_space == JCS_CMYK;
  bool quantise = false;
  if (!cmyk) {
    if (settings.Grayscale) c.out_color_space = JCS_GRAYSCALE;
    const bool grey = c.out_color_space == JCS_GRAYSCALE;
    quantise = settings.EightBitOutput || grey;
    // The picture's byte order; quantised output is indices, so its colour
    // map keeps the usual red, green, blue rows.
    if (!grey) c.out_color_space = quantise ? JCS_RGB : JCS_EXT_BGR;
  }
  if (quantise) {
    c.quantize_colors = TRUE;
    c.desired_number_of_colors = kQuantisedColours;
  }
  if (settings.FastDecode) {
    c.dct_method = JDCT_IFAST;
    c.two_pass_quantize = FALSE;
    c.dither_mode = JDITHER_ORDERED;
  } else {
    c.dct_method = JDCT_FLOAT;
  }
  const bool buffered = settings.ProgressiveDecode && jpeg_has_multiple_scans(&c);
  c.buffered_image = buffered ? TRUE : FALSE;

  if (!step(+[](void* p) { jpeg_calc_output_dimensions(static_cast<j_decompress_ptr>(p)); }))
    return stoppedEarly();
  CheckDecodeSize(c);
  CheckWork(ctx, c, layout.Scans);
  if (!step(+[](void* p) { jpeg_start_decompress(static_cast<j_decompress_ptr>(p)); }))
    return stoppedEarly();

  const int width = static_cast<int>(c.output_width);
  const int height = static_cast<int>(c.output_height);
  const int bitCount = quantise ? 8 : 24;
  RowJob job{};
  job.cinfo = &c;
  job.ctx = &ctx;
  job.rowBytes = static_cast<size_t>(width) * (quantise ? 1 : 3);
  job.cmykStride = size_t{c.output_width} * 4;
  job.inverted = c.saw_Adobe_marker != FALSE;
  job.quantised = quantise;
  job.showScans = static_cast<bool>(progress);
  std::vector<uint8_t> cmykRows;
  if (cmyk) cmykRows.resize(size_t{kMaxBatch} * job.cmykStride);
  job.cmyk = cmyk ? cmykRows.data() : nullptr;

  // Into the picture the codec writes straight; a sink gets a strip at a
  // time, so only a few rows are held.
  Strip strip{};
  std::vector<uint8_t> stripRows, bgrRows;
  if (sink == nullptr) {
    picture->CreateUninitialised(width, height, bitCount);
    AdviseHugePages(picture->Bits(), static_cast<size_t>(picture->Stride()) * picture->Height());
    if (quantise && !buffered) SetPaletteFrom((*picture), c);
    job.picture = picture;
    job.base = picture->Bits();
    job.stride = static_cast<size_t>(picture->Stride());
  } else {
    sink->Begin(width, height);
    job.stride = static_cast<size_t>(Picture::StrideFor(width, bitCount));
    stripRows.resize(size_t{kStripRows} * job.stride);
    if (quantise) {
      strip.bgrStride = static_cast<size_t>(Picture::StrideFor(width, 24));
      bgrRows.resize(size_t{kStripRows} * strip.bgrStride);
      strip.bgr = bgrRows.data();
    }
    strip.sink = sink;
    strip.rows = kStripRows;
    job.strip = &strip;
    job.base = stripRows.data();
  }

  const bool read = RunUnlessStopped(ctx, buffered ? ReadBuffered : ReadSingle, &job);
  if (sink == nullptr)
    CompletePicture(job, buffered);
  else
    CompleteStrip(job);
  // A stop while finishing changes nothing: every row is there.
  if (read) step(+[](void* p) { jpeg_finish_decompress(static_cast<j_decompress_ptr>(p)); });
}

void EncodeJPEG(const Picture& picture, const TJPEGSettings& settings,
                const TJPEGProgress& progress, std::vector<uint8_t>& out) {
  Picture source = picture;  // shares the pixels
  source.ConvertTo24();      // copies only a picture of another depth
  const Picture& view = source;
  std::vector<JSAMPROW> rows(static_cast<size_t>(view.Height()));
  for (int y = 0; y < view.Height(); ++y)
    rows[static_cast<size_t>(y)] = const_cast<JSAMPLE*>(view.ScanLine(y));  // only read

  Compressor k(out, progress);
  EncodeJob job{&k.Info(),
                rows.data(),
                static_cast<JDIMENSION>(view.Width()),
                static_cast<JDIMENSION>(view.Height()),
                std::clamp(settings.Quality, 1, 100),
                settings.Grayscale,
                settings.ProgressiveEncode};
  Run(k.Context(), Encode, &job);
}
