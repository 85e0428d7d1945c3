// Decoding a 4000 x 3000 photograph stored as BMP (24-bit and RLE8), TGA (RLE 24-bit) and
// PCX (24-bit, three planes) with CAnyPicDecoder::DecodeFile at the natural depth, against
// Pillow's Image.open(f).load() of the same files in the same run.
//
// Counters: ms and cpu_ms per decode; for ours also pillow_ms and Pillow's time over ours
// (pillow_over_ours: above 1 means we are faster).
//
// The files are written once into /tmp/lumora_decode_bench by pillow_decode.py (the same
// picture as the GIF/TIFF/JPEG/PNG benchmark: LUMORA_BENCH_PHOTO, else a Debian wallpaper
// when installed, else a generated picture; the label says which).
#include <benchmark/benchmark.h>

#include "bench/bench_support.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "imaging/core/win_bmp.h"
#include "imaging/decode/any_pic_decoder.h"

namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;
constexpr int kPillowCalls = 5;
constexpr const char* kDir = "/tmp/lumora_decode_bench";
constexpr const char* kDefaultPhoto = "/usr/share/backgrounds/Dragonfly_by_Bolly.jpg";
const char* const kFiles[] = {"photo24.bmp", "photo_rle8.bmp", "photo_rle24.tga", "photo24.pcx"};

using bench::RunCommand;

std::string PathOf(const char* file) {
  std::string path = kDir;
  path.append("/").append(file);
  return path;
}

struct Shared {
  std::string label;
  std::map<std::string, std::pair<double, double>> pillow;  // file -> mean wall, cpu (s)
};

const Shared& TheShared() {
  static const Shared shared = [] {
    Shared s;
    const std::string script = "/usr/bin/python3 " LUMORA_SOURCE_DIR "/bench/pillow_decode.py ";
    const char* photo = std::getenv("LUMORA_BENCH_PHOTO");
    const std::string labelFile = PathOf("label.txt");
    if (!std::filesystem::exists(labelFile)) {
      std::string made = RunCommand(script + "make " + kDir + " " + std::to_string(kWidth) + " " +
                             std::to_string(kHeight) + " " + (photo ? photo : kDefaultPhoto));
      std::ofstream(labelFile) << made;
    }
    std::getline(std::ifstream(labelFile), s.label);
    std::string files;
    for (const char* f : kFiles) files.append(" ").append(PathOf(f));
    s.pillow = bench::MeanTimesByKey(RunCommand(script + "time " + std::to_string(kPillowCalls) + files));
    return s;
  }();
  return shared;
}

using bench::ThreadCpuSeconds;

// fresh: a new bitmap per decode (as Pillow makes a new image per load), else one bitmap
// decoded into again and again, whose block the decoders keep.
void BM_Ours(benchmark::State& state, const char* file, bool fresh) {
  const Shared& shared = TheShared();
  const std::string path = PathOf(file);
  CAnyPicDecoder decoder;
  CWinBmp kept;
  int bpp = 0;
  double wall = 0, cpu = 0;
  for (auto _ : state) {
    CWinBmp bmp;  // the constructor's 16 x 16 picture is not counted
    auto t0 = std::chrono::steady_clock::now();
    double c0 = ThreadCpuSeconds();
    decoder.DecodeFile(path.c_str(), fresh ? bmp : kept, 0);
    bpp = (fresh ? bmp : kept).GetBitsPerPixel();
    cpu += ThreadCpuSeconds() - c0;
    wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  }
  const double n = double(state.iterations());
  state.counters["ms"] = 1000 * wall / n;
  state.counters["cpu_ms"] = 1000 * cpu / n;
  auto it = shared.pillow.find(path);
  if (it != shared.pillow.end()) {
    state.counters["pillow_ms"] = 1000 * it->second.first;
    state.counters["pillow_over_ours"] = it->second.first / (wall / n);
  }
  state.SetLabel(shared.label + " " + std::to_string(bpp) + " bpp");
}

void BM_Pillow(benchmark::State& state, const char* file) {
  const Shared& shared = TheShared();
  auto it = shared.pillow.find(PathOf(file));
  if (it == shared.pillow.end()) {
    state.SkipWithError("Pillow could not time this file");
    return;
  }
  for (auto _ : state) state.SetIterationTime(it->second.first);
  state.counters["ms"] = 1000 * it->second.first;
  state.counters["cpu_ms"] = 1000 * it->second.second;
}

BENCHMARK_CAPTURE(BM_Ours, bmp24_fresh, "photo24.bmp", true)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK_CAPTURE(BM_Ours, bmp_rle8_fresh, "photo_rle8.bmp", true)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK_CAPTURE(BM_Ours, tga_rle24_fresh, "photo_rle24.tga", true)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK_CAPTURE(BM_Ours, pcx24_fresh, "photo24.pcx", true)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK_CAPTURE(BM_Ours, bmp24_kept, "photo24.bmp", false)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK_CAPTURE(BM_Ours, bmp_rle8_kept, "photo_rle8.bmp", false)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK_CAPTURE(BM_Ours, tga_rle24_kept, "photo_rle24.tga", false)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK_CAPTURE(BM_Ours, pcx24_kept, "photo24.pcx", false)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK_CAPTURE(BM_Pillow, bmp24, "photo24.bmp")->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Pillow, bmp_rle8, "photo_rle8.bmp")->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Pillow, tga_rle24, "photo_rle24.tga")->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Pillow, pcx24, "photo24.pcx")->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
