// A consumer of picture rows, top row first. Lets a decoder hand its rows
// straight to the scaler, so a batch never holds a whole full-size photo.
#pragma once

#include <cstddef>
#include <cstdint>

class TRowSink {
 public:
  virtual ~TRowSink() = default;
  // Once, before any row: the full picture's size.
  virtual void Begin(int width, int height) = 0;
  // `count` consecutive 24-bit rows (blue, green, red) starting at row
  // `first`, each `stride` bytes after the previous one. Rows arrive in
  // order, each exactly once; the data is only valid during the call.
  virtual void Rows(int first, int count, const uint8_t* data, ptrdiff_t stride) = 0;
};
