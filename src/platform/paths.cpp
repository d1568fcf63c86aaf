#include "platform/paths.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <vector>

#include "platform/fileio.h"

std::string ExtractFileExt(const std::string& path) {
  const size_t slash = path.rfind('/');
  const size_t start = slash == std::string::npos ? 0 : slash + 1;
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || dot < start) return {};
  return path.substr(dot);
}

std::string ExtractFilePath(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

std::string ExtractFileName(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string IncludeTrailingPathDelimiter(const std::string& folder) {
  if (!folder.empty() && folder.back() == '/') return folder;
  return folder + "/";
}

static std::string CurrentFolder() {
  std::vector<char> buffer(4096);
  while (getcwd(buffer.data(), buffer.size()) == nullptr) {
    if (errno != ERANGE) return "/";
    buffer.resize(buffer.size() * 2);
  }
  return buffer.data();
}

std::string ExpandFileName(const std::string& path) {
  std::string full = !path.empty() && path[0] == '/' ? path : CurrentFolder() + "/" + path;
  std::vector<std::string> parts;
  size_t pos = 0;
  while (pos <= full.size()) {
    size_t next = full.find('/', pos);
    if (next == std::string::npos) next = full.size();
    std::string part = full.substr(pos, next - pos);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(std::move(part));
    }
    pos = next + 1;
  }
  std::string result;
  for (const std::string& part : parts) result += "/" + part;
  if (result.empty()) return "/";
  // A trailing separator of the input is kept: it says "folder".
  const bool trailing =
      !path.empty() && (path.back() == '/' || (path.size() >= 2 && path.ends_with("/.")));
  if (trailing) result += "/";
  return result;
}

static unsigned char Fold(unsigned char c) { return c >= 'a' && c <= 'z' ? c - 32 : c; }

int CompareText(const std::string& a, const std::string& b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    const unsigned char ca = Fold(static_cast<unsigned char>(a[i]));
    const unsigned char cb = Fold(static_cast<unsigned char>(b[i]));
    if (ca != cb) return ca < cb ? -1 : 1;
  }
  if (a.size() == b.size()) return 0;
  return a.size() < b.size() ? -1 : 1;
}

bool SameText(const std::string& a, const std::string& b) {
  return a.size() == b.size() && CompareText(a, b) == 0;
}

bool IsBmpExtension(const std::string& ext) { return SameText(ext, ".BMP"); }

bool IsJpegExtension(const std::string& ext) {
  return SameText(ext, ".JPG") || SameText(ext, ".JPEG");
}

PathKind LookupPath(const std::string& path) {
  struct stat st {};
  if (StatPath(path, st) != 0) return PathKind::None;
  return S_ISDIR(st.st_mode) ? PathKind::Directory : PathKind::File;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  if (StatPath(path, st) == 0) return !S_ISDIR(st.st_mode);
  return StatPath(path, st, AT_SYMLINK_NOFOLLOW) == 0;  // a dangling link
}
