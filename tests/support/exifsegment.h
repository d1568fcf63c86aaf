// Builds Exif blocks and puts them into JPEG files, as cameras write them:
// "Exif\0\0", a TIFF header in either byte order, and a first directory with
// a few tags around the orientation.
#pragma once

#include <cstdint>
#include <vector>

namespace exiftest {

using Bytes = std::vector<uint8_t>;

struct TiffWriter {
  bool bigEndian;
  Bytes bytes;
  void U16(unsigned v) {
    if (bigEndian) {
      bytes.push_back(uint8_t(v >> 8));
      bytes.push_back(uint8_t(v));
    } else {
      bytes.push_back(uint8_t(v));
      bytes.push_back(uint8_t(v >> 8));
    }
  }
  void U32(uint32_t v) {
    if (bigEndian) {
      U16(v >> 16);
      U16(v & 0xFFFF);
    } else {
      U16(v & 0xFFFF);
      U16(v >> 16);
    }
  }
  void Entry(unsigned tag, unsigned type, uint32_t count, uint32_t value) {
    U16(tag);
    U16(type);
    U32(count);
    if (type == 3 && count == 1) {  // a short sits first in the value field
      U16(value);
      U16(0);
    } else {
      U32(value);
    }
  }
};

// The APP1 body (after the length field). The orientation entry is the second
// of three in the first directory; `type` and `count` may be made wrong.
inline Bytes ExifBody(unsigned orientation, bool bigEndian, unsigned type = 3, uint32_t count = 1) {
  TiffWriter t{bigEndian, {}};
  t.bytes = {'E', 'x', 'i', 'f', 0, 0};
  t.bytes.push_back(bigEndian ? 'M' : 'I');
  t.bytes.push_back(bigEndian ? 'M' : 'I');
  t.U16(42);
  t.U32(8);
  t.U16(3);
  t.Entry(0x010F, 2, 4, 0x41424300);  // Make, "ABC" in the value field
  t.Entry(0x0112, type, count, orientation);
  t.Entry(0x011A, 5, 1, 50);  // XResolution, pointing at nothing we read
  t.U32(0);                   // no further directory
  return t.bytes;
}

// A segment of the given marker and body.
inline Bytes Segment(uint8_t marker, const Bytes& body) {
  const size_t length = body.size() + 2;
  Bytes s;
  s.reserve(length + 2);
  for (uint8_t b : {uint8_t(0xFF), marker, uint8_t(length >> 8), uint8_t(length)}) s.push_back(b);
  for (uint8_t b : body) s.push_back(b);
  return s;
}

// The file with the segments put right after its start-of-image marker.
inline Bytes WithSegments(const Bytes& jpeg, const std::vector<Bytes>& segments) {
  Bytes out;
  out.reserve(jpeg.size() + 64 * segments.size());
  auto append = [&out](auto from, auto to) {
    for (auto it = from; it != to; ++it) out.push_back(*it);
  };
  append(jpeg.begin(), jpeg.begin() + 2);
  for (const Bytes& s : segments) append(s.begin(), s.end());
  append(jpeg.begin() + 2, jpeg.end());
  return out;
}

inline Bytes WithOrientation(const Bytes& jpeg, unsigned orientation, bool bigEndian = false) {
  return WithSegments(jpeg, {Segment(0xE1, ExifBody(orientation, bigEndian))});
}

}  // namespace exiftest
