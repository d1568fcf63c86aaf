// BMP reader: Windows and OS/2 bitmaps of 1, 4, 8, 16, 24 and 32 bits,
// uncompressed, with bit fields, or run-length coded (RLE8, RLE4).
//
// Every size taken from the file is checked against the bytes present and
// against fixed limits before anything is allocated, and all size arithmetic is
// done in 64 bits, so a hostile header gives a clear error instead of a crash
// or an out-of-memory kill.
#include "imaging/bmpreader.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <limits>

#include "platform/errors.h"
#include "platform/fileio.h"

namespace {

// Random access to the file's bytes. A file is read piece by piece, so a huge
// file never has to fit in memory.
class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual uint64_t Size() const = 0;
  // Copies up to count bytes from offset; returns how many there were.
  virtual size_t ReadAt(uint64_t offset, uint8_t* buffer, size_t count) = 0;
};

class MemorySource final : public ByteSource {
 public:
  MemorySource(const uint8_t* data, size_t size) : FData(data), FSize(size) {}
  uint64_t Size() const override { return FSize; }
  size_t ReadAt(uint64_t offset, uint8_t* buffer, size_t count) override {
    if (offset >= FSize) return 0;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(count, FSize - offset));
    std::memcpy(buffer, FData + offset, n);
    return n;
  }

 private:
  const uint8_t* FData;
  size_t FSize;
};

class FileSource final : public ByteSource {
 public:
  FileSource(int fd, uint64_t size) : FFd(fd), FSize(size) {}
  uint64_t Size() const override { return FSize; }
  size_t ReadAt(uint64_t offset, uint8_t* buffer, size_t count) override {
    size_t done = 0;
    while (done < count) {
      const ssize_t n = pread(FFd, buffer + done, count - done, static_cast<off_t>(offset + done));
      if (n < 0) {
        if (errno == EINTR) continue;
        throw EReadError(SReadError, std::string(), SystemReason(errno));
      }
      if (n == 0) break;  // the file got shorter while we read it
      done += static_cast<size_t>(n);
    }
    return done;
  }

 private:
  int FFd;
  uint64_t FSize;
};

// Sequential reading of run-length coded data through a small buffer.
class RleInput {
 public:
  RleInput(ByteSource& source, uint64_t start, uint64_t length)
      : FSource(source), FPos(start), FEnd(start + length) {}

  // The next byte, or -1 at the end of the data.
  int Get() {
    if (FNext == FCount) {
      const uint64_t want = std::min<uint64_t>(sizeof FBuffer, FEnd - FPos);
      if (want == 0) return -1;
      FCount = FSource.ReadAt(FPos, FBuffer, static_cast<size_t>(want));
      FNext = 0;
      FPos += want;
      if (FCount == 0) {
        FPos = FEnd;
        return -1;
      }
    }
    return FBuffer[FNext++];
  }

 private:
  ByteSource& FSource;
  uint64_t FPos;
  uint64_t FEnd;
  uint8_t FBuffer[65536];
  size_t FNext = 0;
  size_t FCount = 0;
};

uint16_t U16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t U32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
int32_t I32(const uint8_t* p) { return static_cast<int32_t>(U32(p)); }

enum : uint32_t { BI_RGB = 0, BI_RLE8 = 1, BI_RLE4 = 2, BI_BITFIELDS = 3 };

constexpr uint32_t kCoreHeaderSize = 12;
constexpr uint32_t kInfoHeaderSize = 40;
// Headers of this size and more (V2 and later) hold the three colour masks.
constexpr uint32_t kMaskHeaderSize = 52;
// More colour table entries than any depth can address are harmless, but only
// this many are kept, so a huge table costs no memory.
constexpr uint64_t kMaxKeptColours = 65536;
// A picture may decode to at most 256 bytes per byte of file plus 16 MiB. Even
// an uncompressed or run-length coded file within Picture::MaxPixels cannot
// then make a tiny file claim a gigabyte of pixels; real run-length files stay
// far below that ratio unless almost all of the picture is skipped.
constexpr uint64_t kExpansionPerByte = 256;
constexpr uint64_t kExpansionSlack = uint64_t{16} << 20;

struct BmpHeader {
  bool core = false;
  int64_t width = 0;
  int64_t height = 0;  // negative: rows top-down
  uint16_t planes = 0;
  uint16_t bitCount = 0;
  uint32_t compression = BI_RGB;
  uint32_t sizeImage = 0;
  uint32_t clrUsed = 0;
  BitFields masks;
};

// A failure of the file's content: the reader's message, and why.
[[noreturn]] void Invalid(const std::string& reason) {
  throw EInvalidGraphic(SInvalidBitmap, std::string(), reason);
}
[[noreturn]] void CutShort(const char* part) {
  throw EReadError(SReadError, std::string(), Format("the file ends inside its %s", part));
}

void ReadExactly(ByteSource& source, uint64_t offset, uint8_t* buffer, size_t count,
                 const char* part) {
  if (source.ReadAt(offset, buffer, count) != count) CutShort(part);
}

// Bit fields exist for 16 and 32 bits only; each run-length coding belongs to
// one depth.
bool ValidLayout(unsigned bitCount, uint32_t compression) {
  switch (compression) {
    case BI_RGB:
      return bitCount == 1 || bitCount == 4 || bitCount == 8 || bitCount == 16 || bitCount == 24 ||
             bitCount == 32;
    case BI_BITFIELDS:
      return bitCount == 16 || bitCount == 32;
    case BI_RLE8:
      return bitCount == 8;
    case BI_RLE4:
      return bitCount == 4;
    default:
      return false;
  }
}

// Copies the rows of an uncompressed picture. Data shorter than the picture
// leaves the remaining rows (the top ones, for a bottom-up file) zero.
void ReadRows(ByteSource& source, uint64_t start, uint64_t length, bool topDown, Picture& picture) {
  const uint64_t stride = static_cast<uint64_t>(picture.Stride());
  const uint64_t height = static_cast<uint64_t>(picture.Height());
  const uint64_t wanted = std::min(length, stride * height);
  uint8_t* bits = picture.Bits();
  for (uint64_t i = 0; i * stride < wanted; ++i) {
    const uint64_t y = topDown ? i : height - 1 - i;
    uint8_t* row = bits + y * stride;
    const size_t count = static_cast<size_t>(std::min(stride, wanted - i * stride));
    const size_t got = source.ReadAt(start + i * stride, row, count);
    std::memset(row + got, 0, stride - got);
  }
}

// Decodes RLE8 or RLE4 data into a zeroed, bottom-up picture. Runs that reach
// past the end of a row or past the top of the picture are clipped.
void DecodeRle(ByteSource& source, uint64_t start, uint64_t length, bool rle4, Picture& picture) {
  RleInput in(source, start, length);
  const int64_t width = picture.Width();
  const int64_t height = picture.Height();
  const size_t stride = static_cast<size_t>(picture.Stride());
  uint8_t* bits = picture.Bits();
  int64_t x = 0;
  int64_t y = 0;  // counted from the bottom row
  uint8_t* row = bits + static_cast<size_t>(height - 1) * stride;
  auto put = [&](unsigned value) {
    if (x < width) {
      if (!rle4) {
        row[x] = static_cast<uint8_t>(value);
      } else {
        uint8_t& byte = row[x >> 1];
        byte = (x & 1) ? static_cast<uint8_t>((byte & 0xF0) | value)
                       : static_cast<uint8_t>((byte & 0x0F) | (value << 4));
      }
    }
    ++x;
  };
  auto moveTo = [&](int64_t newY) {
    y = newY;
    if (y < height) row = bits + static_cast<size_t>(height - 1 - y) * stride;
  };

  while (y < height) {
    const int count = in.Get();
    const int code = in.Get();
    if (code < 0) return;
    if (count > 0) {
      // Encoded run: one index, or for RLE4 two alternating ones.
      const int64_t n = std::min<int64_t>(count, std::max<int64_t>(width - x, 0));
      for (int64_t i = 0; i < n; ++i) put(rle4 ? ((i & 1) ? code & 15 : code >> 4) : code);
      x += count - n;
      continue;
    }
    switch (code) {
      case 0:  // end of line
        x = 0;
        moveTo(y + 1);
        break;
      case 1:  // end of bitmap
        return;
      case 2: {  // delta
        const int dx = in.Get();
        const int dy = in.Get();
        if (dy < 0) return;
        x = std::min<int64_t>(x + dx, width);
        moveTo(y + dy);
        break;
      }
      default: {  // absolute run of `code` pixels, padded to a 16-bit boundary
        const int bytes = rle4 ? (code + 1) / 2 : code;
        for (int i = 0; i < bytes; ++i) {
          const int value = in.Get();
          if (value < 0) return;
          if (!rle4) {
            put(static_cast<unsigned>(value));
          } else {
            put(static_cast<unsigned>(value >> 4));
            if (2 * i + 1 < code) put(static_cast<unsigned>(value & 15));
          }
        }
        if (bytes & 1) in.Get();
        break;
      }
    }
  }
}

Picture ReadBmp(ByteSource& source) {
  const uint64_t fileSize = source.Size();
  Picture picture;
  if (fileSize == 0) return picture;

  uint8_t fileHeader[14];
  ReadExactly(source, 0, fileHeader, sizeof fileHeader, "file header");
  if (fileHeader[0] != 'B' || fileHeader[1] != 'M') Invalid("no \"BM\" at the start");
  const uint32_t offBits = U32(fileHeader + 10);

  uint8_t sizeField[4];
  ReadExactly(source, 14, sizeField, sizeof sizeField, "information header");
  const uint32_t infoSize = U32(sizeField);
  BmpHeader header;
  uint8_t info[kMaskHeaderSize] = {};
  if (infoSize == kCoreHeaderSize) {
    ReadExactly(source, 14, info, kCoreHeaderSize, "information header");
    header.core = true;
    header.width = U16(info + 4);
    header.height = U16(info + 6);
    header.planes = U16(info + 8);
    header.bitCount = U16(info + 10);
  } else {
    if (infoSize < kInfoHeaderSize || fileSize - 14 < infoSize)
      throw EReadError(
          SReadError, std::string(),
          Format("an information header of %u bytes", static_cast<unsigned>(infoSize)));
    ReadExactly(source, 14, info, std::min(infoSize, kMaskHeaderSize), "information header");
    header.width = I32(info + 4);
    header.height = I32(info + 8);
    header.planes = U16(info + 12);
    header.bitCount = U16(info + 14);
    header.compression = U32(info + 16);
    header.sizeImage = U32(info + 20);
    header.clrUsed = U32(info + 32);
  }
  uint64_t pos = 14 + uint64_t{infoSize};

  if (header.planes != 1) Invalid(Format("%u planes", static_cast<unsigned>(header.planes)));
  if (!ValidLayout(header.bitCount, header.compression))
    Invalid(Format("%u bits per pixel with compression %u", static_cast<unsigned>(header.bitCount),
                   static_cast<unsigned>(header.compression)));

  if (header.compression == BI_BITFIELDS) {
    const uint8_t* m = info + kInfoHeaderSize;
    uint8_t following[12];
    if (infoSize < kMaskHeaderSize) {
      ReadExactly(source, pos, following, sizeof following, "colour masks");
      pos += sizeof following;
      m = following;
    }
    header.masks = {U32(m), U32(m + 4), U32(m + 8)};
  }

  // Colour table.
  const uint64_t colours = header.clrUsed != 0    ? header.clrUsed
                           : header.bitCount <= 8 ? uint64_t{1} << header.bitCount
                                                  : 0;
  const uint64_t entrySize = header.core ? 3 : 4;
  if (colours * entrySize > fileSize - pos) CutShort("colour table");
  std::vector<Rgb> palette;
  if (colours > 0) {
    const uint64_t kept = std::min(colours, kMaxKeptColours);
    std::vector<uint8_t> table(static_cast<size_t>(kept * entrySize));
    ReadExactly(source, pos, table.data(), table.size(), "colour table");
    palette.resize(static_cast<size_t>(kept));
    for (size_t i = 0; i < palette.size(); ++i) {
      const uint8_t* e = table.data() + i * entrySize;
      palette[i] = {e[2], e[1], e[0]};
    }
  }
  const uint64_t tableEnd = pos + colours * entrySize;

  // Pixel data: where the file header says, if that lies inside the file and
  // after the colour table (files with a gap or an embedded colour profile);
  // otherwise right after the table.
  const uint64_t dataStart = offBits >= tableEnd && offBits < fileSize ? offBits : tableEnd;
  const uint64_t bytesLeft = fileSize - dataStart;

  // Size: positive after the sign of the height is taken as the row order, at
  // most Picture::MaxPixels, and at most what the file's size can account for.
  // Run-length pictures are always stored bottom-up.
  const bool topDown = header.height < 0;
  const int64_t width = header.width;
  const int64_t height = topDown ? -header.height : header.height;
  const bool rle = header.compression == BI_RLE8 || header.compression == BI_RLE4;
  if (width <= 0 || height <= 0 || (rle && topDown))
    Invalid(Format("a size of %lld x %lld", static_cast<long long>(header.width),
                   static_cast<long long>(header.height)));
  if (width * height > Picture::MaxPixels)  // both below 2^32: no overflow
    Invalid(Format(SPictureTooLarge, static_cast<int>(width),
                   static_cast<int>(std::min<int64_t>(height, std::numeric_limits<int>::max()))));
  const uint64_t stride =
      static_cast<uint64_t>(Picture::StrideFor(static_cast<int>(width), header.bitCount));
  const uint64_t decodedSize = stride * static_cast<uint64_t>(height);
  const uint64_t fileBound = std::min<uint64_t>(fileSize, uint64_t{1} << 40);
  if (decodedSize > kExpansionPerByte * fileBound + kExpansionSlack)
    Invalid(Format("%d x %d pixels from %llu bytes", static_cast<int>(width),
                   static_cast<int>(height), static_cast<unsigned long long>(fileSize)));

  if (rle) {
    // Run-length data ends with its own end-of-bitmap code; without an image
    // size the rest of the file is taken.
    const uint64_t length =
        header.sizeImage != 0 ? std::min<uint64_t>(header.sizeImage, bytesLeft) : bytesLeft;
    picture.CreateDecoded(static_cast<int>(width), static_cast<int>(height), header.bitCount, true);
    DecodeRle(source, dataStart, length, header.compression == BI_RLE4, picture);
  } else {
    const uint64_t length =
        std::min<uint64_t>(header.sizeImage != 0 ? header.sizeImage : decodedSize, bytesLeft);
    // Rows the file lacks stay zero.
    picture.CreateDecoded(static_cast<int>(width), static_cast<int>(height), header.bitCount,
                          length < decodedSize);
    ReadRows(source, dataStart, length, topDown, picture);
  }
  if (!palette.empty()) picture.SetPalette(std::move(palette));
  if (header.compression == BI_BITFIELDS) picture.SetMasks(header.masks);
  return picture;
}

}  // namespace

Picture ReadBmpMemory(const uint8_t* data, size_t size) {
  MemorySource source(data, size);
  return ReadBmp(source);
}

Picture ReadBmpFile(const std::string& path) {
  TFileHandle file;
  struct stat info {};
  if (const int error = OpenRegularFile(path, file, &info))
    throw EFOpenError(FileMessage(SFOpenError, path), path, SystemReason(error));
  FileSource source(file.Get(), static_cast<uint64_t>(info.st_size));
  try {
    return ReadBmp(source);
  } catch (Exception& e) {
    e.SetFileName(path);
    throw;
  }
}
