#include "app/jobrunner.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

TJobResult Labelled(size_t job) {
  TJobResult result;
  result.composition.label1 = std::to_string(job);
  return result;
}

// Runs the event loop until done() holds (asked once per millisecond), or
// gives up after a generous time.
template <class Done>
bool SpinUntil(Done done) {
  if (done()) return true;
  bool held = false;
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    if ((held = done())) loop.quit();
  });
  poll.start(1);
  QTimer::singleShot(20000, &loop, &QEventLoop::quit);
  loop.exec();
  return held;
}

TEST(JobRunner, ResultsComeInJobOrderWhateverOrderTheWorkersFinishIn) {
  constexpr size_t kJobs = 12;
  std::atomic<size_t> finishedFirst{kJobs};
  // Later jobs finish sooner, so the workers complete them out of order.
  TJobRunner runner(
      kJobs,
      [&](size_t job, size_t worker) {
        EXPECT_LT(worker, 4u);
        std::this_thread::sleep_for(std::chrono::milliseconds(2 * (kJobs - job)));
        size_t none = kJobs;
        finishedFirst.compare_exchange_strong(none, job);
        return Labelled(job);
      },
      4);
  std::vector<std::string> taken;
  runner.OnJobDone = [&] {
    while (std::optional<TJobResult> result = runner.TakeNext()) {
      EXPECT_FALSE(result->error);
      taken.push_back(result->composition.label1);
    }
  };
  runner.Start();
  ASSERT_TRUE(SpinUntil([&] { return taken.size() == kJobs; }));
  for (size_t k = 0; k < kJobs; ++k) EXPECT_EQ(taken[k], std::to_string(k));
  EXPECT_EQ(runner.NextJob(), kJobs);
  EXPECT_FALSE(runner.TakeNext());
}

TEST(JobRunner, NeverRunsMoreThanItsLookaheadBeyondTheOldestResultNotTaken) {
  std::atomic<size_t> begun{0};
  TJobRunner runner(
      100,
      [&](size_t job, size_t) {
        ++begun;
        return Labelled(job);
      },
      2, 5);
  runner.Start();
  ASSERT_TRUE(SpinUntil([&] { return begun == 5; }));
  std::this_thread::sleep_for(50ms);  // room for a runaway worker to show
  EXPECT_EQ(begun, 5u);
  // Taking one result frees one place.
  ASSERT_TRUE(runner.TakeNext());
  ASSERT_TRUE(SpinUntil([&] { return begun == 6; }));
  std::this_thread::sleep_for(50ms);
  EXPECT_EQ(begun, 6u);
}

TEST(JobRunner, AFailureWaitsForItsTurnAndStopDropsTheWorkAhead) {
  std::atomic<bool> releaseFirst{false};
  std::atomic<size_t> begun{0};
  TJobRunner runner(
      50,
      [&](size_t job, size_t) {
        ++begun;
        if (job == 0)
          while (!releaseFirst) std::this_thread::sleep_for(1ms);
        if (job == 1) throw std::runtime_error("job 1 is broken");
        return Labelled(job);
      },
      3, 4);
  runner.Start();
  // Job 1 has failed and jobs after it are done, but job 0 is still running:
  // nothing may be handed out yet.
  ASSERT_TRUE(SpinUntil([&] { return begun == 4; }));
  std::this_thread::sleep_for(20ms);
  EXPECT_FALSE(runner.TakeNext());
  releaseFirst = true;
  std::optional<TJobResult> first;
  ASSERT_TRUE(SpinUntil([&] { return (first = runner.TakeNext()).has_value(); }));
  EXPECT_FALSE(first->error);
  EXPECT_EQ(first->composition.label1, "0");

  std::optional<TJobResult> failed;
  ASSERT_TRUE(SpinUntil([&] { return (failed = runner.TakeNext()).has_value(); }));
  ASSERT_TRUE(failed->error);
  try {
    std::rethrow_exception(failed->error);
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "job 1 is broken");
  }

  runner.Stop();
  const size_t begunAtStop = begun;
  EXPECT_LE(begunAtStop, 2u + 4u);    // the two taken plus the lookahead
  EXPECT_FALSE(runner.TakeNext());    // results that ran ahead are gone
  QCoreApplication::processEvents();  // late announcements find nothing
  EXPECT_EQ(begun, begunAtStop);
}

TEST(JobRunner, WorkerCountComesFromTheEnvironmentOrTheCores) {
  const size_t cores =
      std::clamp<size_t>(std::thread::hardware_concurrency(), 1, TJobRunner::MaxDefaultWorkers);
  for (const auto& [value, expected] : std::vector<std::pair<const char*, size_t>>{{"3", 3},
                                                                                   {"1", 1},
                                                                                   {"12", 12},
                                                                                   {"0", cores},
                                                                                   {"-2", cores},
                                                                                   {"two", cores},
                                                                                   {"", cores}}) {
    setenv("PUNCHLET_WORKERS", value, 1);
    EXPECT_EQ(TJobRunner::DefaultWorkerCount(), expected) << '"' << value << '"';
  }
  unsetenv("PUNCHLET_WORKERS");
  EXPECT_EQ(TJobRunner::DefaultWorkerCount(), cores);
  // More workers than jobs would only idle.
  EXPECT_EQ(TJobRunner(
                2, [](size_t job, size_t) { return Labelled(job); }, 8)
                .Workers(),
            2u);
}

}  // namespace
