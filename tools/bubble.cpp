// Draws the settings window's speech bubble into assets/ and scans it into
// the window's region data block: bubble.bmp (270 x 320, 24 bits) and
// bubble.rgn, and the bubble at twice the size for screens with more pixels
// (bubble@2x.png). Both are committed and compiled in; at run time nothing is
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
#include <QImage>
#include <algorithm>
#include <cmath>
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

// Which pixels lie inside the outline at a scale. At twice the size each
// device row's edges move halfway towards the neighbouring row's edges, never
// outwards, so the steps of the outline are cut at their corners and the
// picture stays within the window's shape.
std::vector<std::vector<bool>> Inside(int scale) {
  std::vector<std::vector<std::pair<int, int>>> rows(kHeight);
  for (const Band& band : kOutline)
    for (int y = band.top; y < band.bottom; ++y) rows[y] = band.runs;
  std::vector<std::vector<bool>> inside(kHeight * scale, std::vector<bool>(kWidth * scale, false));
  for (int y = 0; y < kHeight * scale; ++y) {
    const int row = y / scale;
    // The neighbouring row on this device row's side of its row.
    const int other = y % scale < scale / 2 ? row - 1 : row + 1;
    const bool smooth =
        scale > 1 && other >= 0 && other < kHeight && rows[other].size() == rows[row].size();
    for (size_t i = 0; i < rows[row].size(); ++i) {
      double left = rows[row][i].first;
      double right = rows[row][i].second;
      if (smooth) {
        left = std::max(left, (left + rows[other][i].first) / 2);
        right = std::min(right, (right + rows[other][i].second) / 2);
      }
      // A device pixel is inside when its centre is.
      const int from = static_cast<int>(std::ceil(left * scale - 0.5));
      const int to = static_cast<int>(std::ceil(right * scale - 0.5));
      for (int x = from; x < to; ++x) inside[y][x] = true;
    }
  }
  return inside;
}

// The bubble's colours, rows top to bottom; lengths scale with the picture.
std::vector<std::vector<Rgb>> DrawBubble(int scale) {
  const int width = kWidth * scale;
  const int height = kHeight * scale;
  const std::vector<std::vector<bool>> inside = Inside(scale);
  const auto in = [&](int x, int y) {
    return x >= 0 && y >= 0 && x < width && y < height && inside[y][x];
  };
  // Own pixels cast the shadow 1 to 3 pixels diagonally; the shadow's depth
  // is the nearest own pixel up and left.
  const int shadow = 3 * scale;
  std::vector<std::vector<int>> depth(height, std::vector<int>(width, -1));
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      bool lit = true;
      for (int k = 0; k <= shadow && lit; ++k) lit = in(x + k, y + k);
      if (lit) depth[y][x] = 0;
    }
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x)
      for (int k = 1; k <= shadow && depth[y][x] != 0 && in(x, y); ++k)
        if (x >= k && y >= k && depth[y - k][x - k] == 0) {
          depth[y][x] = k;
          break;
        }
  // Inside pixels no shadow reaches (the tail's tip) are the bubble's own.
  const auto own = [&](int x, int y) {
    return in(x, y) && (depth[y][x] == 0 || depth[y][x] == -1);
  };

  std::vector<std::vector<Rgb>> colours(height, std::vector<Rgb>(width, kAqua));
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      Rgb& colour = colours[y][x];
      if (own(x, y)) {
        bool edge = false;
        for (int k = 1; k <= scale && !edge; ++k)
          edge = !own(x - k, y) || !own(x + k, y) || !own(x, y - k) || !own(x, y + k);
        colour = edge ? kBlack : kPaleYellow;
      } else if (in(x, y)) {
        colour = depth[y][x] > 2 * scale ? kSilver : kGrey;
      }
    }
  }
  return colours;
}

Picture ToPicture(const std::vector<std::vector<Rgb>>& colours) {
  Picture picture;
  picture.Create(static_cast<int>(colours[0].size()), static_cast<int>(colours.size()), 24);
  for (int y = 0; y < picture.Height(); ++y)
    for (int x = 0; x < picture.Width(); ++x) picture.SetPixel(x, y, colours[y][x]);
  return picture;
}

QImage ToImage(const std::vector<std::vector<Rgb>>& colours) {
  QImage image(static_cast<int>(colours[0].size()), static_cast<int>(colours.size()),
               QImage::Format_RGB32);
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      image.setPixel(x, y, qRgb(colours[y][x].r, colours[y][x].g, colours[y][x].b));
  return image;
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
    Picture picture = ToPicture(DrawBubble(1));
    const std::vector<uint8_t> bmp = BmpFile(picture);
    const std::vector<uint8_t> rgn = TRgn::BuildRgnData(picture).Bytes();
    const QImage twice = ToImage(DrawBubble(2));
    const std::string bmpPath = folder + "/bubble.bmp";
    const std::string rgnPath = folder + "/bubble.rgn";
    const std::string twicePath = folder + "/bubble@2x.png";
    if (check) {
      bool ok = true;
      for (const auto& [path, bytes] : {std::pair{bmpPath, bmp}, std::pair{rgnPath, rgn}}) {
        if (!Same(path, bytes)) {
          std::fprintf(stderr, "%s differs from what the generator draws\n", path.c_str());
          ok = false;
        }
      }
      // PNG bytes depend on the compressor: the pixels are compared.
      if (QImage(QString::fromStdString(twicePath)).convertToFormat(QImage::Format_RGB32) !=
          twice) {
        std::fprintf(stderr, "%s differs from what the generator draws\n", twicePath.c_str());
        ok = false;
      }
      return ok ? 0 : 1;
    }
    if (!Write(bmpPath, bmp) || !Write(rgnPath, rgn) ||
        !twice.save(QString::fromStdString(twicePath))) {
      std::fprintf(stderr, "cannot write the bubble into %s\n", folder.c_str());
      return 1;
    }
    return 0;
  } catch (const Exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
}
