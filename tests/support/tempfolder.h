// A fresh folder for one test, removed with everything in it afterwards.
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <set>
#include <string>

class TempFolder {
 public:
  // The path ends in "/", ready for a name to be appended.
  explicit TempFolder(const char* prefix = "punchlet") {
    std::string pattern =
        (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
    FPath = ::mkdtemp(pattern.data());
    FPath += "/";
  }
  ~TempFolder() { std::filesystem::remove_all(FPath); }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& Path() const { return FPath; }
  std::set<std::string> Names() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(FPath))
      names.insert(entry.path().filename());
    return names;
  }

 private:
  std::string FPath;
};
