// Points XDG_CONFIG_HOME at a new empty folder for one test, and puts the
// previous value back (and removes the folder) afterwards.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "support/files.h"
#include "support/tempfolder.h"

class TempConfigHome {
 public:
  TempConfigHome() {
    if (const char* previous = std::getenv("XDG_CONFIG_HOME")) FPrevious = previous;
    ::setenv("XDG_CONFIG_HOME", FFolder.Root().c_str(), 1);
  }
  ~TempConfigHome() {
    FPrevious ? ::setenv("XDG_CONFIG_HOME", FPrevious->c_str(), 1) : ::unsetenv("XDG_CONFIG_HOME");
  }
  TempConfigHome(const TempConfigHome&) = delete;
  TempConfigHome& operator=(const TempConfigHome&) = delete;

  std::filesystem::path Folder() const { return FFolder.Root(); }
  std::filesystem::path KeyFile() const { return Folder() / "Tessaly" / "Punchlet.reg"; }

 private:
  TempFolder FFolder{"config"};
  std::optional<std::string> FPrevious;
};
