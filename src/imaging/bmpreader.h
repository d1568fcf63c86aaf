// BMP reader: Windows and OS/2 bitmaps of 1, 4, 8, 16, 24 and 32 bits,
// uncompressed, with bit fields, or run-length coded (RLE8, RLE4). The
// picture keeps the file's depth; an empty file gives an empty picture.
//
// Failures: EFOpenError (the file cannot be opened), EReadError (the data is
// cut short), EInvalidGraphic (not a bitmap, or one we refuse). A failure
// while reading a file names that file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "imaging/picture.h"

Picture ReadBmpFile(const std::string& path);
Picture ReadBmpMemory(const uint8_t* data, size_t size);
