// Points XDG_CONFIG_HOME at a new empty folder for one test, and puts the
// old value back (and removes the folder) afterwards.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>

class TempConfigHome {
 public:
  TempConfigHome() {
    if (const char* old = std::getenv("XDG_CONFIG_HOME")) FOld = old;
    std::string folder = (std::filesystem::temp_directory_path() / "config.XXXXXX").string();
    if (::mkdtemp(folder.data()) == nullptr) ADD_FAILURE() << "mkdtemp failed";
    FFolder = folder;
    ::setenv("XDG_CONFIG_HOME", folder.c_str(), 1);
  }
  ~TempConfigHome() {
    FOld ? ::setenv("XDG_CONFIG_HOME", FOld->c_str(), 1) : ::unsetenv("XDG_CONFIG_HOME");
    std::error_code ignored;
    std::filesystem::remove_all(FFolder, ignored);
  }
  const std::filesystem::path& Folder() const { return FFolder; }
  std::filesystem::path KeyFile() const { return FFolder / "Tessaly" / "Punchlet.reg"; }

  static std::string ReadText(const std::filesystem::path& path) {
    std::stringstream text;
    text << std::ifstream(path, std::ios::binary).rdbuf();
    return text.str();
  }
  static void WriteText(const std::filesystem::path& path, const std::string& text) {
    std::filesystem::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
  }

 private:
  std::filesystem::path FFolder;
  std::optional<std::string> FOld;
};
