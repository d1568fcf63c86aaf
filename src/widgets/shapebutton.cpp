#include "widgets/shapebutton.h"

TShapeButton::TShapeButton(QWidget* parent) : TCustomShapeButton(parent) {}
