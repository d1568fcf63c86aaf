#include "app/settingbutton.h"

#include <QFont>

TSettingButton::TSettingButton(QWidget* parent) : TShapeButton(parent) {
  setCursor(Qt::PointingHandCursor);
  QFont captionFont = font();
  captionFont.setFamilies({QStringLiteral("ＭＳ Ｐゴシック")});
  captionFont.setPixelSize(11);
  captionFont.setBold(true);
  setFont(captionFont);
  SetAllowAllUp(true);
  SetButtonLayoutAlignment(agTopCenter);
  SetColor(QColor(255, 255, 128));
  SetFontColor(QColor(128, 128, 128));
  SetEnterColor(Qt::black);
  SetEnterColorChange(true);
  SetHideHint(false);
  SetRepeatedClick(true);
  SetMouseOver(true);
  const QColor white(255, 255, 255);
  SetColors({white, white, white, QColor(255, 255, 0), QColor(255, 255, 200)});
  TButtonShape shape = Shape();
  shape.Shape = stRoundRect;
  shape.BrushColor = QColor(255, 255, 0);
  shape.Bevel.Color = QColor(255, 128, 0);
  shape.Shadow.Color = QColor(192, 192, 192);
  shape.Shadow.Depth = 4;
  SetShape(shape);
}
