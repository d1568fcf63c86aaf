#include "app/outputnaming.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <mutex>
#include <set>
#include <string_view>

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

namespace {

constexpr std::string_view kTempStart = ".加工済-";
constexpr std::string_view kTempEnd = ".tmp";

// This boot's id as 32 hex digits; empty where the system does not say.
const std::string& BootId() {
  static const std::string id = [] {
    std::string text, hex;
    if (ReadFile("/proc/sys/kernel/random/boot_id", 4096, text) != 0) return hex;
    for (char c : text)
      if (std::isxdigit(static_cast<unsigned char>(c))) hex += c;
    return hex.size() == 32 ? hex : std::string();
  }();
  return id;
}

bool AllOf(std::string_view s, int (*test)(int)) {
  return !s.empty() && std::all_of(s.begin(), s.end(),
                                   [test](char c) { return test(static_cast<unsigned char>(c)); });
}

// The writer's pid of a temporary of ours from this boot, or 0.
pid_t StaleWriter(std::string_view name) {
  if (!name.starts_with(kTempStart) || !name.ends_with(kTempEnd)) return 0;
  name = name.substr(kTempStart.size(), name.size() - kTempStart.size() - kTempEnd.size());
  const size_t dash = name.find('-');
  if (dash == std::string_view::npos || dash > 9) return 0;
  const std::string_view pid = name.substr(0, dash), rest = name.substr(dash + 1);
  if (!AllOf(pid, ::isdigit) || rest.size() != 32 + 1 + 6 || rest[32] != '-') return 0;
  if (BootId().empty() || rest.substr(0, 32) != BootId() || !AllOf(rest.substr(33), ::isalnum))
    return 0;
  return static_cast<pid_t>(std::stol(std::string(pid)));
}

// Each folder once per process: a batch saves many pictures into one.
void SweepOnce(const std::string& folder) {
  static std::mutex lock;
  static std::set<std::string> swept;
  {
    const std::lock_guard guard(lock);
    if (!swept.insert(folder).second) return;
  }
  RemoveStaleTemporaries(folder);
}

}  // namespace

std::string OutputTempPattern() {
  return std::string(kTempStart) + std::to_string(::getpid()) + "-" +
         (BootId().empty() ? "unknown" : BootId()) + "-XXXXXX" + std::string(kTempEnd);
}

void RemoveStaleTemporaries(const std::string& folder) {
  TFileHandle handle;
  if (OpenPath(folder.empty() ? "." : folder, O_RDONLY | O_DIRECTORY, handle) != 0) return;
  DIR* dir = ::fdopendir(handle.Get());
  if (dir == nullptr) return;
  handle.Release();  // the stream owns it now
  while (const dirent* entry = ::readdir(dir)) {
    const pid_t writer = StaleWriter(entry->d_name);
    // A process we may not signal still exists.
    if (writer > 0 && ::kill(writer, 0) != 0 && errno == ESRCH)
      ::unlinkat(::dirfd(dir), entry->d_name, 0);
  }
  ::closedir(dir);
}

std::string SaveUnderFreeName(const std::string& source, std::span<const uint8_t> bytes,
                              bool (*taken)(const std::string&)) {
  // The existence test spares writing a temporary file while earlier outputs
  // fill the first names; the writer still refuses a name taken since.
  // A name that is too long for the file system (a source name near the
  // limit) fails here with its reason, as any other write failure does.
  SweepOnce(ExtractFilePath(source));
  TAtomicWriter writer(bytes, OutputTempPattern());
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
