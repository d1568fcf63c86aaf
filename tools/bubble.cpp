// Draws the settings window's speech bubble into assets/ and scans it into
// the window's region data block: bubble.bmp (270 x 320, 24 bits) and
// bubble.rgn. Both are committed and compiled in; at run time nothing is
// scanned. With --check FOLDER it writes nothing and fails unless the files
// there are byte for byte what it would write.
//
// The outline is given as bands of runs. The bubble is a rounded rectangle
// from x = 20 with a tail to the left edge, its 3-pixel shadow included: a
// pixel is the bubble's own when it and the three pixels diagonally below
// and right of it are all inside, and the rest is shadow, two pixels grey
// and the outermost silver. The bubble is pale yellow with a 1-pixel black
// outline; outside is aqua, the window's see-through colour.
#include <QFile>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "imaging/picture.h"
#include "platform/errors.h"
#include "widgets/region.h"

namespace {

constexpr int kWidth = 270;
constexpr int kHeight = 320;

struct Band {
  int top, bottom;
  std::vector<std::pair<int, int>> runs;
};

// The window's outline, rows top to bottom: [top, bottom) and [left, right).
const std::vector<Band> kOutline = {
    {0, 1, {{26, 261}}},
    {1, 2, {{24, 263}}},
    {2, 3, {{23, 264}}},
    {3, 4, {{22, 265}}},
    {4, 5, {{21, 266}}},
    {5, 6, {{21, 267}}},
    {6, 7, {{20, 268}}},
    {7, 9, {{20, 269}}},
    {9, 24, {{20, 270}}},
    {24, 26, {{19, 270}}},
    {26, 27, {{18, 270}}},
    {27, 29, {{17, 270}}},
    {29, 31, {{16, 270}}},
    {31, 32, {{15, 270}}},
    {32, 34, {{14, 270}}},
    {34, 35, {{13, 270}}},
    {35, 37, {{12, 270}}},
    {37, 38, {{11, 270}}},
    {38, 40, {{10, 270}}},
    {40, 41, {{9, 270}}},
    {41, 43, {{8, 270}}},
    {43, 45, {{7, 270}}},
    {45, 46, {{6, 270}}},
    {46, 48, {{5, 270}}},
    {48, 49, {{4, 19}, {20, 270}}},
    {49, 50, {{3, 17}, {20, 270}}},
    {50, 51, {{3, 15}, {20, 270}}},
    {51, 52, {{2, 13}, {20, 270}}},
    {52, 53, {{1, 11}, {20, 270}}},
    {53, 54, {{1, 9}, {20, 270}}},
    {54, 55, {{0, 7}, {20, 270}}},
    {55, 56, {{0, 5}, {20, 270}}},
    {56, 57, {{1, 3}, {20, 270}}},
    {57, 311, {{20, 270}}},
    {311, 313, {{21, 270}}},
    {313, 314, {{22, 270}}},
    {314, 315, {{23, 269}}},
    {315, 316, {{24, 269}}},
    {316, 317, {{25, 268}}},
    {317, 318, {{26, 267}}},
    {318, 319, {{27, 266}}},
    {319, 320, {{29, 264}}},
};

const Rgb kAqua{0, 255, 255};
const Rgb kPaleYellow{255, 255, 128};
const Rgb kBlack{0, 0, 0};
const Rgb kGrey{128, 128, 128};
const Rgb kSilver{192, 192, 192};

Picture DrawBubble() {
  std::vector<std::vector<bool>> inside(kHeight, std::vector<bool>(kWidth, false));
  for (const Band& band : kOutline)
    for (int y = band.top; y < band.bottom; ++y)
      for (const auto& [left, right] : band.runs)
        for (int x = left; x < right; ++x) inside[y][x] = true;
  const auto in = [&](int x, int y) {
    return x >= 0 && y >= 0 && x < kWidth && y < kHeight && inside[y][x];
  };
  // Own pixels cast the shadow 1 to 3 pixels diagonally; the shadow's depth
  // is the nearest own pixel up and left.
  std::vector<std::vector<int>> depth(kHeight, std::vector<int>(kWidth, -1));
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x)
      if (in(x, y) && in(x + 1, y + 1) && in(x + 2, y + 2) && in(x + 3, y + 3)) depth[y][x] = 0;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x)
      for (int k = 1; k <= 3 && depth[y][x] != 0 && in(x, y); ++k)
        if (x >= k && y >= k && depth[y - k][x - k] == 0) {
          depth[y][x] = k;
          break;
        }
  // Inside pixels no shadow reaches (the tail's tip) are the bubble's own.
  const auto own = [&](int x, int y) {
    return in(x, y) && (depth[y][x] == 0 || depth[y][x] == -1);
  };

  Picture picture;
  picture.Create(kWidth, kHeight, 24);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      Rgb colour = kAqua;
      if (own(x, y)) {
        const bool edge = !own(x - 1, y) || !own(x + 1, y) || !own(x, y - 1) || !own(x, y + 1);
        colour = edge ? kBlack : kPaleYellow;
      } else if (in(x, y)) {
        colour = depth[y][x] == 3 ? kSilver : kGrey;
      }
      picture.SetPixel(x, y, colour);
    }
  }
  return picture;
}

void Put(std::vector<uint8_t>& out, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// A plain BMP file: 40-byte header, rows bottom-up, 96 dots per inch.
std::vector<uint8_t> BmpFile(const Picture& picture) {
  const uint32_t stride = static_cast<uint32_t>(picture.Stride());
  const uint32_t imageSize = stride * static_cast<uint32_t>(picture.Height());
  std::vector<uint8_t> out;
  Put(out, 'B' | ('M' << 8), 2);
  Put(out, 54 + imageSize, 4);
  Put(out, 0, 4);
  Put(out, 54, 4);
  Put(out, 40, 4);
  Put(out, static_cast<uint32_t>(picture.Width()), 4);
  Put(out, static_cast<uint32_t>(picture.Height()), 4);
  Put(out, 1, 2);
  Put(out, 24, 2);
  Put(out, 0, 4);
  Put(out, imageSize, 4);
  Put(out, 3780, 4);
  Put(out, 3780, 4);
  Put(out, 0, 4);
  Put(out, 0, 4);
  for (int y = picture.Height() - 1; y >= 0; --y) {
    const uint8_t* row = picture.ScanLine(y);
    out.insert(out.end(), row, row + stride);
  }
  return out;
}

bool Write(const std::string& path, const std::vector<uint8_t>& bytes) {
  QFile file(QString::fromStdString(path));
  return file.open(QIODevice::WriteOnly) &&
         file.write(reinterpret_cast<const char*>(bytes.data()),
                    static_cast<qint64>(bytes.size())) == static_cast<qint64>(bytes.size());
}

bool Same(const std::string& path, const std::vector<uint8_t>& bytes) {
  QFile file(QString::fromStdString(path));
  if (!file.open(QIODevice::ReadOnly)) return false;
  const QByteArray stored = file.readAll();
  return static_cast<size_t>(stored.size()) == bytes.size() &&
         std::memcmp(stored.constData(), bytes.data(), bytes.size()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  const bool check = argc > 1 && std::strcmp(argv[1], "--check") == 0;
  const std::string folder = argc > (check ? 2 : 1) ? argv[check ? 2 : 1] : "assets";
  try {
    Picture picture = DrawBubble();
    const std::vector<uint8_t> bmp = BmpFile(picture);
    const std::vector<uint8_t> rgn = TRgn::BuildRgnData(picture).Bytes();
    const std::string bmpPath = folder + "/bubble.bmp";
    const std::string rgnPath = folder + "/bubble.rgn";
    if (check) {
      bool ok = true;
      for (const auto& [path, bytes] : {std::pair{bmpPath, bmp}, std::pair{rgnPath, rgn}}) {
        if (!Same(path, bytes)) {
          std::fprintf(stderr, "%s differs from what the generator draws\n", path.c_str());
          ok = false;
        }
      }
      return ok ? 0 : 1;
    }
    if (!Write(bmpPath, bmp) || !Write(rgnPath, rgn)) {
      std::fprintf(stderr, "cannot write the bubble into %s\n", folder.c_str());
      return 1;
    }
    return 0;
  } catch (const Exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
