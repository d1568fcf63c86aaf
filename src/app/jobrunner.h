// TJobRunner: runs a batch's jobs on worker threads, ahead of the user
// interface, and hands the results back strictly in job order.
//
// Workers take jobs in list order, but never more than a fixed number beyond
// the oldest result not yet taken, so memory stays bounded however long the
// batch is. Each finished job is announced to the runner's own thread (the
// user-interface thread) by a posted event; TakeNext then gives the results in
// job order only, so a job that finished early, or failed early, waits for
// its turn. Nothing but this class owns threads.
#pragma once

#include <QObject>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "app/composition.h"

// What a worker made of one job: the composed picture and its encoded file,
// or the failure that stopped it.
struct TJobResult {
  TComposition composition;
  std::vector<uint8_t> jpeg;
  std::exception_ptr error;  // set: the job failed, the rest is empty
};

class TJobRunner : public QObject {
 public:
  // work(job, worker) runs on worker thread `worker` (0 … workers-1); a
  // worker's calls never overlap, so per-worker state needs no lock. What it
  // throws becomes the result's error.
  using TWork = std::function<TJobResult(size_t job, size_t worker)>;

  // Each worker holds a photo's compressed file and its decoder's buffers,
  // 6 to 8 MB for a 24 MP photo, so the default stops here to keep a batch
  // under 100 MB on a machine with many cores.
  static constexpr size_t MaxDefaultWorkers = 8;

  // PUNCHLET_WORKERS when it holds a positive number, else one per core, at
  // most MaxDefaultWorkers; `cores` 0 means unknown.
  static size_t DefaultWorkerCount();
  static size_t DefaultWorkerCount(size_t cores);

  // Runs jobs 0 … count-1; at most `ahead` (at least `workers`) jobs are begun
  // or held beyond the oldest result not yet taken. 0 means twice the workers
  // plus four, so the workers need not wait while the window is being built.
  TJobRunner(size_t count, TWork work, size_t workers, size_t ahead = 0);
  // Stops: the jobs not taken are dropped.
  ~TJobRunner() override;
  TJobRunner(const TJobRunner&) = delete;
  TJobRunner& operator=(const TJobRunner&) = delete;

  size_t Workers() const { return FWorkers; }

  // Set before Start: run by each worker on its own thread before it takes a
  // job. Workers prepare one at a time and Start waits for them all, so
  // per-thread set-up happens while nothing else of the batch allocates. A
  // worker whose Prepare throws takes no jobs: the workers prepared before it
  // do the batch, and when the first one fails, Start throws what it threw.
  std::function<void()> Prepare;

  // Starts the workers. Call once, from the thread the runner lives in.
  void Start();

  // The result of job NextJob() once it is done; empty while it runs.
  std::optional<TJobResult> TakeNext();
  // The job whose result TakeNext gives next (the count once all are taken).
  size_t NextJob() const;

  // Drops every job not yet taken: queued ones never begin, results that ran
  // ahead are discarded. Waits for the jobs running now to finish. Idempotent.
  void Stop();

  // Called on the runner's thread, from the event loop, whenever a job has
  // finished; the result may be for a later job than NextJob().
  std::function<void()> OnJobDone;

 protected:
  void customEvent(QEvent* event) override;

 private:
  void WorkerLoop(size_t worker);

  const size_t FCount;
  const TWork FWork;
  const size_t FWorkers;
  const size_t FAhead;

  mutable std::mutex FMutex;
  std::condition_variable FWake;
  size_t FNextToBegin = 0;
  size_t FNextToTake = 0;
  bool FStopping = false;
  bool FStarted = false;   // every worker has prepared
  bool FPrepared = false;  // the worker being started has prepared
  std::exception_ptr FPrepareError;
  std::map<size_t, TJobResult> FDone;
  std::vector<std::thread> FThreads;
};
