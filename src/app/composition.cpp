#include "app/composition.h"

#include <sys/mman.h>

#include <array>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "imaging/bitmaputils.h"
#include "imaging/canvas.h"
#include "imaging/jpegimage.h"
#include "imaging/orientation.h"
#include "platform/errors.h"
#include "platform/paths.h"

namespace {

// Target sizes by size class (L, M, S) and orientation (landscape, portrait,
// equal).
constexpr std::array<std::array<TPictureSize, 3>, 3> kTargetSizes{{
    {{{270, 210}, {210, 270}, {270, 270}}},
    {{{210, 158}, {158, 210}, {210, 210}}},
    {{{140, 105}, {105, 140}, {140, 140}}},
}};

// In the order of the frame group's buttons.
constexpr std::array<TFrameStyle, 11> kFrameStyles{{
    {TPunchComposer::SeeThrough, "枠なし/"},  // drawn in the key colour: no frame shows
    {{0, 0, 255}, "青枠/"},
    {{0, 128, 0}, "緑枠/"},
    {{0, 255, 0}, "黄緑枠/"},
    {{0, 255, 255}, "水枠/"},
    {{128, 0, 128}, "紫枠/"},
    {{255, 128, 192}, "桃枠/"},
    {{255, 0, 0}, "赤枠/"},
    {{128, 0, 0}, "茶枠/"},
    {{255, 128, 0}, "橙枠/"},
    {{255, 255, 0}, "黄枠/"},
}};

// Imprint font size in pixels and bottom margin, by size class.
struct TImprintStyle {
  int pixelSize;
  int margin;
};
constexpr std::array<TImprintStyle, 3> kImprintStyles{{{16, 20}, {12, 12}, {11, 6}}};

constexpr Rgb kWhite{255, 255, 255};
constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kShadow{128, 128, 128};

// The picture area narrower pictures are centred in, and the caption strip
// below a wide picture.
constexpr int kAreaWidth = 320;
constexpr int kAreaHeight = 240;
constexpr int kImageOrigin = 2;
constexpr int kCaptionStrip = 60;

// Keeps the middle square: the content moves left (landscape) or up by half
// the difference, then the far side is cut.
void CropToSquare(Picture& picture, TOrientation orientation) {
  const int w = picture.Width();
  const int h = picture.Height();
  {
    TCanvas canvas(picture);
    if (orientation == TOrientation::Landscape)
      canvas.Draw(-(w - h) / 2, 0, picture);
    else
      canvas.Draw(0, -(h - w) / 2, picture);
  }
  if (orientation == TOrientation::Landscape)
    picture.SetWidth(h);
  else
    picture.SetHeight(w);
}

// The middle MaxImprintCharacters characters of a longer text: a line
// centred on a picture at most 270 pixels wide shows only its middle, and
// laying out a stored text of a megabyte would cost a third of a second and
// tens of megabytes for every picture.
std::string DrawnPart(const std::string& text) {
  const auto starts = [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; };
  size_t count = 0;
  for (char c : text) count += starts(c);
  if (count <= MaxImprintCharacters) return text;
  const size_t skip = (count - MaxImprintCharacters) / 2;
  size_t begin = 0, end = text.size(), seen = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    if (!starts(text[i])) continue;
    if (seen == skip) begin = i;
    if (seen == skip + MaxImprintCharacters) {
      end = i;
      break;
    }
    ++seen;
  }
  return text.substr(begin, end - begin);
}

void Imprint(Picture& picture, SizeClass sizeClass, const std::string& storedText) {
  const TImprintStyle& style = kImprintStyles[static_cast<int>(sizeClass)];
  const std::string text = DrawnPart(storedText);
  TCanvas canvas(picture);
  canvas.SetBrushClear(true);
  canvas.SetFontBold(true);
  canvas.SetFontPixelSize(style.pixelSize);
  const int x = (picture.Width() - canvas.TextWidth(text)) / 2;
  const int y = picture.Height() - canvas.TextHeight(text) - style.margin;
  if (text.empty()) return;
  // A grey copy one pixel to the lower right shadows the white text.
  canvas.SetFontColor(kShadow);
  canvas.TextOut(x + 1, y + 1, text);
  canvas.SetFontColor(kWhite);
  canvas.TextOut(x, y, text);
}

// Qt's painting and font libraries crash, rather than fail, when an
// allocation fails. Before calling into them a batch makes sure that this
// much address space is free: a thread's first imprint loads font files,
// faces and glyph caches; drawing on a picture of a size class takes far less.
constexpr size_t kImprintRoom = size_t{24} << 20;
constexpr size_t kDrawingRoom = size_t{2} << 20;

// One thread draws at a time, so two cannot both count on the same room.
std::mutex drawingMutex;

bool RoomFor(size_t bytes) {
  void* room = mmap(nullptr, bytes, PROT_NONE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
  if (room == MAP_FAILED) return false;
  munmap(room, bytes);
  return true;
}

// Holds the drawing lock once `bytes` of address space proved free; raises
// EOutOfMemory when they are not. Another worker decoding a large photo may
// hold the room for a moment, so it is awaited for a while first.
class TDrawingRoom {
 public:
  explicit TDrawingRoom(size_t bytes) : FLock(drawingMutex) {
    using namespace std::chrono_literals;
    const auto deadline = std::chrono::steady_clock::now() + 3s;
    while (!RoomFor(bytes)) {
      if (std::chrono::steady_clock::now() >= deadline) throw EOutOfMemory(SOutOfMemory);
      std::this_thread::sleep_for(10ms);
    }
  }

 private:
  std::lock_guard<std::mutex> FLock;
};

}  // namespace

void PrepareImprint(const PunchSettings& settings) {
  // The widest picture shows every glyph that any narrower one shows.
  const TPictureSize size = TargetSize(settings.sizeClass(), TOrientation::Landscape);
  Picture scratch;
  scratch.Create(size.width, size.height, 24);
  const TDrawingRoom room(kImprintRoom);
  Imprint(scratch, settings.sizeClass(), settings.imprintText);
}

TOrientation OrientationOf(int width, int height) {
  if (width > height) return TOrientation::Landscape;
  if (width < height) return TOrientation::Portrait;
  return TOrientation::Equal;
}

TPictureSize TargetSize(SizeClass sizeClass, TOrientation orientation) {
  return kTargetSizes[static_cast<int>(sizeClass)][static_cast<int>(orientation)];
}

const TFrameStyle& FrameStyle(FrameColour frame) { return kFrameStyles[static_cast<int>(frame)]; }

TCornerGeometry CornerGeometry(int width, int height) {
  const int pen = height / 30;
  const int p = pen / 2;
  return {pen, p, p, width - p + 1, height - p + 1, height / 5};
}

TPlacement PlacementFor(int width, int height) {
  if (width >= 240) return {true, width + 4, height + kCaptionStrip, 0, 0};
  return {false, 0, 0, (kAreaWidth - width) / 2 + kImageOrigin,
          (kAreaHeight - height) / 2 + kImageOrigin};
}

Picture ReadJobPicture(const std::string& path) {
  Picture picture;
  const std::string ext = ExtractFileExt(path);
  if (IsBmpExtension(ext)) {
    picture.LoadFromFile(path);
  } else if (IsJpegExtension(ext)) {
    // A camera's sideways photo is turned upright before anything measures it.
    TJPEGImage jpeg;
    jpeg.LoadFromFile(path);
    picture = DecodeUpright(jpeg);
  }
  return picture;
}

// Scales a whole picture into its size class.
static TScaledJob ScaleJob(const Picture& source, SizeClass sizeClass) {
  TScaledJob job;
  job.orientation = OrientationOf(source.Width(), source.Height());
  const TPictureSize target = TargetSize(sizeClass, job.orientation);
  try {
    job.picture = Stretch(source, target.width, target.height);
  } catch (Exception& e) {
    if (source.Empty()) e.SetReason("the file holds no picture");  // an empty BMP, say
    throw;
  }
  return job;
}

static TScaledJob ReadAndScale(const std::string& path, SizeClass sizeClass) {
  TScaledJob job;
  if (IsJpegExtension(ExtractFileExt(path))) {
    // Decoded rows go straight into the scaler: a camera photo never needs
    // its full-size picture in memory.
    TJPEGImage jpeg;
    jpeg.LoadFromFile(path);
    job.picture = DecodeScaledUpright(jpeg, [&job, sizeClass](int width, int height) {
      job.orientation = OrientationOf(width, height);
      const TPictureSize target = TargetSize(sizeClass, job.orientation);
      return std::pair{target.width, target.height};
    });
    return job;
  }
  return ScaleJob(ReadJobPicture(path), sizeClass);
}

TScaledJob ReadAndScaleJob(const std::string& path, SizeClass sizeClass) {
  try {
    return ReadAndScale(path, sizeClass);
  } catch (Exception& e) {
    e.SetFileName(path);  // even a failure of the scaler says which job it was
    throw;
  }
}

TPunchComposer::TPunchComposer() {
  // Blank and small until a job converts it to 24 bits and fills it: one bit
  // per pixel, every pixel white.
  FOverlay.Create(OverlayWidth, OverlayHeight, 1);
  FOverlay.SetPalette({kBlack, kWhite});
  std::memset(FOverlay.Bits(), 0xFF,
              static_cast<size_t>(FOverlay.Stride()) * static_cast<size_t>(OverlayHeight));
}

TComposition TPunchComposer::Compose(const Picture& source, const PunchSettings& settings,
                                     bool singleMode) {
  return Decorate(ScaleJob(source, settings.sizeClass()), settings, singleMode);
}

TComposition TPunchComposer::Decorate(TScaledJob job, const PunchSettings& settings,
                                      bool singleMode) {
  TComposition result;
  const TOrientation orientation = job.orientation;
  Picture& picture = result.picture;
  picture = std::move(job.picture);
  FOverlay.ConvertTo24();
  const TDrawingRoom room(kDrawingRoom);
  if (settings.shapeMode() == ShapeMode::Square) CropToSquare(picture, orientation);
  const int w = picture.Width();
  const int h = picture.Height();
  result.label1 = std::to_string(w) + "x" + std::to_string(h);

  std::string frameWord;
  if (settings.roundCorners()) {
    const TFrameStyle& frame = FrameStyle(settings.frameColour());
    const TCornerGeometry corner = CornerGeometry(w, h);
    {
      TCanvas overlay(FOverlay);
      overlay.SetBrushColor(settings.backgroundColour() == BackgroundColour::Black ? kBlack
                                                                                   : kWhite);
      if (orientation == TOrientation::Portrait)
        overlay.FillRect(0, 0, OverlayHeight, OverlayWidth);
      else
        overlay.FillRect(0, 0, OverlayWidth, OverlayHeight);
      overlay.SetPenWidth(corner.penWidth);
      overlay.SetPenColor(frame.pen);
      overlay.SetBrushColor(SeeThrough);
      overlay.RoundRect(corner.x1, corner.y1, corner.x2, corner.y2, corner.ellipse, corner.ellipse);
    }
    frameWord = frame.caption;
    TCanvas(picture).Draw(0, 0, FOverlay, SeeThrough);
  }

  if (settings.textImprint()) Imprint(picture, settings.sizeClass(), settings.imprintText);

  result.label2 = frameWord + (settings.textImprint() ? "文字あり" : "文字なし");
  result.placement = PlacementFor(w, h);
  result.beep = singleMode;
  result.label3 = singleMode ? "でパンチしました♪" : "でパンチ中です♪";
  return result;
}

TComposition TPunchComposer::ComposeFile(const std::string& path, const PunchSettings& settings,
                                         bool singleMode) {
  TComposition result = Decorate(ReadAndScaleJob(path, settings.sizeClass()), settings, singleMode);
  if (singleMode) result.sourcePath = path;
  return result;
}
