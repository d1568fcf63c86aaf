#include "imaging/exif.h"

#include <cstring>

namespace {

constexpr uint8_t kMarker = 0xFF;
constexpr uint8_t kSOI = 0xD8;
constexpr uint8_t kEOI = 0xD9;
constexpr uint8_t kSOS = 0xDA;
constexpr uint8_t kAPP1 = 0xE1;
constexpr uint8_t kTEM = 0x01;
constexpr uint8_t kRST0 = 0xD0, kRST7 = 0xD7;

constexpr uint8_t kExifId[6] = {'E', 'x', 'i', 'f', 0, 0};
constexpr uint16_t kTiffMagic = 42;
constexpr uint16_t kOrientationTag = 0x0112;
constexpr uint16_t kTypeShort = 3;
constexpr size_t kEntrySize = 12;

// A TIFF structure's bytes in its own byte order; every read is checked
// against the end by the caller.
struct Tiff {
  const uint8_t* data;
  size_t size;
  bool bigEndian;

  uint16_t U16(size_t at) const {
    const unsigned a = data[at], b = data[at + 1];
    return static_cast<uint16_t>(bigEndian ? (a << 8) | b : (b << 8) | a);
  }
  uint32_t U32(size_t at) const {
    const uint32_t hi = U16(at), lo = U16(at + 2);
    return bigEndian ? (hi << 16) | lo : (lo << 16) | hi;
  }
};

TExifOrientation OrientationOfTiff(const uint8_t* data, size_t size) {
  if (size < 8) return TExifOrientation::Upright;
  Tiff tiff{data, size, false};
  if (data[0] == 'M' && data[1] == 'M')
    tiff.bigEndian = true;
  else if (!(data[0] == 'I' && data[1] == 'I'))
    return TExifOrientation::Upright;
  if (tiff.U16(2) != kTiffMagic) return TExifOrientation::Upright;
  // The first directory; only it describes the main picture (the next one is
  // the thumbnail's).
  const uint32_t ifd = tiff.U32(4);
  if (ifd > size || size - ifd < 2) return TExifOrientation::Upright;
  // Entries past the end are not there, whatever the count claims.
  const size_t present = (size - ifd - 2) / kEntrySize;
  const size_t count = tiff.U16(ifd) < present ? tiff.U16(ifd) : present;
  for (size_t i = 0; i < count; ++i) {
    const size_t entry = ifd + 2 + i * kEntrySize;
    if (tiff.U16(entry) != kOrientationTag) continue;
    if (tiff.U16(entry + 2) != kTypeShort || tiff.U32(entry + 4) != 1)
      return TExifOrientation::Upright;
    // A single short sits in the first two bytes of the value field.
    const uint16_t value = tiff.U16(entry + 8);
    if (value < 1 || value > 8) return TExifOrientation::Upright;
    return static_cast<TExifOrientation>(value);
  }
  return TExifOrientation::Upright;
}

}  // namespace

TExifOrientation ExifOrientationOfSegment(const uint8_t* data, size_t size) {
  if (size < sizeof kExifId || std::memcmp(data, kExifId, sizeof kExifId) != 0)
    return TExifOrientation::Upright;
  return OrientationOfTiff(data + sizeof kExifId, size - sizeof kExifId);
}

TExifOrientation ExifOrientation(const uint8_t* data, size_t size) {
  if (data == nullptr || size < 4 || data[0] != kMarker || data[1] != kSOI)
    return TExifOrientation::Upright;
  size_t at = 2;
  // Walk the header's segments up to the image data. Every step moves on by
  // at least one byte, so this ends within `size` steps.
  while (size - at >= 2) {
    if (data[at] != kMarker) return TExifOrientation::Upright;  // not a header we understand
    const uint8_t marker = data[at + 1];
    if (marker == kMarker) {  // fill byte before a marker
      ++at;
      continue;
    }
    if (marker == kSOS || marker == kEOI) break;
    if (marker == kTEM || (marker >= kRST0 && marker <= kRST7)) {  // no length field
      at += 2;
      continue;
    }
    if (size - at < 4) break;
    const size_t length = size_t{data[at + 2]} << 8 | data[at + 3];
    if (length < 2 || length > size - at - 2) break;  // a cut or lying segment ends the header
    if (marker == kAPP1) {
      const uint8_t* body = data + at + 4;
      const size_t bodySize = length - 2;
      // The first Exif block decides; other APP1 blocks (XMP) are skipped.
      if (bodySize >= sizeof kExifId && std::memcmp(body, kExifId, sizeof kExifId) == 0)
        return ExifOrientationOfSegment(body, bodySize);
    }
    at += 2 + length;
  }
  return TExifOrientation::Upright;
}
