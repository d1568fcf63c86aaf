// Job intake: turns the command-line arguments into the ordered job list of
// picture paths, and the job count into the run mode.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "search/searchfile.h"

enum class RunMode { None, Single, Batch };

// 0 jobs: nothing to do; 1: single mode (preview first); 2 or more: batch mode.
RunMode DecideMode(size_t jobCount);

// Collects jobs argument by argument. The list keeps arrival order and
// duplicates; a folder contributes its whole tree's BMP files, then its .jpg
// files, then its .jpeg files.
class TJobIntake {
 public:
  TJobIntake();
  TJobIntake(const TJobIntake&) = delete;
  TJobIntake& operator=(const TJobIntake&) = delete;

  // One argument: a folder is searched, a picture file is taken as it stands,
  // anything else (missing, empty, another extension) is passed over silently.
  void AddArgument(const std::string& argument);

  const std::vector<std::string>& Jobs() const { return FJobs; }
  std::vector<std::string> TakeJobs() { return std::move(FJobs); }

 private:
  void SearchFile1Find(TSearchFile* Sender, const std::string& Name, const TSearchFileData& Data,
                       bool& Continue);

  TSearchFile SearchFile1;
  std::vector<std::string> FJobs;
};

// The job list for all arguments, in command-line order.
std::vector<std::string> BuildJobList(const std::vector<std::string>& arguments);
