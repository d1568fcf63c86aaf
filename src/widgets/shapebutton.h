// TShapeButton: the shape button with every property published, so a form
// description (.ui file) can set it. Nested settings are published field by
// field: Colors.Up as ColorsUp, Shape.Shadow.Depth as ShapeShadowDepth,
// ButtonLayout.Alignment as ButtonLayoutAlignment.
#pragma once

#include "widgets/customshapebutton.h"

class TShapeButton : public TCustomShapeButton {
  Q_OBJECT
  Q_PROPERTY(QString Caption READ Caption WRITE SetCaption)
  Q_PROPERTY(int GroupIndex READ GroupIndex WRITE SetGroupIndex)
  Q_PROPERTY(bool Pressed READ Pressed WRITE SetPressed)
  Q_PROPERTY(bool AllowAllUp READ AllowAllUp WRITE SetAllowAllUp)
  Q_PROPERTY(bool AllowMouseOver READ AllowMouseOver WRITE SetAllowMouseOver)
  Q_PROPERTY(bool AllowTransparency READ AllowTransparency WRITE SetAllowTransparency)
  Q_PROPERTY(bool MouseOver READ MouseOver WRITE SetMouseOver)
  Q_PROPERTY(bool RepeatedClick READ RepeatedClick WRITE SetRepeatedClick)
  Q_PROPERTY(int RepeatingDelay READ RepeatingDelay WRITE SetRepeatingDelay)
  Q_PROPERTY(int RepeatingInterval READ RepeatingInterval WRITE SetRepeatingInterval)
  Q_PROPERTY(QColor EnterColor READ EnterColor WRITE SetEnterColor)
  Q_PROPERTY(bool EnterColorChange READ EnterColorChange WRITE SetEnterColorChange)
  Q_PROPERTY(bool HideHint READ HideHint WRITE SetHideHint)
  Q_PROPERTY(QColor Color READ Color WRITE SetColor)
  Q_PROPERTY(bool Transparent READ Transparent WRITE SetTransparent)
  Q_PROPERTY(QColor FontColor READ FontColor WRITE SetFontColor)
  Q_PROPERTY(bool UseCaption READ UseCaption WRITE SetUseCaption)
  Q_PROPERTY(bool MultiLine READ MultiLine WRITE SetMultiLine)
  Q_PROPERTY(TBaseGraphicButton::TLayoutAlignment ButtonLayoutAlignment READ ButtonLayoutAlignment
                 WRITE SetButtonLayoutAlignment)
  Q_PROPERTY(TBaseGraphicButton::TTextArrange ButtonLayoutAlignText2Glyph READ
                 ButtonLayoutAlignText2Glyph WRITE SetButtonLayoutAlignText2Glyph)
  Q_PROPERTY(int ButtonLayoutOffsetX READ ButtonLayoutOffsetX WRITE SetButtonLayoutOffsetX)
  Q_PROPERTY(int ButtonLayoutOffsetY READ ButtonLayoutOffsetY WRITE SetButtonLayoutOffsetY)
  Q_PROPERTY(int ButtonLayoutSpacing READ ButtonLayoutSpacing WRITE SetButtonLayoutSpacing)
  Q_PROPERTY(QColor ColorsDisabled READ ColorsDisabled WRITE SetColorsDisabled)
  Q_PROPERTY(QColor ColorsDown READ ColorsDown WRITE SetColorsDown)
  Q_PROPERTY(QColor ColorsMouseOver READ ColorsMouseOver WRITE SetColorsMouseOver)
  Q_PROPERTY(QColor ColorsOptionSet READ ColorsOptionSet WRITE SetColorsOptionSet)
  Q_PROPERTY(QColor ColorsUp READ ColorsUp WRITE SetColorsUp)
  Q_PROPERTY(TCustomShapeButton::TShapeType ShapeShape READ ShapeShape WRITE SetShapeShape)
  Q_PROPERTY(int ShapeRoundPercent READ ShapeRoundPercent WRITE SetShapeRoundPercent)
  Q_PROPERTY(bool ShapeSquare READ ShapeSquare WRITE SetShapeSquare)
  Q_PROPERTY(QColor ShapeBrushColor READ ShapeBrushColor WRITE SetShapeBrushColor)
  Q_PROPERTY(QColor ShapeShadowColor READ ShapeShadowColor WRITE SetShapeShadowColor)
  Q_PROPERTY(int ShapeShadowDepth READ ShapeShadowDepth WRITE SetShapeShadowDepth)
  Q_PROPERTY(TCustomShapeButton::THintShadowStyle ShapeShadowStyle READ ShapeShadowStyle WRITE
                 SetShapeShadowStyle)
  Q_PROPERTY(QColor ShapeBevelColor READ ShapeBevelColor WRITE SetShapeBevelColor)
  Q_PROPERTY(int ShapeBevelWidth READ ShapeBevelWidth WRITE SetShapeBevelWidth)
  Q_PROPERTY(
      TCustomShapeButton::TBevelStyle ShapeBevelStyle READ ShapeBevelStyle WRITE SetShapeBevelStyle)
  Q_PROPERTY(QColor ShapeBevelLightColor READ ShapeBevelLightColor WRITE SetShapeBevelLightColor)
  Q_PROPERTY(QColor ShapeBevelShadowColor READ ShapeBevelShadowColor WRITE SetShapeBevelShadowColor)
  Q_PROPERTY(TCustomShapeButton::TShapeButtonMode Mode READ Mode WRITE SetMode)
  Q_PROPERTY(TCustomShapeButton::TShapeButtonStyle Style READ Style WRITE SetStyle)

 public:
  explicit TShapeButton(QWidget* parent = nullptr);
};
