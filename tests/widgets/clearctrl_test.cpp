#include "widgets/clearctrl.h"

#include <gtest/gtest.h>

#include <QImage>
#include <QPainter>
#include <QWidget>

TEST(ClearButton, KeyColourShowsTheBackgroundAndTheCaptionIsWhite) {
  QWidget parent;
  parent.setAutoFillBackground(true);
  QPalette palette = parent.palette();
  palette.setColor(QPalette::Window, QColor(255, 255, 128));
  parent.setPalette(palette);
  TClearButton button(&parent);
  button.setGeometry(0, 0, 60, 50);

  // A 20 x 20 amber square with a black (see-through) left half.
  QImage picture(20, 20, QImage::Format_RGB32);
  picture.fill(QColor(255, 204, 0));
  QPainter(&picture).fillRect(0, 0, 10, 20, Qt::black);
  button.SetPicture(picture);
  button.SetTransparentColor(Qt::black);
  button.SetCaptionTop(30);
  button.setText("[OK]");

  const QImage shot = parent.grab(QRect(0, 0, 60, 50)).toImage();
  const int left = (60 - 20) / 2;
  EXPECT_EQ(shot.pixelColor(left + 5, 10), QColor(255, 255, 128));  // see-through half
  EXPECT_EQ(shot.pixelColor(left + 15, 10), QColor(255, 204, 0));   // drawn half
  bool white = false;
  for (int y = 30; y < 50 && !white; ++y)
    for (int x = 0; x < 60 && !white; ++x) white = shot.pixelColor(x, y) == QColor(Qt::white);
  EXPECT_TRUE(white) << "caption not drawn in white below CaptionTop";
  for (int y = 0; y < 28; ++y)
    for (int x = 0; x < 60; ++x)
      ASSERT_NE(shot.pixelColor(x, y), QColor(Qt::white))
          << "caption above CaptionTop at " << x << "," << y;
}
