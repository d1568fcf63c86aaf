// The orientation tag of a JPEG file's Exif block: how the stored rows must
// be turned or mirrored to show the picture upright, as cameras and phones
// record it.
#pragma once

#include <cstddef>
#include <cstdint>

// The tag's values. The names say what the stored picture needs to be shown
// upright.
enum class TExifOrientation : uint8_t {
  Upright = 1,
  MirrorHorizontal = 2,
  Rotate180 = 3,
  MirrorVertical = 4,
  Transpose = 5,   // mirrored about the top-left to bottom-right diagonal
  Rotate90CW = 6,  // the stored top row is the upright picture's right column
  Transverse = 7,  // mirrored about the other diagonal
  Rotate270CW = 8,
};

// The orientation recorded in the first Exif block of a JPEG file's header
// (the APP1 segments before the image data), or Upright when there is none or
// it cannot be read: a missing tag, an unknown value, or lengths and offsets
// that point outside the bytes are all taken as "as stored". Reads only within
// [data, data + size) and never allocates.
TExifOrientation ExifOrientation(const uint8_t* data, size_t size);

// The same, for the contents of one APP1 segment (after its length field).
TExifOrientation ExifOrientationOfSegment(const uint8_t* data, size_t size);

// Whether upright width and height are the stored height and width.
inline bool SwapsAxes(TExifOrientation o) { return static_cast<int>(o) >= 5; }
