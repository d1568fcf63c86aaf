// How a JPEG picture is decoded and encoded, and the process-wide defaults.
#pragma once

struct TJPEGSettings {
  int Quality = 90;                // encoding quality, 1 to 100
  bool Grayscale = false;          // decode to grey; write a grayscale file
  bool FastDecode = false;         // fast integer transform, ordered dither
  bool EightBitOutput = false;     // decode into an 8-bit picture of at most 236 colours
  bool ProgressiveDecode = false;  // show a multi-scan file scan by scan
  bool ProgressiveEncode = false;  // write progressive; set by loading from the file
  int ScaleShift = 0;              // decode at 1 / 2^ScaleShift (0 to 3)
  bool BlockSmoothing = true;      // the codec's smoothing of early progressive scans
};

// The process-wide defaults every new TJPEGImage copies. The application sets
// EightBitOutput from the screen's depth once at start-up.
TJPEGSettings& JPEGDefaults();
