// Picture: a device-independent bitmap. Depths 1, 4, 8, 16, 24 and 32 bits,
// rows top-down with a stride that is a multiple of 4 bytes, 24-bit pixels as
// blue, green, red. Pixel storage is shared between copies until one of them
// writes (copy on write), so handing a decoded photo on costs nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

class Picture;

// A picture held in some other form (a JPEG file) that can give its decoded
// picture: what Picture::Assign takes.
class TGraphic {
 public:
  virtual ~TGraphic() = default;
  // Decodes first when needed.
  virtual const Picture& Bitmap() = 0;
};

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
  friend bool operator==(const Rgb&, const Rgb&) = default;
};

struct BitFields {
  uint32_t red = 0, green = 0, blue = 0;
  friend bool operator==(const BitFields&, const BitFields&) = default;
};

class Picture {
 public:
  // No reader makes a picture of more pixels than this (16384 x 16384): it
  // bounds what a hostile header can make us allocate.
  static constexpr int64_t MaxPixels = int64_t{1} << 28;

  Picture() = default;

  int Width() const { return FWidth; }
  int Height() const { return FHeight; }
  int BitCount() const { return FBitCount; }
  bool Empty() const { return FWidth == 0 || FHeight == 0; }
  int Stride() const { return StrideFor(FWidth, FBitCount); }
  static int StrideFor(int width, int bitCount);

  // Replaces the image with a width x height picture of the given depth, all
  // bytes zero. Fails with EInvalidGraphic for a bad depth or size.
  void Create(int width, int height, int bitCount);
  // As Create, but the pixel bytes are left for the caller to fill entirely.
  void CreateUninitialised(int width, int height, int bitCount);
  // A reader's full-size decoded picture: its bytes are first reserved from
  // the calling thread's memory budget (see memorybudget.h), which may wait,
  // and are given back when they are freed. Zeroed or left for the caller.
  void CreateDecoded(int width, int height, int bitCount, bool zeroed);

  // Changes the size keeping the pixels that remain; new pixels are zero.
  void SetSize(int width, int height);
  void SetWidth(int width) { SetSize(width, FHeight); }
  void SetHeight(int height) { SetSize(FWidth, height); }

  // Row y (0 = top). The writable form makes the pixels private to this copy.
  uint8_t* ScanLine(int y);
  const uint8_t* ScanLine(int y) const { return FPixels + static_cast<size_t>(y) * Stride(); }
  const uint8_t* Bits() const { return FPixels; }
  uint8_t* Bits();

  const std::vector<Rgb>& Palette() const { return FPalette; }
  void SetPalette(std::vector<Rgb> palette) { FPalette = std::move(palette); }
  // Masks of 16- and 32-bit pixels; zero masks mean 5-5-5 and 8-8-8.
  const BitFields& Masks() const { return FMasks; }
  void SetMasks(const BitFields& masks) { FMasks = masks; }

  // Colour of one pixel at any depth; SetPixel works on 24-bit pictures.
  Rgb Pixel(int x, int y) const;
  void SetPixel(int x, int y, Rgb colour);

  // Converts the pixels to 24 bits in place (nothing to do when they are).
  void ConvertTo24();

  // The key colour used when drawing this picture onto another: the
  // bottom-left pixel unless one is fixed.
  Rgb TransparentColor() const;
  void SetTransparentColor(Rgb colour) {
    FTransparentColor = colour;
    FTransparentFixed = true;
  }
  void ResetTransparentColor() { FTransparentFixed = false; }

  // Reads a BMP file (see bmpreader.h). On failure the picture is unchanged.
  void LoadFromFile(const std::string& path);
  // Reads a BMP file held in memory.
  void LoadFromMemory(const uint8_t* data, size_t size);
  // Becomes (a shared copy of) the graphic's decoded picture, decoding if needed.
  void Assign(TGraphic& graphic);

 private:
  struct Storage;
  void Allocate(int width, int height, int bitCount, bool zero, bool budgeted = false);
  void Detach();
  // Takes the image of another picture, keeping this one's key colour.
  void TakeImage(Picture&& image);

  int FWidth = 0;
  int FHeight = 0;
  int FBitCount = 24;
  std::shared_ptr<Storage> FStorage;
  uint8_t* FPixels = nullptr;
  std::vector<Rgb> FPalette;
  BitFields FMasks;
  Rgb FTransparentColor;
  bool FTransparentFixed = false;
};

// Fails with EInvalidGraphic when a width x height picture would exceed
// Picture::MaxPixels or a side is negative.
void CheckPictureSize(int64_t width, int64_t height);
