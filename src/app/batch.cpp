#include "app/batch.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "app/composition.h"
#include "app/intake.h"
#include "app/jobrunner.h"
#include "app/outputnaming.h"
#include "app/settingsstore.h"
#include "app/startuptrace.h"
#include "imaging/canvas.h"

TBatch::TBatch(std::vector<std::string> jobs, const PunchSettings& settings)
    : FJobs(std::move(jobs)), FSettings(settings), FBudget(TMemoryBudget::DefaultBytes()) {
  const size_t workers = std::min(TJobRunner::DefaultWorkerCount(), std::max<size_t>(Count(), 1));
  for (size_t i = 0; i < workers; ++i) FComposers.push_back(std::make_unique<TPunchComposer>());
  FRunner = std::make_unique<TJobRunner>(
      Count(),
      [this](size_t job, size_t worker) {
        if (job == 0) MarkStartup("first job begun");
        const TMemoryBudget::TUse budget(FBudget);
        TJobResult result;
        result.composition = FComposers[worker]->ComposeFile(FJobs[job], FSettings, false);
        result.jpeg = EncodePunched(result.composition.picture);
        return result;
      },
      workers);
  if (FSettings.textImprint()) FRunner->Prepare = [this] { PrepareImprint(FSettings); };
  FRunner->Start();
}

TBatch::~TBatch() = default;

void TBatch::Run() {
  FRunner->OnJobDone = [this] { PublishNext(); };
  FNextStep.setSingleShot(true);
  FNextStep.setInterval(0);
  QObject::connect(&FNextStep, &QTimer::timeout, [this] {
    FYielding = false;
    PublishNext();
  });
  FRunning = true;
  // Results announced before the loop runs are waiting.
  PublishNext();
  if (!FEnded) FLoop.exec();
  FRunning = false;
  FRunner->OnJobDone = nullptr;
  FRunner->Stop();
  if (FError) std::rethrow_exception(FError);
}

void TBatch::Cancel() {
  FCancelled = true;
  // Not waiting for the next picture to arrive: the batch ends now.
  if (FRunning && !FEnded) FNextStep.start();
}

void TBatch::End() {
  FEnded = true;
  FLoop.exit();
}

void TBatch::PublishNext() {
  if (!FRunning || FEnded || FYielding) return;
  const size_t k = FRunner->NextJob();
  if (FCancelled || k >= Count()) return End();
  std::optional<TJobResult> result = FRunner->TakeNext();
  if (!result) return;  // still being made: its arrival calls again
  // Nothing may unwind through the event loop: a failure ends the batch and
  // Run raises it.
  try {
    if (result->error) std::rethrow_exception(result->error);
    if (OnPicture) OnPicture(k, result->composition);
    const std::string path = SaveUnderFreeName(FJobs[k], result->jpeg);
    if (k == 0) MarkStartup("first picture saved");
    // For scripts: what was written, as soon as it is there.
    std::fputs(path.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
    if (OnSaved) OnSaved(k, path);
  } catch (...) {
    FError = std::current_exception();
    return End();
  }
  FYielding = true;
  FNextStep.start();
}

std::shared_ptr<TIntake> BeginIntake(const std::vector<std::string>& arguments) {
  auto intake = std::make_shared<TIntake>();
  LoadPunchSettings(intake->settings);
  MarkStartup("settings loaded");
  intake->jobs = BuildJobList(arguments);
  MarkStartup("job list built");
  // Pictures with text load the font configuration. That happens here, once,
  // before the workers start: the font library does not survive running out
  // of memory on a worker under a tight limit.
  if (intake->settings.textImprint() && !intake->jobs.empty()) TCanvas::DefaultFontFamily();
  if (DecideMode(intake->jobs.size()) == RunMode::Batch)
    intake->batch = std::make_unique<TBatch>(intake->jobs, intake->settings);
  return intake;
}
