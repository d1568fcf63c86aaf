// TSettingButton: the look every button of the settings window shares (pale
// rounded buttons with an orange bevel and a silver shadow, grey captions
// that turn black when hovered or pressed), so its layout file gives each
// button only what differs: geometry, caption, group and the odd colour.
#pragma once

#include "widgets/shapebutton.h"

class TSettingButton : public TShapeButton {
  Q_OBJECT

 public:
  explicit TSettingButton(QWidget* parent = nullptr);
};
