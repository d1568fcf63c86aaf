#include "imaging/picture.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <mutex>
#include <new>

#include "imaging/bmpreader.h"
#include "imaging/memorybudget.h"
#include "platform/errors.h"

namespace {
// Keeps the last large pixel block that was freed, for the next picture of a
// similar size. A batch decodes one photo after another; fresh pages for each
// would cost the kernel a large part of a decode just to hand them out zeroed.
class BlockCache {
 public:
  static constexpr size_t MinSize = size_t{4} << 20;

  std::unique_ptr<uint8_t[]> Take(size_t size, size_t& capacity) {
    std::lock_guard<std::mutex> lock(FMutex);
    // A block far larger than asked for would keep memory tied up for nothing.
    if (FBlock && FCapacity >= size && FCapacity / 2 <= size) {
      capacity = FCapacity;
      FCapacity = 0;
      return std::move(FBlock);
    }
    FBlock.reset();  // too small or too big: never hold it beside a new one
    FCapacity = 0;
    return nullptr;
  }

  void Give(std::unique_ptr<uint8_t[]> block, size_t capacity) {
    if (capacity < MinSize) return;
    std::lock_guard<std::mutex> lock(FMutex);
    if (capacity >= FCapacity) {
      FBlock = std::move(block);
      FCapacity = capacity;
    }
  }

 private:
  std::mutex FMutex;
  std::unique_ptr<uint8_t[]> FBlock;
  size_t FCapacity = 0;
};

BlockCache& Blocks() {
  // Never destroyed: a picture held by a static object may be freed after
  // static destruction has begun, and must still find the cache alive.
  static BlockCache* const cache = new BlockCache;
  return *cache;
}
}  // namespace

struct Picture::Storage {
  Storage(size_t size, bool zero, TMemoryBudget* budget = nullptr) : size(size), budget(budget) {
    if (budget != nullptr) budget->Reserve(size);
    if (size >= BlockCache::MinSize) bytes = Blocks().Take(size, capacity);
    if (bytes) {
      if (zero) std::memset(bytes.get(), 0, size);
    } else {
      try {
        bytes = zero ? std::make_unique<uint8_t[]>(size)
                     : std::make_unique_for_overwrite<uint8_t[]>(size);
      } catch (...) {
        if (budget != nullptr) budget->Release(size);
        throw;
      }
      capacity = size;
    }
  }
  ~Storage() {
    Blocks().Give(std::move(bytes), capacity);
    if (budget != nullptr) budget->Release(size);
  }
  Storage(const Storage&) = delete;
  Storage& operator=(const Storage&) = delete;

  std::unique_ptr<uint8_t[]> bytes;
  size_t size;
  size_t capacity = 0;
  TMemoryBudget* budget = nullptr;
};

static bool ValidBitCount(int bits) {
  return bits == 1 || bits == 4 || bits == 8 || bits == 16 || bits == 24 || bits == 32;
}

int Picture::StrideFor(int width, int bitCount) {
  return static_cast<int>(((static_cast<int64_t>(width) * bitCount + 31) / 32) * 4);
}

void CheckPictureSize(int64_t width, int64_t height) {
  // Each side is bounded first so the product cannot overflow.
  if (width < 0 || height < 0 || width > Picture::MaxPixels || height > Picture::MaxPixels ||
      width * height > Picture::MaxPixels)
    throw EInvalidGraphic(
        Format(SPictureTooLarge, static_cast<int>(width), static_cast<int>(height)));
}

void Picture::Allocate(int width, int height, int bitCount, bool zero, bool budgeted) {
  if (!ValidBitCount(bitCount)) throw EInvalidGraphic(SInvalidBitmap);
  CheckPictureSize(width, height);
  const size_t size = static_cast<size_t>(StrideFor(width, bitCount)) * static_cast<size_t>(height);
  std::shared_ptr<Storage> storage;
  if (size > 0) {
    try {
      storage =
          std::make_shared<Storage>(size, zero, budgeted ? TMemoryBudget::Current() : nullptr);
    } catch (const std::bad_alloc&) {
      throw EOutOfMemory(SOutOfMemory);
    }
  }
  FStorage = std::move(storage);
  FPixels = FStorage ? FStorage->bytes.get() : nullptr;
  FWidth = width;
  FHeight = height;
  FBitCount = bitCount;
}

void Picture::Create(int width, int height, int bitCount) {
  Allocate(width, height, bitCount, true);
}

void Picture::CreateUninitialised(int width, int height, int bitCount) {
  Allocate(width, height, bitCount, false);
}

void Picture::CreateDecoded(int width, int height, int bitCount, bool zeroed) {
  Allocate(width, height, bitCount, zeroed, true);
}

void Picture::Detach() {
  if (FStorage && FStorage.use_count() > 1) {
    std::shared_ptr<Storage> copy;
    try {
      copy = std::make_shared<Storage>(FStorage->size, false);
    } catch (const std::bad_alloc&) {
      throw EOutOfMemory(SOutOfMemory);
    }
    std::memcpy(copy->bytes.get(), FStorage->bytes.get(), FStorage->size);
    FStorage = std::move(copy);
    FPixels = FStorage->bytes.get();
  }
}

uint8_t* Picture::ScanLine(int y) {
  Detach();
  return FPixels + static_cast<size_t>(y) * Stride();
}

uint8_t* Picture::Bits() {
  Detach();
  return FPixels;
}

void Picture::SetSize(int width, int height) {
  if (width == FWidth && height == FHeight) return;
  const Picture old = *this;
  Allocate(width, height, FBitCount, true);
  const int rows = std::min(height, old.FHeight);
  // Only the bits of pixels that remain are copied: the padding at the end of
  // an old row must not turn into pixels when the picture grows.
  const int64_t bits = static_cast<int64_t>(std::min(width, old.FWidth)) * FBitCount;
  const size_t whole = static_cast<size_t>(bits / 8);
  const int partial = static_cast<int>(bits % 8);
  if (whole == 0 && partial == 0) return;
  for (int y = 0; y < rows; ++y) {
    uint8_t* row = FPixels + static_cast<size_t>(y) * Stride();
    const uint8_t* source = old.ScanLine(y);
    std::memcpy(row, source, whole);
    if (partial) row[whole] = static_cast<uint8_t>(source[whole] & (0xFF00 >> partial));
  }
}

static uint8_t Expand(uint32_t value, uint32_t mask) {
  if (mask == 0) return 0;
  int shift = 0;
  while (((mask >> shift) & 1) == 0) ++shift;
  const uint64_t max = mask >> shift;
  const uint64_t v = (value & mask) >> shift;
  return static_cast<uint8_t>((v * 255 + max / 2) / max);
}

Rgb Picture::Pixel(int x, int y) const {
  const uint8_t* row = ScanLine(y);
  auto fromPalette = [this](unsigned index) {
    return index < FPalette.size() ? FPalette[index] : Rgb{};
  };
  switch (FBitCount) {
    case 1:
      return fromPalette((row[x >> 3] >> (7 - (x & 7))) & 1);
    case 4:
      return fromPalette((row[x >> 1] >> ((x & 1) ? 0 : 4)) & 15);
    case 8:
      return fromPalette(row[x]);
    case 16: {
      const uint32_t v = row[2 * x] | (row[2 * x + 1] << 8);
      const BitFields m =
          FMasks.red | FMasks.green | FMasks.blue ? FMasks : BitFields{0x7C00, 0x03E0, 0x001F};
      return {Expand(v, m.red), Expand(v, m.green), Expand(v, m.blue)};
    }
    case 24:
      return {row[3 * x + 2], row[3 * x + 1], row[3 * x]};
    default: {
      const uint8_t* p = row + 4 * x;
      const uint32_t v = p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
      const BitFields m = FMasks.red | FMasks.green | FMasks.blue
                              ? FMasks
                              : BitFields{0xFF0000, 0x00FF00, 0x0000FF};
      return {Expand(v, m.red), Expand(v, m.green), Expand(v, m.blue)};
    }
  }
}

void Picture::SetPixel(int x, int y, Rgb colour) {
  if (FBitCount != 24) throw EInvalidGraphicOperation("SetPixel needs a 24-bit picture");
  uint8_t* p = ScanLine(y) + 3 * x;
  p[0] = colour.b;
  p[1] = colour.g;
  p[2] = colour.r;
}

void Picture::ConvertTo24() {
  if (FBitCount == 24) return;
  Picture old = *this;
  Allocate(FWidth, FHeight, 24, false);
  // Indexed depths read a full table (a missing entry is black) instead of
  // going through Pixel, which would decide the depth again for every pixel.
  const int depth = old.FBitCount;
  std::array<Rgb, 256> table{};
  if (depth <= 8)
    std::copy_n(old.FPalette.begin(), std::min<size_t>(old.FPalette.size(), table.size()),
                table.begin());
  const auto index = [depth](const uint8_t* from, int x) -> unsigned {
    if (depth == 1) return (from[x >> 3] >> (7 - (x & 7))) & 1;
    if (depth == 4) return (from[x >> 1] >> ((x & 1) ? 0 : 4)) & 15;
    return from[x];
  };
  for (int y = 0; y < FHeight; ++y) {
    uint8_t* row = FPixels + static_cast<size_t>(y) * Stride();
    const uint8_t* from = old.ScanLine(y);
    for (int x = 0; x < FWidth; ++x) {
      const Rgb c = depth <= 8 ? table[index(from, x)] : old.Pixel(x, y);
      row[3 * x] = c.b;
      row[3 * x + 1] = c.g;
      row[3 * x + 2] = c.r;
    }
    if (row) std::memset(row + 3 * FWidth, 0, static_cast<size_t>(Stride() - 3 * FWidth));
  }
  FPalette.clear();
  FMasks = {};
}

Rgb Picture::TransparentColor() const {
  if (FTransparentFixed || Empty()) return FTransparentColor;
  return Pixel(0, FHeight - 1);
}

void Picture::TakeImage(Picture&& image) {
  // The key colour belongs to this object, not to the image it holds.
  image.FTransparentColor = FTransparentColor;
  image.FTransparentFixed = FTransparentFixed;
  *this = std::move(image);
}

void Picture::LoadFromFile(const std::string& path) { TakeImage(ReadBmpFile(path)); }

void Picture::LoadFromMemory(const uint8_t* data, size_t size) {
  TakeImage(ReadBmpMemory(data, size));
}

void Picture::Assign(TGraphic& graphic) {
  *this = graphic.Bitmap();  // shares the pixels: no copy
}
