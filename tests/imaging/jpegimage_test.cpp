#include "imaging/jpegimage.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

// clang-format off
#include <jpeglib.h>
#include <jerror.h>
// clang-format on

#include "imaging/jpegcodec.h"
#include "imaging/rowsink.h"
#include "platform/errors.h"
#include "support/codedpicture.h"
#include "support/files.h"
#include "support/report.h"
#include "support/tempfolder.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

// Every generated file also becomes a fuzzing seed when asked for.
Bytes Seed(const std::string& name, Bytes bytes) {
  if (const char* folder = std::getenv("PUNCHLET_WRITE_SEEDS"))
    WriteBytes(fs::path(folder) / name, bytes);
  return bytes;
}

// Smooth colours that identify their position: red across, green down.
const Coding kSmooth{.red = {.to = 255}, .green = {.to = 255}, .blue = 96};

// The largest difference of any sample, or the mean one.
double Difference(const Picture& a, const Picture& b, bool mean = false) {
  int worst = 0;
  double sum = 0;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x) {
      const Rgb p = a.Pixel(x, y), q = b.Pixel(x, y);
      for (int d : {std::abs(p.r - q.r), std::abs(p.g - q.g), std::abs(p.b - q.b)}) {
        worst = std::max(worst, d);
        sum += d;
      }
    }
  return mean ? sum / (3.0 * a.Width() * a.Height()) : worst;
}

// A file written by libjpeg directly, from samples in the given colour space.
Bytes WriteRaw(int w, int h, int components, J_COLOR_SPACE in, J_COLOR_SPACE file, bool adobe,
               const Bytes& samples, bool progressive = false) {
  jpeg_compress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_compress(&c);
  unsigned char* out = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&c, &out, &size);
  c.image_width = JDIMENSION(w);
  c.image_height = JDIMENSION(h);
  c.input_components = components;
  c.in_color_space = in;
  jpeg_set_defaults(&c);
  jpeg_set_colorspace(&c, file);
  c.write_Adobe_marker = adobe;
  jpeg_set_quality(&c, 100, TRUE);
  if (progressive) jpeg_simple_progression(&c);
  jpeg_start_compress(&c, TRUE);
  while (c.next_scanline < c.image_height) {
    JSAMPROW row = const_cast<JSAMPROW>(samples.data() + c.next_scanline * w * components);
    jpeg_write_scanlines(&c, &row, 1);
  }
  jpeg_finish_compress(&c);
  Bytes bytes(out, out + size);
  free(out);
  jpeg_destroy_compress(&c);
  return bytes;
}

// Reads a file's header with libjpeg and hands it to the check.
void InspectHeader(const Bytes& bytes, const std::function<void(jpeg_decompress_struct&)>& check) {
  jpeg_decompress_struct c;
  jpeg_error_mgr err;
  c.err = jpeg_std_error(&err);
  jpeg_create_decompress(&c);
  jpeg_mem_src(&c, bytes.data(), bytes.size());
  jpeg_read_header(&c, TRUE);
  check(c);
  jpeg_destroy_decompress(&c);
}

Bytes Encode(const Picture& picture, bool progressive = false) {
  TJPEGImage jpeg;
  jpeg.Assign(picture);
  jpeg.Quality = 100;
  jpeg.ProgressiveEncode = progressive;
  return jpeg.SaveToMemory();
}

Picture DecodeBytes(const Bytes& bytes, const std::function<void(TJPEGImage&)>& set = {}) {
  TJPEGImage jpeg;
  if (set) set(jpeg);
  jpeg.LoadFromMemory(bytes.data(), bytes.size());
  Picture p;
  p.Assign(jpeg);
  return p;
}

template <class E>
std::string MessageOf(const std::function<void()>& action) {
  try {
    action();
  } catch (const E& e) {
    return e.Message();
  }
  return "(no exception)";
}

// Collects streamed rows into a 24-bit picture, checking that they come as
// promised: one Begin, then each row once, in order.
class Collector : public TRowSink {
 public:
  void Begin(int width, int height) override {
    EXPECT_EQ(begun++, 0);
    picture.Create(width, height, 24);
  }
  void Rows(int first, int count, const uint8_t* data, ptrdiff_t stride) override {
    EXPECT_EQ(begun, 1);
    EXPECT_EQ(first, next);
    ASSERT_GT(count, 0);
    ASSERT_LE(first + count, picture.Height());
    for (int r = 0; r < count; ++r)
      std::memcpy(picture.ScanLine(first + r), data + r * stride, size_t(picture.Width()) * 3);
    next = first + count;
    largest = std::max(largest, count);
    if (failAfter >= 0 && next > failAfter) {
      failAfter = -1;  // once: a sink that failed is not asked again
      fail();
    }
  }
  // Every row arrived.
  bool Complete() const { return begun == 1 && next == picture.Height(); }

  Picture picture;
  int begun = 0, next = 0, largest = 0;
  int failAfter = -1;
  std::function<void()> fail;
};

// Byte for byte the pixels of the decoded picture made 24-bit.
void ExpectSamePixels(const Picture& streamed, Picture decoded, const std::string& what) {
  decoded.ConvertTo24();
  ASSERT_EQ(streamed.Width(), decoded.Width()) << what;
  ASSERT_EQ(streamed.Height(), decoded.Height()) << what;
  for (int y = 0; y < decoded.Height(); ++y)
    ASSERT_EQ(0, std::memcmp(std::as_const(streamed).ScanLine(y),
                             std::as_const(decoded).ScanLine(y), size_t(decoded.Width()) * 3))
        << what << ", row " << y;
}

}  // namespace

TEST(JPEGImage, WritesBaselineJfif420WithUnitTablesAndReadsItBack) {
  TempFolder dir("jpegimage");
  const Picture original = CodedPicture(67, 45, kSmooth);
  TJPEGImage jpeg;
  jpeg.Assign(original);
  jpeg.Quality = 100;
  jpeg.SaveToFile(dir.Path() + "out.jpg");
  const Bytes bytes = Seed("coded-67x45.jpg", ReadBytes<Bytes>(dir.Path() + "out.jpg"));
  EXPECT_EQ(bytes, jpeg.SaveToMemory());
  InspectHeader(bytes, [](jpeg_decompress_struct& c) {
    EXPECT_TRUE(c.saw_JFIF_marker);
    EXPECT_EQ(c.density_unit, 0);
    EXPECT_EQ(c.X_density, 1);
    EXPECT_EQ(c.Y_density, 1);
    EXPECT_FALSE(c.progressive_mode);
    EXPECT_FALSE(c.arith_code);
    EXPECT_EQ(c.restart_interval, 0u);
    EXPECT_EQ(c.jpeg_color_space, JCS_YCbCr);
    ASSERT_EQ(c.num_components, 3);
    const int samples[3][2] = {{2, 2}, {1, 1}, {1, 1}};
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(c.comp_info[i].h_samp_factor, samples[i][0]);
      EXPECT_EQ(c.comp_info[i].v_samp_factor, samples[i][1]);
    }
    for (JQUANT_TBL* table : c.quant_tbl_ptrs) {
      if (table == nullptr) continue;
      for (UINT16 q : table->quantval) EXPECT_EQ(q, 1);
    }
    // The standard luminance tables, not optimised ones.
    const UINT8 dcBits[17] = {0, 0, 1, 5, 1, 1, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0};
    const UINT8 acBits[17] = {0, 0, 2, 1, 3, 3, 2, 4, 3, 5, 5, 4, 4, 0, 0, 1, 0x7d};
    EXPECT_EQ(0, std::memcmp(c.dc_huff_tbl_ptrs[0]->bits, dcBits, 17));
    EXPECT_EQ(0, std::memcmp(c.ac_huff_tbl_ptrs[0]->bits, acBits, 17));
  });
  const uint8_t sof0[2] = {0xFF, 0xC0};
  EXPECT_NE(std::search(bytes.begin(), bytes.end(), sof0, sof0 + 2), bytes.end());

  TJPEGImage back;
  back.LoadFromFile(dir.Path() + "out.jpg");
  EXPECT_EQ(back.Width(), 67);  // from the header, not decoded yet
  EXPECT_EQ(back.Height(), 45);
  EXPECT_FALSE(back.HasBitmap());
  EXPECT_FALSE(back.ProgressiveEncode);
  Picture decoded;
  decoded.Assign(back);
  EXPECT_EQ(decoded.BitCount(), 24);
  EXPECT_EQ(std::as_const(decoded).Bits(), back.Bitmap().Bits());  // handed over without a copy
  EXPECT_LE(Difference(decoded, original), 10);

  const Bytes progressive = Seed("coded-progressive.jpg", Encode(original, true));
  InspectHeader(progressive, [](jpeg_decompress_struct& c) { EXPECT_TRUE(c.progressive_mode); });
  TJPEGImage multi;
  multi.LoadFromMemory(progressive.data(), progressive.size());
  EXPECT_TRUE(multi.ProgressiveEncode);
  EXPECT_LE(Difference(multi.Bitmap(), original), 10);
}

TEST(JPEGImage, GreyFilesAndEightBitOutputGiveAtMost236Colours) {
  Bytes grey(50 * 30);
  for (size_t i = 0; i < grey.size(); ++i) grey[i] = uint8_t((i % 50) * 5);
  const Bytes greyFile =
      Seed("grey-50x30.jpg", WriteRaw(50, 30, 1, JCS_GRAYSCALE, JCS_GRAYSCALE, false, grey));
  const Bytes colourFile = Encode(CodedPicture(64, 40, kSmooth));
  auto checkPalette = [](const Picture& p, bool allGrey) {
    EXPECT_EQ(p.BitCount(), 8);
    EXPECT_GT(p.Palette().size(), 1u);
    EXPECT_LE(p.Palette().size(), 236u);
    bool greys = true;
    for (Rgb c : p.Palette()) greys = greys && c.r == c.g && c.g == c.b;
    EXPECT_EQ(greys, allGrey);
  };

  TJPEGImage loaded;
  loaded.LoadFromMemory(greyFile.data(), greyFile.size());
  EXPECT_TRUE(loaded.Data()->Grayscale);
  const Picture greyPicture = loaded.Bitmap();
  checkPalette(greyPicture, true);
  for (int x = 0; x < 50; ++x) EXPECT_NEAR(greyPicture.Pixel(x, 10).r, x * 5, 6) << x;

  const Picture coded = CodedPicture(64, 40, kSmooth);
  for (bool fast : {false, true}) {
    const Picture eight = DecodeBytes(colourFile, [fast](TJPEGImage& j) {
      j.EightBitOutput = true;
      j.FastDecode = fast;
    });
    checkPalette(eight, false);
    EXPECT_LE(Difference(eight, coded, true), fast ? 20 : 6) << fast;  // a colour cube when fast
  }
  checkPalette(DecodeBytes(colourFile, [](TJPEGImage& j) { j.Grayscale = true; }), true);

  // New objects take the process-wide defaults.
  JPEGDefaults().EightBitOutput = true;
  const Picture byDefault = DecodeBytes(colourFile);
  JPEGDefaults().EightBitOutput = false;
  EXPECT_EQ(byDefault.BitCount(), 8);
  EXPECT_EQ(DecodeBytes(colourFile).BitCount(), 24);
}

TEST(JPEGImage, FourComponentFilesBecomeRgb) {
  // Three bands of ink: cyan, magenta + yellow, half black.
  const uint8_t inks[3][4] = {{255, 0, 0, 0}, {0, 255, 255, 0}, {0, 0, 0, 128}};
  const Rgb expected[3] = {{0, 255, 255}, {255, 0, 0}, {127, 127, 127}};
  for (bool adobe : {false, true}) {
    for (J_COLOR_SPACE space : {JCS_CMYK, JCS_YCCK}) {
      if (space == JCS_YCCK && !adobe) continue;  // YCCK needs the Adobe marker
      Bytes samples(24 * 24 * 4);
      for (size_t i = 0; i < samples.size(); ++i) {
        const uint8_t ink = inks[(i / 4) / (24 * 8)][i % 4];
        samples[i] = adobe ? uint8_t(255 - ink) : ink;  // Adobe files store no ink as 255
      }
      const std::string name =
          std::string(adobe ? "adobe-" : "plain-") + (space == JCS_CMYK ? "cmyk" : "ycck") + ".jpg";
      const Bytes file = Seed(name, WriteRaw(24, 24, 4, JCS_CMYK, space, adobe, samples));
      const Picture p = DecodeBytes(file, [](TJPEGImage& j) { j.EightBitOutput = true; });
      ASSERT_EQ(p.BitCount(), 24) << name;
      ASSERT_EQ(p.Width(), 24);
      for (int band = 0; band < 3; ++band) {
        const Rgb c = p.Pixel(12, band * 8 + 4);
        EXPECT_NEAR(c.r, expected[band].r, 4) << name << " band " << band;
        EXPECT_NEAR(c.g, expected[band].g, 4) << name << " band " << band;
        EXPECT_NEAR(c.b, expected[band].b, 4) << name << " band " << band;
      }
    }
  }
}

TEST(JPEGImage, DamagedAndHostileFilesFailClearly) {
  TempFolder dir("jpegimage");
  WriteBytes(dir.Path() + "empty.jpg", "");
  TJPEGImage empty;
  empty.LoadFromFile(dir.Path() + "empty.jpg");
  EXPECT_EQ(empty.Width(), 0);
  try {
    empty.Decode();
    ADD_FAILURE() << "an empty file decoded";
  } catch (const EJPEG& e) {
    // The report names the file read and gives the codec's own words.
    EXPECT_EQ(e.Message(), Format(SJPEGError, JERR_INPUT_EMPTY));
    EXPECT_EQ(e.Reason(), "Empty input file");
    ExpectFileReport(e, dir.Path() + "empty.jpg");
  }
  EXPECT_TRUE(empty.HasBitmap());
  EXPECT_TRUE(empty.Bitmap().Empty());

  WriteBytes(dir.Path() + "bitmap.jpg", {'B', 'M', 0x36, 0, 0, 0, 0, 0, 0, 0, 0x36, 0, 0, 0});
  TJPEGImage jpeg;
  EXPECT_EQ(MessageOf<EJPEG>([&] { jpeg.LoadFromFile(dir.Path() + "bitmap.jpg"); }),
            Format(SJPEGError, JERR_NO_SOI));
  EXPECT_EQ(MessageOf<EFOpenError>([&] { jpeg.LoadFromFile(dir.Path() + "none.jpg"); }),
            Format(SFOpenError, (dir.Path() + "none.jpg").c_str()));
  ASSERT_EQ(mkfifo((dir.Path() + "pipe.jpg").c_str(), 0600), 0);
  EXPECT_THROW(jpeg.LoadFromFile(dir.Path() + "pipe.jpg"),
               EFOpenError);  // and no wait for a writer

  // Cut in the middle of its data: the codec completes the picture itself.
  const Picture original = CodedPicture(64, 48, kSmooth);
  Bytes file = Encode(original);
  const uint8_t sos[2] = {0xFF, 0xDA};
  const size_t data = size_t(std::search(file.begin(), file.end(), sos, sos + 2) - file.begin());
  file.resize(data + (file.size() - data) / 2);
  const Picture cut = DecodeBytes(Seed("cut.jpg", file));
  EXPECT_EQ(cut.Width(), 64);
  EXPECT_EQ(cut.Height(), 48);
  for (int x = 0; x < 64; ++x) EXPECT_NEAR(cut.Pixel(x, 0).r, original.Pixel(x, 0).r, 10);

  // Limits of the reader: the message of a codec error and the limit as the
  // reason ("" when decoded). A refusal comes before any work, which the
  // handler stops at once.
  auto refusal = [&](const Bytes& bytes, bool buffered = false) -> std::string {
    const std::string path = dir.Path() + "refused.jpg";
    WriteBytes(path, bytes);
    TJPEGImage j;
    j.ProgressiveDecode = buffered;
    j.OnProgress = [](TJPEGImage&, int) { throw EAbort(""); };
    try {
      j.LoadFromFile(path);
      j.Decode();
    } catch (const EJPEG& e) {
      ExpectFileReport(e, path);
      return e.Message() + " / " + e.Reason();
    }
    return "";
  };
  auto refused = [](int code, const std::string& reason) {
    return Format(SJPEGError, code) + " / " + reason;
  };
  Bytes huge = Encode(CodedPicture(16, 16, kSmooth));
  auto setSize = [](Bytes& file, int w, int h, uint8_t sofType = 0xC0) {
    const uint8_t sofMarker[2] = {0xFF, sofType};
    const size_t at =
        size_t(std::search(file.begin(), file.end(), sofMarker, sofMarker + 2) - file.begin());
    file[at + 5] = uint8_t(h >> 8), file[at + 6] = uint8_t(h);
    file[at + 7] = uint8_t(w >> 8), file[at + 8] = uint8_t(w);
  };
  // A header promising far more than its data holds is still a size we take.
  setSize(huge, 15000, 15000);
  jpeg.LoadFromMemory(huge.data(), huge.size());
  EXPECT_EQ(jpeg.Width(), 15000);
  setSize(huge, 65000, 65000);
  EXPECT_EQ(refusal(Seed("huge-header.jpg", huge)),
            refused(JERR_IMAGE_TOO_BIG, Format(SPictureTooLarge, 65000, 65000)));

  // A progressive grey file whose last scan repeats: the scans are counted
  // from the markers, stuffed bytes and restarts inside a scan being data.
  const Bytes base = WriteRaw(8, 8, 1, JCS_GRAYSCALE, JCS_GRAYSCALE, false, Bytes(64, 77), true);
  const int baseScans = ReadJPEGHeader(base).Scans;
  EXPECT_EQ(baseScans, 6);
  const auto last = std::find_end(base.begin(), base.end(), sos, sos + 2);
  Bytes scan(last, base.end() - 2);
  scan.insert(scan.end(), {0xFF, 0x00, 0xFF, 0xD3, 0xFF, 0xFF, 0x00});
  auto withScans = [&](int count, const Bytes& tail = {}) {
    Bytes file(base.begin(), base.end() - 2);
    for (int i = baseScans; i < count; ++i) file.insert(file.end(), scan.begin(), scan.end());
    file.insert(file.end(), {0xFF, 0xD9});
    file.insert(file.end(), tail.begin(), tail.end());
    return file;
  };
  const Bytes scans = Seed("many-scans.jpg", withScans(JPEGMaxScans + 1));
  EXPECT_EQ(ReadJPEGHeader(scans).Scans, JPEGMaxScans + 1);
  for (bool buffered : {false, true})
    EXPECT_EQ(refusal(scans, buffered),
              refused(JERR_BAD_PROGRESSION, Format(SJPEGTooManyScans, JPEGMaxScans)));
  // What follows the end marker, however scan-like, is not part of the file.
  const Bytes padded = withScans(JPEGMaxScans, scans);
  EXPECT_EQ(ReadJPEGHeader(padded).Scans, JPEGMaxScans);
  EXPECT_EQ(DecodeBytes(padded).Pixel(3, 3), (Rgb{77, 77, 77}));

  // Scans times coefficient blocks up to the budget are decoded, one block
  // row more is refused.
  const int budgetScans = 100, columns = 800;
  const int budgetRows = int(JPEGMaxScanBlocks / budgetScans / columns);
  ASSERT_EQ(uint64_t(budgetScans) * columns * budgetRows, JPEGMaxScanBlocks);
  Bytes work = withScans(budgetScans);
  for (const int rows : {budgetRows, budgetRows + 1}) {
    setSize(work, columns * 8, rows * 8, 0xC2);
    const uint64_t blocks = ReadJPEGHeader(work).Blocks;
    EXPECT_EQ(blocks, uint64_t(columns) * rows);
    EXPECT_EQ(refusal(work), rows == budgetRows
                                 ? ""
                                 : refused(JERR_IMAGE_TOO_BIG, Format(SJPEGTooMuchWork, budgetScans,
                                                                      (unsigned long long)blocks)));
  }
}

TEST(JPEGImage, AssignSharesDataAndSizeCannotChange) {
  const Bytes file = Encode(CodedPicture(33, 21, kSmooth));
  TJPEGImage a, b, c;
  a.LoadFromMemory(file.data(), file.size());
  b.Assign(a);
  EXPECT_EQ(b.Data(), a.Data());
  EXPECT_FALSE(b.HasBitmap());
  a.Decode();
  c.Assign(a);
  EXPECT_EQ(c.Data(), a.Data());
  EXPECT_EQ(c.Bitmap().Bits(), a.Bitmap().Bits());

  b.Assign(CodedPicture(10, 5, kSmooth));
  EXPECT_NE(b.Data(), a.Data());
  EXPECT_TRUE(b.Data()->Data.empty());
  EXPECT_EQ(b.Width(), 10);
  EXPECT_FALSE(b.SaveToMemory().empty());
  EXPECT_EQ(a.Data()->Data, file);  // the other's bytes are untouched

  TJPEGImage half;
  half.ScaleShift = 1;
  half.LoadFromMemory(file.data(), file.size());
  EXPECT_EQ(half.Width(), 33);
  half.Decode();
  EXPECT_EQ(half.Width(), 17);
  EXPECT_EQ(half.Height(), 11);

  EXPECT_EQ(MessageOf<EInvalidGraphicOperation>([&] { a.SetWidth(5); }), SChangeJPGSize);
  EXPECT_EQ(MessageOf<EInvalidGraphicOperation>([&] { a.SetHeight(5); }), SChangeJPGSize);
}

TEST(JPEGImage, WritingEmptyOtherDepthsAndUncreatableFiles) {
  TempFolder dir("jpegimage");
  TJPEGImage jpeg;
  jpeg.Assign(Picture());
  jpeg.SaveToFile(dir.Path() + "empty.jpg");
  EXPECT_EQ(fs::file_size(dir.Path() + "empty.jpg"), 0u);

  const std::string missing = dir.Path() + "no-such-folder/out.jpg";
  EXPECT_EQ(MessageOf<EFCreateError>([&] { jpeg.SaveToFile(missing); }),
            Format(SFCreateError, missing.c_str()));
  EXPECT_EQ(MessageOf<EFCreateError>([&] { jpeg.SaveToFile("no-such-folder/out.jpg"); }),
            Format(SFCreateError, (fs::current_path() / "no-such-folder/out.jpg").c_str()));

  Picture paletted;
  paletted.Create(16, 16, 8);
  paletted.SetPalette({{0, 0, 0}, {255, 0, 0}});
  for (int y = 8; y < 16; ++y) std::memset(paletted.ScanLine(y), 1, 16);
  TJPEGImage grey;
  grey.Assign(paletted);
  grey.Grayscale = true;
  const Bytes file = grey.SaveToMemory();
  EXPECT_EQ(grey.Bitmap().BitCount(), 8);  // encoding does not change the picture
  EXPECT_TRUE(grey.Data()->Grayscale);
  InspectHeader(file, [](jpeg_decompress_struct& c) { EXPECT_EQ(c.num_components, 1); });
  const Picture back = DecodeBytes(file);
  EXPECT_NEAR(back.Pixel(8, 0).r, 0, 3);
  EXPECT_NEAR(back.Pixel(8, 15).r, 76, 3);  // the luma of pure red
}

TEST(JPEGImage, ProgressHandlerCanStopDecodingAndEncoding) {
  const Bytes file = Encode(CodedPicture(40, 200, kSmooth));
  TJPEGImage jpeg;
  jpeg.OnProgress = [](TJPEGImage&, int percent) {
    if (percent >= 50) throw EAbort("");
  };
  jpeg.LoadFromMemory(file.data(), file.size());
  ASSERT_NO_THROW(jpeg.Decode());
  const Picture& stopped = jpeg.Bitmap();
  ASSERT_EQ(stopped.Height(), 200);
  EXPECT_GT(stopped.Pixel(39, 0).r, 200);
  EXPECT_EQ(stopped.Pixel(39, 199), (Rgb{0, 0, 0}));  // never reached

  TJPEGImage failing;
  failing.OnProgress = [](TJPEGImage&, int) { throw std::runtime_error("stop"); };
  failing.LoadFromMemory(file.data(), file.size());
  EXPECT_THROW(failing.Decode(), std::runtime_error);
  EXPECT_TRUE(failing.Bitmap().Empty());

  failing.Assign(CodedPicture(40, 200, kSmooth));
  failing.OnProgress = [](TJPEGImage&, int) { throw EAbort(""); };
  EXPECT_TRUE(failing.SaveToMemory().empty());

  // Shown scan by scan, the last pass is the whole picture.
  int calls = 0;
  TJPEGImage watched;
  watched.ProgressiveDecode = true;
  watched.OnProgress = [&calls](TJPEGImage&, int) { ++calls; };
  const Bytes progressive = Encode(CodedPicture(40, 200, kSmooth), true);
  watched.LoadFromMemory(progressive.data(), progressive.size());
  EXPECT_LE(Difference(watched.Bitmap(), CodedPicture(40, 200, kSmooth)), 10);
  EXPECT_GT(calls, 10);
}

TEST(JPEGImage, DecodeToStreamsTheRowsDecodeMakes) {
  Bytes cut = Encode(CodedPicture(64, 48, kSmooth));
  cut.resize(cut.size() * 2 / 3);
  Bytes grey(50 * 30);
  for (size_t i = 0; i < grey.size(); ++i) grey[i] = uint8_t((i % 50) * 5 + i / 50);
  Bytes inks(24 * 24 * 4);
  for (size_t i = 0; i < inks.size(); ++i) inks[i] = uint8_t(i * 7);
  const std::pair<const char*, Bytes> files[] = {
      {"baseline", Encode(CodedPicture(41, 203, kSmooth))},
      {"progressive", Encode(CodedPicture(67, 45, kSmooth), true)},
      {"grey", WriteRaw(50, 30, 1, JCS_GRAYSCALE, JCS_GRAYSCALE, false, grey)},
      {"cmyk", WriteRaw(24, 24, 4, JCS_CMYK, JCS_YCCK, true, inks)},
      {"cut", cut}};
  int shown = 0;
  const std::pair<const char*, std::function<void(TJPEGImage&)>> settings[] = {
      {"default", [](TJPEGImage&) {}},
      {"eight-bit", [](TJPEGImage& j) { j.EightBitOutput = true; }},
      {"eight-bit fast",
       [](TJPEGImage& j) {
         j.EightBitOutput = true;
         j.FastDecode = true;
       }},
      {"grayscale", [](TJPEGImage& j) { j.Grayscale = true; }},
      {"half, unsmoothed",
       [](TJPEGImage& j) {
         j.ScaleShift = 1;
         j.BlockSmoothing = false;
       }},
      {"scan by scan", [&shown](TJPEGImage& j) {
         j.ProgressiveDecode = true;
         j.OnProgress = [&shown](TJPEGImage&, int) { ++shown; };
       }}};
  for (const auto& [file, bytes] : files)
    for (const auto& [setting, set] : settings) {
      const std::string what = std::string(file) + ", " + setting;
      TJPEGImage jpeg;
      set(jpeg);
      jpeg.LoadFromMemory(bytes.data(), bytes.size());
      Collector sink;
      jpeg.DecodeTo(sink);
      EXPECT_TRUE(sink.Complete()) << what;
      EXPECT_FALSE(jpeg.HasBitmap()) << what;
      ExpectSamePixels(sink.picture, jpeg.Bitmap(), what);
      if (sink.picture.Height() > 100) {
        EXPECT_LT(sink.largest * 4, sink.picture.Height()) << what;  // a few rows at a time
      }
    }
  EXPECT_GT(shown, 10);  // the progressive file was shown scan by scan

  // Not a JPEG file, or an empty one: the same error as Decode, before any row.
  for (const Bytes& bad : {Bytes{'B', 'M', 0x36, 0, 0, 0}, Bytes{}}) {
    TJPEGImage jpeg;
    EXPECT_EQ(MessageOf<EJPEG>([&] { jpeg.LoadFromMemory(bad.data(), bad.size()); }),
              bad.empty() ? "(no exception)" : Format(SJPEGError, JERR_NO_SOI));
    Collector sink;
    EXPECT_EQ(MessageOf<EJPEG>([&] { jpeg.DecodeTo(sink); }),
              MessageOf<EJPEG>([&] { jpeg.Decode(); }));
    EXPECT_EQ(sink.begun, 0);
  }
}

TEST(JPEGImage, DecodeToStoppedOrFailingSink) {
  const Bytes file = Encode(CodedPicture(40, 200, kSmooth));
  // Stopped half way through the rows: those not decoded still arrive, as in
  // the picture (an 8-bit one's zero index is a palette colour).
  for (bool eight : {false, true}) {
    auto set = [eight](TJPEGImage& j) {
      j.EightBitOutput = eight;  // the quantiser's first pass is the first half
      j.OnProgress = [eight](TJPEGImage&, int percent) {
        if (percent >= (eight ? 75 : 50)) throw EAbort("");
      };
    };
    TJPEGImage jpeg;
    set(jpeg);
    jpeg.LoadFromMemory(file.data(), file.size());
    Collector sink;
    ASSERT_NO_THROW(jpeg.DecodeTo(sink));
    EXPECT_TRUE(sink.Complete());
    const Picture decoded = DecodeBytes(file, set);
    ExpectSamePixels(sink.picture, decoded, eight ? "stopped, 8-bit" : "stopped");
    EXPECT_GT(sink.picture.Pixel(39, 0).r, 200);
    EXPECT_EQ(sink.picture.Pixel(39, 199), eight ? decoded.Palette()[0] : Rgb());
  }

  // Stopped in the quantiser's first pass, before the size is settled: as
  // Decode's empty picture.
  auto stopAtOnce = [](TJPEGImage& j) {
    j.EightBitOutput = true;
    j.OnProgress = [](TJPEGImage&, int) { throw EAbort(""); };
  };
  TJPEGImage early;
  stopAtOnce(early);
  early.LoadFromMemory(file.data(), file.size());
  Collector empty;
  ASSERT_NO_THROW(early.DecodeTo(empty));
  EXPECT_EQ(empty.begun, 1);
  EXPECT_TRUE(empty.picture.Empty());
  EXPECT_TRUE(DecodeBytes(file, stopAtOnce).Empty());

  // What the sink throws ends the decode, even EAbort: it is no stop.
  TJPEGImage jpeg;
  jpeg.LoadFromMemory(file.data(), file.size());
  Collector failing;
  failing.failAfter = 50;
  failing.fail = [] { throw EAbort(""); };
  EXPECT_THROW(jpeg.DecodeTo(failing), EAbort);
  EXPECT_EQ(failing.next, 64);  // nothing after the failing call
  EXPECT_FALSE(jpeg.HasBitmap());
}
