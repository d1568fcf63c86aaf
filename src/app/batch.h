// TBatch: a batch run, apart from any window. Workers read, scale, compose
// and encode ahead (TJobRunner); the batch takes their results in job order,
// names and saves each one, lists its path on stdout, and reports what it did
// through its callbacks. A failing job stops the batch in its turn, a Cancel
// after the current picture, so both behave as if one picture were made at a
// time. The preview window only shows what the batch reports; without a
// display the batch runs with no window at all.
#pragma once

#include <QEventLoop>
#include <QTimer>
#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/punchsettings.h"
#include "imaging/memorybudget.h"

class TJobRunner;
class TPunchComposer;
struct TComposition;

class TBatch {
 public:
  // Starts the workers at once, so they run while a window is being built.
  // The budget is PUNCHLET_MEMORY_MB or its default.
  TBatch(std::vector<std::string> jobs, const PunchSettings& settings);
  ~TBatch();
  TBatch(const TBatch&) = delete;
  TBatch& operator=(const TBatch&) = delete;

  size_t Count() const { return FJobs.size(); }
  const std::vector<std::string>& Jobs() const { return FJobs; }
  const TMemoryBudget& Budget() const { return FBudget; }

  // Saves every picture in job order, letting pending events run once after
  // each, until all are saved, Cancel is seen, or a job fails; the failure is
  // then raised here. Call once, on the thread that made the batch.
  void Run();
  // Ends the batch after the picture being saved now; at once when none is.
  void Cancel();
  bool Cancelled() const { return FCancelled; }

  // Picture `index` (of Count) is made and about to be saved.
  std::function<void(size_t index, const TComposition& composition)> OnPicture;
  // Picture `index` was saved under `path`; the event pass follows.
  std::function<void(size_t index, const std::string& path)> OnSaved;

 private:
  void PublishNext();
  void End();

  const std::vector<std::string> FJobs;
  const PunchSettings FSettings;
  TMemoryBudget FBudget;
  // One per worker: a composer keeps its overlay from job to job.
  std::vector<std::unique_ptr<TPunchComposer>> FComposers;
  // Declared after what its workers use, so it stops them first.
  std::unique_ptr<TJobRunner> FRunner;
  // Runs the next step after the event loop has had one pass, so a Cancel
  // or Esc that came with a picture is seen before the next one.
  QTimer FNextStep;
  QEventLoop FLoop;
  bool FRunning = false;
  bool FYielding = false;
  bool FEnded = false;
  bool FCancelled = false;
  std::exception_ptr FError;
};

// What is known before any window is built: the settings, the job list and,
// for two or more jobs, a batch whose workers are already making pictures.
struct TIntake {
  PunchSettings settings;
  std::vector<std::string> jobs;
  std::unique_ptr<TBatch> batch;
};
std::shared_ptr<TIntake> BeginIntake(const std::vector<std::string>& arguments);
