// Path helpers. The separator is "/"; paths are UTF-8 strings of any length.
#pragma once

#include <cstdint>
#include <string>

// The last component's part from its last dot to the end, dot included;
// empty when the last component has no dot.
std::string ExtractFileExt(const std::string& path);

// Everything up to and including the last "/"; empty when there is none.
std::string ExtractFilePath(const std::string& path);

// The last component: everything after the last "/".
std::string ExtractFileName(const std::string& path);

// The folder with exactly one "/" at its end (none added when one is there).
std::string IncludeTrailingPathDelimiter(const std::string& folder);

// An absolute path: a relative one is resolved against the current folder.
// "." and ".." components and doubled separators are folded; symbolic links
// are left alone.
std::string ExpandFileName(const std::string& path);

// Case-insensitive comparison (ASCII letters fold; other bytes compare as they are).
bool SameText(const std::string& a, const std::string& b);
int CompareText(const std::string& a, const std::string& b);

// True when the extension is ".bmp", ".jpg" or ".jpeg" in any letter case.
bool IsBmpExtension(const std::string& ext);
bool IsJpegExtension(const std::string& ext);
inline bool IsPictureExtension(const std::string& ext) {
  return IsBmpExtension(ext) || IsJpegExtension(ext);
}

// What a path names, following symbolic links (stat semantics): a missing
// path and an empty one are None; "dir" and "dir/" are both Directory.
enum class PathKind { None, File, Directory };
PathKind LookupPath(const std::string& path);

// True when an entry that is not a folder exists at the path (a dangling
// symbolic link counts: writing through it could still hit something).
bool FileExists(const std::string& path);
