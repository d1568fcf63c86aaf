// Bitmaputils: scaling of pictures.
#pragma once

#include "imaging/picture.h"

// Scales source to exactly width x height pixels at 24 bits per pixel. Each
// target pixel is the mean, over its footprint in source coordinates, of the
// bilinear surface through the source pixel centres (edge pixels repeated
// outside), rounded half to even. The source is left unchanged.
//
// Fails with EAssertionFailed when the source is empty or a target side is
// negative, and with EZeroDivide when a target side is 0; nothing is created
// in either case.
Picture Stretch(const Picture& source, int width, int height);
