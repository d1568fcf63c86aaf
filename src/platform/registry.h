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
// Reads look at the file as it is now; writes replace it atomically under a lock,
// so concurrent instances neither tear the file nor lose each other's values.
#pragma once

#include <cstdint>
#include <string>

enum HKEY { HKEY_CURRENT_USER };

// The value types, numbered as the registry numbers them. REG_BINARY stands for
// every stored type that is neither a string nor a 32-bit integer.
enum TRegDataType { REG_NONE = 0, REG_SZ = 1, REG_EXPAND_SZ = 2, REG_BINARY = 3, REG_DWORD = 4 };

class TRegistry {
 public:
  explicit TRegistry(HKEY root = HKEY_CURRENT_USER) : FRootKey(root) {}

  HKEY RootKey() const { return FRootKey; }

  // Opens a key: "\A\B" from the root, "A\B" below the open key (or the root).
  // canCreate makes a missing key, empty. Returns false when the key does not
  // exist (and may not be made) or cannot be mapped to a file; only keys below
  // "\Software" can. On success the key open before is closed; on failure it
  // stays open. Components map to folder names as spelled (the file system
  // decides their letter case).
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
  // one; a failure raises ERegistryException "'name' の設定に失敗しました".
  // A write that would grow the file past what a read accepts (1 MiB) fails.
  // Strings end at their first NUL, as registry strings do.
  void WriteInteger(const std::string& name, int32_t value);
  void WriteString(const std::string& name, const std::string& value);
  void WriteExpandString(const std::string& name, const std::string& value);

 private:
  // The key's section header in its file.
  std::string SectionName() const;
  void WriteValue(const std::string& name, TRegDataType type, uint32_t number,
                  const std::string& text);

  HKEY FRootKey;
  std::string FCurrentPath;
  std::string FFileName;
};
