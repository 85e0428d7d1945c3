// Encoding a 1920 x 1080 photograph into each of the seven formats, against Pillow's
// Image.save of the same picture to the same format (settings in pillow_encode.py), measured
// in the same run. Ours writes into a memory sink sized as EncodeFile sizes it; Pillow
// writes into a BytesIO, each call timed inside Python (process start-up not counted).
// GIF starts from the 32-bit picture on both sides, so both quantise.
//
// Counters: ms and cpu_ms (ours, per call), pillow_ms and pillow_cpu_ms, and Pillow's time
// over ours (pillow_over_ours: above 1 means we are faster).
//
// The picture is the photograph LUMORA_BENCH_PHOTO names, else a wallpaper of the Debian
// package lomiri-wallpapers-16.04 when installed, else a generated one (the label says).
#include <benchmark/benchmark.h>

#include "bench/bench_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "imaging/core/encode_options.h"
#include "imaging/core/win_bmp.h"
#include "imaging/encode/any_pic_encoder.h"
#include "imaging/encode/data_sink.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr int kPillowCalls = 8;
constexpr const char* kDefaultPhoto =
    "/usr/share/backgrounds/picosdeeuropa_by_Aitzol_Berasategi.jpg";
const char* const kFormats[] = {"bmp", "jpg", "png", "tif", "tga", "pcx", "gif"};

struct Shared {
  std::vector<uint8_t> rgb;
  std::string label;
  std::map<std::string, std::pair<double, double>> pillow;  // format -> mean wall, cpu (s)
};

using bench::RunCommand;

const Shared& TheShared() {
  static const Shared shared = [] {
    Shared s;
    const std::string raw = "/tmp/lumora_encode_bench_" + std::to_string(getpid()) + ".rgb";
    const std::string script = "/usr/bin/python3 " LUMORA_SOURCE_DIR "/bench/pillow_encode.py ";
    const char* env = std::getenv("LUMORA_BENCH_PHOTO");
    std::string label = RunCommand(script + "picture " + raw + " " + std::to_string(kWidth) + " " +
                            std::to_string(kHeight) + " " + (env != nullptr ? env : kDefaultPhoto));
    while (!label.empty() && label.back() == '\n') label.pop_back();
    s.label = label;
    std::ifstream file(raw, std::ios::binary);
    s.rgb.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    std::string command = script + "time " + raw + " " + std::to_string(kWidth) + " " +
                          std::to_string(kHeight) + " " + std::to_string(kPillowCalls);
    for (const char* format : kFormats) command += std::string(" ") + format;
    s.pillow = bench::MeanTimesByKey(RunCommand(command));
    std::remove(raw.c_str());
    return s;
  }();
  return shared;
}

void Fill(CWinBmp& bmp, const std::vector<uint8_t>& rgb) {
  bmp.Create(kWidth, kHeight, 32, false);
  for (int y = 0; y < kHeight; ++y) {
    uint8_t* out = bmp.GetRowTable()[y];
    const uint8_t* in = rgb.data() + size_t(y) * kWidth * 3;
    for (int x = 0; x < kWidth; ++x, in += 3, out += 4) {
      out[0] = in[2];
      out[1] = in[1];
      out[2] = in[0];
      out[3] = 0;
    }
  }
}

using bench::ThreadCpuSeconds;
using bench::WallSeconds;

void BM_Encode(benchmark::State& state, const char* format) {
  const Shared& shared = TheShared();
  if (shared.rgb.size() != size_t(kWidth) * kHeight * 3) {
    state.SkipWithError("no picture (is /usr/bin/python3 with Pillow there?)");
    return;
  }
  CWinBmp source;
  Fill(source, shared.rgb);
  const EncodeOptions options;  // the save dialog's defaults: quality 75, Compress set
  source.SetEncodeOptions(&options);
  const std::string name = std::string("bench.") + format;
  CAnyPicEncoder encoder;
  CWinBmp bitmap;
  std::vector<uint8_t> buffer(encoder.MaxEncodedSize(source, name.c_str()));
  double wall = 0, cpu = 0;
  size_t bytes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    bitmap.CopyFrom(source, 0);  // GIF converts in place: start from 32 bits every time
    bitmap.SetEncodeOptions(&options);
    state.ResumeTiming();
    const double w0 = WallSeconds(), c0 = ThreadCpuSeconds();
    CDataSink sink;
    sink.Open(name.c_str(), buffer.data(), buffer.size());
    encoder.EncodeToSink(bitmap, sink);
    bytes = sink.GetPosition();
    wall += WallSeconds() - w0;
    cpu += ThreadCpuSeconds() - c0;
  }
  const double n = double(state.iterations());
  state.counters["ms"] = 1e3 * wall / n;
  state.counters["cpu_ms"] = 1e3 * cpu / n;
  state.counters["bytes"] = double(bytes);
  if (auto it = shared.pillow.find(format); it != shared.pillow.end()) {
    state.counters["pillow_ms"] = 1e3 * it->second.first;
    state.counters["pillow_cpu_ms"] = 1e3 * it->second.second;
    state.counters["pillow_over_ours"] = it->second.first / (wall / n);
    state.counters["pillow_over_ours_cpu"] = it->second.second / (cpu / n);
  }
  state.SetLabel(shared.label);
}

const bool kRegistered = [] {
  for (const char* format : kFormats)
    benchmark::RegisterBenchmark((std::string("BM_Encode/") + format).c_str(), BM_Encode, format)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(1.0);
  return true;
}();

}  // namespace

BENCHMARK_MAIN();
