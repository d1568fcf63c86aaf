// Checks on a few chosen pixels of a drawn image.
#pragma once

#include <gtest/gtest.h>

#include <QColor>
#include <QImage>
#include <initializer_list>

// Every pixel at the (x, y) pairs given shows the colour.
inline void ExpectColour(const QImage& image, const QColor& colour,
                         std::initializer_list<int> xys) {
  for (const int* at = xys.begin(); at + 1 < xys.end(); at += 2)
    EXPECT_EQ(image.pixelColor(at[0], at[1]).name(QColor::HexArgb).toStdString(),
              colour.name(QColor::HexArgb).toStdString())
        << at[0] << "," << at[1];
}
