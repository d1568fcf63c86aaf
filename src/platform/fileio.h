// File access shared by the picture readers, the output writer and the settings
// store: a descriptor guard, complete writes, bounded reads, paths of any
// length, and one writer that makes a file appear complete or not at all.
//
// Functions report failures as errno values (0 = success) rather than
// throwing, so each caller raises its own exception class with the reason.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Owns one file descriptor; closes it when destroyed.
class TFileHandle {
 public:
  TFileHandle() noexcept = default;
  explicit TFileHandle(int fd) noexcept : FFd(fd) {}
  ~TFileHandle() { Reset(); }
  TFileHandle(TFileHandle&& other) noexcept : FFd(other.Release()) {}
  TFileHandle& operator=(TFileHandle&& other) noexcept;
  TFileHandle(const TFileHandle&) = delete;
  TFileHandle& operator=(const TFileHandle&) = delete;

  int Get() const noexcept { return FFd; }
  bool Valid() const noexcept { return FFd >= 0; }
  // Gives the descriptor up without closing it.
  int Release() noexcept;
  // Closes the descriptor held (if any) and takes fd.
  void Reset(int fd = -1) noexcept;
  // Closes now: 0, or the errno of close(2), which some file systems use to
  // report a failed write that a destructor would lose.
  int Close() noexcept;

 private:
  int FFd = -1;
};

// The system calls that writing files makes, in one place so that tests can
// make each of them fail or fall short. The program never changes them.
struct TFileSystemCalls {
  ssize_t (*Write)(int fd, const void* buffer, size_t count);
  int (*Close)(int fd);
  int (*Fsync)(int fd);
  int (*OpenAt)(int folder, const char* name, int flags, mode_t mode);
  int (*LinkAt)(int fromFolder, const char* from, int toFolder, const char* to, int flags);
};
extern TFileSystemCalls FileSystemCalls;

// Writes every byte, retrying after interruptions and short writes.
// 0 or an errno value (ENOSPC for a write that makes no progress).
int WriteAll(int fd, std::span<const uint8_t> data);
int WriteAll(int fd, std::string_view data);

// Reads from fd up to its end, but never more than maxSize bytes: EFBIG when
// there is more. The size a file reports is only a hint (it may change while
// it is read). `out` is replaced. 0 or an errno value.
int ReadAll(int fd, size_t maxSize, std::vector<uint8_t>& out);
int ReadAll(int fd, size_t maxSize, std::string& out);

// ---------------------------------------------------------------------------
// Paths of any length. The kernel refuses a path of PATH_MAX bytes or more, so
// a path is resolved in pieces: its folders are opened relative to one
// another, and the last component is used relative to its folder's descriptor.
// Symbolic links and ".." resolve as they would in one call.

// An open folder and one name in it.
struct TPathAt {
  TFileHandle FolderHandle;  // not valid: the current folder
  std::string Name;          // the last component; "." for "/"; may end in "/"
  int Folder() const noexcept;
};

// Opens the folder that holds path's last component. A trailing "/" stays on
// the name, so that only a folder answers to it. 0 or an errno value
// (ENOENT for an empty path).
int OpenParent(const std::string& path, TPathAt& out);

// open(2) for a path of any length. 0 or an errno value.
int OpenPath(const std::string& path, int flags, TFileHandle& out, mode_t mode = 0);

// stat(2) (flags 0) or lstat(2) (AT_SYMLINK_NOFOLLOW) for a path of any length.
int StatPath(const std::string& path, struct stat& out, int flags = 0);

// Opens a regular file for reading without blocking on a named pipe; the
// stat of the open file goes to info when given. EISDIR for a folder, EINVAL
// for anything else that is not a regular file.
int OpenRegularFile(const std::string& path, TFileHandle& out, struct stat* info = nullptr);

// The whole regular file at path, at most maxSize bytes (EFBIG beyond).
int ReadFile(const std::string& path, size_t maxSize, std::vector<uint8_t>& out);
int ReadFile(const std::string& path, size_t maxSize, std::string& out);

// ---------------------------------------------------------------------------
// Makes a file appear under its name complete or not at all, whatever moment
// the program is killed at.
//
// Publish never replaces anything: the bytes are written into an unnamed file
// in the target's folder (O_TMPFILE) and given the name with linkat(2), which
// fails on any existing entry; a kill leaves nothing behind. Where the file
// system has no unnamed files, a hidden temporary named after tempPattern is
// written and linked (link(2)) or renamed (renameat2 with RENAME_NOREPLACE)
// into place. Where it has neither hard links nor RENAME_NOREPLACE, a file
// could only be written in place, where a kill leaves a short file under the
// final name, so Publish refuses with EOPNOTSUPP.
//
// Replace swaps the bytes in for whatever file bears the name, with a hidden
// temporary and rename(2): readers see the old file or the new one.
//
// Both flush the data to the device before the name is given, so not even a
// power loss leaves a short file under the name. The folder is not synced: a
// name published is a success, and at worst a power loss forgets the new
// name, never the old content.
class TAtomicWriter {
 public:
  // How Publish gives the bytes a name; each falls back to the next where the
  // file system lacks the call it needs.
  enum class TMethod { TmpFile, Link, Rename, Unsupported };

  // The bytes are not copied: they must outlive the writer. tempPattern names
  // the hidden temporary (in the target's folder) where one is needed: its
  // "XXXXXX" becomes six random letters and digits. New files get mode &
  // ~umask, as open(2) gives them.
  explicit TAtomicWriter(std::span<const uint8_t> data,
                         std::string tempPattern = ".punchlet-XXXXXX.tmp", mode_t mode = 0666,
                         TMethod method = TMethod::TmpFile);
  explicit TAtomicWriter(std::string_view data, std::string tempPattern = ".punchlet-XXXXXX.tmp",
                         mode_t mode = 0666, TMethod method = TMethod::TmpFile);
  ~TAtomicWriter();
  TAtomicWriter(const TAtomicWriter&) = delete;
  TAtomicWriter& operator=(const TAtomicWriter&) = delete;

  // Gives the bytes the name path. 0 on success; EEXIST when any entry bears
  // that name (a file, a folder, a link even if dangling): nothing changed,
  // and another name may be tried; otherwise the errno of the failure, with
  // nothing left behind. After a success the writer is spent (EALREADY).
  int Publish(const std::string& path);

  // Replaces the file at path (or creates it). 0 or an errno value; on
  // failure the old file is untouched and nothing is left behind. With
  // exactMode the new file gets the writer's mode whatever the umask.
  int Replace(const std::string& path, bool exactMode = false);

  // The method Publish uses: it changes when a fallback was needed.
  TMethod Method() const { return FMethod; }

 private:
  int StageUnnamed(const TPathAt& target);
  int StageNamed(const TPathAt& target);
  void Discard();

  std::span<const uint8_t> FData;
  std::string FTempPattern;
  mode_t FMode;
  TMethod FMethod;
  TFileHandle FStagedFile;    // the unnamed file, written and synced
  TFileHandle FStagedFolder;  // the folder the staged file lives in
  struct stat FStagedFolderId {};
  std::string FStagedName;  // the named temporary, empty when none
  bool FSpent = false;
};
