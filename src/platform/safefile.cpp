#include "platform/safefile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <random>

#include "platform/errors.h"
#include "platform/paths.h"

namespace {

// Errors by which link(2) or renameat2 say the file system lacks the call,
// as opposed to a real failure.
bool Unsupported(int error) {
  return error == EPERM || error == ENOTSUP || error == EOPNOTSUPP || error == EINVAL ||
         error == ENOSYS;
}

// Writes everything, flushes it to the device and closes fd.
bool WriteFlushClose(int fd, std::span<const uint8_t> data) {
  const uint8_t* p = data.data();
  size_t left = data.size();
  bool ok = true;
  while (left > 0) {
    const ssize_t written = ::write(fd, p, left);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      ok = false;
      break;
    }
    p += written;
    left -= static_cast<size_t>(written);
  }
  // The data reaches the disk before the name is published, so even a power
  // loss never leaves a short file under an output name. The folder itself is
  // not synced: at worst the new name is lost with the power, never half a
  // file, and a batch saves much faster without it.
  // A file system that cannot sync says so with EINVAL: that is no failed write.
  if (ok && ::fsync(fd) != 0 && errno != EINVAL && errno != ENOTSUP) ok = false;
  // Some file systems report a failed write only here.
  if (::close(fd) != 0) ok = false;
  return ok;
}

std::string RandomTag() {
  static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  static std::mt19937 engine{std::random_device{}()};
  std::uniform_int_distribution<size_t> pick(0, sizeof(kChars) - 2);
  std::string tag(6, ' ');
  for (char& c : tag) c = kChars[pick(engine)];
  return tag;
}

[[noreturn]] void CreateFailed(const std::string& path) {
  throw EFCreateError(Format(SFCreateError, path.c_str()));
}

}  // namespace

TNoReplaceWriter::TNoReplaceWriter(std::span<const uint8_t> data, TMethod method)
    : FData(data), FMethod(method) {}

TNoReplaceWriter::~TNoReplaceWriter() { Discard(); }

void TNoReplaceWriter::Discard() {
  if (FStagedPath.empty()) return;
  ::unlink(FStagedPath.c_str());
  FStagedPath.clear();
  FStagedFolder.clear();
}

bool TNoReplaceWriter::StageIn(const std::string& folder) {
  if (!FStagedPath.empty() && FStagedFolder == folder) return true;
  Discard();
  // Created with O_EXCL under a fresh name, mode 0666 so the umask applies as
  // for any new file (link and rename keep the mode).
  int fd = -1;
  std::string name;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    name = folder + ".加工済-" + RandomTag() + ".tmp";
    fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST) return false;
  }
  if (fd < 0) return false;
  if (!WriteFlushClose(fd, FData)) {
    ::unlink(name.c_str());
    return false;
  }
  FStagedPath = name;
  FStagedFolder = folder;
  return true;
}

bool TNoReplaceWriter::Publish(const std::string& path) {
  if (FPublished || path.empty()) CreateFailed(path);
  const std::string folder = ExtractFilePath(path);

  if (FMethod == TMethod::Link) {
    if (!StageIn(folder)) CreateFailed(path);
    if (::link(FStagedPath.c_str(), path.c_str()) == 0) {
      Discard();
      FPublished = true;
      return true;
    }
    const int error = errno;
    if (error == EEXIST) return false;
    if (!Unsupported(error)) {
      Discard();
      CreateFailed(path);
    }
    FMethod = TMethod::Rename;
  }

  if (FMethod == TMethod::Rename) {
    if (!StageIn(folder)) CreateFailed(path);
    if (::renameat2(AT_FDCWD, FStagedPath.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0) {
      FStagedPath.clear();  // the temporary name is gone with the rename
      FStagedFolder.clear();
      FPublished = true;
      return true;
    }
    const int error = errno;
    if (error == EEXIST) return false;
    Discard();
    if (!Unsupported(error)) CreateFailed(path);
    FMethod = TMethod::Direct;
  }

  // O_EXCL fails on any existing entry and does not follow a symbolic link.
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) {
    if (errno == EEXIST) return false;
    CreateFailed(path);
  }
  if (!WriteFlushClose(fd, FData)) {
    ::unlink(path.c_str());
    CreateFailed(path);
  }
  FPublished = true;
  return true;
}
