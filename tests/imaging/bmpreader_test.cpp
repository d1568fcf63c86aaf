#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>
#include <utility>

#include "imaging/picture.h"
#include "platform/errors.h"
#include "support/files.h"
#include "support/report.h"
#include "support/tempfolder.h"

namespace {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& b, uint32_t v) {
  b.push_back(v & 0xFF);
  b.push_back((v >> 8) & 0xFF);
}
void Put32(Bytes& b, uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}

// A BMP file put together field by field, so each test can break one thing.
struct Bmp {
  uint32_t headerSize = 40;
  int32_t width = 1, height = 1;
  uint16_t planes = 1, bits = 24;
  uint32_t compression = 0, sizeImage = 0, clrUsed = 0;
  std::vector<uint32_t> masks;  // after a 40-byte header, inside a bigger one
  std::vector<Rgb> palette;     // 3-byte entries with a 12-byte header
  uint32_t gap = 0;             // unused bytes before the pixels, skipped via the data offset
  Bytes data;                   // pixel data exactly as stored

  Bytes Build() const {
    Bytes info;
    if (headerSize == 12) {
      Put32(info, 12);
      for (uint32_t v : {uint32_t(width), uint32_t(height), uint32_t{planes}, uint32_t{bits}})
        Put16(info, v);
    } else {
      for (uint32_t v : {headerSize, uint32_t(width), uint32_t(height)}) Put32(info, v);
      Put16(info, planes);
      Put16(info, bits);
      for (uint32_t v : {compression, sizeImage, 2835u, 2835u, clrUsed, 0u}) Put32(info, v);
      if (headerSize > 40)
        for (uint32_t m : masks) Put32(info, m);
      info.resize(headerSize);
      if (headerSize == 40)
        for (uint32_t m : masks) Put32(info, m);
    }
    for (const Rgb& c : palette) {
      info.insert(info.end(), {c.b, c.g, c.r});
      if (headerSize != 12) info.push_back(0);
    }
    info.insert(info.end(), gap, 0xEE);
    Bytes file{'B', 'M'};
    Put32(file, uint32_t(14 + info.size() + data.size()));
    Put32(file, 0);
    Put32(file, uint32_t(14 + info.size()));
    file.insert(file.end(), info.begin(), info.end());
    file.insert(file.end(), data.begin(), data.end());
    return file;
  }
};

// Loads the bytes; with PUNCHLET_WRITE_SEEDS set, also keeps them as a fuzzing seed.
Picture Load(const std::string& name, const Bytes& bytes) {
  if (const char* dir = std::getenv("PUNCHLET_WRITE_SEEDS"))
    WriteBytes(std::filesystem::path(dir) / (name + ".bmp"), bytes);
  Picture p;
  p.LoadFromMemory(bytes.data(), bytes.size());
  return p;
}

// Rows given top row first, stored bottom-up (or top-down) with 4-byte padding.
Bytes Rows(std::vector<Bytes> rows, bool topDown = false) {
  if (!topDown) std::reverse(rows.begin(), rows.end());
  Bytes out;
  for (Bytes& r : rows) {
    r.resize((r.size() + 3) / 4 * 4, 0xCC);
    out.insert(out.end(), r.begin(), r.end());
  }
  return out;
}

Rgb Colour(int i) { return {uint8_t(i * 37), uint8_t(255 - i), uint8_t(i * 11 + 5)}; }

// Loaded from memory and from a file; message == nullptr: any message. The
// file's failure names it and says why.
template <typename E>
void ExpectError(const std::string& name, const Bytes& bytes, const char* message = nullptr) {
  static const TempFolder folder("bmpreject");
  const std::string path = folder.Path() + name + ".bmp";
  WriteBytes(path, bytes);
  for (const bool fromFile : {false, true}) {
    try {
      if (fromFile)
        Picture().LoadFromFile(path);
      else
        Load(name, bytes);
      ADD_FAILURE() << name << " loaded";
    } catch (const E& e) {
      if (message) {
        EXPECT_EQ(e.Message(), message) << name;
      }
      if (fromFile) ExpectFileReport(e, path);
    } catch (const Exception& e) {
      ADD_FAILURE() << name << " failed with the wrong class: " << e.Message();
    }
  }
}

}  // namespace

TEST(BmpReader, PalettedDepthsInBothRowOrders) {
  const int w = 13, h = 3;
  auto index = [](int x, int y, int depth) { return (x * 5 + y * 3) % (1 << depth); };
  for (int depth : {1, 4, 8})
    for (bool topDown : {false, true}) {
      Bmp bmp;
      bmp.bits = uint16_t(depth);
      bmp.width = w;
      bmp.height = topDown ? -h : h;
      for (int i = 0; i < (1 << depth); ++i) bmp.palette.push_back(Colour(i));
      std::vector<Bytes> rows;
      for (int y = 0; y < h; ++y) {
        Bytes row((w * depth + 7) / 8, 0);
        for (int x = 0; x < w; ++x) {
          const int bit = x * depth;
          row[bit / 8] |= uint8_t(index(x, y, depth) << (8 - depth - bit % 8));
        }
        rows.push_back(row);
      }
      bmp.data = Rows(rows, topDown);
      const std::string name = "pal" + std::to_string(depth) + (topDown ? "_topdown" : "");
      const Picture p = Load(name, bmp.Build());
      ASSERT_EQ(p.Width(), w);
      ASSERT_EQ(p.Height(), h);
      EXPECT_EQ(p.BitCount(), depth);
      for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
          ASSERT_EQ(p.Pixel(x, y), Colour(index(x, y, depth))) << name << " " << x << "," << y;
    }
}

TEST(BmpReader, TrueColourDepthsAndMasks) {
  // 24 bits: blue, green, red per pixel; rows padded.
  Bmp b24;
  b24.width = 3;
  b24.height = 2;
  b24.data = Rows({{1, 2, 3, 4, 5, 6, 7, 8, 9}, {10, 11, 12, 13, 14, 15, 16, 17, 18}});
  Picture p = Load("rgb24", b24.Build());
  EXPECT_EQ(p.BitCount(), 24);
  EXPECT_EQ(p.Pixel(0, 0), (Rgb{3, 2, 1}));
  EXPECT_EQ(p.Pixel(2, 1), (Rgb{18, 17, 16}));

  // 32 bits without masks: 8-8-8 in the low three bytes; then an unusual order
  // (red in the low byte, green in the top one, blue in the second).
  Bmp b32;
  b32.bits = 32;
  b32.width = 2;
  b32.data = {0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x80};
  p = Load("rgb32", b32.Build());
  EXPECT_EQ(p.Pixel(1, 0), (Rgb{0x70, 0x60, 0x50}));
  b32.compression = 3;
  b32.masks = {0x000000FF, 0xFF000000, 0x0000FF00};
  for (uint32_t size : {40u, 108u, 124u}) {
    b32.headerSize = size;
    p = Load("bitfields32_" + std::to_string(size), b32.Build());
    EXPECT_EQ(p.Masks(), (BitFields{0x000000FF, 0xFF000000, 0x0000FF00}));
    EXPECT_EQ(p.Pixel(0, 0), (Rgb{0x10, 0x40, 0x20})) << size;
  }

  // 16 bits: 5-5-5 by default, 5-6-5 with masks; raw values stay as stored.
  Bmp b16;
  b16.bits = 16;
  b16.width = 3;
  b16.data = {0x00, 0x7C, 0xE0, 0x03, 0x1F, 0x00, 0, 0};
  p = Load("rgb555", b16.Build());
  EXPECT_EQ(p.Masks(), BitFields{});
  EXPECT_EQ(p.Pixel(0, 0), (Rgb{255, 0, 0}));
  EXPECT_EQ(p.Pixel(1, 0), (Rgb{0, 255, 0}));
  EXPECT_EQ(p.Pixel(2, 0), (Rgb{0, 0, 255}));
  b16.compression = 3;
  b16.masks = {0xF800, 0x07E0, 0x001F};
  b16.data = {0x00, 0xF8, 0xE0, 0x07, 0x1F, 0x00, 0, 0};
  for (uint32_t size : {40u, 124u}) {
    b16.headerSize = size;
    p = Load("bitfields565_" + std::to_string(size), b16.Build());
    EXPECT_EQ(p.Masks(), (BitFields{0xF800, 0x07E0, 0x001F}));
    EXPECT_EQ(p.Pixel(0, 0), (Rgb{255, 0, 0}));
    EXPECT_EQ(p.Pixel(1, 0), (Rgb{0, 255, 0}));
    EXPECT_EQ(std::as_const(p).ScanLine(0)[2], 0xE0);
  }
}

TEST(BmpReader, HeaderAndTableVariants) {
  // Core header: 16-bit sizes, 3-byte colour entries.
  Bmp core;
  core.headerSize = 12;
  core.bits = 8;
  core.width = 2;
  for (int i = 0; i < 256; ++i) core.palette.push_back(Colour(i));
  core.data = Rows({{7, 200}});
  Picture p = Load("core8", core.Build());
  EXPECT_EQ(p.Pixel(0, 0), Colour(7));
  EXPECT_EQ(p.Pixel(1, 0), Colour(200));

  // A short used-colours count; a count beyond what 4 bits address; a gap
  // before the pixels; a table on a 24-bit picture becomes its palette.
  Bmp bmp;
  bmp.bits = 4;
  bmp.width = 2;
  bmp.clrUsed = 3;
  bmp.palette = {Colour(0), Colour(1), Colour(2)};
  bmp.data = Rows({{0x21}});
  p = Load("pal4_short_table", bmp.Build());
  EXPECT_EQ(p.Pixel(0, 0), Colour(2));
  EXPECT_EQ(p.Pixel(1, 0), Colour(1));
  bmp.clrUsed = 20;
  for (int i = 3; i < 20; ++i) bmp.palette.push_back(Colour(i));
  bmp.gap = 36;
  bmp.headerSize = 124;
  p = Load("pal4_long_table_gap", bmp.Build());
  EXPECT_EQ(p.Palette().size(), 20u);
  EXPECT_EQ(p.Pixel(0, 0), Colour(2));
  Bmp rgb;
  rgb.clrUsed = 2;
  rgb.palette = {Colour(5), Colour(6)};
  rgb.data = {1, 2, 3, 0};
  p = Load("rgb24_with_table", rgb.Build());
  EXPECT_EQ(p.Palette(), (std::vector<Rgb>{Colour(5), Colour(6)}));
  EXPECT_EQ(p.Pixel(0, 0), (Rgb{3, 2, 1}));
}

TEST(BmpReader, RunLengthCoding) {
  // RLE8, 6 x 4, bottom row first. Every escape: runs, an odd absolute run with
  // its padding byte, end of line, delta, a run clipped at the row's end, and
  // end of bitmap before the last row.
  Bmp bmp;
  bmp.bits = 8;
  bmp.compression = 1;
  bmp.width = 6;
  bmp.height = 4;
  for (int i = 0; i < 256; ++i) bmp.palette.push_back(Colour(i));
  bmp.data = {3, 9, 0, 3, 4, 5, 6, 0,  // row 3: 9 9 9 4 5 6
              0, 0,                    // end of line
              1, 3,                    // row 2: 3
              0, 2, 2, 1,              // delta: 2 right, 1 up
              9, 7,                    // row 1 from x 3: 7 7 7, clipped
              0, 0, 1, 8, 0, 1};       // row 0: 8, then end of bitmap
  const std::vector<std::vector<int>> rle8 = {
      {8, 0, 0, 0, 0, 0}, {0, 0, 0, 7, 7, 7}, {3, 0, 0, 0, 0, 0}, {9, 9, 9, 4, 5, 6}};
  Picture p = Load("rle8", bmp.Build());
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 6; ++x) EXPECT_EQ(p.Pixel(x, y), Colour(rle8[y][x])) << x << "," << y;

  // RLE4: a run alternates the two nibbles; absolute runs of 5 and 3 nibbles
  // (3 bytes + padding, 2 bytes); data ending without end of bitmap.
  bmp.bits = 4;
  bmp.compression = 2;
  bmp.width = 8;
  bmp.height = 2;
  bmp.palette.resize(16);
  bmp.data = {5, 0x12, 0, 3, 0x34, 0x50,            // row 1: 1 2 1 2 1 3 4 5
              0, 0,    0, 5, 0x67, 0x89, 0xAF, 0};  // row 0: 6 7 8 9 A
  const std::vector<std::vector<int>> rle4 = {{6, 7, 8, 9, 10, 0, 0, 0}, {1, 2, 1, 2, 1, 3, 4, 5}};
  p = Load("rle4", bmp.Build());
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 8; ++x) EXPECT_EQ(p.Pixel(x, y), Colour(rle4[y][x])) << x << "," << y;

  // A run past the row's end does not wrap; nothing is written past the top.
  bmp.data = {200, 0x11, 0, 2, 0, 5, 7, 0x22};
  p = Load("rle4_out_of_range", bmp.Build());
  for (int x = 0; x < 8; ++x) {
    EXPECT_EQ(p.Pixel(x, 1), Colour(1));
    EXPECT_EQ(p.Pixel(x, 0), Colour(0));
  }
}

TEST(BmpReader, ShortPixelDataLeavesZeros) {
  Bmp bmp;
  bmp.bits = 8;
  bmp.width = 4;
  bmp.height = 3;
  bmp.palette = {Colour(0), Colour(1)};
  bmp.clrUsed = 2;
  bmp.data = {1, 1, 1, 1, 1, 1};  // the bottom row and half of the middle one
  const Picture p = Load("pal8_short_data", bmp.Build());
  EXPECT_EQ(p.Pixel(3, 2), Colour(1));
  EXPECT_EQ(p.Pixel(1, 1), Colour(1));
  EXPECT_EQ(p.Pixel(2, 1), Colour(0));
  EXPECT_EQ(p.Pixel(0, 0), Colour(0));
}

TEST(BmpReader, BadFilesFailCleanlyAndKeepThePicture) {
  Bmp good;
  good.data = {1, 2, 3, 0};
  const Bytes valid = good.Build();
  for (size_t n = 1; n <= 13; ++n)
    ExpectError<EReadError>("short" + std::to_string(n), Bytes(valid.begin(), valid.begin() + n),
                            SReadError);
  Bytes notBm = valid;
  notBm[0] = 'X';
  ExpectError<EInvalidGraphic>("not_bm", notBm, SInvalidBitmap);
  ExpectError<EReadError>("header_cut", Bytes(valid.begin(), valid.begin() + 40), SReadError);

  auto broken = [&](const char* name, auto change) {
    Bmp bmp = good;
    change(bmp);
    return std::make_pair(std::string(name), bmp.Build());
  };
  const Bytes planes2 = broken("", [](Bmp& b) { b.planes = 2; }).second;
  ExpectError<EInvalidGraphic>("planes2", planes2, "ビットマップイメージが不正です");
  for (const auto& [name, bytes] :
       {broken("depth2", [](Bmp& b) { b.bits = 2; }),
        broken("rle8_depth24", [](Bmp& b) { b.compression = 1; }),
        broken("jpeg_compression", [](Bmp& b) { b.compression = 4; }),
        broken("width0", [](Bmp& b) { b.width = 0; }),
        broken("height_min", [](Bmp& b) { b.height = INT32_MIN; }),
        broken("huge", [](Bmp& b) { b.width = b.height = 65500; }),
        broken("too_big_for_file", [](Bmp& b) { b.width = b.height = 4000; })})
    ExpectError<EInvalidGraphic>(name, bytes);
  for (const auto& [name, bytes] : {broken("table_cut", [](Bmp& b) { b.bits = 8; }),
                                    broken("header_size_20", [](Bmp& b) { b.headerSize = 20; }),
                                    broken("masks_cut", [](Bmp& b) {
                                      b.bits = 32;
                                      b.compression = 3;
                                      b.data.clear();
                                    })})
    ExpectError<EReadError>(name, bytes, "ストリームからの読み込みエラー");

  // A failed load leaves what was there.
  Picture p = Load("rgb24_1x1", valid);
  EXPECT_THROW(p.LoadFromMemory(planes2.data(), planes2.size()), EInvalidGraphic);
  EXPECT_EQ(p.Width(), 1);
  EXPECT_EQ(p.Pixel(0, 0), (Rgb{3, 2, 1}));
}

TEST(BmpReader, Files) {
  const TempFolder folder("bmpreader");
  const std::filesystem::path dir = folder.Root();
  const std::string empty = (dir / "empty.bmp").string();
  WriteBytes(empty, "");
  Picture p;
  p.Create(2, 2, 24);
  p.LoadFromFile(empty);
  EXPECT_EQ(p.Width(), 0);
  EXPECT_EQ(p.Height(), 0);

  Bmp bmp;
  bmp.width = 2;
  bmp.height = -2;
  bmp.data = Rows({{1, 2, 3, 4, 5, 6}, {7, 8, 9, 10, 11, 12}}, true);
  const Bytes bytes = bmp.Build();
  const std::string path = (dir / "写真 1.bmp").string();
  WriteBytes(path, bytes);
  p.LoadFromFile(path);
  EXPECT_EQ(p.Pixel(1, 1), (Rgb{12, 11, 10}));

  // A missing file, a folder and a named pipe (which must not hang the open).
  const std::string missing = (dir / "missing.bmp").string();
  const std::string pipe = (dir / "pipe.bmp").string();
  ASSERT_EQ(mkfifo(pipe.c_str(), 0600), 0);
  for (const std::string& bad : {missing, dir.string(), pipe}) {
    try {
      p.LoadFromFile(bad);
      ADD_FAILURE() << bad;
    } catch (const EFOpenError& e) {
      EXPECT_EQ(e.Message(), "ファイル " + bad + " は開けません");
      EXPECT_EQ(e.FileName(), bad);
      EXPECT_EQ(e.Reason(), bad == missing ? "No such file or directory"
                            : bad == pipe  ? "Invalid argument"
                                           : "Is a directory");
    }
  }
  // A damaged file is named in the failure too.
  WriteBytes(dir / "cut.bmp", Bytes(bytes.begin(), bytes.begin() + 20));
  try {
    p.LoadFromFile((dir / "cut.bmp").string());
    ADD_FAILURE() << "a cut file loaded";
  } catch (const EReadError& e) {
    EXPECT_EQ(e.FileName(), (dir / "cut.bmp").string());
  }
  EXPECT_EQ(p.Pixel(0, 0), (Rgb{3, 2, 1}));
}
