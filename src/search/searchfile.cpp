#include "search/searchfile.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>

#include <algorithm>
#include <ctime>
#include <memory>
#include <set>
#include <utility>

#include "platform/fileio.h"
#include "platform/paths.h"

namespace {

// Sets a busy flag for one scope; cleared however the scope is left.
class BusyMark {
 public:
  explicit BusyMark(bool& flag) : FFlag(flag) { FFlag = true; }
  ~BusyMark() { FFlag = false; }
  BusyMark(const BusyMark&) = delete;
  BusyMark& operator=(const BusyMark&) = delete;

 private:
  bool& FFlag;
};

using FolderId = std::pair<dev_t, ino_t>;

// One looked-up entry: its record and, for folders, its identity on disk.
struct Entry {
  TSearchFileData data;
  FolderId id{};
};

int64_t DaysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2 ? 1 : 0;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

void SetTime(int64_t seconds, bool& has, TDateTime& value) {
  has = LocalTimeToDateTime(seconds, value);
  if (!has) value = 0;
}

// The entry's own name as a record name: the last component, ignoring a
// trailing separator ("/" itself has none).
std::string NameOf(const std::string& path) {
  size_t end = path.size();
  while (end > 0 && path[end - 1] == '/') --end;
  return ExtractFileName(path.substr(0, end));
}

struct RawStat {
  mode_t mode = 0;
  int64_t size = 0;
  FolderId id{};
  int64_t mtime = 0, atime = 0, btime = 0;
  bool hasBirth = false;
};

// Looks an entry up relative to dirFd, following symbolic links, as the record
// describes what a path leads to.
bool StatEntry(int dirFd, const char* path, RawStat& out) {
#ifdef STATX_BTIME
  struct statx sx {};
  if (statx(dirFd, path, AT_STATX_SYNC_AS_STAT, STATX_BASIC_STATS | STATX_BTIME, &sx) == 0) {
    out.mode = sx.stx_mode;
    out.size = static_cast<int64_t>(sx.stx_size);
    out.id = {makedev(sx.stx_dev_major, sx.stx_dev_minor), sx.stx_ino};
    out.mtime = sx.stx_mtime.tv_sec;
    out.atime = sx.stx_atime.tv_sec;
    out.hasBirth = (sx.stx_mask & STATX_BTIME) != 0;
    out.btime = out.hasBirth ? sx.stx_btime.tv_sec : 0;
    return true;
  }
#endif
  // statx may be missing or filtered out (containers); the birth time is then unknown.
  struct stat st {};
  if (fstatat(dirFd, path, &st, 0) != 0) return false;
  out.mode = st.st_mode;
  out.size = st.st_size;
  out.id = {st.st_dev, st.st_ino};
  out.mtime = st.st_mtim.tv_sec;
  out.atime = st.st_atim.tv_sec;
  out.hasBirth = false;
  return true;
}

bool Lookup(int dirFd, const std::string& path, const std::string& name, Entry& out) {
  RawStat st;
  if (path.empty() || !StatEntry(dirFd, path.c_str(), st)) return false;
  TSearchFileData& d = out.data;
  d = TSearchFileData{};
  d.FileName = name;
  d.ShortName = name;
  d.IsDirectory = S_ISDIR(st.mode);
  // A folder's byte count is a file-system detail, not a size.
  d.Size = d.IsDirectory ? 0 : st.size;
  if (st.hasBirth) SetTime(st.btime, d.HasCreationTime, d.CreationTime);
  SetTime(st.mtime, d.HasLastWriteTime, d.LastWriteTime);
  SetTime(st.atime, d.HasLastAccessTime, d.LastAccessTime);
  d.IsReadOnly = (st.mode & S_IWUSR) == 0;
  d.IsHidden = !name.empty() && name[0] == '.';
  // There are no system or archive attributes on this file system.
  d.IsSystem = false;
  d.IsArchive = false;
  out.id = st.id;
  return true;
}

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

// The entries of one folder that match the mask (every entry when the mask is
// empty), in name order, case ignored, ties in byte order so runs repeat.
// With foldersOnly, entries known to be something else are not even looked up.
// A folder that cannot be opened has no entries; an entry that cannot be
// looked up (vanished, dangling link, no access) is left out.
std::vector<Entry> ReadFolder(const std::string& folder, const std::string& mask,
                              bool foldersOnly) {
  std::vector<Entry> entries;
  // Opened in pieces and read relative to its own descriptor, so a folder
  // deeper than the kernel's path limit is read like any other.
  TFileHandle handle;
  if (OpenPath(folder, O_RDONLY | O_DIRECTORY, handle) != 0) return entries;
  std::unique_ptr<DIR, DirCloser> dir(fdopendir(handle.Get()));
  if (!dir) return entries;
  handle.Release();  // the stream owns it now
  const int fd = dirfd(dir.get());
  while (const dirent* raw = readdir(dir.get())) {
    const std::string name = raw->d_name;
    if (name == "." || name == "..") continue;
    if (foldersOnly && raw->d_type != DT_DIR && raw->d_type != DT_LNK && raw->d_type != DT_UNKNOWN)
      continue;
    if (!mask.empty() && !MatchesMask(name, mask)) continue;
    Entry entry;
    if (!Lookup(fd, name, name, entry)) continue;
    if (foldersOnly && !entry.data.IsDirectory) continue;
    entries.push_back(std::move(entry));
  }
  std::sort(entries.begin(), entries.end(), [](const Entry& a, const Entry& b) {
    const int c = CompareText(a.data.FileName, b.data.FileName);
    return c != 0 ? c < 0 : a.data.FileName < b.data.FileName;
  });
  return entries;
}

// Start of the next UTF-8 character after the one at pos.
size_t NextChar(const std::string& s, size_t pos) {
  ++pos;
  while (pos < s.size() && (static_cast<unsigned char>(s[pos]) & 0xC0) == 0x80) ++pos;
  return pos;
}

unsigned char Fold(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u >= 'a' && u <= 'z' ? static_cast<unsigned char>(u - 32) : u;
}

}  // namespace

bool MatchesMask(const std::string& name, const std::string& mask) {
  if (mask == "*.*") return true;
  // Only "*" and "?" are wildcards: brackets and backslashes are ordinary name
  // characters. A single backtrack point suffices for "*".
  size_t n = 0, m = 0;
  size_t starMask = std::string::npos, starName = 0;
  while (n < name.size()) {
    if (m < mask.size() && mask[m] == '*') {
      starMask = m++;
      starName = n;
    } else if (m < mask.size() && mask[m] == '?') {
      n = NextChar(name, n);
      ++m;
    } else if (m < mask.size() && Fold(mask[m]) == Fold(name[n])) {
      ++n;
      ++m;
    } else if (starMask != std::string::npos) {
      m = starMask + 1;
      starName = NextChar(name, starName);
      n = starName;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == '*') ++m;
  return m == mask.size();
}

bool LocalTimeToDateTime(int64_t secondsSinceEpoch, TDateTime& result) {
  const auto t = static_cast<time_t>(secondsSinceEpoch);
  if (static_cast<int64_t>(t) != secondsSinceEpoch) return false;
  struct tm local {};
  if (localtime_r(&t, &local) == nullptr) return false;
  const int64_t year = static_cast<int64_t>(local.tm_year) + 1900;
  // The packed date holds 1980 + 0..127 and seconds in two-second steps.
  if (year < 1980 || year > 2107 || local.tm_sec > 59) return false;
  const int64_t days = DaysFromCivil(year, static_cast<unsigned>(local.tm_mon + 1),
                                     static_cast<unsigned>(local.tm_mday)) -
                       DaysFromCivil(1899, 12, 30);
  const int seconds = local.tm_hour * 3600 + local.tm_min * 60 + local.tm_sec / 2 * 2;
  result = static_cast<double>(days) + seconds / 86400.0;
  return true;
}

// ---------------------------------------------------------------------------

TSearchDir::TSearchDir(void* /*AOwner*/) {}

TSearchDir::~TSearchDir() = default;

void TSearchDir::DoFind(const std::string& Name, const TSearchFileData& Data, bool& IgnoreSubDir,
                        bool& Continue) {
  if (OnFind) OnFind(this, Name, Data, IgnoreSubDir, Continue);
}

bool TSearchDir::Search() {
  if (FBusy || !OnFind) return false;
  const std::string path = BaseDir.empty() ? std::string() : ExpandFileName(BaseDir);
  Entry base;
  TPathAt at;
  if (OpenParent(path, at) != 0 || !Lookup(at.Folder(), at.Name, NameOf(path), base)) return false;

  BusyMark busy(FBusy);
  FQueue.clear();
  // Symbolic links can lead back into the tree: each folder is reported once.
  std::set<FolderId> seen;
  bool Continue = true;
  bool IgnoreSubDir = false;

  seen.insert(base.id);
  DoFind(path, base.data, IgnoreSubDir, Continue);
  if (!Continue) return false;
  if (!IgnoreSubDir) FQueue.push_back(path);

  while (!FQueue.empty()) {
    const std::string folder = IncludeTrailingPathDelimiter(FQueue.front());
    FQueue.pop_front();
    for (const Entry& entry : ReadFolder(folder, std::string(), true)) {
      if (!seen.insert(entry.id).second) continue;
      const std::string full = folder + entry.data.FileName;
      IgnoreSubDir = false;
      DoFind(full, entry.data, IgnoreSubDir, Continue);
      if (!Continue) return false;
      if (!IgnoreSubDir) FQueue.push_back(full);
    }
  }
  return true;
}

// ---------------------------------------------------------------------------

TSearchFile::TSearchFile(void* /*AOwner*/) : FSearchDir(this) {
  FSearchDir.OnFind = [this](TSearchDir* Sender, const std::string& Name,
                             const TSearchFileData& Data, bool& IgnoreSubDir, bool& Continue) {
    SearchDirOnFind(Sender, Name, Data, IgnoreSubDir, Continue);
  };
}

TSearchFile::~TSearchFile() = default;

void TSearchFile::DoFind(const std::string& Name, const TSearchFileData& Data, bool& Continue) {
  if (OnFind) OnFind(this, Name, Data, Continue);
}

void TSearchFile::DoFindDir(const std::string& Name, const TSearchFileData& Data, bool& Skip,
                            bool& IgnoreSubDir) {
  if (OnFindDir) OnFindDir(this, Name, Data, Skip, IgnoreSubDir);
}

void TSearchFile::SearchDirOnFind(TSearchDir* /*Sender*/, const std::string& Name,
                                  const TSearchFileData& Data, bool& IgnoreSubDir,
                                  bool& /*Continue*/) {
  bool Skip = false;
  DoFindDir(Name, Data, Skip, IgnoreSubDir);
  if (!Skip) FFolders.push_back(Name);
}

bool TSearchFile::Search() {
  if (FBusy || !OnFind) return false;
  BusyMark busy(FBusy);
  FFolders.clear();
  bool Continue = true;

  if (Recursive) {
    // A Directory that names nothing leaves the list empty; that is not a failure.
    FSearchDir.BaseDir = Directory;
    FSearchDir.Search();
  } else if (!Directory.empty()) {
    FFolders.push_back(ExpandFileName(Directory));
  }

  const std::string mask = SearchName.empty() ? std::string("*.*") : SearchName;
  const size_t count = FFolders.size();
  for (size_t i = 0; i < count; ++i) {
    const std::string folder = IncludeTrailingPathDelimiter(FFolders[i]);
    for (const Entry& entry : ReadFolder(folder, mask, false)) {
      DoFind(folder + entry.data.FileName, entry.data, Continue);
      if (!Continue) return false;
    }
  }
  return true;
}
