// Bitmaputils: scaling of pictures.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <utility>

#include "imaging/picture.h"
#include "imaging/rowsink.h"

// Scales source to exactly width x height pixels at 24 bits per pixel. Each
// target pixel is the mean, over its footprint in source coordinates, of the
// bilinear surface through the source pixel centres (edge pixels repeated
// outside), rounded half to even. The source is left unchanged.
//
// Fails with EAssertionFailed when the source is empty or a target side is
// negative, and with EZeroDivide when a target side is 0; nothing is created
// in either case.
Picture Stretch(const Picture& source, int width, int height);

// The same scaling for a picture whose rows arrive in order, in chunks of any
// size: a decoder can feed it without ever holding the full-size picture.
// Between rows it keeps only what later target rows still need, a few rows'
// worth of sums, whatever the source's height.
class TStretcher : public TRowSink {
 public:
  // Chooses the target size from the source size, which is known at Begin.
  using TTargetSize = std::function<std::pair<int, int>(int width, int height)>;

  explicit TStretcher(TTargetSize targetSize);
  TStretcher(int width, int height);
  ~TStretcher() override;
  TStretcher(const TStretcher&) = delete;
  TStretcher& operator=(const TStretcher&) = delete;

  // Checks the sizes exactly as Stretch does, before creating anything, and
  // starts a new picture; an unfinished one is dropped.
  void Begin(int width, int height) override;
  // Fails with EAssertionFailed before Begin, and for rows out of order or
  // beyond the height; after a failure the picture must be begun again.
  void Rows(int first, int count, const uint8_t* data, ptrdiff_t stride) override;
  // The scaled picture. Fails with EAssertionFailed unless every source row
  // has arrived. The stretcher then waits for the next Begin.
  Picture Finish();

 private:
  struct State;
  TTargetSize FTargetSize;
  std::unique_ptr<State> FState;
};
