// Folder-tree walk and name-mask file search.
//
// TSearchDir reports every folder of a tree, level by level. TSearchFile reports
// every entry matching one mask in a folder, or in every folder of the tree below
// it when Recursive is set. All reports arrive synchronously through the events
// while Search runs.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

// Days since 30 December 1899; the fraction is the time of day.
using TDateTime = double;

struct TSearchFileData {
  std::string FileName;   // the entry's name, without the folder
  std::string ShortName;  // no alternate short names here: the same as FileName
  int64_t Size = 0;
  bool HasCreationTime = false;
  TDateTime CreationTime = 0;  // local; read only when HasCreationTime
  bool HasLastWriteTime = false;
  TDateTime LastWriteTime = 0;
  bool HasLastAccessTime = false;
  TDateTime LastAccessTime = 0;
  bool IsDirectory = false;
  bool IsReadOnly = false;
  bool IsHidden = false;
  bool IsSystem = false;
  bool Reserved = false;
  bool IsArchive = false;
};

class TSearchDir;
class TSearchFile;

using TSearchDirEvent =
    std::function<void(TSearchDir* Sender, const std::string& Name, const TSearchFileData& Data,
                       bool& IgnoreSubDir, bool& Continue)>;
using TFindFileEvent = std::function<void(TSearchFile* Sender, const std::string& Name,
                                          const TSearchFileData& Data, bool& Continue)>;
using TFindDirEvent =
    std::function<void(TSearchFile* Sender, const std::string& Name, const TSearchFileData& Data,
                       bool& Skip, bool& IgnoreSubDir)>;

// Walks BaseDir breadth-first and reports the base and every folder below it.
// A folder reached twice (through symbolic links) is reported and entered once.
class TSearchDir {
 public:
  // The owner is accepted for the usual component shape; lifetime is plain C++ here.
  explicit TSearchDir(void* AOwner = nullptr);
  virtual ~TSearchDir();
  TSearchDir(const TSearchDir&) = delete;
  TSearchDir& operator=(const TSearchDir&) = delete;

  // True when the walk ran to its end; false when busy, without OnFind, when
  // BaseDir names nothing, or when a handler cleared Continue.
  bool Search();

  std::string BaseDir;
  TSearchDirEvent OnFind;

 protected:
  virtual void DoFind(const std::string& Name, const TSearchFileData& Data, bool& IgnoreSubDir,
                      bool& Continue);

 private:
  std::deque<std::string> FQueue;
  bool FBusy = false;
};

// Reports the entries of Directory (and, with Recursive, of every folder below
// it) whose names match SearchName. All folders are collected before the first
// entry is reported; within a folder entries come in name order.
class TSearchFile {
 public:
  explicit TSearchFile(void* AOwner = nullptr);
  virtual ~TSearchFile();
  TSearchFile(const TSearchFile&) = delete;
  TSearchFile& operator=(const TSearchFile&) = delete;

  // True when the search ran to its end; false when busy, without OnFind, or
  // when a handler cleared Continue.
  bool Search();

  std::string Directory;
  bool Recursive = false;
  std::string SearchName;  // "*" and "?" wildcards, case ignored; empty means "*.*"
  TFindFileEvent OnFind;
  TFindDirEvent OnFindDir;  // each folder of the tree, only with Recursive

 protected:
  virtual void DoFind(const std::string& Name, const TSearchFileData& Data, bool& Continue);
  virtual void DoFindDir(const std::string& Name, const TSearchFileData& Data, bool& Skip,
                         bool& IgnoreSubDir);

 private:
  void SearchDirOnFind(TSearchDir* Sender, const std::string& Name, const TSearchFileData& Data,
                       bool& IgnoreSubDir, bool& Continue);

  TSearchDir FSearchDir;
  std::vector<std::string> FFolders;
  bool FBusy = false;
};

// Name-mask test: "*" matches any run of characters, "?" one character, letter
// case is ignored, and "*.*" matches every name, names without a dot included.
bool MatchesMask(const std::string& name, const std::string& mask);

// A local broken-down time as a date-time, at the two-second resolution of the
// packed date format; false outside the years 1980 to 2107 or for a time that
// is not a valid date.
bool LocalTimeToDateTime(int64_t secondsSinceEpoch, TDateTime& result);
