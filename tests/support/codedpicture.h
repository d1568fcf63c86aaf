// Pictures whose every pixel tells where it came from, so a test can see
// which source pixel ended up where: red grows across the columns, green
// down the rows, and blue is one value for the whole picture.
#pragma once

#include <QImage>
#include <cstdint>
#include <vector>

#include "imaging/picture.h"

struct Coding {
  // One channel along its axis: `from` at the first pixel and `step` more at
  // each next one, wrapping past 255; or, with `to` given, spread evenly from
  // `from` at the first pixel to `to` at the last.
  struct Ramp {
    int from = 0;
    int step = 1;
    int to = -1;
    uint8_t At(int position, int extent) const {
      if (to < 0) return static_cast<uint8_t>(from + position * step);
      return static_cast<uint8_t>(extent > 1 ? from + position * (to - from) / (extent - 1) : from);
    }
  };
  Ramp red = {};
  Ramp green = {};
  int blue = 7;
  // 8 makes a paletted picture: index red + green (wrapping), over a palette
  // in which every index has its own colour (CodedPaletteEntry).
  int bitCount = 24;
};

inline Rgb CodedPaletteEntry(int index) {
  return {static_cast<uint8_t>(index), static_cast<uint8_t>(255 - index),
          static_cast<uint8_t>(index / 2)};
}

// Pixel (x, y) of a width x height coded picture: its colour, or at 8 bits its index.
inline Rgb CodedColour(const Coding& coding, int x, int y, int width, int height) {
  return {coding.red.At(x, width), coding.green.At(y, height), static_cast<uint8_t>(coding.blue)};
}
inline uint8_t CodedIndex(const Coding& coding, int x, int y, int width, int height) {
  return static_cast<uint8_t>(coding.red.At(x, width) + coding.green.At(y, height));
}

inline Picture CodedPicture(int width, int height, const Coding& coding = {}) {
  Picture picture;
  picture.Create(width, height, coding.bitCount);
  if (coding.bitCount == 8) {
    std::vector<Rgb> palette(256);
    for (int i = 0; i < 256; ++i) palette[i] = CodedPaletteEntry(i);
    picture.SetPalette(palette);
  }
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      if (coding.bitCount == 8)
        picture.ScanLine(y)[x] = CodedIndex(coding, x, y, width, height);
      else
        picture.SetPixel(x, y, CodedColour(coding, x, y, width, height));
    }
  return picture;
}

// The same picture as Qt holds it (RGB32, or Indexed8 at 8 bits).
inline QImage CodedImage(int width, int height, const Coding& coding = {}) {
  const bool paletted = coding.bitCount == 8;
  QImage image(width, height, paletted ? QImage::Format_Indexed8 : QImage::Format_RGB32);
  if (paletted) {
    image.setColorCount(256);
    for (int i = 0; i < 256; ++i) {
      const Rgb c = CodedPaletteEntry(i);
      image.setColor(i, qRgb(c.r, c.g, c.b));
    }
  }
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      if (paletted) {
        image.setPixel(x, y, CodedIndex(coding, x, y, width, height));
      } else {
        const Rgb c = CodedColour(coding, x, y, width, height);
        image.setPixel(x, y, qRgb(c.r, c.g, c.b));
      }
    }
  return image;
}
