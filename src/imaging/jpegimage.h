// TJPEGImage: one JPEG file held in memory, with its decoded picture and the
// settings used to decode and encode it. The coding is libjpeg's, reached through
// the glue in jpegcodec.h.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "imaging/jpegsettings.h"
#include "imaging/picture.h"

// The compressed bytes of one JPEG file and the size and colour space its
// header gives. Shared between TJPEGImage objects assigned from one another.
struct TJPEGData {
  std::vector<uint8_t> Data;
  int Width = 0;
  int Height = 0;
  bool Grayscale = false;
};

class TRowSink;

class TJPEGImage : public TJPEGSettings, public TGraphic {
 public:
  // Called while decoding or encoding with the work done so far (0 to 100).
  // It may throw EAbort to stop: a decode keeps the rows it has (the rest are
  // zero), an encode leaves no compressed data; neither fails. The handler
  // must not change the object it is told about. A multi-scan file decoded
  // with ProgressiveDecode is shown to it after every scan.
  using TProgressEvent = std::function<void(TJPEGImage& sender, int percentDone)>;

  TJPEGImage();
  TJPEGImage(const TJPEGImage&) = delete;
  TJPEGImage& operator=(const TJPEGImage&) = delete;

  // Holds the file's bytes and takes size, grayscale flag and whether it has
  // several scans from its header; drops the decoded picture. An empty file
  // is held as it is and fails at Decode.
  void LoadFromFile(const std::string& path);
  void LoadFromMemory(const uint8_t* data, size_t size);

  // Makes the decoded picture unless there is one: 24 bits (blue, green,
  // red), or 8 bits with a palette for grey or EightBitOutput.
  void Decode();
  // Decodes the compressed data as Decode would, with the same settings and
  // limits, but hands the rows to the sink a strip at a time instead of
  // keeping a picture: Begin with the size Decode's picture would have, then
  // every row once, top first, as 24 bits, byte for byte what Decode and
  // Picture::ConvertTo24 give (an 8-bit decode is expanded through its
  // palette). The decoded picture is neither made nor used nor changed, and
  // the object stays as it was. Only a strip of rows is held here; the
  // codec's own working memory for a multi-scan file or two-pass quantising
  // still grows with the picture.
  // A failure propagates, as does anything the sink throws; the sink may have
  // had some rows by then. When the progress handler stops it with EAbort,
  // the call returns and the rows not decoded arrive as zeros (index 0 of an
  // 8-bit decode), so the sink still gets every row; a stop before the size
  // is known gives Begin(0, 0), Decode's empty picture. With
  // ProgressiveDecode the sink gets only the final pass, so after a stop the
  // rows earlier scans had shown are zeros too.
  void DecodeTo(TRowSink& sink);
  // The decoded picture, decoding first when there is none.
  const Picture& Bitmap() override;
  bool HasBitmap() const { return FHasBitmap; }

  // Drops the compressed data; the decoded picture becomes a copy of the
  // picture (pixels shared until either side writes).
  void Assign(const Picture& picture);
  // Shares the other's compressed data and copies its decoded picture.
  void Assign(const TJPEGImage& other);

  // Encodes when there is no compressed data and writes the bytes in one
  // block. A file that cannot be written completely is removed.
  void SaveToFile(const std::string& path);
  // Encodes when there is no compressed data and returns the bytes, for a
  // caller that writes them itself (atomically). Empty for an empty picture.
  // Valid until this object is loaded, assigned or destroyed.
  const std::vector<uint8_t>& SaveToMemory();

  // The decoded picture's size when there is one, else the header's.
  int Width() const;
  int Height() const;
  // A JPEG picture's size cannot be changed: both always throw.
  [[noreturn]] void SetWidth(int width);
  [[noreturn]] void SetHeight(int height);

  const std::shared_ptr<TJPEGData>& Data() const { return FData; }

  TProgressEvent OnProgress;

 private:
  void SetData(std::shared_ptr<TJPEGData> data);
  void Compress();
  // Names the file read last in a failure while decoding it.
  void Decoding(const std::function<void()>& work);

  std::shared_ptr<TJPEGData> FData;
  std::string FFileName;  // where FData was read from, empty when not from a file
  Picture FBitmap;
  bool FHasBitmap = false;
};
