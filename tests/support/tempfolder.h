// A fresh folder for one test, removed with everything in it afterwards.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <set>
#include <string>
#include <system_error>

class TempFolder {
 public:
  explicit TempFolder(const char* prefix = "punchlet") {
    std::string pattern =
        (std::filesystem::temp_directory_path() / (std::string(prefix) + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp " << pattern << " failed";
    FPath = pattern + "/";
  }
  // Never throws: a test that left something unremovable must still end.
  ~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(Root(), ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  // The path ends in "/", ready for a name to be appended.
  const std::string& Path() const { return FPath; }
  // The same folder without the trailing "/".
  std::filesystem::path Root() const { return FPath.substr(0, FPath.size() - 1); }
  std::set<std::string> Names() const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(FPath))
      names.insert(entry.path().filename());
    return names;
  }

 private:
  std::string FPath;
};
