#include "app/intake.h"

#include "platform/paths.h"

RunMode DecideMode(size_t jobCount) {
  if (jobCount == 0) return RunMode::None;
  return jobCount == 1 ? RunMode::Single : RunMode::Batch;
}

TJobIntake::TJobIntake() {
  SearchFile1.Recursive = true;
  SearchFile1.OnFind = [this](TSearchFile* Sender, const std::string& Name,
                              const TSearchFileData& Data,
                              bool& Continue) { SearchFile1Find(Sender, Name, Data, Continue); };
}

void TJobIntake::SearchFile1Find(TSearchFile* /*Sender*/, const std::string& Name,
                                 const TSearchFileData& Data, bool& /*Continue*/) {
  // A subfolder named like a picture ("2023.jpg/") matches the mask too; as a
  // job it could only fail and stop the whole run, and its pictures are found
  // by the walk anyway.
  if (Data.IsDirectory) return;
  FJobs.push_back(Name);
}

void TJobIntake::AddArgument(const std::string& argument) {
  // Looked up in full, whatever its length; an empty argument names nothing.
  switch (LookupPath(argument)) {
    case PathKind::None:
      return;
    case PathKind::Directory:
      // One full pass per mask: every BMP of the tree comes before any JPEG.
      SearchFile1.Directory = argument;
      for (const char* mask : {"*.bmp", "*.jpg", "*.jpeg"}) {
        SearchFile1.SearchName = mask;
        SearchFile1.Search();
      }
      return;
    case PathKind::File:
      if (IsPictureExtension(ExtractFileExt(argument))) FJobs.push_back(argument);
      return;
  }
}

std::vector<std::string> BuildJobList(const std::vector<std::string>& arguments) {
  TJobIntake intake;
  for (const std::string& argument : arguments) intake.AddArgument(argument);
  return intake.TakeJobs();
}
