// Loads and decodes arbitrary bytes as a JPEG file, then writes a small result
// again, and scales it while decoding. A clear error (an Exception) is a fine outcome; a crash, a
// leak, a hang or any other exception is a finding.
#include <cstddef>
#include <cstdint>

#include "imaging/bitmaputils.h"
#include "imaging/jpegimage.h"
#include "platform/errors.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The last byte picks the settings, read against the last byte of a JPEG
  // file's end marker (0xD9) so that a complete file decodes as the program
  // does. The codec ignores whatever follows the end marker.
  const unsigned flags = size > 0 ? data[size - 1] ^ 0xD9u : 0;
  TJPEGImage jpeg;
  jpeg.EightBitOutput = (flags & 1) != 0;
  jpeg.Grayscale = (flags & 2) != 0;
  jpeg.FastDecode = (flags & 4) != 0;
  jpeg.ProgressiveDecode = (flags & 8) != 0;
  jpeg.BlockSmoothing = (flags & 16) == 0;
  jpeg.ScaleShift = static_cast<int>((flags >> 5) & 3);
  try {
    jpeg.LoadFromMemory(data, size);
    // A header may claim a huge picture that the reader rightly takes; its
    // limits still run, but the decode stops at the first progress report.
    if (int64_t{jpeg.Width()} * jpeg.Height() > (int64_t{1} << 22))
      jpeg.OnProgress = [](TJPEGImage&, int) { throw EAbort(""); };
    jpeg.Decode();
    const Picture& picture = jpeg.Bitmap();
    if (picture.Width() != jpeg.Width() || picture.Height() != jpeg.Height()) __builtin_trap();
    if (!picture.Empty() && int64_t{picture.Width()} * picture.Height() <= 64 * 64) {
      TJPEGImage copy;
      copy.Assign(picture);
      copy.Quality = 100;
      copy.ProgressiveEncode = (flags & 128) != 0;
      copy.Grayscale = jpeg.Grayscale;
      if (copy.SaveToMemory().empty()) __builtin_trap();
    }
  } catch (const Exception&) {
  }
  // The pipeline's path: rows streamed into the scaler, which must agree with
  // scaling the decoded picture.
  try {
    TStretcher stretcher(17, 11);
    jpeg.DecodeTo(stretcher);
    const Picture streamed = stretcher.Finish();
    if (jpeg.HasBitmap() && !jpeg.Bitmap().Empty()) {
      const Picture scaled = Stretch(jpeg.Bitmap(), 17, 11);
      for (int y = 0; y < 11; ++y)
        for (int x = 0; x < 17; ++x)
          if (!(streamed.Pixel(x, y) == scaled.Pixel(x, y))) __builtin_trap();
    }
  } catch (const Exception&) {
  }
  return 0;
}
