// Composition of one job: the source picture scaled into its size class,
// optionally cropped square, given background-coloured rounded corners with a
// frame and imprinted with a line of text, plus the three captions and where
// the preview window puts the result. No window is needed: the preview window
// applies what Compose returns.
#pragma once

#include <cstddef>
#include <string>

#include "app/punchsettings.h"
#include "imaging/picture.h"

enum class TOrientation { Landscape, Portrait, Equal };

TOrientation OrientationOf(int width, int height);

struct TPictureSize {
  int width;
  int height;
};

// The size the scaler is asked for.
TPictureSize TargetSize(SizeClass sizeClass, TOrientation orientation);

// Pen colour and caption word of a frame choice.
struct TFrameStyle {
  Rgb pen;
  const char* caption;
};
const TFrameStyle& FrameStyle(FrameColour frame);

// The rounded rectangle of a W x H picture: right and bottom exclusive, the
// pen centred on its outline, the corner ellipse's full width and height.
struct TCornerGeometry {
  int penWidth;
  int x1, y1, x2, y2;
  int ellipse;
};
TCornerGeometry CornerGeometry(int width, int height);

// Where the preview window shows a W x H picture: wide pictures size the
// window's client area around them, narrower ones are centred in the
// 320 x 240 picture area by moving the picture control.
struct TPlacement {
  bool sizesClient;
  int clientWidth = 0;
  int clientHeight = 0;
  int imageLeft = 0;
  int imageTop = 0;
};
TPlacement PlacementFor(int width, int height);

// The imprint is one centred line on a picture at most 270 pixels wide: a
// longer stored text is drawn as its middle this many characters, far more
// than such a line can show.
inline constexpr size_t MaxImprintCharacters = 1024;

// Draws the settings' imprint once on a scratch picture, so the calling thread
// has its fonts and glyphs loaded before its first job. The font libraries load
// them per thread and crash when an allocation fails on the way, so a batch
// does this on each worker before any picture is read, and only with room to
// spare: without it, this raises EOutOfMemory instead.
void PrepareImprint(const PunchSettings& settings);

struct TComposition {
  Picture picture;     // 24 bits per pixel
  std::string label1;  // size, e.g. "210x158"
  std::string label2;  // frame and imprint, e.g. "青枠/文字あり"
  std::string label3;  // status sentence
  TPlacement placement{};
  bool beep = false;       // single mode sounds the default beep
  std::string sourcePath;  // the job's path in single mode, for saving later
};

// Reads a job's picture, choosing the reader by the extension alone. Any other
// extension gives the empty picture, which the scaler refuses. A JPEG photo
// comes out upright by its Exif orientation tag.
Picture ReadJobPicture(const std::string& path);

// A job's picture scaled into its size class, with the upright source's
// orientation.
struct TScaledJob {
  Picture picture;
  TOrientation orientation = TOrientation::Equal;
};
// Reads and scales one job. Gives the same pixels as ReadJobPicture followed
// by Stretch to the size class's target (within 1 per channel for a turned
// photo), without keeping the full-size photo.
TScaledJob ReadAndScaleJob(const std::string& path, SizeClass sizeClass);

// Owns the corner overlay: one picture for the whole run, so a batch
// allocates it once. Every job refills it before drawing it.
class TPunchComposer {
 public:
  static constexpr int OverlayWidth = 640;
  static constexpr int OverlayHeight = 480;
  // The overlay's key colour: its pixels of this colour are not drawn.
  static constexpr Rgb SeeThrough{255, 0, 255};

  TPunchComposer();

  TComposition Compose(const Picture& source, const PunchSettings& settings, bool singleMode);
  // The steps after scaling: crop, corners and frame, imprint, captions.
  TComposition Decorate(TScaledJob job, const PunchSettings& settings, bool singleMode);
  // Reads the job's file, then composes it.
  TComposition ComposeFile(const std::string& path, const PunchSettings& settings, bool singleMode);

  const Picture& Overlay() const { return FOverlay; }

 private:
  Picture FOverlay;
};
