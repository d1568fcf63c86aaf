// TCanvas: a drawing surface over a 24-bit Picture's own pixel rows, with the
// operations the composition needs: filled and rounded rectangles with a pen,
// text measured and drawn in a font, and pictures copied (optionally leaving
// out one key colour) or stretched onto it.
//
// Shapes are drawn without antialiasing: a key-colour test later must never
// meet a blended pixel. Text may be antialiased (it never feeds such a test).
//
// The canvas writes straight into the picture it wraps. While it lives, the
// picture must not be copied, resized or converted, or the two drift apart.
#pragma once

#include <memory>
#include <string>

#include "imaging/picture.h"

class QPainterPath;

// The two outlines RoundRect fills: the outer edge of the pen's band and the
// inside that the brush fills, for a pen of the given width (at least 1).
// Filled aliased, outer with the pen and inner over it with the brush, they
// give TCanvas::RoundRect's pixels; other surfaces draw the same shape so.
void RoundRectPaths(int x1, int y1, int x2, int y2, int ellipseWidth, int ellipseHeight,
                    int penWidth, QPainterPath& outer, QPainterPath& inner);

class TCanvas {
 public:
  // Fails with EInvalidGraphicOperation unless the picture has 24 bits per
  // pixel. An empty picture gives a canvas on which drawing does nothing.
  explicit TCanvas(Picture& picture);
  ~TCanvas();
  TCanvas(const TCanvas&) = delete;
  TCanvas& operator=(const TCanvas&) = delete;

  int Width() const;
  int Height() const;

  // Brush: fills rectangles and the inside of rounded rectangles. A clear
  // brush fills nothing.
  void SetBrushColor(Rgb colour);
  void SetBrushClear(bool clear);
  // Pen: the solid outline of rounded rectangles. Width 0 draws one pixel.
  void SetPenColor(Rgb colour);
  void SetPenWidth(int width);
  // Font: size in pixels, bold or regular, and the colour text is drawn in.
  void SetFontPixelSize(int pixels);
  void SetFontBold(bool bold);
  void SetFontColor(Rgb colour);
  void SetTextAntialiasing(bool on);

  // Fills x1 <= x < x2, y1 <= y < y2 with the brush colour.
  void FillRect(int x1, int y1, int x2, int y2);
  // A rounded rectangle with the right and bottom edges exclusive: the outline
  // runs through (x1, y1)-(x2 - 1, y2 - 1) with the pen centred on it, the
  // corners are quarter ellipses of the given full width and height, and the
  // inside is filled with the brush.
  void RoundRect(int x1, int y1, int x2, int y2, int ellipseWidth, int ellipseHeight);

  // Size of a UTF-8 text in the current font.
  int TextWidth(const std::string& text) const;
  int TextHeight(const std::string& text) const;
  // Draws a UTF-8 text with its top-left corner at (x, y), without a
  // background box, in the font colour. An empty text draws nothing.
  void TextOut(int x, int y, const std::string& text);

  // Copies a picture of any depth with its top-left corner at (x, y), clipped
  // to this canvas. The source may be the wrapped picture itself.
  void Draw(int x, int y, const Picture& source);
  // As Draw, but source pixels equal to seeThrough are not copied.
  void Draw(int x, int y, const Picture& source, Rgb seeThrough);
  // Scales a picture onto x1 <= x < x2, y1 <= y < y2, nearest pixel. An
  // inverted rectangle draws nothing.
  void StretchDraw(int x1, int y1, int x2, int y2, const Picture& source);

  // The face text is drawn in: "ＭＳ Ｐゴシック" where installed, else IPA's
  // proportional gothic, else any face with Japanese glyphs.
  static std::string DefaultFontFamily();

 private:
  struct Impl;
  void CopyPicture(int x, int y, const Picture& source, const Rgb* seeThrough);
  std::unique_ptr<Impl> FImpl;
};
