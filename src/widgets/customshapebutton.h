// TCustomShapeButton: a windowless button drawn as a rounded rectangle with
// a drop shadow, filled by state from Colors, hit only inside its shape.
//
// Painted are the fast mode (fill from Colors) with the shadow style: the
// shape stRoundRect and the bevel sbNormal. The other shapes are drawn as
// stRoundRect; the other modes, styles and bevels as the painted ones.
#pragma once

#include <QColor>
#include <QImage>
#include <QPoint>
#include <QSize>
#include <array>

#include "widgets/basegraphicbutton.h"

class TCustomShapeButton : public TBaseGraphicButton {
  Q_OBJECT

 public:
  enum TShapeType {
    stEllipse,
    stRectangle,
    stRoundRect,
    stDirectUp,
    stDirectRight,
    stDirectDown,
    stDirectLeft,
    stDiamond,
    stComb,
    stOctagon,
    stStar
  };
  Q_ENUM(TShapeType)
  enum THintShadowStyle { hssNone, hssSolid, hssTracing };
  Q_ENUM(THintShadowStyle)
  enum TBevelStyle { sbNormal, sbInset, sbOffset };
  Q_ENUM(TBevelStyle)
  enum TShapeButtonMode { sbmShapeFast, sbmShapeFill };
  Q_ENUM(TShapeButtonMode)
  enum TShapeButtonStyle { sbsShadow, sbs3D };
  Q_ENUM(TShapeButtonStyle)

  // Fill colour of the shape per state.
  struct TShapeButtonColor {
    QColor Disabled, Down, MouseOver, OptionSet, Up;
    friend bool operator==(const TShapeButtonColor&, const TShapeButtonColor&) = default;
  };
  struct TShapeShadow {
    QColor Color;
    int Depth = 6;  // 0 to 40
    THintShadowStyle Style = hssSolid;
    friend bool operator==(const TShapeShadow&, const TShapeShadow&) = default;
  };
  struct TSimpleBevel {
    QColor Color{0, 0, 0};
    int Width = 2;  // 0 to 50
    TBevelStyle Style = sbNormal;
    QColor LightColor, ShadowColor;
    friend bool operator==(const TSimpleBevel&, const TSimpleBevel&) = default;
  };
  struct TButtonShape {
    TShapeType Shape = stRectangle;
    int RoundPercent = 33;  // 0 to 100
    bool Square = false;
    QColor BrushColor;  // the Brush; the fast mode fills from Colors instead
    TShapeShadow Shadow;
    TSimpleBevel Bevel;
    friend bool operator==(const TButtonShape&, const TButtonShape&) = default;
  };

  // The cached outline: P0 and P1 the shape rectangle, P2 the corner size,
  // P3..P5 the body (see ShapePoints).
  using TShapePoints = std::array<QPoint, 6>;

  explicit TCustomShapeButton(QWidget* parent = nullptr);

  const TShapeButtonColor& Colors() const { return FColors; }
  void SetColors(const TShapeButtonColor& colours);
  const TButtonShape& Shape() const { return FShape; }
  void SetShape(const TButtonShape& shape);
  TShapeButtonMode Mode() const { return FMode; }
  void SetMode(TShapeButtonMode mode);
  TShapeButtonStyle Style() const { return FStyle; }
  void SetStyle(TShapeButtonStyle style);

  // The six outline points for a client size and shape settings.
  static TShapePoints ShapePoints(int width, int height, const TButtonShape& shape);
  // This button's cached outline, recomputed when size or shape change.
  const TShapePoints& Points() const;
  // Where the caption is aligned in the current state (right and bottom
  // exclusive, as QRect::right() + 1).
  QRect CaptionRect() const;

  // Field-by-field access, so a form description can set each one.
  QColor ColorsDisabled() const { return FColors.Disabled; }
  void SetColorsDisabled(const QColor& c) { SetColorsField(&TShapeButtonColor::Disabled, c); }
  QColor ColorsDown() const { return FColors.Down; }
  void SetColorsDown(const QColor& c) { SetColorsField(&TShapeButtonColor::Down, c); }
  QColor ColorsMouseOver() const { return FColors.MouseOver; }
  void SetColorsMouseOver(const QColor& c) { SetColorsField(&TShapeButtonColor::MouseOver, c); }
  QColor ColorsOptionSet() const { return FColors.OptionSet; }
  void SetColorsOptionSet(const QColor& c) { SetColorsField(&TShapeButtonColor::OptionSet, c); }
  QColor ColorsUp() const { return FColors.Up; }
  void SetColorsUp(const QColor& c) { SetColorsField(&TShapeButtonColor::Up, c); }

  TShapeType ShapeShape() const { return FShape.Shape; }
  void SetShapeShape(TShapeType v);
  int ShapeRoundPercent() const { return FShape.RoundPercent; }
  void SetShapeRoundPercent(int v);
  bool ShapeSquare() const { return FShape.Square; }
  void SetShapeSquare(bool v);
  QColor ShapeBrushColor() const { return FShape.BrushColor; }
  void SetShapeBrushColor(const QColor& v);
  QColor ShapeShadowColor() const { return FShape.Shadow.Color; }
  void SetShapeShadowColor(const QColor& v);
  int ShapeShadowDepth() const { return FShape.Shadow.Depth; }
  void SetShapeShadowDepth(int v);
  THintShadowStyle ShapeShadowStyle() const { return FShape.Shadow.Style; }
  void SetShapeShadowStyle(THintShadowStyle v);
  QColor ShapeBevelColor() const { return FShape.Bevel.Color; }
  void SetShapeBevelColor(const QColor& v);
  int ShapeBevelWidth() const { return FShape.Bevel.Width; }
  void SetShapeBevelWidth(int v);
  TBevelStyle ShapeBevelStyle() const { return FShape.Bevel.Style; }
  void SetShapeBevelStyle(TBevelStyle v);
  QColor ShapeBevelLightColor() const { return FShape.Bevel.LightColor; }
  void SetShapeBevelLightColor(const QColor& v);
  QColor ShapeBevelShadowColor() const { return FShape.Bevel.ShadowColor; }
  void SetShapeBevelShadowColor(const QColor& v);

 protected:
  bool ShapeButtonColorChange() const override;
  bool VerifyTransparency(QPoint point) const override;

  void paintEvent(QPaintEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;

 private:
  void SetColorsField(QColor TShapeButtonColor::*field, const QColor& colour);
  void ShapeChanged();

  TShapeButtonColor FColors;
  TButtonShape FShape;
  TShapeButtonMode FMode = sbmShapeFast;
  TShapeButtonStyle FStyle = sbsShadow;
  mutable TShapePoints FPoints;
  // The hit region, rasterised as the body is: non-zero inside.
  mutable QImage FHitMask;
  mutable QSize FPointsSize;
  mutable bool FPointsValid = false;
};

using TShapeType = TCustomShapeButton::TShapeType;
using THintShadowStyle = TCustomShapeButton::THintShadowStyle;
using TBevelStyle = TCustomShapeButton::TBevelStyle;
using TShapeButtonMode = TCustomShapeButton::TShapeButtonMode;
using TShapeButtonStyle = TCustomShapeButton::TShapeButtonStyle;
using TShapeButtonColor = TCustomShapeButton::TShapeButtonColor;
using TShapeShadow = TCustomShapeButton::TShapeShadow;
using TSimpleBevel = TCustomShapeButton::TSimpleBevel;
using TButtonShape = TCustomShapeButton::TButtonShape;
