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

#include "support/wait.h"

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

TEST(JobRunner, WorkersRunAheadOfABusyConsumerUpToTheLookahead) {
  struct Row {
    size_t workers, ahead, lookahead;
  };
  // 0: twice the workers plus four; never fewer than the workers.
  for (const Row row : {Row{2, 5, 5}, Row{2, 0, 8}, Row{3, 0, 10}, Row{4, 1, 4}}) {
    std::atomic<size_t> finished{0};
    TJobRunner runner(
        100,
        [&](size_t job, size_t) {
          ++finished;
          return Labelled(job);
        },
        row.workers, row.ahead);
    runner.Start();
    // Nobody takes anything, nor runs the event loop: the workers go on alone.
    ASSERT_TRUE(WaitBusy([&] { return finished == row.lookahead; })) << row.ahead;
    std::this_thread::sleep_for(50ms);  // room for a runaway worker to show
    EXPECT_EQ(finished, row.lookahead) << row.workers << " workers, ahead " << row.ahead;
    // Taking one result frees one place.
    ASSERT_TRUE(runner.TakeNext());
    ASSERT_TRUE(WaitBusy([&] { return finished == row.lookahead + 1; }));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(finished, row.lookahead + 1);
  }
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

// Workers prepare one at a time before any job begins; a worker whose Prepare
// fails takes no jobs, and when the first fails, Start raises its failure.
TEST(JobRunner, WorkersPrepareOneAtATimeBeforeAnyJobBegins) {
  constexpr size_t kNone = 99;
  struct Row {
    size_t workers, failing;  // the Prepare call that throws
  };
  for (const Row row : {Row{3, kNone}, Row{3, 0}, Row{3, 1}, Row{3, 2}, Row{1, 0}}) {
    constexpr size_t kJobs = 30;
    std::atomic<size_t> prepared{0}, begun{0};
    std::atomic<bool> preparing{false}, overlapped{false}, early{false};
    std::atomic<unsigned> usedWorkers{0};
    TJobRunner runner(
        kJobs,
        [&](size_t job, size_t worker) {
          ++begun;
          usedWorkers |= 1u << worker;
          std::this_thread::sleep_for(1ms);
          return Labelled(job);
        },
        row.workers);
    runner.Prepare = [&] {
      if (preparing.exchange(true)) overlapped = true;
      if (begun > 0) early = true;
      std::this_thread::sleep_for(5ms);  // room for an overlap to show
      preparing = false;
      if (prepared++ == row.failing) throw std::runtime_error("no room");
    };
    size_t taken = 0;
    runner.OnJobDone = [&] {
      while (std::optional<TJobResult> result = runner.TakeNext()) taken += !result->error;
    };
    if (row.failing == 0) {
      EXPECT_THROW(runner.Start(), std::runtime_error) << row.workers;
      std::this_thread::sleep_for(20ms);
      EXPECT_EQ(begun, 0u);
    } else {
      runner.Start();
      ASSERT_TRUE(SpinUntil([&] { return taken == kJobs; })) << row.failing;
      // The failing worker and those after it are never started.
      EXPECT_EQ(prepared, std::min(row.workers, row.failing + 1));
      EXPECT_EQ(usedWorkers >> std::min(row.workers, row.failing), 0u) << row.failing;
    }
    EXPECT_FALSE(overlapped) << row.failing;
    EXPECT_FALSE(early) << row.failing;
  }
}

TEST(JobRunner, WorkerCountIsTheEnvironmentsOrOnePerCoreUpToEight) {
  unsetenv("PUNCHLET_WORKERS");
  for (const auto& [cores, expected] : std::vector<std::pair<size_t, size_t>>{
           {0, 1}, {1, 1}, {2, 2}, {7, 7}, {8, 8}, {9, 8}, {64, 8}})
    EXPECT_EQ(TJobRunner::DefaultWorkerCount(cores), expected) << cores << " cores";
  for (const auto& [value, expected] : std::vector<std::pair<const char*, size_t>>{
           {"3", 3}, {"1", 1}, {"12", 12}, {"0", 2}, {"-2", 2}, {"two", 2}, {"4x", 2}, {"", 2}}) {
    setenv("PUNCHLET_WORKERS", value, 1);
    EXPECT_EQ(TJobRunner::DefaultWorkerCount(2), expected) << '"' << value << '"';
  }
  unsetenv("PUNCHLET_WORKERS");
  // More workers than jobs would only idle.
  EXPECT_EQ(TJobRunner(
                2, [](size_t job, size_t) { return Labelled(job); }, 8)
                .Workers(),
            2u);
}

// Destroyed while its workers run, at every stage, a runner joins them and
// drops their results; nothing it posted reaches it afterwards.
TEST(JobRunner, DestroyedWhileItsWorkersRun) {
  std::atomic<size_t> begun{0};
  for (int round = 0; round < 60; ++round) {
    auto runner = std::make_unique<TJobRunner>(
        20,
        [&](size_t job, size_t) {
          ++begun;
          if (job % 3 == 1) throw std::runtime_error("failed");
          std::this_thread::sleep_for(std::chrono::microseconds(100 * (job % 4)));
          return Labelled(job);
        },
        1 + round % 4, round % 5);
    runner->OnJobDone = [&runner] { runner->TakeNext(); };
    const size_t before = begun;
    runner->Start();
    if (round % 2 == 1) {
      // Make sure this round's workers have begun before it goes: on a loaded
      // machine they may otherwise not have started at all.
      ASSERT_TRUE(WaitBusy([&] { return begun > before; }))
          << "round " << round << ": no worker began a job";
      QCoreApplication::processEvents();
    }
    if (round % 3 == 2) runner->TakeNext();
    runner.reset();
    QCoreApplication::processEvents();  // late announcements find nobody
  }
}

}  // namespace
