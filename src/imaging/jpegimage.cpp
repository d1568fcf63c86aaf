#include "imaging/jpegimage.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "imaging/jpegcodec.h"
#include "platform/errors.h"
#include "platform/fileio.h"
#include "platform/paths.h"

namespace {

// We read a whole file into memory; nothing this big is a picture we can hold.
constexpr size_t kMaxFileSize = size_t{1} << 30;

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  TFileHandle file;
  if (const int error = OpenRegularFile(path, file))
    throw EFOpenError(FileMessage(SFOpenError, path), path, SystemReason(error));
  std::vector<uint8_t> bytes;
  if (const int error = ReadAll(file.Get(), kMaxFileSize, bytes)) {
    if (error == EFBIG)
      throw EReadError(FileMessage(SFileTooLarge, path), path, SystemReason(error));
    throw EReadError(SReadError, path, SystemReason(error));
  }
  return bytes;
}

}  // namespace

TJPEGSettings& JPEGDefaults() {
  static TJPEGSettings defaults;
  return defaults;
}

TJPEGImage::TJPEGImage() : TJPEGSettings(JPEGDefaults()), FData(std::make_shared<TJPEGData>()) {}

void TJPEGImage::LoadFromFile(const std::string& path) {
  auto data = std::make_shared<TJPEGData>();
  data->Data = ReadWholeFile(path);
  try {
    SetData(std::move(data));
  } catch (Exception& e) {
    e.SetFileName(path);
    throw;
  }
  FFileName = path;
}

void TJPEGImage::LoadFromMemory(const uint8_t* bytes, size_t size) {
  auto data = std::make_shared<TJPEGData>();
  if (size > 0) data->Data.assign(bytes, bytes + size);
  SetData(std::move(data));
}

void TJPEGImage::SetData(std::shared_ptr<TJPEGData> data) {
  FData = std::move(data);
  FFileName.clear();
  FBitmap = Picture();
  FHasBitmap = false;
  if (FData->Data.empty()) return;  // fails when decoded
  const TJPEGHeader header = ReadJPEGHeader(FData->Data);
  FData->Width = header.Width;
  FData->Height = header.Height;
  FData->Grayscale = header.Grayscale;
  ProgressiveEncode = header.MultiScan;
}

void TJPEGImage::Decoding(const std::function<void()>& work) {
  try {
    work();
  } catch (Exception& e) {
    if (!FFileName.empty()) e.SetFileName(FFileName);
    throw;
  }
}

void TJPEGImage::Decode() {
  if (FHasBitmap) return;
  FBitmap = Picture();
  FHasBitmap = true;
  const std::shared_ptr<TJPEGData> data = FData;  // held for the whole decode
  const TJPEGProgress progress = [this](int percent) { OnProgress(*this, percent); };
  try {
    Decoding(
        [&] { DecodeJPEG(data->Data, *this, OnProgress ? progress : nullptr, &FBitmap, nullptr); });
  } catch (...) {
    FBitmap = Picture();
    throw;
  }
}

void TJPEGImage::DecodeTo(TRowSink& sink) {
  const std::shared_ptr<TJPEGData> data = FData;  // held for the whole decode
  const TJPEGProgress progress = [this](int percent) { OnProgress(*this, percent); };
  Decoding([&] { DecodeJPEG(data->Data, *this, OnProgress ? progress : nullptr, nullptr, &sink); });
}

const Picture& TJPEGImage::Bitmap() {
  Decode();
  return FBitmap;
}

void TJPEGImage::Assign(const Picture& picture) {
  FData = std::make_shared<TJPEGData>();
  FFileName.clear();
  FBitmap = picture;
  FHasBitmap = true;
}

void TJPEGImage::Assign(const TJPEGImage& other) {
  if (&other == this) return;
  FData = other.FData;
  FFileName = other.FFileName;
  FHasBitmap = other.FHasBitmap;
  FBitmap = other.FHasBitmap ? other.FBitmap : Picture();
}

void TJPEGImage::Compress() {
  // A fresh record: another object sharing the old one keeps it as it was.
  auto data = std::make_shared<TJPEGData>();
  FData = data;
  if (!FHasBitmap || FBitmap.Empty()) return;
  data->Width = FBitmap.Width();
  data->Height = FBitmap.Height();
  data->Grayscale = Grayscale;
  const TJPEGProgress progress = [this](int percent) { OnProgress(*this, percent); };
  try {
    EncodeJPEG(FBitmap, *this, OnProgress ? progress : nullptr, data->Data);
  } catch (const EAbort&) {
    data->Data = {};  // stopped by the progress handler: nothing to write
  } catch (...) {
    data->Data = {};
    throw;
  }
}

const std::vector<uint8_t>& TJPEGImage::SaveToMemory() {
  if (FData->Data.empty()) Compress();
  return FData->Data;
}

void TJPEGImage::SaveToFile(const std::string& path) {
  TPathAt at;
  int error = OpenParent(path, at);
  TFileHandle file;
  if (error == 0) {
    const int fd =
        ::openat(at.Folder(), at.Name.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) error = errno;
    file.Reset(fd);
  }
  if (error != 0) {
    const std::string full = ExpandFileName(path);
    throw EFCreateError(FileMessage(SFCreateError, full), full, SystemReason(error));
  }
  // No half-made file is left behind.
  const auto removeIt = [&] { ::unlinkat(at.Folder(), at.Name.c_str(), 0); };
  try {
    error = WriteAll(file.Get(), SaveToMemory());
  } catch (...) {
    file.Reset();
    removeIt();
    throw;
  }
  const int closeError = file.Close();
  if (error == 0) error = closeError;
  if (error != 0) {
    removeIt();
    throw EWriteError(SWriteError, path, SystemReason(error));
  }
}

int TJPEGImage::Width() const { return FHasBitmap ? FBitmap.Width() : FData->Width; }

int TJPEGImage::Height() const { return FHasBitmap ? FBitmap.Height() : FData->Height; }

void TJPEGImage::SetWidth(int) { throw EInvalidGraphicOperation(SChangeJPGSize); }

void TJPEGImage::SetHeight(int) { throw EInvalidGraphicOperation(SChangeJPGSize); }
