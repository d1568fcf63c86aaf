// TClearButton stand-in: a flat push button that shows a picture with its
// caption drawn over it. The shaped, see-through button replaces it later;
// callers use only what is declared here.
#pragma once

#include <QImage>
#include <QPushButton>

class TClearButton : public QPushButton {
  Q_OBJECT

 public:
  explicit TClearButton(QWidget* parent = nullptr);

  // The picture; pixels of TransparentColor() are not drawn.
  void SetPicture(const QImage& picture);
  QColor TransparentColor() const { return FTransparentColor; }
  void SetTransparentColor(const QColor& colour);
  // Distance of the caption's top from the button's top.
  int CaptionTop() const { return FCaptionTop; }
  void SetCaptionTop(int top);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QImage FPicture;
  QColor FTransparentColor{Qt::black};
  int FCaptionTop = 0;
};
