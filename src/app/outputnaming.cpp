#include "app/outputnaming.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "imaging/jpegimage.h"
#include "platform/errors.h"
#include "platform/fileio.h"
#include "platform/paths.h"

std::string CandidateName(const std::string& source, int n) {
  const std::string name = ExtractFileName(source);
  const std::string stem = name.substr(0, name.size() - ExtractFileExt(name).size());
  const std::string prefix = n == 1 ? "加工済_" : "加工済" + std::to_string(n) + "_";
  return ExtractFilePath(source) + prefix + stem + ".jpg";
}

bool CandidateTaken(const std::string& path) {
  struct stat info {};
  return StatPath(path, info, AT_SYMLINK_NOFOLLOW) == 0;
}

std::string SaveUnderFreeName(const std::string& source, std::span<const uint8_t> bytes,
                              bool (*taken)(const std::string&)) {
  // The existence test spares writing a temporary file while earlier outputs
  // fill the first names; the writer still refuses a name taken since.
  // A name that is too long for the file system (a source name near the
  // limit) fails here with its reason, as any other write failure does.
  TAtomicWriter writer(bytes, ".加工済-XXXXXX.tmp");
  for (int n = 1; n <= MaxOutputCandidates; ++n) {
    const std::string candidate = CandidateName(source, n);
    if (taken(candidate)) continue;
    const int error = writer.Publish(candidate);
    if (error == 0) return candidate;
    if (error != EEXIST)
      throw EFCreateError(FileMessage(SFCreateError, candidate), candidate, SystemReason(error));
  }
  throw ESaveError(FileMessage(SAllNamesTaken, source));
}

std::vector<uint8_t> EncodePunched(const Picture& picture) {
  TJPEGImage jpeg;
  jpeg.Assign(picture);
  jpeg.Quality = 100;
  // Baseline colour whatever the process-wide defaults say.
  jpeg.Grayscale = false;
  jpeg.ProgressiveEncode = false;
  std::vector<uint8_t> bytes = jpeg.SaveToMemory();
  if (bytes.empty()) throw EInvalidGraphic(SInvalidBitmap);
  return bytes;
}

std::string SavePunched(const std::string& sourcePath, const Picture& picture) {
  return SaveUnderFreeName(sourcePath, EncodePunched(picture));
}
