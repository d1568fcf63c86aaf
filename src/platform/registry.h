// A per-user registry over text files. Each key below HKEY_CURRENT_USER\Software
// is one file in the user's config folder, in the registry export format:
//
//   key  \Software\Tessaly\Punchlet
//   file ${XDG_CONFIG_HOME:-$HOME/.config}/Tessaly/Punchlet.reg
//
//   REGEDIT4
//
//   [HKEY_CURRENT_USER\Software\Tessaly\Punchlet]
//   "B1_01"=dword:00000000
//   "B5_03"="(ここに文字を入力)"
//
// Parsing is line-tolerant: a malformed line outside the key's section is
// written back unchanged, one inside it is dropped at the next write. UTF-16
// exports are read and written back as UTF-8; a text that is not UTF-8 is
// read as CP932, failing that as Latin-1.
//
// Opening a key reads and parses its file once: reads answer from that copy,
// so one load sees one version of the file however many values it reads.
// Writes replace the file atomically under a lock (waiting at most 2 seconds
// for it), so concurrent instances neither tear the file nor lose each
// other's values; opening and reading never wait for it. A key file that is
// a symbolic link stays one: it is read and written through.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

enum HKEY { HKEY_CURRENT_USER };

// The value types, numbered as the registry numbers them. REG_BINARY stands for
// every stored type that is neither a string nor a 32-bit integer.
enum TRegDataType { REG_NONE = 0, REG_SZ = 1, REG_EXPAND_SZ = 2, REG_BINARY = 3, REG_DWORD = 4 };

class TRegistry {
 public:
  explicit TRegistry(HKEY root = HKEY_CURRENT_USER);
  ~TRegistry();
  TRegistry(const TRegistry&) = delete;
  TRegistry& operator=(const TRegistry&) = delete;

  // How long a write waits for another instance's lock before it fails: a
  // hung process must not hang this one.
  static constexpr std::chrono::milliseconds LockTimeout{2000};

  HKEY RootKey() const { return FRootKey; }

  // Opens a key: "\A\B" from the root, "A\B" below the open key (or the root).
  // canCreate makes a missing key, empty. Returns false when the key does not
  // exist (and may not be made) or cannot be mapped to a file; only keys below
  // "\Software" can. On success the key open before is closed; on failure it
  // stays open. Components map to folder names as spelled (the file system
  // decides their letter case). A symbolic link that leads nowhere (or in a
  // loop) opens a key whose reads all fail; nothing is made in its place.
  bool OpenKey(const std::string& key, bool canCreate);
  void CloseKey();
  bool KeyOpen() const { return !FFileName.empty(); }
  // The open key's path without the leading "\", empty when none is open.
  const std::string& CurrentPath() const { return FCurrentPath; }
  // The file that holds the open key.
  const std::string& FileName() const { return FFileName; }

  // Value names compare without regard to ASCII letter case; "" is the default
  // value. False / REG_NONE for a missing value, with no open key, and when the
  // key's file cannot be parsed.
  bool ValueExists(const std::string& name) const;
  TRegDataType GetDataType(const std::string& name) const;

  // Reads raise ERegistryException for a missing value, a value of another type,
  // no open key, and a key file that cannot be read or parsed. ReadString takes
  // REG_SZ and REG_EXPAND_SZ (unexpanded).
  int32_t ReadInteger(const std::string& name) const;
  std::string ReadString(const std::string& name) const;

  // Writes replace a value of the same name where it stands, or append a new
  // one; a failure raises ERegistryException "'name' の設定に失敗しました",
  // naming the key file (or the one a failed OpenKey tried) and the reason.
  // Only a regular file is replaced, keeping its permission bits; one whose
  // owner may not write it is left alone (EACCES), even for root.
  // A write that would grow the file past what a read accepts (1 MiB) fails.
  // Strings end at their first NUL, as registry strings do. Through a
  // symbolic link the file it leads to is replaced (made, if its folder
  // exists); a link in a loop fails the write.
  void WriteInteger(const std::string& name, int32_t value);
  void WriteString(const std::string& name, const std::string& value);
  void WriteExpandString(const std::string& name, const std::string& value);

  // One value of a batch write.
  struct TValue {
    std::string name;
    TRegDataType type = REG_DWORD;  // REG_DWORD, REG_SZ or REG_EXPAND_SZ
    uint32_t number = 0;
    std::string text;
  };
  static TValue Integer(const std::string& name, int32_t value);
  static TValue String(const std::string& name, const std::string& value);
  // Writes all values, in order, with one replace of the file: either all of
  // them are stored or none. A failure names the first value, or the first
  // one whose name cannot be stored.
  void WriteValues(const std::vector<TValue>& values);

 private:
  struct TKeyData;

  // The key's section header in its file.
  std::string SectionName() const;

  HKEY FRootKey;
  std::string FCurrentPath;
  std::string FFileName;
  std::unique_ptr<TKeyData> FData;  // the file as parsed when opened or last written
  // The file the last failed OpenKey tried and why, for a write's report.
  std::string FFailedFile;
  std::string FFailedReason;
};
