// The stored settings: one save of all 23 values, one load of an ordinary key
// file and of one bloated by 50 000 foreign lines, and one picture composed
// with a 1 MiB imprint text (with its peak memory when run alone).
//
//   build/bench/bench_settings --benchmark_repetitions=5
//       --benchmark_report_aggregates_only=true
//   build/bench/bench_settings --benchmark_filter=HugeImprint   # peak memory alone
//
// The key file lives in a fresh XDG_CONFIG_HOME below TMPDIR (or /tmp), so a
// save pays for the real disk's sync.
#include <benchmark/benchmark.h>
#include <sys/resource.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/composition.h"
#include "app/settingsstore.h"

namespace {

// A private config folder for the whole run.
struct ConfigHome {
  std::filesystem::path folder;
  ConfigHome() {
    const char* tmp = std::getenv("TMPDIR");
    std::string name = std::string(tmp && *tmp ? tmp : "/tmp") + "/bench-config.XXXXXX";
    if (::mkdtemp(name.data()) == nullptr) std::abort();
    folder = name;
    ::setenv("XDG_CONFIG_HOME", name.c_str(), 1);
  }
  ~ConfigHome() { std::filesystem::remove_all(folder); }
  std::filesystem::path KeyFile() const { return folder / "Tessaly" / "Punchlet.reg"; }
};

ConfigHome& Home() {
  static ConfigHome home;
  return home;
}

PunchSettings Chosen() {
  PunchSettings settings;
  settings.PressDefaults();
  settings.SetPressed(1, 1, true);
  settings.SetPressed(4, 7, true);
  settings.imprintText = "ぱんちれっと 2026";
  return settings;
}

void BM_SavePunchSettings(benchmark::State& state) {
  Home();
  const PunchSettings settings = Chosen();
  for (auto _ : state) SavePunchSettings(settings);
}
BENCHMARK(BM_SavePunchSettings)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_LoadPunchSettings(benchmark::State& state) {
  SavePunchSettings(Chosen());
  for (auto _ : state) {
    PunchSettings settings;
    LoadPunchSettings(settings);
    benchmark::DoNotOptimize(settings);
  }
}
BENCHMARK(BM_LoadPunchSettings)->Unit(benchmark::kMicrosecond)->UseRealTime();

// Another program's section of 50 000 lines after ours: still under the
// store's size limit, and no reason for a slow start.
void BM_LoadBloatedKey(benchmark::State& state) {
  SavePunchSettings(Chosen());
  {
    std::ofstream out(Home().KeyFile(), std::ios::app);
    out << "\n[HKEY_CURRENT_USER\\Software\\Tessaly\\Punchlet\\Other]\n";
    for (int i = 0; i < 50000; ++i) out << "\"V" << i << "\"=dword:1\n";
  }
  for (auto _ : state) {
    PunchSettings settings;
    LoadPunchSettings(settings);
    benchmark::DoNotOptimize(settings);
  }
  std::filesystem::remove(Home().KeyFile());
}
BENCHMARK(BM_LoadBloatedKey)->Unit(benchmark::kMillisecond)->UseRealTime();

// A stored text may be far longer than anything typed; only a line of a small
// picture can show.
void BM_HugeImprint(benchmark::State& state) {
  PunchSettings settings = Chosen();
  settings.SetPressed(5, 2, true);
  settings.imprintText.assign(1u << 20, 'W');
  Picture source;
  source.Create(400, 300, 24);
  TPunchComposer composer;
  for (auto _ : state) benchmark::DoNotOptimize(composer.Compose(source, settings, false));
  rusage usage{};
  ::getrusage(RUSAGE_SELF, &usage);
  state.counters["peak_rss_MB"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
}
BENCHMARK(BM_HugeImprint)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
