// Folders nested deeper than the kernel's PATH_MAX, made one level at a time
// (the kernel would refuse the whole path in one call).
#pragma once

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <string_view>

// A chain of 200-byte folder names below base (which ends in "/"), at least
// minLength bytes long in all. Returns the deepest folder's path, ending in "/".
inline std::string MakeDeepFolder(const std::string& base, size_t minLength = PATH_MAX + 200) {
  std::string path = base;
  int fd = ::open(base.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (char c = 'a'; path.size() < minLength && fd >= 0; ++c) {
    const std::string name(200, c);
    ::mkdirat(fd, name.c_str(), 0755);
    const int next = ::openat(fd, name.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ::close(fd);
    fd = next;
    path += name + "/";
  }
  if (fd >= 0) ::close(fd);
  return path;
}

// Writes a file at the end of a path of any length; false when it cannot.
inline bool WriteDeepFile(const std::string& path, std::string_view bytes) {
  int fd = ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  size_t pos = 1;
  for (size_t slash; fd >= 0 && (slash = path.find('/', pos)) != std::string::npos;
       pos = slash + 1) {
    const int next =
        ::openat(fd, path.substr(pos, slash - pos).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    ::close(fd);
    fd = next;
  }
  if (fd < 0) return false;
  const int file =
      ::openat(fd, path.substr(pos).c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  ::close(fd);
  if (file < 0) return false;
  const bool ok = ::write(file, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  return ::close(file) == 0 && ok;
}
