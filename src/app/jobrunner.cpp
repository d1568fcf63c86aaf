#include "app/jobrunner.h"

#include <QCoreApplication>
#include <QEvent>
#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <cstring>
#include <system_error>
#include <utility>

namespace {
const QEvent::Type kJobDoneEvent = static_cast<QEvent::Type>(QEvent::registerEventType());
}  // namespace

size_t TJobRunner::DefaultWorkerCount() {
  return DefaultWorkerCount(std::thread::hardware_concurrency());
}

size_t TJobRunner::DefaultWorkerCount(size_t cores) {
  if (const char* text = std::getenv("PUNCHLET_WORKERS")) {
    size_t count = 0;
    const char* end = text + std::strlen(text);
    const auto [last, error] = std::from_chars(text, end, count);
    if (error == std::errc() && last == end && count > 0) return std::min<size_t>(count, 256);
  }
  return std::clamp<size_t>(cores, 1, MaxDefaultWorkers);
}

TJobRunner::TJobRunner(size_t count, TWork work, size_t workers, size_t ahead)
    : FCount(count),
      FWork(std::move(work)),
      FWorkers(std::clamp<size_t>(workers, 1, std::max<size_t>(count, 1))),
      FAhead(std::max(ahead == 0 ? 2 * FWorkers + 4 : ahead, FWorkers)) {}

TJobRunner::~TJobRunner() { Stop(); }

void TJobRunner::Start() {
  if (!FThreads.empty()) return;
  if (!Prepare) FStarted = true;
  FThreads.reserve(FWorkers);
  size_t ready = 0;
  for (size_t worker = 0; worker < FWorkers; ++worker) {
    try {
      FThreads.emplace_back([this, worker] { WorkerLoop(worker); });
    } catch (const std::system_error&) {
      // Under a tight memory or thread limit: the workers already running
      // do the whole batch; with none, the batch fails with the reason.
      if (ready == 0) throw;
      break;
    }
    if (!Prepare) {
      ++ready;
      continue;
    }
    std::exception_ptr error;
    {
      std::unique_lock lock(FMutex);
      FWake.wait(lock, [this] { return FPrepared; });
      FPrepared = false;
      error = std::exchange(FPrepareError, nullptr);
    }
    if (error) {
      if (ready == 0) std::rethrow_exception(error);
      break;
    }
    ++ready;
  }
  {
    std::lock_guard lock(FMutex);
    FStarted = true;
  }
  FWake.notify_all();
}

void TJobRunner::WorkerLoop(size_t worker) {
  if (Prepare) {
    std::exception_ptr error;
    try {
      Prepare();
    } catch (...) {
      error = std::current_exception();
    }
    {
      std::lock_guard lock(FMutex);
      FPrepared = true;
      FPrepareError = error;
    }
    FWake.notify_all();
    if (error) return;
  }
  std::unique_lock lock(FMutex);
  for (;;) {
    FWake.wait(lock, [this] {
      return FStopping ||
             (FStarted && (FNextToBegin >= FCount || FNextToBegin < FNextToTake + FAhead));
    });
    if (FStopping || FNextToBegin >= FCount) return;
    const size_t job = FNextToBegin++;
    lock.unlock();
    TJobResult result;
    try {
      result = FWork(job, worker);
    } catch (...) {
      result = TJobResult{};
      result.error = std::current_exception();
    }
    lock.lock();
    if (FStopping) return;  // dropped: nobody will take it
    FDone.emplace(job, std::move(result));
    auto* done = new QEvent(kJobDoneEvent);  // made under the lock: see customEvent
    lock.unlock();
    // Stop joins this thread, so the runner outlives the post.
    QCoreApplication::postEvent(this, done);
    lock.lock();
  }
}

std::optional<TJobResult> TJobRunner::TakeNext() {
  std::optional<TJobResult> result;
  {
    std::lock_guard lock(FMutex);
    const auto found = FDone.find(FNextToTake);
    if (found == FDone.end()) return result;
    result = std::move(found->second);
    FDone.erase(found);
    ++FNextToTake;
  }
  FWake.notify_all();  // a place ahead has come free
  return result;
}

size_t TJobRunner::NextJob() const {
  std::lock_guard lock(FMutex);
  return FNextToTake;
}

void TJobRunner::Stop() {
  {
    std::lock_guard lock(FMutex);
    FStopping = true;
    FDone.clear();
  }
  FWake.notify_all();
  for (std::thread& thread : FThreads)
    if (thread.joinable()) thread.join();
  FThreads.clear();
}

void TJobRunner::customEvent(QEvent* event) {
  // Qt's event queue hands the event over, unseen by ThreadSanitizer; taking
  // the lock it was made under shows the hand-off to it too.
  { std::lock_guard lock(FMutex); }
  if (event->type() != kJobDoneEvent) return QObject::customEvent(event);
  if (OnJobDone) OnJobDone();
}
