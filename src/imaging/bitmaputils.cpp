#include "imaging/bitmaputils.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#if defined(__SSE2__) && !defined(PUNCHLET_NO_SIMD)
#include <emmintrin.h>
#endif

#include "platform/errors.h"

// How the filter is computed
//
// A target pixel is the integral, over its footprint, of the bilinear patches
// of the source cells it touches, divided by the nominal footprint area A.
// Over one cell the patch is p00(1-u)(1-w) + p10 u(1-w) + p01(1-u)w + p11 uw,
// and its integral over an overlap of lengths Lx, Ly with midpoints mx, my
// factors into [(1-mx)Lx or mx Lx] * [(1-my)Ly or my Ly] per corner. Summed
// over the cells, the integral is therefore sum_l sum_k wx(k) wy(l) p(k, l),
// where the weight of source index k on an axis collects (1-m)L from the cell
// starting at k and mL from the cell ending at k (indices clamped to the
// picture). So the work splits into one vertical and one horizontal pass with
// weights computed once per axis.
//
// A source row or column that lies wholly inside a footprint has weight
// exactly 1, so the bulk of a reduction is a plain integer sum; only the few
// rim rows and columns of each footprint carry fractional weights. Integer
// sums are exact, so the result differs from a cell-by-cell evaluation only by
// double rounding, far below what could move a rounded channel value.

namespace {

[[noreturn]] void Fail(int line);

struct Tap {
  int index;
  double weight;
};

// The source indices one target index reads on one axis.
struct Footprint {
  int first = 0;                 // lowest index that may carry weight
  int runBegin = 0, runEnd = 0;  // [runBegin, runEnd): indices of weight 1
  int tapBegin = 0, tapEnd = 0;  // the other weighted indices, in Axis::taps
  int last = -1;                 // highest weighted index, -1 when there is none
};

struct Axis {
  std::vector<Footprint> spans;
  std::vector<Tap> taps;
};

Axis MakeAxis(int sourceSize, int targetSize, double scale) {
  Axis axis;
  axis.spans.resize(static_cast<size_t>(targetSize));
  for (int t = 0; t < targetSize; ++t) {
    // The upper bound stops a hair short of the next footprint, so a target
    // pixel whose footprint ends exactly on a cell border does not take a
    // zero-width sliver of the next cell; stored outputs depend on it.
    const double f0 = t * scale - 0.5;
    const double f1 = (t + 1) * scale - 0.500001;
    const int cellFirst = static_cast<int>(std::floor(f0));
    const int cellLast = static_cast<int>(std::floor(f1));
    Footprint& span = axis.spans[static_cast<size_t>(t)];
    span.first = std::max(cellFirst, 0);
    span.tapBegin = span.tapEnd = static_cast<int>(axis.taps.size());
    if (cellLast < cellFirst) continue;  // footprint narrower than the hair

    // Cells strictly between the first and the last lie wholly inside, and
    // give 1/2 to each of their two indices; so an index whose both cells
    // are such has weight 1. Only the indices around the two end cells need
    // computing, from the end cells and their neighbours.
    const int last = std::min(cellLast + 1, sourceSize - 1);
    span.runBegin = std::max(cellFirst + 2, span.first);
    span.runEnd = std::max(std::min(cellLast - 1, last) + 1, span.runBegin);
    // The explicit indices: at most two before the run and two after it.
    const int head = span.runBegin - span.first;
    double weights[4] = {};
    auto slot = [&](int index) -> double& {
      return weights[index < span.runBegin ? index - span.first : head + index - span.runEnd];
    };
    int done = cellFirst - 1;
    for (const int j : {cellFirst, cellFirst + 1, cellLast - 1, cellLast}) {
      if (j <= done || j > cellLast) continue;
      done = j;
      const double lo = std::max(static_cast<double>(j), f0);
      const double hi = std::min(static_cast<double>(j + 1), f1);
      const double length = hi - lo;
      const double mid = (lo + hi) / 2 - j;
      for (const auto& [index, weight] :
           {std::pair{j, (1 - mid) * length}, {j + 1, mid * length}}) {
        const int k = std::clamp(index, 0, sourceSize - 1);
        if (k < span.runBegin || k >= span.runEnd) slot(k) += weight;
      }
    }
    auto push = [&](int k) {
      if (slot(k) != 0.0) axis.taps.push_back({k, slot(k)});
    };
    for (int k = span.first; k < span.runBegin && k <= last; ++k) push(k);
    for (int k = span.runEnd; k <= last; ++k) push(k);
    span.tapEnd = static_cast<int>(axis.taps.size());
    if (span.runBegin < span.runEnd) span.last = span.runEnd - 1;
    for (int i = span.tapBegin; i < span.tapEnd; ++i)
      span.last = std::max(span.last, axis.taps[static_cast<size_t>(i)].index);
  }
  return axis;
}

// Per-channel sums of the n interleaved blue, green, red values from v[0] on
// (n a multiple of 3), plain.
template <typename T>
void ChannelSumsScalar(const T* v, size_t n, uint64_t sums[3]) {
  uint64_t b = 0, g = 0, r = 0;
  for (size_t i = 0; i < n; i += 3) {
    b += v[i];
    g += v[i + 1];
    r += v[i + 2];
  }
  sums[0] = b;
  sums[1] = g;
  sums[2] = r;
}

#if defined(__SSE2__) && !defined(PUNCHLET_NO_SIMD)
// Lane masks of one channel in a vector whose first lane is `phase` places
// past a blue value, bytes and 16-bit lanes; `Tail` keeps the last k lanes.
struct Masks {
  alignas(16) uint8_t byte[3][3][16];
  alignas(16) int16_t word[3][3][8];
  alignas(16) uint8_t tail[32];
  Masks() {
    for (int p = 0; p < 3; ++p) {
      for (int c = 0; c < 3; ++c) {
        for (int i = 0; i < 16; ++i) byte[p][c][i] = (i + p) % 3 == c ? 0xFF : 0;
        for (int i = 0; i < 8; ++i) word[p][c][i] = (i + p) % 3 == c ? 1 : 0;
      }
    }
    for (int i = 0; i < 32; ++i) tail[i] = i < 16 ? 0 : 0xFF;
  }
};
const Masks kMasks;

__m128i Load(const void* p) { return _mm_loadu_si128(static_cast<const __m128i*>(p)); }
uint64_t SumLanes64(__m128i v) {
  return static_cast<uint64_t>(_mm_cvtsi128_si64(_mm_add_epi64(v, _mm_unpackhi_epi64(v, v))));
}
uint32_t SumLanes32(__m128i v) {
  v = _mm_add_epi32(v, _mm_unpackhi_epi64(v, v));
  v = _mm_add_epi32(v, _mm_shuffle_epi32(v, 1));
  return static_cast<uint32_t>(_mm_cvtsi128_si32(v));
}

// Bytes: psadbw adds each half of a masked vector. A vector starting 16q
// bytes in begins with channel q mod 3. The last partial vector is read so
// that it ends at the run's end, which the caller guarantees lies at least 16
// bytes into the row; it begins with channel 2 since 16 = 1 mod 3.
void ChannelSums(const uint8_t* v, size_t n, uint64_t sums[3]) {
  const __m128i zero = _mm_setzero_si128();
  __m128i all = zero, b = zero, g = zero;
  auto add = [&](__m128i x, int phase) {
    all = _mm_add_epi64(all, _mm_sad_epu8(x, zero));
    b = _mm_add_epi64(b, _mm_sad_epu8(_mm_and_si128(x, Load(kMasks.byte[phase][0])), zero));
    g = _mm_add_epi64(g, _mm_sad_epu8(_mm_and_si128(x, Load(kMasks.byte[phase][1])), zero));
  };
  size_t i = 0;
  for (int phase = 0; i + 16 <= n; i += 16, phase = phase == 2 ? 0 : phase + 1)
    add(Load(v + i), phase);
  if (i < n) add(_mm_and_si128(Load(v + n - 16), Load(kMasks.tail + (n - i))), 2);
  sums[0] = SumLanes64(b);
  sums[1] = SumLanes64(g);
  sums[2] = SumLanes64(all) - sums[0] - sums[1];
}

// 16-bit lanes: pmaddwd with 0/1 masks, on values shifted into the signed
// range (v - 32768); the shift is added back per value. Sums wrap modulo 2^32,
// which is exact while a channel holds at most 65536 values. A vector starting
// 8q lanes in begins with channel 2q mod 3; the last one, read to end at the
// run's end, with channel 1.
void ChannelSums(const uint16_t* v, size_t n, uint64_t sums[3]) {
  if (n > 3 * size_t{65536}) return ChannelSumsScalar(v, n, sums);
  const __m128i flip = _mm_set1_epi16(static_cast<int16_t>(0x8000));
  __m128i acc[3] = {_mm_setzero_si128(), _mm_setzero_si128(), _mm_setzero_si128()};
  auto add = [&](__m128i x, int phase) {  // x already shifted
    for (int c = 0; c < 3; ++c)
      acc[c] = _mm_add_epi32(acc[c], _mm_madd_epi16(x, Load(kMasks.word[phase][c])));
  };
  size_t i = 0;
  for (int phase = 0; i + 8 <= n; i += 8, phase = phase == 0 ? 2 : phase - 1)
    add(_mm_xor_si128(Load(v + i), flip), phase);
  // Lanes before the tail are zeroed after the shift, so they add nothing.
  if (i < n)
    add(_mm_and_si128(_mm_xor_si128(Load(v + n - 8), flip), Load(kMasks.tail + 2 * (n - i))), 1);
  const uint32_t shift = static_cast<uint32_t>(32768 * (n / 3));
  for (int c = 0; c < 3; ++c) sums[c] = SumLanes32(acc[c]) + shift;
}
#endif

// A target column as the horizontal pass reads it: a run of values summed
// plainly, then always four weighted taps. Missing taps weigh 0 at index 0;
// adding their +0.0 leaves a sum unchanged, and a fixed count keeps the
// loop free of branches that depend on the column.
constexpr int kTaps = 4;
struct Column {
  size_t runBegin = 0, runValues = 0;  // in values, three per pixel
  size_t tap[kTaps] = {};              // value offsets
  double weight[kTaps] = {};
};

std::vector<Column> MakeColumns(const Axis& axis) {
  std::vector<Column> columns(axis.spans.size());
  for (size_t x = 0; x < columns.size(); ++x) {
    const Footprint& span = axis.spans[x];
    Column& column = columns[x];
    column.runBegin = 3 * static_cast<size_t>(span.runBegin);
    column.runValues = 3 * static_cast<size_t>(span.runEnd - span.runBegin);
    if (span.tapEnd - span.tapBegin > kTaps) Fail(__LINE__);
    for (int i = span.tapBegin; i < span.tapEnd; ++i) {
      const Tap& tap = axis.taps[static_cast<size_t>(i)];
      column.tap[i - span.tapBegin] = 3 * static_cast<size_t>(tap.index);
      column.weight[i - span.tapBegin] = tap.weight;
    }
  }
  return columns;
}

// Horizontal pass over one row of interleaved blue, green, red values: three
// weighted sums per target column.
template <typename T>
void ReduceRow(const T* row, const std::vector<Column>& columns, double* out) {
  [[maybe_unused]] constexpr size_t kVector = 16 / sizeof(T);
  for (const Column& column : columns) {
    uint64_t run[3];
#if defined(__SSE2__) && !defined(PUNCHLET_NO_SIMD)
    if (column.runBegin + column.runValues >= kVector)
      ChannelSums(row + column.runBegin, column.runValues, run);
    else
#endif
      ChannelSumsScalar(row + column.runBegin, column.runValues, run);
    // Signed conversions are one instruction; the sums are far below 2^63.
    double sb = static_cast<double>(static_cast<int64_t>(run[0]));
    double sg = static_cast<double>(static_cast<int64_t>(run[1]));
    double sr = static_cast<double>(static_cast<int64_t>(run[2]));
    for (int i = 0; i < kTaps; ++i) {
      const T* p = row + column.tap[i];
      const double w = column.weight[i];
      sb += w * p[0];
      sg += w * p[1];
      sr += w * p[2];
    }
    out[0] = sb;
    out[1] = sg;
    out[2] = sr;
    out += 3;
  }
}

// Consecutive 24-bit rows, found from the first one and the stride.
struct RowSpan {
  const uint8_t* top;
  ptrdiff_t stride;
  const uint8_t* operator[](int y) const { return top + y * stride; }
};

// Adds Count rows byte by byte to 16-bit partial sums. Several rows per pass
// keep the loads and stores of the partial sums few; every row is read in
// order, which is what the memory system streams best.
template <int Count>
void AddRows(const RowSpan& rows, int y, size_t n, uint16_t* partial) {
  size_t i = 0;
#if defined(__SSE2__) && !defined(PUNCHLET_NO_SIMD)
  const __m128i zero = _mm_setzero_si128();
  for (; i + 16 <= n; i += 16) {
    __m128i* acc = reinterpret_cast<__m128i*>(partial + i);
    __m128i lo = _mm_loadu_si128(acc), hi = _mm_loadu_si128(acc + 1);
#pragma GCC unroll 8
    for (int r = 0; r < Count; ++r) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(rows[y + r] + i));
      lo = _mm_add_epi16(lo, _mm_unpacklo_epi8(v, zero));
      hi = _mm_add_epi16(hi, _mm_unpackhi_epi8(v, zero));
    }
    _mm_storeu_si128(acc, lo);
    _mm_storeu_si128(acc + 1, hi);
  }
#endif
  for (; i < n; ++i) {
    unsigned sum = partial[i];
    for (int r = 0; r < Count; ++r) sum += rows[y + r][i];
    partial[i] = static_cast<uint16_t>(sum);
  }
}

// At most this many rows go into one set of 16-bit partial sums.
constexpr int kRowsPer16Bits = 256;  // 256 * 255 fits in 16 bits

// Adds rows [y, y + count) to the column sums.
void SumRows(const RowSpan& rows, int y, int count, size_t n, uint16_t* sums) {
  for (; count >= 8; count -= 8, y += 8) AddRows<8>(rows, y, n, sums);
  if (count >= 4) {
    AddRows<4>(rows, y, n, sums);
    count -= 4;
    y += 4;
  }
  if (count >= 2) {
    AddRows<2>(rows, y, n, sums);
    count -= 2;
    y += 2;
  }
  if (count == 1) AddRows<1>(rows, y, n, sums);
}

// Horizontal results of the rim rows that are still needed, so that a row
// shared by neighbouring footprints is reduced once.
class ReducedRows {
 public:
  void Add(int row, const uint8_t* data, const std::vector<Column>& columns, size_t size) {
    Entry entry{row, {}};
    if (!FSpare.empty()) {
      entry.values = std::move(FSpare.back());
      FSpare.pop_back();
    }
    entry.values.resize(size);
    ReduceRow(data, columns, entry.values.data());
    FEntries.push_back(std::move(entry));
  }

  // Null when the row was not kept.
  const double* Get(int row) const {
    for (const Entry& e : FEntries)
      if (e.row == row) return e.values.data();
    return nullptr;
  }

  // Footprints only move down the picture: rows above `first` are done.
  void Forget(int first) {
    for (size_t i = 0; i < FEntries.size();) {
      if (FEntries[i].row < first) {
        FSpare.push_back(std::move(FEntries[i].values));
        FEntries.erase(FEntries.begin() + static_cast<std::ptrdiff_t>(i));
      } else {
        ++i;
      }
    }
  }

 private:
  struct Entry {
    int row;
    std::vector<double> values;
  };
  std::vector<Entry> FEntries;
  std::vector<std::vector<double>> FSpare;
};

uint8_t ToByte(double value) {
  // Default rounding mode: halves go to the even neighbour. The clamp only
  // matters for degenerate footprints narrower than the hair.
  return static_cast<uint8_t>(std::clamp(std::nearbyint(value), 0.0, 255.0));
}

[[noreturn]] void Fail(int line) {
  throw EAssertionFailed(Format(SAssertionFailed, "bitmaputils.cpp", line));
}

}  // namespace

// Source rows are taken one batch at a time: a run of whole rows of one
// footprint goes into 16-bit column sums, a rim row is reduced horizontally
// and kept until the last footprint that weighs it is done. A target row is
// written as soon as its last weighted source row has arrived. Whole rows of
// one footprint are never weighed by another (the next footprint starts at
// or after the last cell of this one), so one set of run sums suffices.
struct TStretcher::State {
  int hs = 0, ht = 0;
  double area = 0;
  Axis down;
  std::vector<Column> columns;
  size_t sourceValues = 0, targetValues = 0;
  Picture target;

  int nextRow = 0;     // source rows taken so far
  int nextTarget = 0;  // target rows written so far
  int runCursor = 0;   // first target whose run of whole rows may still come
  int runOwner = -1;   // target whose run is being summed, -1 for none
  int batchRows = 0;   // rows in columnSums
  std::vector<uint16_t> columnSums;
  std::vector<double> runSums, batchSums, sums;
  ReducedRows reduced;

  const Footprint& Span(int y) const { return down.spans[static_cast<size_t>(y)]; }
  static bool HasRun(const Footprint& span) { return span.runBegin < span.runEnd; }

  // Whether a target row not yet written weighs source row l at its rim.
  bool IsRim(int l) const {
    for (int y = nextTarget; y < ht && Span(y).first <= l; ++y) {
      for (int i = Span(y).tapBegin; i < Span(y).tapEnd; ++i)
        if (down.taps[static_cast<size_t>(i)].index == l) return true;
    }
    return false;
  }

  void Take(const RowSpan& rows, int count) {
    for (int i = 0; i < count;) {
      const int l = nextRow;
      int taken = 1;
      while (runCursor < ht && (!HasRun(Span(runCursor)) || Span(runCursor).runEnd <= l))
        ++runCursor;
      if (runCursor < ht && Span(runCursor).runBegin <= l) {
        const Footprint& span = Span(runCursor);
        if (runOwner != runCursor) {
          if (runOwner >= 0 || l != span.runBegin) Fail(__LINE__);
          runOwner = runCursor;
          runSums.assign(targetValues, 0.0);
          columnSums.resize(sourceValues);
        }
        taken = std::min({span.runEnd - l, count - i, kRowsPer16Bits - batchRows});
        if (batchRows == 0) std::fill(columnSums.begin(), columnSums.end(), uint16_t{0});
        SumRows(rows, i, taken, sourceValues, columnSums.data());
        batchRows += taken;
        if (batchRows == kRowsPer16Bits || l + taken == span.runEnd) {
          ReduceRow(columnSums.data(), columns, batchSums.data());
          for (size_t k = 0; k < targetValues; ++k) runSums[k] += batchSums[k];
          batchRows = 0;
        }
      }
      for (int j = 0; j < taken; ++j)
        if (IsRim(l + j)) reduced.Add(l + j, rows[i + j], columns, targetValues);
      nextRow += taken;
      i += taken;
      WriteReadyRows();
    }
  }

  void WriteReadyRows() {
    // Locals, as the byte stores below could otherwise alias any member.
    const size_t n = targetValues;
    const double divisor = area;
    for (; nextTarget < ht && Span(nextTarget).last < nextRow; ++nextTarget) {
      const Footprint& span = Span(nextTarget);
      if (HasRun(span)) {
        if (runOwner != nextTarget || batchRows != 0) Fail(__LINE__);
        sums.swap(runSums);
        runOwner = -1;
      } else {
        std::fill(sums.begin(), sums.end(), 0.0);
      }
      double* const sum = sums.data();
      reduced.Forget(span.first);
      for (int i = span.tapBegin; i < span.tapEnd; ++i) {
        const Tap& tap = down.taps[static_cast<size_t>(i)];
        const double* values = reduced.Get(tap.index);
        if (!values) Fail(__LINE__);
        for (size_t k = 0; k < n; ++k) sum[k] += tap.weight * values[k];
      }
      uint8_t* const out = target.ScanLine(nextTarget);
      size_t k = 0;
#if defined(__SSE2__) && !defined(PUNCHLET_NO_SIMD)
      // cvtpd2dq rounds halves to even like nearbyint; the packs clamp.
      const __m128d d = _mm_set1_pd(divisor);
      for (; k + 8 <= n; k += 8) {
        __m128i q[4];
        for (int h = 0; h < 4; ++h)
          q[h] = _mm_cvtpd_epi32(_mm_div_pd(_mm_loadu_pd(sum + k + 2 * h), d));
        const __m128i lo = _mm_unpacklo_epi64(q[0], q[1]), hi = _mm_unpacklo_epi64(q[2], q[3]);
        const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(lo, hi), _mm_setzero_si128());
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out + k), bytes);
      }
#endif
      for (; k < n; ++k) out[k] = ToByte(sum[k] / divisor);
    }
  }
};

TStretcher::TStretcher(TTargetSize targetSize) : FTargetSize(std::move(targetSize)) {}

TStretcher::TStretcher(int width, int height)
    : FTargetSize([width, height](int, int) {
        return std::pair{width, height};
      }) {}

TStretcher::~TStretcher() = default;

void TStretcher::Begin(int width, int height) {
  FState.reset();
  if (width < 1 || height < 1) Fail(__LINE__);
  const auto [wt, ht] = FTargetSize(width, height);
  if (wt == 0 || ht == 0) throw EZeroDivide(SZeroDivide);
  // Negative sizes have no meaning; refuse them like an empty source.
  if (wt < 0 || ht < 0) Fail(__LINE__);

  auto state = std::make_unique<State>();
  State& s = *state;
  s.hs = height;
  s.ht = ht;
  s.area = static_cast<double>(int64_t{width} * height) / wt / ht;
  const double sx = static_cast<double>(width) / wt;
  const double sy = static_cast<double>(height) / ht;
  s.target.Create(wt, ht, 24);
  s.columns = MakeColumns(MakeAxis(width, wt, sx));
  s.down = MakeAxis(height, ht, sy);
  s.sourceValues = 3 * static_cast<size_t>(width);
  s.targetValues = 3 * static_cast<size_t>(wt);
  s.batchSums.resize(s.targetValues);
  s.sums.resize(s.targetValues);
  s.WriteReadyRows();  // footprints too thin to weigh any row
  FState = std::move(state);
}

void TStretcher::Rows(int first, int count, const uint8_t* data, ptrdiff_t stride) {
  State* s = FState.get();
  if (!s || first != s->nextRow || count < 0 || count > s->hs - first || (count > 0 && !data)) {
    FState.reset();
    Fail(__LINE__);
  }
  try {
    s->Take(RowSpan{data, stride}, count);
  } catch (...) {
    FState.reset();  // half-taken rows leave nothing to continue from
    throw;
  }
}

Picture TStretcher::Finish() {
  if (!FState || FState->nextRow != FState->hs || FState->nextTarget != FState->ht) {
    FState.reset();
    Fail(__LINE__);
  }
  Picture target = std::move(FState->target);
  FState.reset();
  return target;
}

Picture Stretch(const Picture& source, int width, int height) {
  TStretcher stretcher(width, height);
  const int ws = source.Width(), hs = source.Height();
  stretcher.Begin(ws, hs);
  if (source.BitCount() == 24) {
    stretcher.Rows(0, hs, source.ScanLine(0), source.Stride());
    return stretcher.Finish();
  }
  // Other depths are converted a few rows at a time.
  const size_t rowBytes = 3 * static_cast<size_t>(ws);
  const int chunk = static_cast<int>(std::clamp<size_t>((size_t{256} << 10) / rowBytes, 1, 16));
  std::vector<uint8_t> buffer(rowBytes * static_cast<size_t>(std::min(chunk, hs)));
  for (int y = 0; y < hs; y += chunk) {
    const int count = std::min(chunk, hs - y);
    for (int r = 0; r < count; ++r) {
      uint8_t* row = buffer.data() + r * rowBytes;
      for (int x = 0; x < ws; ++x) {
        const Rgb c = source.Pixel(x, y + r);
        row[3 * x] = c.b;
        row[3 * x + 1] = c.g;
        row[3 * x + 2] = c.r;
      }
    }
    stretcher.Rows(y, count, buffer.data(), static_cast<ptrdiff_t>(rowBytes));
  }
  return stretcher.Finish();
}
