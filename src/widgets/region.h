// TRgn gives its parent window an outline taken from a bitmap, and paints the
// bitmap. The outline is scanned once, when a bitmap is assigned, into a
// region data block (RegionData) that is stored beside the bitmap; loading
// the stored pair turns the block into a region without scanning.
#pragma once

#include <QByteArray>
#include <QImage>
#include <QRegion>
#include <QString>
#include <QWidget>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "imaging/picture.h"

// One rectangle of a block: right and bottom exclusive.
struct RgnRect {
  int32_t left = 0, top = 0, right = 0, bottom = 0;
  friend bool operator==(const RgnRect&, const RgnRect&) = default;
};

// The rectangle-list region layout, little-endian: a 32-byte header (header
// size 32, kind 1, count n, list size 16n, bounding rectangle) followed by n
// rectangles in banded form: bands top to bottom, rectangles of a band left
// to right, sharing its top and bottom, neither touching nor overlapping;
// consecutive rows with identical runs make one band.
class RegionData {
 public:
  static constexpr size_t HeaderSize = 32;

  RegionData() = default;
  // Takes stored bytes as they are; Rects() tells whether they are a block.
  explicit RegionData(std::vector<uint8_t> bytes) : FBytes(std::move(bytes)) {}

  // The banded block of a list of rows of runs, row y = first + index. Each
  // row's runs are left to right, half-open, not touching.
  struct Run {
    int32_t left, right;
  };
  static RegionData FromRows(int first, const std::vector<std::vector<Run>>& rows);
  // The banded block of a region.
  static RegionData FromRegion(const QRegion& region);

  const std::vector<uint8_t>& Bytes() const { return FBytes; }
  size_t Size() const { return FBytes.size(); }
  bool Empty() const { return FBytes.empty(); }

  // The rectangles of a well-formed block (header, sizes and every
  // rectangle checked); nothing when the bytes are not one.
  std::optional<std::vector<RgnRect>> Rects() const;
  // The region of a well-formed block, each rectangle scaled and then moved;
  // nothing when the bytes are not one or a rectangle lands out of range.
  std::optional<QRegion> ToRegion(double scaleX = 1, double scaleY = 1, QPoint offset = {}) const;

 private:
  std::vector<uint8_t> FBytes;
};

class TRgn : public QWidget {
  Q_OBJECT
  Q_PROPERTY(bool AutoSize READ AutoSize WRITE SetAutoSize)
  Q_PROPERTY(bool Transparent READ Transparent WRITE SetTransparent)
  Q_PROPERTY(QString Bitmap2xFile READ Bitmap2xFile WRITE SetBitmap2xFile)

 public:
  explicit TRgn(QWidget* parent = nullptr);
  ~TRgn() override;

  // Scans a bitmap into a block. 1- and 4-bit pictures become 8-bit (palette
  // indices), 16- and 32-bit ones 24-bit, in place. The key is the
  // bottom-left pixel; every other pixel is inside. Fails with
  // EInvalidGraphic for an empty picture or a row of too many runs.
  static RegionData BuildRgnData(Picture& bitmap);
  // Most runs a row may have: the test runs before each run, so a row may
  // end with one run beyond this.
  static constexpr int MaxRunsPerRow = 100;

  const Picture& RgnBitmap() const { return FRgnBitmap; }
  // Copies the bitmap and scans it. On failure the control is left without
  // bitmap and block, and the error is passed on.
  void SetRgnBmp(const Picture& bitmap);
  bool AutoSize() const { return FAutoSize; }
  void SetAutoSize(bool autoSize);
  bool Transparent() const { return FTransparent; }
  void SetTransparent(bool transparent);
  // The bitmap drawn at twice the size (a file or resource), shown instead of
  // the doubled bitmap where the screen has 1.5 or more pixels to each of the
  // control's and the window is see-through: the window's shape is cut in
  // the control's pixels, so only the picture's key colour, see-through,
  // gives the sharper outline. Read when first needed; a picture of another
  // size than twice the bitmap is not used.
  QString Bitmap2xFile() const { return FBitmap2xFile; }
  void SetBitmap2xFile(const QString& file);
  // A form being laid out: assigning a bitmap sizes the control to it.
  bool Designing() const { return FDesigning; }
  void SetDesigning(bool designing) { FDesigning = designing; }

  // The stored pair, as a form is read: the bitmap taken as it is (nothing
  // scanned) and the block, then Loaded().
  void ReadRgnBitmap(const Picture& bitmap);
  void ReadRgnData(const QByteArray& bytes);
  QByteArray WriteRgnData() const;
  // Reads a BMP file and a block file (paths may be Qt resources) and loads
  // them; fails with EFOpenError or EInvalidGraphic, or as Loaded().
  void LoadStored(const QString& bitmapPath, const QString& dataPath);
  // After reading: builds the masks when transparent; at run time UpdateRgn.
  void Loaded();

  // Makes the region from the block, scaled to the control unless AutoSize,
  // moved to its position in the parent.
  void UpdateRgn();
  // Hands the region to the parent window as its shape (frameless, no
  // background of its own); the window keeps it. With no region left, the
  // window's shape is removed.
  void SetWndRgn();
  void MakeMask();
  void DestoryRgn();
  // With AutoSize, a bitmap of positive size fixes width and height.
  void SetBounds(int left, int top, int width, int height);

  const RegionData& RgnData() const { return FRgnData; }
  int RgnSize() const { return static_cast<int>(FRgnData.Size()); }
  // The region made by UpdateRgn and not yet handed over.
  const QRegion* Rgn() const { return FRgn.get(); }
  // Masks for transparent painting: the mask is 1 (white) on key pixels;
  // the colour copy has them black.
  const QImage& MaskBmp() const { return FMaskBmp; }
  const QImage& ColorBmp() const { return FColorBmp; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void BitmapChanged();
  const QImage& Bitmap2x();

  Picture FRgnBitmap;
  QImage FBitmapImage;  // the bitmap as Qt draws it
  RegionData FRgnData;
  std::unique_ptr<QRegion> FRgn;
  QImage FMaskBmp;
  QImage FColorBmp;
  QImage FWorkBmp;
  QString FBitmap2xFile;
  QImage FBitmap2x;  // key pixels see-through
  bool FBitmap2xRead = false;
  bool FAutoSize = false;
  bool FTransparent = false;
  bool FDesigning = false;
  bool FLoading = false;
};

// The settings window's speech bubble and its block, compiled in.
inline constexpr const char* BubbleBitmapResource = ":/punchlet/bubble.bmp";
inline constexpr const char* BubbleRgnDataResource = ":/punchlet/bubble.rgn";
