// libjpeg behind a plain C++ interface: bytes come from and go to memory in
// 4096-byte chunks, a fatal codec error becomes EJPEG (with the codec's own
// text as its reason), warnings are ignored, and no longjmp ever crosses a
// frame that owns a resource. TJPEGImage is built on these three calls.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "imaging/jpegsettings.h"

class Picture;
class TRowSink;

// Told the work done so far (0 to 100) while coding. It may throw: EAbort
// stops the work without a failure (see DecodeJPEG, EncodeJPEG), anything
// else propagates.
using TJPEGProgress = std::function<void(int percentDone)>;

struct TJPEGHeader {
  int Width = 0;
  int Height = 0;
  bool Grayscale = false;  // the file's colour space
  bool MultiScan = false;
  int Scans = 0;        // start-of-scan markers before the end marker
  uint64_t Blocks = 0;  // coefficient blocks of all components
};

// No real encoder writes more scans than this; a file with more only burns time.
inline constexpr int JPEGMaxScans = 500;
// Scans times coefficient blocks that a multi-scan file may cost: each scan
// visits every block again. A 48 MP progressive photo with the usual 10 scans
// needs 11.4 million, a 100 MP one 23 million; a crafted 16000 x 16000 file
// with 499 scans would need 2 billion (over a minute).
inline constexpr uint64_t JPEGMaxScanBlocks = 64'000'000;

// Where a JPEG file's markers say its scans are and where it ends.
struct TJPEGLayout {
  int Scans = 0;
  size_t End = 0;  // just past the end marker, or the whole size without one
};

// Walks the markers without decoding anything. Bytes after the end marker
// are not part of the file.
TJPEGLayout ReadJPEGLayout(std::span<const uint8_t> bytes);

// The header of a JPEG file held in memory (an image is required).
TJPEGHeader ReadJPEGHeader(std::span<const uint8_t> bytes);

// Decodes with the settings' decoding choices, after refusing a file whose
// scans or work exceed the limits above: into picture (replaced), or,
// when picture is null, to the sink a strip of rows at a time (see
// TJPEGImage::DecodeTo). A stop by EAbort from progress returns normally,
// the rows not decoded being zero. With a multi-scan file and
// ProgressiveDecode, progress sees each scan.
void DecodeJPEG(std::span<const uint8_t> bytes, const TJPEGSettings& settings,
                const TJPEGProgress& progress, Picture* picture, TRowSink* sink);

// Encodes the picture (any depth; converted to 24 bits on a copy) as a
// baseline or progressive JFIF file into out. EAbort from progress propagates.
void EncodeJPEG(const Picture& picture, const TJPEGSettings& settings,
                const TJPEGProgress& progress, std::vector<uint8_t>& out);
