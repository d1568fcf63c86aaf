// Feeds arbitrary bytes to the BMP reader. A clean failure is an exception of
// the program's own classes; anything else (another exception, a crash, a
// sanitizer report, a runaway allocation) is a finding.
#include <cstddef>
#include <cstdint>

#include "imaging/picture.h"
#include "platform/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Picture picture;
  try {
    picture.LoadFromMemory(data, size);
  } catch (const Exception&) {
    return 0;
  }
  // Look at the pixels (all of a small picture, the corners of a big one)
  // so that storage that does not match the picture's size or a palette or
  // mask the lookup mishandles shows up under the sanitizers.
  if (!picture.Empty()) {
    const int w = picture.Width();
    const int h = picture.Height();
    const bool small = int64_t{w} * h <= 65536;
    unsigned sum = 0;
    for (int y = 0; y < h; y += (small || y == h - 1) ? 1 : h - 1)
      for (int x = 0; x < w; x += (small || x == w - 1) ? 1 : w - 1) {
        const Rgb c = picture.Pixel(x, y);
        sum += c.r + c.g + c.b;
      }
    sum += picture.TransparentColor().g;
    volatile unsigned sink = sum;
    (void)sink;
  }
  return 0;
}
