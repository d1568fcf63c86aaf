// The settings window's OK: reading the buttons and Edit1, storing all 23
// values and closing, as the user waits for it.
//
//   build/bench/bench_settingwindow --benchmark_repetitions=5
//       --benchmark_report_aggregates_only=true
//
// Runs on the offscreen platform; the key file lives in a fresh
// XDG_CONFIG_HOME below the temporary folder, so a save pays for the real
// disk's sync.
#include <benchmark/benchmark.h>

#include <QTemporaryDir>
#include <cstdlib>

#include "app/settingwindow1.h"

namespace {

void BM_SettingsWindowOk(benchmark::State& state) {
  QTemporaryDir config;
  ::setenv("XDG_CONFIG_HOME", config.path().toLocal8Bit().constData(), 1);
  PunchSettings settings;
  for (auto _ : state) {
    state.PauseTiming();
    TSettingForm1 window(settings);
    window.show();
    window.Timer1Timer();
    state.ResumeTiming();
    window.ShapeButton0_1Click();
  }
}
BENCHMARK(BM_SettingsWindowOk)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
