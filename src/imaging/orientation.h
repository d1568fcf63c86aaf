// Turning a JPEG file's picture upright by its Exif orientation tag, so a
// phone's portrait photo is a portrait picture, as every viewer shows it.
#pragma once

#include "imaging/bitmaputils.h"
#include "imaging/exif.h"
#include "imaging/jpegimage.h"
#include "imaging/picture.h"

// The orientation tag of the file the object holds (Upright when it has none).
TExifOrientation ExifOrientation(const TJPEGImage& jpeg);

// The stored picture turned or mirrored so that it is upright. Pictures of
// whole bytes per pixel keep their depth, palette and masks; 1- and 4-bit
// ones come out as 24 bits.
Picture Oriented(const Picture& stored, TExifOrientation orientation);

// The decoded picture, upright.
Picture DecodeUpright(TJPEGImage& jpeg);

// The upright picture scaled to the size `target` picks for the upright size,
// decoded a strip of rows at a time into the scaler, as TJPEGImage::DecodeTo:
// the stored picture is scaled to the target's stored-axis size, then the
// small result is turned. Each pixel is within 1 of scaling DecodeUpright's
// picture (the filter rounds the same footprint in another order).
Picture DecodeScaledUpright(TJPEGImage& jpeg, const TStretcher::TTargetSize& target);
