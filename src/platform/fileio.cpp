#include "platform/fileio.h"

#include <fcntl.h>
#include <limits.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <random>

// ---------------------------------------------------------------------------
// Descriptors, writes and reads.

TFileSystemCalls FileSystemCalls{
    ::write,
    ::close,
    ::fsync,
    [](int folder, const char* name, int flags, mode_t mode) {
      return ::openat(folder, name, flags, mode);
    },
    ::linkat,
};

TFileHandle& TFileHandle::operator=(TFileHandle&& other) noexcept {
  if (this != &other) Reset(other.Release());
  return *this;
}

int TFileHandle::Release() noexcept {
  const int fd = FFd;
  FFd = -1;
  return fd;
}

void TFileHandle::Reset(int fd) noexcept {
  if (FFd >= 0) ::close(FFd);
  FFd = fd;
}

int TFileHandle::Close() noexcept {
  if (FFd < 0) return 0;
  const int fd = Release();
  return FileSystemCalls.Close(fd) == 0 ? 0 : errno;
}

int WriteAll(int fd, std::span<const uint8_t> data) {
  const uint8_t* p = data.data();
  size_t left = data.size();
  while (left > 0) {
    const ssize_t written = FileSystemCalls.Write(fd, p, left);
    if (written < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (written == 0) return ENOSPC;
    p += written;
    left -= static_cast<size_t>(written);
  }
  return 0;
}

int WriteAll(int fd, std::string_view data) {
  return WriteAll(fd, std::span(reinterpret_cast<const uint8_t*>(data.data()), data.size()));
}

namespace {

template <typename Bytes>
int ReadAllInto(int fd, size_t maxSize, Bytes& out) {
  out.clear();
  // One byte past the limit tells a file of exactly maxSize from a longer one;
  // no limit at all must not wrap to none.
  const size_t cap = maxSize < SIZE_MAX ? maxSize + 1 : SIZE_MAX;
  struct stat info {};
  // Sized once from the hint; a file that grows on is read on in steps.
  if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0)
    out.reserve(std::min(static_cast<size_t>(info.st_size) + 1, cap));
  size_t got = 0;
  for (;;) {
    if (got == out.size()) {
      const size_t room = std::max<size_t>(out.capacity(), got + 65536);
      out.resize(std::min(room, cap));
    }
    const ssize_t n = ::read(fd, out.data() + got, out.size() - got);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int error = errno;
      out.clear();
      return error;
    }
    if (n == 0) break;
    got += static_cast<size_t>(n);
    if (got > maxSize) {
      out.clear();
      return EFBIG;
    }
  }
  out.resize(got);
  return 0;
}

}  // namespace

int ReadAll(int fd, size_t maxSize, std::vector<uint8_t>& out) {
  return ReadAllInto(fd, maxSize, out);
}

int ReadAll(int fd, size_t maxSize, std::string& out) { return ReadAllInto(fd, maxSize, out); }

// ---------------------------------------------------------------------------
// Paths of any length.

int TPathAt::Folder() const noexcept {
  return FolderHandle.Valid() ? FolderHandle.Get() : AT_FDCWD;
}

namespace {

// Opens the folder `dir` (which ends in "/") in pieces of fewer than PATH_MAX
// bytes, each ending at a component boundary. A short path is one call.
int OpenFolderInPieces(const std::string& dir, TFileHandle& out) {
  constexpr size_t kPiece = PATH_MAX - 1;
  TFileHandle current;
  size_t pos = 0;
  while (pos < dir.size()) {
    size_t end = dir.size();
    if (end - pos > kPiece) {
      end = dir.rfind('/', pos + kPiece - 1);
      // No component is longer than a piece, but a name too long for the
      // file system must still get the kernel's own answer.
      if (end == std::string::npos || end < pos) return ENAMETOOLONG;
      ++end;
    }
    const std::string piece = dir.substr(pos, end - pos);
    const int base = current.Valid() ? current.Get() : AT_FDCWD;
    const int fd = ::openat(base, piece.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return errno;
    current.Reset(fd);
    pos = end;
  }
  out = std::move(current);
  return 0;
}

}  // namespace

int OpenParent(const std::string& path, TPathAt& out) {
  out.FolderHandle.Reset();
  out.Name.clear();
  if (path.empty()) return ENOENT;
  // The last component, with any trailing separators it has.
  size_t end = path.size();
  while (end > 0 && path[end - 1] == '/') --end;
  if (end == 0) {  // "/" or "//"
    out.Name.push_back('.');
    return OpenFolderInPieces(std::string(1, '/'), out.FolderHandle);
  }
  const size_t slash = path.rfind('/', end - 1);
  if (slash == std::string::npos) {
    out.Name = path;
    return 0;
  }
  out.Name = path.substr(slash + 1);
  return OpenFolderInPieces(path.substr(0, slash + 1), out.FolderHandle);
}

int OpenPath(const std::string& path, int flags, TFileHandle& out, mode_t mode) {
  TPathAt at;
  if (const int error = OpenParent(path, at)) return error;
  const int fd = ::openat(at.Folder(), at.Name.c_str(), flags | O_CLOEXEC, mode);
  if (fd < 0) return errno;
  out.Reset(fd);
  return 0;
}

int StatPath(const std::string& path, struct stat& out, int flags) {
  TPathAt at;
  if (const int error = OpenParent(path, at)) return error;
  return ::fstatat(at.Folder(), at.Name.c_str(), &out, flags) == 0 ? 0 : errno;
}

int OpenRegularFile(const std::string& path, TFileHandle& out, struct stat* info) {
  TFileHandle file;
  // Non-blocking, so that a named pipe in a picture's place cannot hang the open.
  if (const int error = OpenPath(path, O_RDONLY | O_NONBLOCK, file)) return error;
  struct stat st {};
  if (::fstat(file.Get(), &st) != 0) return errno;
  if (S_ISDIR(st.st_mode)) return EISDIR;
  if (!S_ISREG(st.st_mode)) return EINVAL;
  if (info != nullptr) *info = st;
  out = std::move(file);
  return 0;
}

template <typename Bytes>
static int ReadFileInto(const std::string& path, size_t maxSize, Bytes& out) {
  TFileHandle file;
  if (const int error = OpenRegularFile(path, file)) return error;
  return ReadAll(file.Get(), maxSize, out);
}

int ReadFile(const std::string& path, size_t maxSize, std::vector<uint8_t>& out) {
  return ReadFileInto(path, maxSize, out);
}

int ReadFile(const std::string& path, size_t maxSize, std::string& out) {
  return ReadFileInto(path, maxSize, out);
}

// ---------------------------------------------------------------------------
// The atomic writer.

namespace {

// Errors by which a file system says it lacks a call, as opposed to a real
// failure of it.
bool Unsupported(int error) {
  return error == EPERM || error == EOPNOTSUPP || error == EINVAL || error == ENOSYS;
}

// Flushes the data to the device. A file system that cannot sync says so
// with EINVAL or EOPNOTSUPP: that is no failed write.
int Sync(int fd) {
  if (FileSystemCalls.Fsync(fd) == 0 || errno == EINVAL || errno == EOPNOTSUPP) return 0;
  return errno;
}

std::string FromPattern(const std::string& pattern) {
  static const char kChars[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937 engine{std::random_device{}()};
  std::uniform_int_distribution<size_t> pick(0, sizeof(kChars) - 2);
  std::string name = pattern;
  size_t at = name.find("XXXXXX");
  if (at == std::string::npos) {
    at = name.size();
    name += "XXXXXX";
  }
  for (size_t i = 0; i < 6; ++i) name[at + i] = kChars[pick(engine)];
  return name;
}

bool SameFolder(const struct stat& a, int folder) {
  struct stat b {};
  return ::fstat(folder, &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// A folder descriptor of our own for the target's folder ("." for the current one).
int DuplicateFolder(const TPathAt& target, TFileHandle& out) {
  const int fd = target.FolderHandle.Valid()
                     ? ::fcntl(target.FolderHandle.Get(), F_DUPFD_CLOEXEC, 0)
                     : ::open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return errno;
  out.Reset(fd);
  return 0;
}

}  // namespace

TAtomicWriter::TAtomicWriter(std::span<const uint8_t> data, std::string tempPattern, mode_t mode,
                             TMethod method)
    : FData(data), FTempPattern(std::move(tempPattern)), FMode(mode), FMethod(method) {}

TAtomicWriter::TAtomicWriter(std::string_view data, std::string tempPattern, mode_t mode,
                             TMethod method)
    : TAtomicWriter(std::span(reinterpret_cast<const uint8_t*>(data.data()), data.size()),
                    std::move(tempPattern), mode, method) {}

TAtomicWriter::~TAtomicWriter() { Discard(); }

void TAtomicWriter::Discard() {
  if (!FStagedName.empty() && FStagedFolder.Valid())
    ::unlinkat(FStagedFolder.Get(), FStagedName.c_str(), 0);
  FStagedName.clear();
  FStagedFile.Reset();
  FStagedFolder.Reset();
}

// The bytes in an unnamed file of the target's folder; kept for further
// names in the same folder.
int TAtomicWriter::StageUnnamed(const TPathAt& target) {
  if (FStagedFile.Valid() && SameFolder(FStagedFolderId, target.Folder())) return 0;
  Discard();
  TFileHandle folder;
  if (const int error = DuplicateFolder(target, folder)) return error;
  const int fd = FileSystemCalls.OpenAt(folder.Get(), ".", O_TMPFILE | O_WRONLY | O_CLOEXEC, FMode);
  if (fd < 0) return errno;
  TFileHandle file(fd);
  if (const int error = WriteAll(fd, FData)) return error;
  if (const int error = Sync(fd)) return error;
  if (::fstat(folder.Get(), &FStagedFolderId) != 0) return errno;
  FStagedFile = std::move(file);
  FStagedFolder = std::move(folder);
  return 0;
}

// The bytes in a hidden temporary of the target's folder, closed.
int TAtomicWriter::StageNamed(const TPathAt& target) {
  if (!FStagedName.empty() && SameFolder(FStagedFolderId, target.Folder())) return 0;
  Discard();
  TFileHandle folder;
  if (const int error = DuplicateFolder(target, folder)) return error;
  TFileHandle file;
  std::string name;
  for (int attempt = 0; attempt < 100 && !file.Valid(); ++attempt) {
    name = FromPattern(FTempPattern);
    const int fd = FileSystemCalls.OpenAt(folder.Get(), name.c_str(),
                                          O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, FMode);
    if (fd < 0 && errno != EEXIST) return errno;
    file.Reset(fd);
  }
  if (!file.Valid()) return EEXIST;
  int error = WriteAll(file.Get(), FData);
  if (error == 0) error = Sync(file.Get());
  // Some file systems report a failed write only when the file is closed.
  const int closeError = file.Close();
  if (error == 0) error = closeError;
  if (error == 0 && ::fstat(folder.Get(), &FStagedFolderId) != 0) error = errno;
  if (error != 0) {
    ::unlinkat(folder.Get(), name.c_str(), 0);
    return error;
  }
  FStagedName = name;
  FStagedFolder = std::move(folder);
  return 0;
}

int TAtomicWriter::Publish(const std::string& path) {
  if (FSpent) return EALREADY;
  TPathAt target;
  if (const int error = OpenParent(path, target)) return error;
  const int folder = target.Folder();
  const char* name = target.Name.c_str();

  if (FMethod == TMethod::TmpFile) {
    const int staged = StageUnnamed(target);
    // Old kernels take O_TMPFILE for O_DIRECTORY and say EISDIR.
    if (staged == EOPNOTSUPP || staged == EISDIR || staged == EINVAL) {
      FMethod = TMethod::Link;
    } else if (staged != 0) {
      Discard();
      return staged;
    } else {
      // Linking an unnamed file by its descriptor needs a privilege; its
      // /proc entry does not.
      int error = 0;
      if (FileSystemCalls.LinkAt(FStagedFile.Get(), "", folder, name, AT_EMPTY_PATH) != 0) {
        error = errno;
        if (error == ENOENT || error == EPERM) {
          const std::string self = "/proc/self/fd/" + std::to_string(FStagedFile.Get());
          error =
              FileSystemCalls.LinkAt(AT_FDCWD, self.c_str(), folder, name, AT_SYMLINK_FOLLOW) == 0
                  ? 0
                  : errno;
        }
      }
      if (error == 0) {
        Discard();
        FSpent = true;
        return 0;
      }
      if (error == EEXIST) return EEXIST;
      Discard();
      // ENOENT here with the folder still there: /proc is missing.
      if (!Unsupported(error) && error != ENOENT) return error;
      FMethod = TMethod::Link;
    }
  }

  if (FMethod == TMethod::Link) {
    if (const int error = StageNamed(target)) return error;
    if (FileSystemCalls.LinkAt(FStagedFolder.Get(), FStagedName.c_str(), folder, name, 0) == 0) {
      Discard();
      FSpent = true;
      return 0;
    }
    const int error = errno;
    if (error == EEXIST) return EEXIST;
    if (!Unsupported(error)) {
      Discard();
      return error;
    }
    FMethod = TMethod::Rename;
  }

  if (FMethod == TMethod::Rename) {
    if (const int error = StageNamed(target)) return error;
    if (::renameat2(FStagedFolder.Get(), FStagedName.c_str(), folder, name, RENAME_NOREPLACE) ==
        0) {
      FStagedName.clear();  // the temporary name went with the rename
      Discard();
      FSpent = true;
      return 0;
    }
    const int error = errno;
    if (error == EEXIST) return EEXIST;
    Discard();
    if (!Unsupported(error)) return error;
    FMethod = TMethod::Unsupported;
  }

  // Writing in place is the only way left, and a kill during it would leave
  // a short file under the final name.
  return EOPNOTSUPP;
}

int TAtomicWriter::Replace(const std::string& path, bool exactMode) {
  if (FSpent) return EALREADY;
  TPathAt target;
  if (const int error = OpenParent(path, target)) return error;
  if (const int error = StageNamed(target)) return error;
  if ((exactMode && ::fchmodat(FStagedFolder.Get(), FStagedName.c_str(), FMode, 0) != 0) ||
      ::renameat(FStagedFolder.Get(), FStagedName.c_str(), target.Folder(), target.Name.c_str()) !=
          0) {
    const int error = errno;
    Discard();
    return error;
  }
  FStagedName.clear();
  Discard();
  FSpent = true;
  return 0;
}
