// Reading and scaling one photo of each size class: the full-size decode, the
// same decode by libjpeg's own djpeg (the floor we compare against), Stretch
// to the largest punch size, the same scaling fed a few rows at a time, and
// decode plus Stretch, whole or streamed, with the peak memory of a fresh
// process that does it once; and two enlargements by Stretch.
//
//   build/bench/bench_imaging --benchmark_repetitions=5
//       --benchmark_report_aggregates_only=true --benchmark_enable_random_interleaving=true
//
// PUNCHLET_PHOTOS names the folder that holds 2mp/, 12mp/ and 24mp/; each class
// uses the first .jpg in its folder by name.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "imaging/bitmaputils.h"
#include "imaging/jpegimage.h"

extern char** environ;

namespace {

constexpr int kTargetWidth = 270, kTargetHeight = 210;  // the largest punch size
const char* const kClasses[] = {"2mp", "12mp", "24mp"};
const char* const kPeakRssOption = "--peak-rss-of";

std::string PhotoFolder() {
  const char* env = std::getenv("PUNCHLET_PHOTOS");
  return env && *env ? env : "/work/shared/photos";
}

std::string Photo(int sizeClass) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(
           std::filesystem::path(PhotoFolder()) / kClasses[sizeClass], error)) {
    if (entry.path().extension() == ".jpg") names.push_back(entry.path().string());
  }
  std::sort(names.begin(), names.end());
  return names.empty() ? std::string() : names.front();
}

// The photo of a size class, or "" after telling the framework why not.
std::string PhotoFor(benchmark::State& state, int sizeClass) {
  std::string path = Photo(sizeClass);
  if (path.empty()) {
    state.SkipWithError(("no .jpg in " + PhotoFolder() + "/" + kClasses[sizeClass]).c_str());
  } else {
    state.SetLabel(std::filesystem::path(path).filename().string());
  }
  return path;
}

// Runs a program to its end. Returns its exit status (-1 when it could not be
// started) and, when asked, what it wrote on standard output.
int Run(const std::vector<std::string>& args, std::string* output = nullptr) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int pipeFds[2] = {-1, -1};
  if (output && pipe(pipeFds) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  if (output) {
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
  }
  pid_t pid = 0;
  const int failed = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (output) {
    close(pipeFds[1]);
    char buffer[256];
    ssize_t n;
    while (!failed && (n = read(pipeFds[0], buffer, sizeof buffer)) > 0) output->append(buffer, n);
    close(pipeFds[0]);
  }
  if (failed) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int RunDjpeg(const std::string& path) {
  return Run({"djpeg", "-dct", "float", "-outfile", "/dev/null", path});
}

// A 1 x 1 JPEG, to see what starting djpeg costs on its own.
const std::string& TinyJpeg() {
  static const struct Tiny {
    std::string path = (std::filesystem::temp_directory_path() /
                        ("punchlet-bench-" + std::to_string(getpid()) + ".jpg"))
                           .string();
    Tiny() {
      Picture one;
      one.Create(1, 1, 24);
      TJPEGImage jpeg;
      jpeg.Assign(one);
      jpeg.SaveToFile(path);
    }
    ~Tiny() { std::remove(path.c_str()); }
  } tiny;
  return tiny.path;
}

Picture Decode(const std::string& path) {
  TJPEGImage jpeg;
  jpeg.LoadFromFile(path);
  jpeg.Decode();
  return jpeg.Bitmap();
}

double MegaBytes(double bytes) { return bytes / 1e6; }

void BM_Decode(benchmark::State& state, int sizeClass) {
  const std::string path = PhotoFor(state, sizeClass);
  if (path.empty()) return;
  for (auto _ : state) {
    TJPEGImage jpeg;
    jpeg.LoadFromFile(path);
    jpeg.Decode();
    benchmark::DoNotOptimize(jpeg.Bitmap().Bits());
  }
}

void BM_Djpeg(benchmark::State& state, int sizeClass) {
  const std::string path = PhotoFor(state, sizeClass);
  if (path.empty()) return;
  for (auto _ : state) {
    if (RunDjpeg(path) != 0) {
      state.SkipWithError("djpeg failed");
      break;
    }
  }
}

void BM_DjpegStart(benchmark::State& state) {
  const std::string& path = TinyJpeg();
  for (auto _ : state) {
    if (RunDjpeg(path) != 0) {
      state.SkipWithError("djpeg failed");
      break;
    }
  }
}

void BM_Stretch(benchmark::State& state, int sizeClass) {
  const std::string path = PhotoFor(state, sizeClass);
  if (path.empty()) return;
  const Picture photo = Decode(path);
  for (auto _ : state) {
    Picture small = Stretch(photo, kTargetWidth, kTargetHeight);
    benchmark::DoNotOptimize(small.Bits());
  }
}

// The decoded photo handed to a TStretcher `chunk` rows at a time, as a
// decoder would.
void BM_StretchRows(benchmark::State& state, int sizeClass, int chunk) {
  const std::string path = PhotoFor(state, sizeClass);
  if (path.empty()) return;
  const Picture photo = Decode(path);
  TStretcher stretcher(kTargetWidth, kTargetHeight);
  for (auto _ : state) {
    stretcher.Begin(photo.Width(), photo.Height());
    for (int y = 0; y < photo.Height(); y += chunk)
      stretcher.Rows(y, std::min(chunk, photo.Height() - y), photo.ScanLine(y), photo.Stride());
    Picture small = stretcher.Finish();
    benchmark::DoNotOptimize(small.Bits());
  }
}

// A synthetic ws x hs picture fed to a TStretcher 16 rows at a time, scaled to
// wt x ht: the scaler's share of a streamed decode. Every chunk comes from the
// same 16-row buffer, so the rows are in cache as a decoder's output is.
void BM_StretchStreamed(benchmark::State& state, int ws, int hs, int wt, int ht) {
  constexpr int kChunk = 16;
  Picture strip;
  strip.Create(ws, kChunk, 24);
  for (int y = 0; y < kChunk; ++y) {
    uint8_t* row = strip.ScanLine(y);
    for (int x = 0; x < 3 * ws; ++x) row[x] = static_cast<uint8_t>((x * 7) ^ (y * 13));
  }
  TStretcher stretcher(wt, ht);
  for (auto _ : state) {
    stretcher.Begin(ws, hs);
    for (int y = 0; y < hs; y += kChunk)
      stretcher.Rows(y, std::min(kChunk, hs - y), strip.ScanLine(0), strip.Stride());
    Picture small = stretcher.Finish();
    benchmark::DoNotOptimize(small.Bits());
  }
}

// Enlargements, which read few source pixels per target pixel, on a picture
// of smooth gradients.
void BM_StretchUp(benchmark::State& state, int ws, int hs, int wt, int ht) {
  Picture source;
  source.Create(ws, hs, 24);
  for (int y = 0; y < hs; ++y) {
    uint8_t* row = source.ScanLine(y);
    for (int x = 0; x < 3 * ws; ++x) row[x] = static_cast<uint8_t>(x + 3 * y);
  }
  for (auto _ : state) {
    Picture large = Stretch(source, wt, ht);
    benchmark::DoNotOptimize(large.Bits());
  }
}

// Stretch and djpeg taken in turns, so that both see the same load on a
// shared machine; the time is Stretch's, "share" is Stretch / djpeg.
void BM_StretchShareOfDjpeg(benchmark::State& state, int sizeClass) {
  const std::string path = PhotoFor(state, sizeClass);
  if (path.empty()) return;
  const Picture photo = Decode(path);
  using Clock = std::chrono::steady_clock;
  std::vector<double> stretch, djpeg;
  for (auto _ : state) {
    const auto t0 = Clock::now();
    if (RunDjpeg(path) != 0) {
      state.SkipWithError("djpeg failed");
      break;
    }
    const auto t1 = Clock::now();
    Picture small = Stretch(photo, kTargetWidth, kTargetHeight);
    benchmark::DoNotOptimize(small.Bits());
    const auto t2 = Clock::now();
    djpeg.push_back(std::chrono::duration<double>(t1 - t0).count());
    stretch.push_back(std::chrono::duration<double>(t2 - t1).count());
    state.SetIterationTime(stretch.back());
  }
  if (djpeg.empty()) return;
  std::sort(djpeg.begin(), djpeg.end());
  std::sort(stretch.begin(), stretch.end());
  const double djpegMedian = djpeg[djpeg.size() / 2];
  state.counters["djpeg_ms"] = djpegMedian * 1e3;
  state.counters["share"] = stretch[stretch.size() / 2] / djpegMedian;
}

// Reads and scales one photo, through the full-size picture or, when
// `streamed`, with the decoded rows going straight to the scaler.
Picture DecodeAndStretch(TJPEGImage& jpeg, bool streamed) {
  if (!streamed) return Stretch(jpeg.Bitmap(), kTargetWidth, kTargetHeight);
  TStretcher stretcher(kTargetWidth, kTargetHeight);
  jpeg.DecodeTo(stretcher);
  return stretcher.Finish();
}

void BM_DecodeAndStretch(benchmark::State& state, int sizeClass, bool streamed) {
  const std::string path = PhotoFor(state, sizeClass);
  if (path.empty()) return;
  for (auto _ : state) {
    TJPEGImage jpeg;
    jpeg.LoadFromFile(path);
    Picture small = DecodeAndStretch(jpeg, streamed);
    benchmark::DoNotOptimize(small.Bits());
  }
  // Peak memory from a fresh process, which holds nothing of this one's.
  std::string report;
  long startKb = 0, peakKb = 0, width = 0, height = 0;
  if (Run({"/proc/self/exe", kPeakRssOption, path, streamed ? "streamed" : "whole"}, &report) !=
          0 ||
      std::sscanf(report.c_str(), "%ld %ld %ld %ld", &startKb, &peakKb, &width, &height) != 4) {
    state.SkipWithError("the peak memory run failed");
    return;
  }
  const double decoded = static_cast<double>(Picture::StrideFor(width, 24)) * height;
  state.counters["start_rss_MB"] = MegaBytes(startKb * 1024.0);
  state.counters["peak_rss_MB"] = MegaBytes(peakKb * 1024.0);
  state.counters["limit_MB"] = 1.25 * MegaBytes(decoded) + 30;
}

// A field of /proc/self/status in KiB: the kernel's counters of this
// process's memory (getrusage's maximum would include the parent's, as it
// survives exec).
long StatusKb(const char* field) {
  FILE* status = std::fopen("/proc/self/status", "r");
  if (!status) return -1;
  char line[256];
  long kb = -1;
  const size_t length = std::strlen(field);
  while (std::fgets(line, sizeof line, status)) {
    if (std::strncmp(line, field, length) == 0 && line[length] == ':') {
      kb = std::atol(line + length + 1);
      break;
    }
  }
  std::fclose(status);
  return kb;
}

// The child of BM_DecodeAndStretch: reads and stretches one photo, then
// prints its resident size before, its peak, both in KiB, and the photo's size.
int PeakRss(const char* path, bool streamed) {
  const long startKb = StatusKb("VmHWM");
  TJPEGImage jpeg;
  jpeg.LoadFromFile(path);
  const Picture small = DecodeAndStretch(jpeg, streamed);
  std::printf("%ld %ld %d %d\n", startKb, StatusKb("VmHWM"), jpeg.Width(), jpeg.Height());
  return small.Width() == kTargetWidth ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], kPeakRssOption) == 0)
    return PeakRss(argv[2], std::strcmp(argv[3], "streamed") == 0);
  auto add = [](const std::string& name, auto function, auto... args) {
    return benchmark::RegisterBenchmark(name.c_str(), function, args...)
        ->Unit(benchmark::kMillisecond);
  };
  for (int c = 0; c < 3; ++c) {
    const std::string suffix = std::string("/") + kClasses[c];
    add("Decode" + suffix, BM_Decode, c);
    add("Djpeg" + suffix, BM_Djpeg, c)->UseRealTime();
    add("Stretch" + suffix, BM_Stretch, c);
    add("StretchRows" + suffix + "/1", BM_StretchRows, c, 1);
    add("StretchRows" + suffix + "/16", BM_StretchRows, c, 16);
    add("StretchShareOfDjpeg" + suffix, BM_StretchShareOfDjpeg, c)->UseManualTime();
    add("DecodeAndStretch" + suffix, BM_DecodeAndStretch, c, false);
    add("DecodeAndStretchStreamed" + suffix, BM_DecodeAndStretch, c, true);
  }
  add("DjpegStart", BM_DjpegStart)->UseRealTime();
  for (const auto& [ws, hs] : {std::pair{1920, 1200}, {6000, 4000}}) {
    for (const auto& [wt, ht] : {std::pair{210, 158}, {270, 210}}) {
      add("StretchStreamed/" + std::to_string(ws) + "x" + std::to_string(hs) + "-" +
              std::to_string(wt) + "x" + std::to_string(ht),
          BM_StretchStreamed, ws, hs, wt, ht);
    }
  }
  add("StretchUp/1x1-1000x1000", BM_StretchUp, 1, 1, 1000, 1000);
  add("StretchUp/140x105-270x210", BM_StretchUp, 140, 105, 270, 210);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
