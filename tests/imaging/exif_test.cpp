#include "imaging/exif.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "support/exifsegment.h"

using namespace exiftest;

namespace {

// Just enough of a JPEG file for the header walk: quantisation table, start of
// scan, a little data, end.
Bytes Jpeg() {
  Bytes b{0xFF, 0xD8};
  Bytes dqt = Segment(0xDB, Bytes(65, 1));
  b.insert(b.end(), dqt.begin(), dqt.end());
  Bytes sos = Segment(0xDA, Bytes(10, 0));
  b.insert(b.end(), sos.begin(), sos.end());
  b.insert(b.end(), {0x12, 0x34, 0xFF, 0xD9});
  return b;
}

// Read from a buffer of exactly the bytes given, so that reading past them
// shows under the address sanitizer.
int Read(const Bytes& file) {
  const Bytes exact(file);
  return static_cast<int>(ExifOrientation(exact.data(), exact.size()));
}
int ReadSegment(const Bytes& body, size_t size) {
  const Bytes exact(body.begin(), body.begin() + static_cast<ptrdiff_t>(size));
  return static_cast<int>(ExifOrientationOfSegment(exact.data(), exact.size()));
}

Bytes Patched(Bytes b, size_t at, std::vector<uint8_t> with) {
  for (size_t i = 0; i < with.size(); ++i) b[at + i] = with[i];
  return b;
}

}  // namespace

TEST(Exif, ReadsTheOrientationWhereverTheHeaderPutsIt) {
  for (unsigned o = 1; o <= 8; ++o)
    for (bool bigEndian : {false, true})
      EXPECT_EQ(Read(WithOrientation(Jpeg(), o, bigEndian)), int(o)) << o << " " << bigEndian;

  const Bytes exif6 = Segment(0xE1, ExifBody(6, true));
  const Bytes jfif = Segment(0xE0, {'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0});
  const Bytes xmp = Segment(0xE1, {'h', 't', 't', 'p', ':', '/', '/', 'n', 's', 0});
  // After a JFIF header, an XMP block and one to three fill bytes; the first
  // Exif block decides.
  for (size_t fills = 1; fills <= 3; ++fills) {
    Bytes fill(fills, 0xFF);
    fill.insert(fill.end(), exif6.begin(), exif6.end());
    EXPECT_EQ(Read(WithSegments(Jpeg(), {jfif, xmp, fill})), 6) << fills;
  }
  EXPECT_EQ(Read(WithSegments(Jpeg(), {exif6, Segment(0xE1, ExifBody(3, false))})), 6);

  // Nothing to find: no Exif block, an Exif block after the image data has
  // begun, or the tag only in the thumbnail's directory.
  EXPECT_EQ(Read(Jpeg()), 1);
  EXPECT_EQ(Read(WithSegments(Jpeg(), {jfif, xmp})), 1);
  // The walk ends at the start of scan, even where a marker follows at once.
  for (const size_t fromEnd : {4, 2}) {
    Bytes late = Jpeg();
    late.insert(late.end() - static_cast<ptrdiff_t>(fromEnd), exif6.begin(), exif6.end());
    EXPECT_EQ(Read(late), 1) << fromEnd;
  }
  TiffWriter t{false, {'E', 'x', 'i', 'f', 0, 0, 'I', 'I'}};
  t.U16(42);
  t.U32(8);
  t.U16(1);
  t.Entry(0x010F, 2, 4, 0);
  t.U32(26);  // the thumbnail's directory follows
  t.U16(1);
  t.Entry(0x0112, 3, 1, 6);
  t.U32(0);
  EXPECT_EQ(Read(WithSegments(Jpeg(), {Segment(0xE1, t.bytes)})), 1);
}

TEST(Exif, HostileOrBrokenTagsMeanUpright) {
  const Bytes body = ExifBody(6, false);
  // Offsets in the body: TIFF header at 6, first directory at 14, its count
  // at 14, the orientation entry at 28 (type 30, count 32, value 36).
  const std::vector<Bytes> bodies = {
      ExifBody(0, false),
      ExifBody(9, true),
      ExifBody(0xFFFF, false),
      ExifBody(6, false, 4),     // a long instead of a short
      ExifBody(6, false, 3, 2),  // two values
      Patched(body, 4, {1}),     // not "Exif\0\0"
      Patched(body, 6, {'I', 'M'}),
      Patched(body, 8, {43}),
      Patched(body, 10, {0xFF, 0xFF, 0xFF, 0xFF}),                 // directory far outside
      Patched(body, 10, {uint8_t(body.size() - 6 - 1), 0, 0, 0}),  // directory at the last byte
      Patched(body, 32, {0xFF, 0xFF, 0xFF, 0xFF}),
  };
  for (size_t i = 0; i < bodies.size(); ++i)
    EXPECT_EQ(Read(WithSegments(Jpeg(), {Segment(0xE1, bodies[i])})), 1) << i;

  // A directory claiming 65535 entries holds only what is there.
  const Bytes many = Patched(body, 14, {0xFF, 0xFF});
  EXPECT_EQ(ReadSegment(many, many.size()), 6);
  EXPECT_EQ(ReadSegment(many, 6 + 8 + 2 + 12 + 11), 1);

  // Segment lengths that lie: too short to be one, longer than the file.
  const Bytes exif = Segment(0xE1, body);
  const Bytes whole = WithSegments(Jpeg(), {exif});
  EXPECT_EQ(Read(Patched(whole, 4, {0, 1})), 1);
  EXPECT_EQ(Read(Patched(whole, 4, {0xFF, 0xFF})), 1);
  EXPECT_EQ(Read(Patched(whole, 0, {0xFF, 0xD9})), 1);  // not a JPEG file
  EXPECT_EQ(Read(Patched(whole, 2, {0x00})), 1);        // garbage where a marker belongs
  EXPECT_EQ(Read({}), 1);
  EXPECT_EQ(static_cast<int>(ExifOrientation(nullptr, 0)), 1);

  // Every cut of the file or of the block reads only what is there, and finds
  // the tag exactly when its segment, or its directory entry, is complete.
  for (size_t n = 0; n <= whole.size(); ++n) {
    const Bytes cut(whole.begin(), whole.begin() + static_cast<ptrdiff_t>(n));
    EXPECT_EQ(Read(cut), n >= 2 + exif.size() ? 6 : 1) << n;
  }
  for (size_t n = 0; n <= body.size(); ++n)
    EXPECT_EQ(ReadSegment(body, n), n >= 6 + 8 + 2 + 2 * 12 ? 6 : 1) << n;
}
