// Writing a new file that never replaces an existing entry and never shows a
// partial file under its final name.
#pragma once

#include <cstdint>
#include <span>
#include <string>

// Holds a block of bytes and publishes it under names that must be new.
//
// The bytes are first written and flushed under a hidden temporary name in the
// target's folder (".加工済-XXXXXX.tmp"), then given the final name with link(2)
// or renameat2(RENAME_NOREPLACE), both of which fail instead of replacing when
// another program took the name in the meantime. The temporary name is removed
// on every path. Where the file system offers neither call (some removable
// media), the target is created exclusively and written in place; a failed
// write removes it again, so only a kill during that write can leave a short file.
class TNoReplaceWriter {
 public:
  // How a name is given to the bytes. Each method falls back to the next one
  // when the file system does not support it.
  enum class TMethod { Link, Rename, Direct };

  // The bytes are not copied: they must outlive the writer.
  explicit TNoReplaceWriter(std::span<const uint8_t> data, TMethod method = TMethod::Link);
  ~TNoReplaceWriter();
  TNoReplaceWriter(const TNoReplaceWriter&) = delete;
  TNoReplaceWriter& operator=(const TNoReplaceWriter&) = delete;

  // Writes the bytes under path. Returns false, changing nothing, when an
  // entry of that name exists (a file, a folder, a link even if dangling).
  // After a success the writer is spent: further calls raise EFCreateError.
  // Raises EFCreateError naming path when creating or writing fails (a
  // missing or read-only folder, a full disk); nothing is left behind then.
  bool Publish(const std::string& path);

  // The method in use: it changes when a fallback was needed.
  TMethod Method() const { return FMethod; }

 private:
  bool StageIn(const std::string& folder);
  void Discard();

  std::span<const uint8_t> FData;
  TMethod FMethod;
  std::string FStagedPath;  // empty while nothing is staged
  std::string FStagedFolder;
  bool FPublished = false;
};
