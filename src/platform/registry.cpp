#include "platform/registry.h"

#include <dirent.h>
#include <fcntl.h>
#include <iconv.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <thread>
#include <unordered_map>
#include <vector>

#include "platform/errors.h"
#include "platform/fileio.h"
#include "platform/paths.h"

namespace {

// A key file is a few hundred bytes; anything near this is not ours, and is
// refused rather than read into memory and parsed. Writes stay below it too,
// or the key would become unreadable.
constexpr size_t kMaxFileSize = 1u << 20;

constexpr std::string_view kSignature = "REGEDIT4";
constexpr const char* kNotRegular = "not a regular file";
constexpr std::string_view kSignature5 = "Windows Registry Editor Version 5.00";

// Names compare like SameText: ASCII letters fold.
std::string Folded(std::string name) {
  for (char& c : name) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return name;
}

// One logical line of a key file. Lines are written back as they were read
// unless their value changes, so comments and other sections survive a write.
struct Line {
  // OwnBroken: a malformed line inside the key's section, dropped on write.
  enum Kind { Other, OwnHeader, OwnValue, OwnBroken };
  Kind kind = Other;
  std::string raw;  // the physical line(s), without the final line break
  std::string name;
  TRegDataType type = REG_NONE;
  uint32_t number = 0;  // REG_DWORD
  std::string text;     // REG_SZ, REG_EXPAND_SZ
};

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool StartsWithNoCase(std::string_view s, std::string_view prefix) {
  return s.size() >= prefix.size() &&
         SameText(std::string(s.substr(0, prefix.size())), std::string(prefix));
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// 1 to 8 hex digits.
bool ParseHexNumber(std::string_view s, uint32_t& number) {
  if (s.empty() || s.size() > 8) return false;
  number = 0;
  for (char c : s) {
    const int digit = HexValue(c);
    if (digit < 0) return false;
    number = number << 4 | static_cast<uint32_t>(digit);
  }
  return true;
}

// A quoted string starting at s[pos]; only \\ and \" are escapes.
bool ParseQuoted(std::string_view s, size_t& pos, std::string& out) {
  if (pos >= s.size() || s[pos] != '"') return false;
  ++pos;
  while (pos < s.size()) {
    char c = s[pos++];
    if (c == '"') return true;
    if (c == '\\') {
      if (pos >= s.size() || (s[pos] != '\\' && s[pos] != '"')) return false;
      c = s[pos++];
    }
    out += c;
  }
  return false;
}

std::string Quote(const std::string& s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\\' || c == '"') out += '\\';
    out += c;
  }
  return out + "\"";
}

// Comma-separated bytes of one or two hex digits; an empty list is allowed.
bool ParseHexBytes(std::string_view s, std::string& out) {
  s = Trim(s);
  if (s.empty()) return true;
  while (true) {
    const size_t comma = s.find(',');
    const std::string_view item = Trim(s.substr(0, comma));
    uint32_t byte = 0;
    if (item.size() > 2 || !ParseHexNumber(item, byte)) return false;
    out += static_cast<char>(byte);
    if (comma == std::string_view::npos) return true;
    s.remove_prefix(comma + 1);
  }
}

std::string HexBytes(const std::string& bytes) {
  std::string out;
  char buffer[4];
  for (unsigned char c : bytes) {
    std::snprintf(buffer, sizeof buffer, out.empty() ? "%02x" : ",%02x", c);
    out += buffer;
  }
  return out;
}

// The data after "=": "text", dword:hhhhhhhh, hex:..., hex(n):...
bool ParseData(std::string_view data, Line& line) {
  if (!data.empty() && data.front() == '"') {
    size_t pos = 0;
    if (!ParseQuoted(data, pos, line.text) || !Trim(data.substr(pos)).empty()) return false;
    line.type = REG_SZ;
    return true;
  }
  if (StartsWithNoCase(data, "dword:")) {
    line.type = REG_DWORD;
    return ParseHexNumber(Trim(data.substr(6)), line.number);
  }
  if (!StartsWithNoCase(data, "hex")) return false;
  data.remove_prefix(3);
  uint32_t kind = REG_BINARY;
  if (!data.empty() && data.front() == '(') {
    const size_t close = data.find(')');
    if (close == std::string_view::npos || !ParseHexNumber(data.substr(1, close - 1), kind)) {
      return false;
    }
    data.remove_prefix(close + 1);
  }
  if (data.empty() || data.front() != ':') return false;
  std::string bytes;
  if (!ParseHexBytes(data.substr(1), bytes)) return false;
  if (kind == REG_SZ || kind == REG_EXPAND_SZ) {
    line.type = static_cast<TRegDataType>(kind);
    line.text = bytes.substr(0, bytes.find('\0'));
  } else if (kind == REG_DWORD && bytes.size() == 4) {  // little-endian
    line.type = REG_DWORD;
    for (int i = 3; i >= 0; --i) line.number = line.number << 8 | static_cast<uint8_t>(bytes[i]);
  } else {
    line.type = REG_BINARY;  // kept as written; nothing here reads it
  }
  return true;
}

// "name"=data or @=data.
bool ParseValueLine(std::string_view s, Line& line) {
  size_t pos = 0;
  if (s.front() == '@') {
    pos = 1;
  } else if (!ParseQuoted(s, pos, line.name)) {
    return false;
  }
  if (pos >= s.size() || s[pos] != '=') return false;
  return ParseData(Trim(s.substr(pos + 1)), line);
}

// Text in another encoding than UTF-8 through iconv; false when it is not
// valid there either.
bool Convert(const char* from, std::string_view in, std::string& out) {
  const iconv_t cd = ::iconv_open("UTF-8", from);
  if (cd == reinterpret_cast<iconv_t>(-1)) return false;
  out.assign(in.size() * 4 + 4, '\0');
  char* src = const_cast<char*>(in.data());
  size_t srcLeft = in.size();
  char* dst = out.data();
  size_t dstLeft = out.size();
  const bool ok = ::iconv(cd, &src, &srcLeft, &dst, &dstLeft) != static_cast<size_t>(-1) &&
                  ::iconv(cd, nullptr, nullptr, &dst, &dstLeft) != static_cast<size_t>(-1);
  ::iconv_close(cd);
  out.resize(out.size() - dstLeft);
  return ok && srcLeft == 0;
}

// A text value not in UTF-8 was written in the system's code page, which for
// this program is the Japanese one; failing that, each byte is a character.
std::string TextFromFile(const std::string& bytes) {
  if (IsUtf8(bytes)) return bytes;
  std::string text;
  if (!Convert("CP932", bytes, text)) Convert("ISO-8859-1", bytes, text);
  return text;
}

// Splits a key file into logical lines. False when the file is not in the
// export format. A malformed line elsewhere is kept as it is; one in this
// key's section is marked to be dropped when the key is written.
bool Parse(std::string content, const std::string& section, std::vector<Line>& lines) {
  // A UTF-16 export (the registry editor's own) is read as UTF-8 and written
  // back as UTF-8 in the older format.
  const bool utf16 = content.starts_with("\xFF\xFE");
  if (utf16) {
    std::string text;
    Convert("UTF-16LE", std::string_view(content).substr(2, (content.size() - 2) & ~size_t{1}),
            text);
    content = std::move(text);
  }
  std::vector<std::string> physical;
  size_t start = content.starts_with("\xEF\xBB\xBF") ? 3 : 0;
  while (start < content.size()) {
    size_t end = content.find('\n', start);
    if (end == std::string::npos) end = content.size();
    std::string text = content.substr(start, end - start);
    // Every carriage return before the line feed goes: a line kept as text is
    // written back with a plain line feed, and must read the same again.
    while (!text.empty() && text.back() == '\r') text.pop_back();
    physical.push_back(std::move(text));
    start = end + 1;
  }

  bool signed_ = false;
  bool inOwn = false;
  std::unordered_map<std::string, size_t> seen;  // folded name -> index in lines
  for (size_t i = 0; i < physical.size(); ++i) {
    Line line;
    line.raw = physical[i];
    std::string text(Trim(physical[i]));
    const bool isValue = !text.empty() && (text.front() == '"' || text.front() == '@');
    // Long values go on over lines that end in a backslash.
    while (isValue && text.ends_with('\\') && i + 1 < physical.size()) {
      text.pop_back();
      text += Trim(physical[++i]);
      line.raw += "\n" + physical[i];
    }

    if (text.empty() || text.front() == ';') {
      // blank or comment
    } else if (!signed_) {
      if (text != kSignature && text != kSignature5) return false;
      signed_ = true;
      if (utf16) line.raw = kSignature;
    } else if (text.front() == '[' && text.back() == ']') {
      inOwn = SameText(text.substr(1, text.size() - 2), section);
      if (inOwn) line.kind = Line::OwnHeader;
    } else if (inOwn) {
      if (!isValue || !ParseValueLine(text, line)) {
        line = Line();
        line.kind = Line::OwnBroken;
      } else {
        line.kind = Line::OwnValue;
        // A text ends at its first NUL, as it does when written.
        if (line.type == REG_SZ || line.type == REG_EXPAND_SZ)
          line.text = TextFromFile(line.text.substr(0, line.text.find('\0')));
        // A name given twice: the later one wins, in the earlier one's place.
        // Looked up by key, so a hostile file of many names stays linear.
        const auto [found, added] = seen.try_emplace(Folded(line.name), lines.size());
        if (!added) {
          lines[found->second] = std::move(line);
          continue;
        }
      }
    }
    lines.push_back(std::move(line));
  }
  // Only comments and blank lines: readable, but a save must still begin
  // with the signature, or the file it writes would not read back.
  if (!signed_) {
    Line signature;
    signature.raw = kSignature;
    lines.insert(lines.begin(), std::move(signature));
  }
  return true;
}

std::string FormatValue(const Line& line) {
  std::string out = line.name.empty() ? "@=" : Quote(line.name) + "=";
  if (line.type == REG_DWORD) {
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, "dword:%08x", static_cast<unsigned>(line.number));
    return out + buffer;
  }
  // A quoted string has to stay on its line; one with a line break goes as bytes.
  if (line.type == REG_SZ && line.text.find_first_of("\r\n") == std::string::npos) {
    return out + Quote(line.text);
  }
  const char* prefix = line.type == REG_SZ ? "hex(1):" : "hex(2):";
  return out + prefix + HexBytes(line.text + '\0');
}

// Replaces the value of the same name where it stands, or adds it after the
// last line of the key's section (making the section when there is none).
void SetValue(std::vector<Line>& lines, const std::string& section, Line value) {
  for (Line& line : lines) {
    if (line.kind == Line::OwnValue && SameText(line.name, value.name)) {
      value.name = line.name;  // the first spelling of a name stays
      value.raw = FormatValue(value);
      line = std::move(value);
      return;
    }
  }
  value.raw = FormatValue(value);
  size_t last = lines.size();
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].kind != Line::Other) last = i;
  }
  if (last < lines.size()) {
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(last) + 1, std::move(value));
    return;
  }
  bool blank = true;
  for (const Line& line : lines) blank = blank && Trim(line.raw).empty();
  if (blank) {
    lines.assign(1, Line());
    lines[0].raw = kSignature;
  }
  if (!Trim(lines.back().raw).empty()) lines.emplace_back();
  Line& header = lines.emplace_back();
  header.kind = Line::OwnHeader;
  header.raw = "[" + section + "]";
  lines.push_back(std::move(value));
}

std::string Serialize(const std::vector<Line>& lines) {
  std::string out;
  for (const Line& line : lines)
    if (line.kind != Line::OwnBroken) out += line.raw + "\n";
  return out;
}

bool ReadKey(const std::string& path, const std::string& section, std::vector<Line>& lines) {
  std::string content;
  return ReadFile(path, kMaxFileSize, content) == 0 && Parse(content, section, lines);
}

// A crashed writer's temporary is "<key file>.tmp." and six letters or digits.
std::string TempPrefix(const std::string& path) { return path + ".tmp."; }

// Writes a key file's new content, private as config files are. Replace
// renames a complete new file over the old one, so a reader or a crash sees
// either the old file or the new one; Publish makes a file that never
// replaces one.
TAtomicWriter KeyFileWriter(const std::string& path, const std::string& content,
                            mode_t mode = 0600) {
  return TAtomicWriter(content, ExtractFileName(TempPrefix(path)) + "XXXXXX", mode);
}

// Temporary files that a crashed writer left behind. Only called under the
// lock, when no other writer can have one in progress.
void RemoveStaleTempFiles(const std::string& path) {
  const std::string folder = ExtractFilePath(path);
  const std::string prefix = ExtractFileName(TempPrefix(path));
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name = entry->d_name;
    if (!name.starts_with(prefix) || name.size() != prefix.size() + 6) continue;
    bool random = true;  // six letters and digits, never a key file's ".reg"
    for (char c : name.substr(prefix.size()))
      random = random && std::isalnum(static_cast<unsigned char>(c));
    if (random) ::unlinkat(::dirfd(dir), entry->d_name, 0);
  }
  ::closedir(dir);
}

// The file a key file's name finally leads to: symbolic links are followed
// (relative ones from the link's folder), at most 40 of them, as the kernel
// does. A name that leads nowhere is the file to make. Returns 0 or an errno
// value.
int FinalTarget(std::string path, std::string& target) {
  for (int links = 0; links < 40; ++links) {
    struct stat info;
    const bool exists = ::lstat(path.c_str(), &info) == 0;
    if (!exists && errno != ENOENT) return errno;
    if (!exists || !S_ISLNK(info.st_mode)) {
      target = std::move(path);
      return 0;
    }
    std::string link(4096, '\0');
    while (true) {
      const ssize_t size = ::readlink(path.c_str(), link.data(), link.size());
      if (size < 0) return errno;
      if (static_cast<size_t>(size) < link.size()) {
        link.resize(static_cast<size_t>(size));
        break;
      }
      link.resize(link.size() * 2);
    }
    path = link.starts_with('/') ? link : ExtractFilePath(path) + link;
  }
  return ELOOP;
}

// An exclusive advisory lock on "<key file>.lock". The lock file stays:
// removing it would let two writers lock different files.
class WriteLock {
 public:
  // Waits at most TRegistry::LockTimeout for another holder to let go.
  explicit WriteLock(const std::string& path)
      : FFile(::open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
    if (FFile.Get() < 0) {
      FError = errno;
      return;
    }
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + TRegistry::LockTimeout;
    std::chrono::milliseconds pause{1};
    while (::flock(FFile.Get(), LOCK_EX | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK && errno != EINTR) {
        FError = errno;
        return;
      }
      const Clock::time_point now = Clock::now();
      if (now >= deadline) return;  // FError stays 0: someone else holds it
      std::this_thread::sleep_for(std::min<Clock::duration>(pause, deadline - now));
      pause = std::min(pause * 2, std::chrono::milliseconds{50});
    }
    FLocked = true;
  }
  bool Locked() const { return FLocked; }
  // Why the lock could not be had: an errno value, or 0 when another
  // process held it past the timeout.
  int Error() const { return FError; }

 private:
  TFileHandle FFile;
  bool FLocked = false;
  int FError = 0;
};

std::string ConfigFolder() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && xdg[0] == '/') return xdg;  // relative values are to be ignored
  const char* home = std::getenv("HOME");
  if (home == nullptr || home[0] == '\0') {
    const passwd* user = ::getpwuid(::getuid());
    home = user != nullptr ? user->pw_dir : nullptr;
  }
  if (home == nullptr || home[0] == '\0') return {};
  return IncludeTrailingPathDelimiter(home) + ".config";
}

// Each missing folder along the path, private to the user as config folders are.
bool MakeFolders(const std::string& folder) {
  for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
    const std::string part = folder.substr(0, slash);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) break;
  }
  if (LookupPath(folder) == PathKind::Directory) return true;
  errno = ENOTDIR;  // something else has the folder's name
  return false;
}

const char* RootName(HKEY root) {
  switch (root) {
    case HKEY_CURRENT_USER:
      return "HKEY_CURRENT_USER";
  }
  return "";
}

// Whether anything, a link included, has the name; false for a folder.
enum class Entry { None, Folder, Other };
Entry EntryAt(const std::string& path) {
  struct stat info;
  if (::lstat(path.c_str(), &info) != 0) return Entry::None;
  return S_ISDIR(info.st_mode) ? Entry::Folder : Entry::Other;
}

const Line* FindValue(const std::vector<Line>& lines, const std::string& name) {
  for (const Line& line : lines) {
    if (line.kind == Line::OwnValue && SameText(line.name, name)) return &line;
  }
  return nullptr;
}

}  // namespace

struct TRegistry::TKeyData {
  bool readable = false;  // false when the file could not be read or parsed
  std::vector<Line> lines;
};

TRegistry::TRegistry(HKEY root) : FRootKey(root) {}

TRegistry::~TRegistry() = default;

bool TRegistry::OpenKey(const std::string& key, bool canCreate) {
  std::vector<std::string> parts;
  if (!key.starts_with('\\') && KeyOpen()) parts.push_back(FCurrentPath);
  parts.push_back(key);
  std::vector<std::string> components;
  for (const std::string& part : parts) {
    size_t start = 0;
    while (start <= part.size()) {
      size_t end = part.find('\\', start);
      if (end == std::string::npos) end = part.size();
      std::string component = part.substr(start, end - start);
      if (component == "." || component == ".." ||
          component.find_first_of(std::string("/\0", 2)) != std::string::npos) {
        return false;  // would leave the config folder or is no file name
      }
      if (!component.empty()) components.push_back(std::move(component));
      start = end + 1;
    }
  }
  // Only the user's software settings live in the config folder.
  if (components.size() < 2 || !SameText(components[0], "Software")) return false;
  const std::string config = ConfigFolder();
  if (config.empty()) return false;

  std::string folder = config;
  for (size_t i = 1; i + 1 < components.size(); ++i) folder += "/" + components[i];
  const std::string fileName = folder + "/" + components.back() + ".reg";
  std::string path = components[0];
  for (size_t i = 1; i < components.size(); ++i) path += "\\" + components[i];
  const std::string section = std::string(RootName(FRootKey)) + "\\" + path;

  // Only a name nothing has is made: a link, even one leading nowhere, is
  // the user's and stays. Publishing never replaces, so it needs no lock: a
  // file another instance wrote meanwhile wins, and opening never waits.
  // Why a key could not be opened, for a write that then fails.
  const auto refuse = [&](int error) {
    FFailedFile = fileName;
    FFailedReason = error != 0 ? SystemReason(error) : kNotRegular;
    return false;
  };
  if (EntryAt(fileName) == Entry::None) {
    if (!canCreate) return refuse(ENOENT);
    if (!MakeFolders(folder)) return refuse(errno);
    const std::string empty = std::string(kSignature) + "\n\n[" + section + "]\n";
    if (const int error = KeyFileWriter(fileName, empty).Publish(fileName);
        error != 0 && error != EEXIST)
      return refuse(error);
  }
  if (EntryAt(fileName) != Entry::Other) return refuse(0);
  auto data = std::make_unique<TKeyData>();
  data->readable = ReadKey(fileName, section, data->lines);
  FCurrentPath = std::move(path);
  FFileName = fileName;
  FData = std::move(data);
  return true;
}

void TRegistry::CloseKey() {
  FCurrentPath.clear();
  FFileName.clear();
  FData.reset();
}

std::string TRegistry::SectionName() const {
  return std::string(RootName(FRootKey)) + "\\" + FCurrentPath;
}

bool TRegistry::ValueExists(const std::string& name) const { return GetDataType(name) != REG_NONE; }

TRegDataType TRegistry::GetDataType(const std::string& name) const {
  if (!FData || !FData->readable) return REG_NONE;
  const Line* line = FindValue(FData->lines, name);
  return line != nullptr ? line->type : REG_NONE;
}

int32_t TRegistry::ReadInteger(const std::string& name) const {
  const Line* line = FData && FData->readable ? FindValue(FData->lines, name) : nullptr;
  if (line == nullptr) throw ERegistryException(Format(SRegGetDataFailed, name.c_str()));
  if (line->type != REG_DWORD) throw ERegistryException(Format(SInvalidRegType, name.c_str()));
  return static_cast<int32_t>(line->number);
}

std::string TRegistry::ReadString(const std::string& name) const {
  const Line* line = FData && FData->readable ? FindValue(FData->lines, name) : nullptr;
  if (line == nullptr) throw ERegistryException(Format(SRegGetDataFailed, name.c_str()));
  if (line->type != REG_SZ && line->type != REG_EXPAND_SZ) {
    throw ERegistryException(Format(SInvalidRegType, name.c_str()));
  }
  return line->text;
}

TRegistry::TValue TRegistry::Integer(const std::string& name, int32_t value) {
  return {name, REG_DWORD, static_cast<uint32_t>(value), {}};
}

TRegistry::TValue TRegistry::String(const std::string& name, const std::string& value) {
  return {name, REG_SZ, 0, value};
}

void TRegistry::WriteInteger(const std::string& name, int32_t value) {
  WriteValues({Integer(name, value)});
}

void TRegistry::WriteString(const std::string& name, const std::string& value) {
  WriteValues({String(name, value)});
}

void TRegistry::WriteExpandString(const std::string& name, const std::string& value) {
  WriteValues({{name, REG_EXPAND_SZ, 0, value}});
}

void TRegistry::WriteValues(const std::vector<TValue>& values) {
  if (values.empty()) return;
  // The message names the value; the second line says which file and why.
  const auto failed = [this](const std::string& name, const std::string& reason = {}) {
    return ERegistryException(Format(SRegSetDataFailed, name.c_str()), FFileName, reason);
  };
  // A name has to fit on its line.
  for (const TValue& value : values) {
    if (value.name.find_first_of(std::string("\r\n\0", 3)) != std::string::npos)
      throw failed(value.name);
  }
  if (!KeyOpen()) {
    throw ERegistryException(Format(SRegSetDataFailed, values.front().name.c_str()), FFailedFile,
                             FFailedReason);
  }
  const WriteLock lock(FFileName);
  if (!lock.Locked()) {
    throw failed(values.front().name,
                 lock.Error() != 0 ? std::strerror(lock.Error()) : "locked by another program");
  }
  std::string target;
  if (const int error = FinalTarget(FFileName, target); error != 0)
    throw failed(values.front().name, std::strerror(error));
  // Only a regular file is replaced: a pipe, device or folder at the end of a
  // link stays what it is. A file without its owner's write bit is one the
  // user locked, and stays too, whoever we run as.
  struct stat info {};
  const bool exists = ::lstat(target.c_str(), &info) == 0;
  if (exists && !S_ISREG(info.st_mode)) throw failed(values.front().name, kNotRegular);
  if (exists && (info.st_mode & S_IWUSR) == 0)
    throw failed(values.front().name, std::strerror(EACCES));
  RemoveStaleTempFiles(target);
  // Start from the file as it is now, so a value another instance wrote
  // since this key was opened is kept. A file that cannot be parsed is not
  // worth keeping: the key starts over empty.
  std::vector<Line> lines;
  if (!ReadKey(target, SectionName(), lines)) lines.clear();
  for (const TValue& value : values) {
    Line line;
    line.kind = Line::OwnValue;
    line.name = value.name;
    line.type = value.type;
    line.number = value.number;
    if (value.type != REG_DWORD) line.text = value.text.substr(0, value.text.find('\0'));
    SetValue(lines, SectionName(), std::move(line));
  }
  const std::string content = Serialize(lines);
  if (content.size() > kMaxFileSize) throw failed(values.front().name, std::strerror(EFBIG));
  // The file keeps its permission bits.
  const mode_t mode = exists ? info.st_mode & 07777 : 0600;
  if (const int error = KeyFileWriter(target, content, mode).Replace(target, exists); error != 0)
    throw failed(values.front().name, std::strerror(error));
  FData->readable = true;
  FData->lines = std::move(lines);
}
