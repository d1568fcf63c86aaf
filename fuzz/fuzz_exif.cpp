// Reads the orientation tag of arbitrary bytes, as a whole file and as one
// Exif block; a file that decodes to a small picture is also turned upright,
// whole and streamed, and the two must agree within 1 per channel.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <utility>

#include "imaging/orientation.h"
#include "platform/errors.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int whole = static_cast<int>(ExifOrientation(data, size));
  const int block = static_cast<int>(ExifOrientationOfSegment(data, size));
  Check(whole >= 1 && whole <= 8 && block >= 1 && block <= 8);

  try {
    TJPEGImage jpeg;
    jpeg.LoadFromMemory(data, size);
    if (int64_t{jpeg.Width()} * jpeg.Height() > 96 * 96) return 0;
    const Picture upright = DecodeUpright(jpeg);
    if (upright.Empty()) return 0;
    const bool swap = SwapsAxes(ExifOrientation(jpeg));
    Check(upright.Width() == (swap ? jpeg.Height() : jpeg.Width()));
    const Picture scaled = DecodeScaledUpright(jpeg, [](int w, int h) {
      return w > h ? std::pair{13, 7} : std::pair{7, 13};
    });
    const Picture reference = Stretch(upright, scaled.Width(), scaled.Height());
    for (int y = 0; y < scaled.Height(); ++y)
      for (int x = 0; x < scaled.Width(); ++x) {
        const Rgb p = scaled.Pixel(x, y), q = reference.Pixel(x, y);
        Check(std::abs(p.r - q.r) <= 1 && std::abs(p.g - q.g) <= 1 && std::abs(p.b - q.b) <= 1);
      }
  } catch (const Exception&) {
  }
  return 0;
}
