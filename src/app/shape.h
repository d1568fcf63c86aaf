// TShape: a rounded rectangle drawn as a plain shape control does, without
// smoothing: filled with the brush colour and outlined one pixel wide in the
// pen colour over its whole rectangle, its corner ellipse a quarter of the
// smaller side wide and high. Only what it draws covers what lies below.
#pragma once

#include <QColor>
#include <QWidget>

class TShape : public QWidget {
  Q_OBJECT
  Q_PROPERTY(QColor BrushColor READ BrushColor WRITE SetBrushColor)
  Q_PROPERTY(QColor PenColor READ PenColor WRITE SetPenColor)

 public:
  explicit TShape(QWidget* parent = nullptr);

  QColor BrushColor() const { return FBrushColor; }
  void SetBrushColor(const QColor& colour);
  QColor PenColor() const { return FPenColor; }
  void SetPenColor(const QColor& colour);
  // Width and height of the corner ellipse.
  int CornerEllipse() const;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QColor FBrushColor = Qt::white;
  QColor FPenColor = Qt::black;
};
