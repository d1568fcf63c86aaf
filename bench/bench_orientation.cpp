// What turning photos upright costs: Oriented on a whole decoded picture (the
// full-size path) for a mirror, a half turn and quarter turns; and decoding a
// tagged photo scaled while streaming, which turns only the small result,
// against the same file without the tag.
//
//   build/bench/bench_orientation --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
#include <benchmark/benchmark.h>

#include <string>
#include <utility>
#include <vector>

#include "imaging/orientation.h"

namespace {

Picture Synthetic(int w, int h) {
  Picture p;
  p.CreateUninitialised(w, h, 24);
  for (int y = 0; y < h; ++y) {
    uint8_t* row = p.ScanLine(y);
    for (int x = 0; x < 3 * w; ++x) row[x] = static_cast<uint8_t>(x * 7 + y * 13);
  }
  return p;
}

void BM_Oriented(benchmark::State& state, int w, int h, TExifOrientation o) {
  const Picture source = Synthetic(w, h);
  for (auto _ : state) {
    Picture upright = Oriented(source, o);
    benchmark::DoNotOptimize(upright.Bits());
  }
  state.counters["MP/s"] =
      benchmark::Counter(double(w) * h / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

// A 1920 x 1200 photo-like file with the orientation tag (value 6), or none.
std::vector<uint8_t> Tagged(bool tagged) {
  TJPEGImage encoder;
  encoder.Assign(Synthetic(1920, 1200));
  std::vector<uint8_t> bytes = encoder.SaveToMemory();
  if (!tagged) return bytes;
  const std::vector<uint8_t> app1 = {0xFF, 0xE1, 0, 34, 'E', 'x', 'i', 'f', 0,    0,    'I', 'I',
                                     42,   0,    8, 0,  0,   0,   1,   0,   0x12, 0x01, 3,   0,
                                     1,    0,    0, 0,  6,   0,   0,   0,   0,    0,    0,   0};
  bytes.insert(bytes.begin() + 2, app1.begin(), app1.end());
  return bytes;
}

void BM_DecodeScaledUpright(benchmark::State& state, bool tagged) {
  const std::vector<uint8_t> bytes = Tagged(tagged);
  for (auto _ : state) {
    TJPEGImage jpeg;
    jpeg.LoadFromMemory(bytes.data(), bytes.size());
    Picture small = DecodeScaledUpright(jpeg, [](int w, int h) {
      return w > h ? std::pair{270, 210} : std::pair{210, 270};
    });
    benchmark::DoNotOptimize(small.Bits());
  }
}

}  // namespace

int main(int argc, char** argv) {
  for (const auto& [w, h] : {std::pair{1920, 1200}, {6000, 4000}})
    for (const auto& [name, o] : {std::pair{"mirror", TExifOrientation::MirrorHorizontal},
                                  {"half-turn", TExifOrientation::Rotate180},
                                  {"quarter-turn", TExifOrientation::Rotate90CW},
                                  {"transverse", TExifOrientation::Transverse}})
      benchmark::RegisterBenchmark(
          ("Oriented/" + std::to_string(w) + "x" + std::to_string(h) + "/" + name).c_str(),
          BM_Oriented, w, h, o)
          ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("DecodeScaledUpright/1920x1200/untagged", BM_DecodeScaledUpright,
                               false)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("DecodeScaledUpright/1920x1200/quarter-turn", BM_DecodeScaledUpright,
                               true)
      ->Unit(benchmark::kMillisecond);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
