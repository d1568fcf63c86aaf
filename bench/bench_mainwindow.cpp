// Building the preview window: reading its layout, setting up its two
// buttons and showing it, which is when the buttons' images are built.
//
//   build/bench/bench_mainwindow --benchmark_repetitions=10
//       --benchmark_report_aggregates_only=true
//
// Runs on the offscreen platform with no job: nothing is read or composed.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <memory>

#include "app/mainwindow1.h"

namespace {

void BM_PreviewWindowBuilt(benchmark::State& state) {
  const TMainForm1::TEnvironment environment = TMainForm1::CurrentEnvironment();
  for (auto _ : state) {
    auto window = std::make_unique<TMainForm1>(std::vector<std::string>{}, environment);
    window->show();
    state.PauseTiming();
    window.reset();
    QApplication::processEvents();
    state.ResumeTiming();
  }
}
BENCHMARK(BM_PreviewWindowBuilt)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
