// Converting a 1920 x 1080 true-colour picture to 8 bits: CWinBmp::CopyFrom(itself, 8), which
// runs the colour quantiser at level 0 and maps every pixel to its nearest palette entry.
// Pillow's Image.quantize(256) (median cut plus mapping) on the same pixels runs beside it as
// the baseline. Times are wall clock; since the machine may be shared, both benchmarks also
// count the CPU time of the working thread ("cpu_ms"), and the conversion reports Pillow's
// time over ours in both ("pillow_over_ours_wall", "pillow_over_ours_cpu").
//
// The picture is a real photograph when the Debian package lomiri-wallpapers-16.04 is
// installed (or LUMORA_BENCH_PHOTO names another JPEG at least 1920 x 1080), decoded at the
// smallest libjpeg scale that still covers 1920 x 1080 and cropped to its centre. Otherwise a
// picture is generated (the label says which).
#include <benchmark/benchmark.h>

#include "bench/bench_support.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csetjmp>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include <jpeglib.h>
#include <unistd.h>

#include "imaging/core/color_quantify.h"
#include "imaging/core/palette_mapper.h"
#include "imaging/core/win_bmp.h"

namespace {

constexpr int kWidth = 1920;
constexpr int kHeight = 1080;
constexpr const char* kDefaultPhoto =
    "/usr/share/backgrounds/picosdeeuropa_by_Aitzol_Berasategi.jpg";

struct Picture {
  std::vector<uint8_t> bgrx;  // top row first, 4 bytes per pixel
  std::string source;
};

struct JpegError {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

void OnJpegError(j_common_ptr info) {
  std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1);
}

// No C++ objects with destructors live in this function: libjpeg leaves it by longjmp.
bool DecodeCentre(FILE* file, uint8_t* out) {
  jpeg_decompress_struct info;
  JpegError error;
  info.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = OnJpegError;
  uint8_t* row = nullptr;
  if (setjmp(error.jump) != 0) {
    std::free(row);
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_stdio_src(&info, file);
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_EXT_BGRX;
  for (info.scale_num = 1; info.scale_num <= 8; ++info.scale_num) {
    info.scale_denom = 8;
    jpeg_calc_output_dimensions(&info);
    if (info.output_width >= unsigned(kWidth) && info.output_height >= unsigned(kHeight)) break;
  }
  if (info.output_width < unsigned(kWidth) || info.output_height < unsigned(kHeight)) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_start_decompress(&info);
  const unsigned left = (info.output_width - kWidth) / 2;
  const unsigned top = (info.output_height - kHeight) / 2;
  row = static_cast<uint8_t*>(std::malloc(size_t(info.output_width) * 4));
  while (info.output_scanline < info.output_height) {
    const unsigned y = info.output_scanline;
    JSAMPROW rows[1] = {row};
    jpeg_read_scanlines(&info, rows, 1);
    if (y >= top && y < top + kHeight) {
      std::memcpy(out + size_t(y - top) * kWidth * 4, row + size_t(left) * 4, size_t(kWidth) * 4);
    }
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  std::free(row);
  return true;
}

// Smooth shading, edges and fine texture with sensor-like noise: a stand-in that gives the
// quantiser and the mapper a photograph's spread of colours.
void Generate(uint8_t* out) {
  uint32_t seed = 12345;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      seed = seed * 1664525u + 1013904223u;
      const int noise = int(seed >> 28) - 8;
      const double fx = double(x) / kWidth;
      const double fy = double(y) / kHeight;
      const bool ground = fy > 0.55 + 0.1 * std::sin(fx * 9.0);
      const double texture = 20.0 * std::sin(x * 0.21 + std::sin(y * 0.13) * 3.0);
      int b, g, r;
      if (ground) {
        r = int(90 + 60 * fx + texture);
        g = int(110 + 50 * (1 - fy) + texture * 0.8);
        b = int(40 + 30 * fy + texture * 0.5);
      } else {
        r = int(60 + 120 * fy);
        g = int(120 + 90 * fy);
        b = int(200 + 40 * fy - 30 * fx);
      }
      uint8_t* p = out + (size_t(y) * kWidth + x) * 4;
      p[0] = uint8_t(std::clamp(b + noise, 0, 255));
      p[1] = uint8_t(std::clamp(g + noise, 0, 255));
      p[2] = uint8_t(std::clamp(r + noise, 0, 255));
      p[3] = 0;
    }
  }
}

const Picture& ThePicture() {
  static const Picture picture = [] {
    Picture p;
    p.bgrx.resize(size_t(kWidth) * kHeight * 4);
    const char* env = std::getenv("LUMORA_BENCH_PHOTO");
    const std::string path = env != nullptr ? env : kDefaultPhoto;
    if (FILE* file = std::fopen(path.c_str(), "rb")) {
      if (DecodeCentre(file, p.bgrx.data())) p.source = path.substr(path.find_last_of('/') + 1);
      std::fclose(file);
    }
    if (p.source.empty()) {
      Generate(p.bgrx.data());
      p.source = "generated";
    }
    return p;
  }();
  return picture;
}

void FillBitmap(CWinBmp& bmp) {
  const Picture& picture = ThePicture();
  bmp.Create(kWidth, kHeight, 32, false);
  for (int y = 0; y < kHeight; ++y) {
    std::memcpy(bmp.GetRowTable()[y], picture.bgrx.data() + size_t(y) * kWidth * 4, size_t(kWidth) * 4);
  }
}

std::vector<uint8_t> Bgr24() {
  const Picture& picture = ThePicture();
  std::vector<uint8_t> bgr(size_t(kWidth) * kHeight * 3);
  for (size_t i = 0; i < size_t(kWidth) * kHeight; ++i) std::memcpy(&bgr[i * 3], &picture.bgrx[i * 4], 3);
  return bgr;
}

// Means per call, once BM_PillowQuantize has run.
double g_pillowWall = 0;
double g_pillowCpu = 0;

using bench::ThreadCpuSeconds;

struct Timing {
  double wall;
  double cpu;
};

// Pillow in its own process, timing each call inside Python; start-up is not counted.
void BM_PillowQuantize(benchmark::State& state) {
  static std::vector<Timing> times;
  if (times.empty()) {
    const Picture& picture = ThePicture();
    const std::string raw = "/tmp/lumora_bench_picture_" + std::to_string(getpid()) + ".rgb";
    {
      std::ofstream f(raw, std::ios::binary);
      for (size_t i = 0; i < size_t(kWidth) * kHeight; ++i) {
        const uint8_t* p = &picture.bgrx[i * 4];
        const char rgb[3] = {char(p[2]), char(p[1]), char(p[0])};
        f.write(rgb, 3);
      }
    }
    const std::string command = "/usr/bin/python3 " LUMORA_SOURCE_DIR "/bench/pillow_quantize.py " +
                                raw + " " + std::to_string(kWidth) + " " + std::to_string(kHeight) +
                                " " + std::to_string(state.max_iterations);
    if (FILE* pipe = popen(command.c_str(), "r")) {
      Timing t{};
      while (std::fscanf(pipe, "%lf %lf", &t.wall, &t.cpu) == 2) times.push_back(t);
      pclose(pipe);
    }
    std::remove(raw.c_str());
    if (times.empty()) {
      state.SkipWithError("Pillow (/usr/bin/python3 with PIL) did not run");
      return;
    }
  }
  size_t i = 0;
  Timing sum{};
  for (auto _ : state) {
    const Timing& t = times[i++ % times.size()];
    sum.wall += t.wall;
    sum.cpu += t.cpu;
    state.SetIterationTime(t.wall);
  }
  g_pillowWall = sum.wall / double(i);
  g_pillowCpu = sum.cpu / double(i);
  state.counters["cpu_ms"] = g_pillowCpu * 1e3;
  state.SetLabel(ThePicture().source);
}
BENCHMARK(BM_PillowQuantize)->UseManualTime()->Iterations(10)->Unit(benchmark::kMillisecond);

void BM_CopyFromItselfTo8(benchmark::State& state) {
  CWinBmp bmp;
  Timing sum{};
  int64_t runs = 0;
  for (auto _ : state) {
    state.PauseTiming();
    FillBitmap(bmp);
    state.ResumeTiming();
    const auto wall = std::chrono::steady_clock::now();
    const double cpu = ThreadCpuSeconds();
    bmp.CopyFrom(bmp, 8);
    sum.cpu += ThreadCpuSeconds() - cpu;
    sum.wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count();
    ++runs;
    benchmark::DoNotOptimize(bmp.GetRowTable()[0][0]);
  }
  if (bmp.GetBitsPerPixel() != 8) state.SkipWithError("the bitmap was not converted to 8 bits");
  if (runs > 0) {
    state.counters["cpu_ms"] = sum.cpu / double(runs) * 1e3;
    if (g_pillowWall > 0) {
      state.counters["pillow_over_ours_wall"] = g_pillowWall / (sum.wall / double(runs));
      state.counters["pillow_over_ours_cpu"] = g_pillowCpu / (sum.cpu / double(runs));
    }
  }
  state.SetLabel(ThePicture().source);
}
BENCHMARK(BM_CopyFromItselfTo8)->Iterations(10)->Unit(benchmark::kMillisecond);

// The two halves of the conversion on their own.
void BM_QuantizeLevel0(benchmark::State& state) {
  const std::vector<uint8_t> bgr = Bgr24();
  for (auto _ : state) {
    CColorQuantify q(bgr.data(), bgr.size());
    q.SetQuality(0);
    benchmark::DoNotOptimize(q.GetPalette());
  }
}
BENCHMARK(BM_QuantizeLevel0)->Unit(benchmark::kMillisecond);

void BM_MapEveryPixel(benchmark::State& state) {
  const std::vector<uint8_t> bgr = Bgr24();
  CColorQuantify q(bgr.data(), bgr.size());
  q.SetQuality(0);
  RgbQuad palette[256];
  for (int i = 0; i < 256; ++i) {
    const uint32_t c = q.GetPalette()[i];
    palette[i] = RgbQuad{uint8_t(c), uint8_t(c >> 8), uint8_t(c >> 16), 255};
  }
  std::vector<uint8_t> out(size_t(kWidth) * kHeight);
  for (auto _ : state) {
    const CPaletteMapper mapper(palette, 256);  // a new mapper per conversion, as the bitmap has
    for (int y = 0; y < kHeight; ++y) {
      mapper.MapRow(bgr.data() + size_t(y) * kWidth * 3, 3, kWidth, out.data() + size_t(y) * kWidth);
    }
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_MapEveryPixel)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
