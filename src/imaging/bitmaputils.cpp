#include "imaging/bitmaputils.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <vector>

#ifdef __SSE2__
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

struct Tap {
  int index;
  double weight;
};

// The source indices one target index reads on one axis.
struct Footprint {
  int first = 0;                 // lowest index that may carry weight
  int runBegin = 0, runEnd = 0;  // [runBegin, runEnd): indices of weight 1
  int tapBegin = 0, tapEnd = 0;  // the other weighted indices, in Axis::taps
};

struct Axis {
  std::vector<Footprint> spans;
  std::vector<Tap> taps;
};

Axis MakeAxis(int sourceSize, int targetSize, double scale) {
  Axis axis;
  axis.spans.resize(static_cast<size_t>(targetSize));
  for (int t = 0; t < targetSize; ++t) {
    // The upper bound falls a hair short of the next footprint, as the filter
    // has always done; results depend on it.
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
  }
  return axis;
}

// Horizontal pass over one row of interleaved blue, green, red values: three
// weighted sums per target column.
template <typename T>
void ReduceRow(const T* row, const Axis& axis, double* out) {
  for (const Footprint& span : axis.spans) {
    uint64_t b = 0, g = 0, r = 0;
    for (int k = span.runBegin; k < span.runEnd; ++k) {
      const T* p = row + 3 * static_cast<size_t>(k);
      b += p[0];
      g += p[1];
      r += p[2];
    }
    double sb = static_cast<double>(b), sg = static_cast<double>(g), sr = static_cast<double>(r);
    for (int i = span.tapBegin; i < span.tapEnd; ++i) {
      const Tap& tap = axis.taps[static_cast<size_t>(i)];
      const T* p = row + 3 * static_cast<size_t>(tap.index);
      sb += tap.weight * p[0];
      sg += tap.weight * p[1];
      sr += tap.weight * p[2];
    }
    out[0] = sb;
    out[1] = sg;
    out[2] = sr;
    out += 3;
  }
}

// The rows of a 24-bit picture, found from the first row and the stride.
struct Rows {
  const uint8_t* top;
  ptrdiff_t stride;
  const uint8_t* operator[](int y) const { return top + y * stride; }
};

// Adds Count rows byte by byte to 16-bit partial sums. Several rows per pass
// keep the loads and stores of the partial sums few; every row is read in
// order, which is what the memory system streams best.
template <int Count>
void AddRows(const Rows& rows, int y, size_t n, uint16_t* partial) {
  size_t i = 0;
#ifdef __SSE2__
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

// Column sums of rows [y, y + count), at most kRowsPer16Bits of them.
constexpr int kRowsPer16Bits = 256;  // 256 * 255 fits in 16 bits

void SumRows(const Rows& rows, int y, int count, size_t n, uint16_t* sums) {
  std::fill(sums, sums + n, uint16_t{0});
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

// Horizontal results of the source rows that are still needed, so that a rim
// row shared by neighbouring footprints is reduced once.
class ReducedRows {
 public:
  ReducedRows(const Rows& rows, const Axis& axis, size_t size)
      : FRows(rows), FAxis(axis), FSize(size) {}

  const double* Get(int row) {
    for (Entry& e : FEntries)
      if (e.row == row) return e.values.data();
    Entry entry{row, {}};
    if (!FSpare.empty()) {
      entry.values = std::move(FSpare.back());
      FSpare.pop_back();
    }
    entry.values.resize(FSize);
    ReduceRow(FRows[row], FAxis, entry.values.data());
    FEntries.push_back(std::move(entry));
    return FEntries.back().values.data();
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
  Rows FRows;
  const Axis& FAxis;
  size_t FSize;
  std::vector<Entry> FEntries;
  std::vector<std::vector<double>> FSpare;
};

uint8_t ToByte(double value) {
  // Default rounding mode: halves go to the even neighbour. The clamp only
  // matters for degenerate footprints narrower than the hair.
  return static_cast<uint8_t>(std::clamp(std::nearbyint(value), 0.0, 255.0));
}

}  // namespace

Picture Stretch(const Picture& source, int width, int height) {
  const int ws = source.Width();
  const int hs = source.Height();
  if (ws < 1 || hs < 1)
    throw EAssertionFailed(Format(SAssertionFailed, "bitmaputils.cpp", __LINE__));
  if (width == 0 || height == 0) throw EZeroDivide(SZeroDivide);
  // Negative sizes have no meaning; refuse them like an empty source.
  if (width < 0 || height < 0)
    throw EAssertionFailed(Format(SAssertionFailed, "bitmaputils.cpp", __LINE__));
  const double area = static_cast<double>(int64_t{ws} * hs) / width / height;
  const double sx = static_cast<double>(ws) / width;
  const double sy = static_cast<double>(hs) / height;

  Picture target;
  target.Create(width, height, 24);

  // A 24-bit source is read in place; other depths through a converted copy.
  Picture converted;
  const Picture* work = &source;
  if (source.BitCount() != 24) {
    converted = source;
    converted.ConvertTo24();
    work = &converted;
  }
  const Rows rows{work->ScanLine(0), work->Stride()};

  const Axis across = MakeAxis(ws, width, sx);
  const Axis down = MakeAxis(hs, height, sy);
  const size_t sourceValues = 3 * static_cast<size_t>(ws);
  const size_t targetValues = 3 * static_cast<size_t>(width);
  std::vector<uint16_t> columnSums;  // made when a footprint holds whole rows
  std::vector<double> sums(targetValues), batchSums(targetValues);
  ReducedRows reduced(rows, across, targetValues);

  for (int y = 0; y < height; ++y) {
    const Footprint& span = down.spans[static_cast<size_t>(y)];
    std::fill(sums.begin(), sums.end(), 0.0);
    for (int batch = span.runBegin; batch < span.runEnd; batch += kRowsPer16Bits) {
      const int count = std::min(span.runEnd - batch, kRowsPer16Bits);
      columnSums.resize(sourceValues);
      SumRows(rows, batch, count, sourceValues, columnSums.data());
      ReduceRow(columnSums.data(), across, batchSums.data());
      for (size_t k = 0; k < targetValues; ++k) sums[k] += batchSums[k];
    }
    reduced.Forget(span.first);
    for (int i = span.tapBegin; i < span.tapEnd; ++i) {
      const Tap& tap = down.taps[static_cast<size_t>(i)];
      const double* values = reduced.Get(tap.index);
      for (size_t k = 0; k < targetValues; ++k) sums[k] += tap.weight * values[k];
    }
    uint8_t* out = target.ScanLine(y);
    for (size_t k = 0; k < targetValues; ++k) out[k] = ToByte(sums[k] / area);
  }
  return target;
}
