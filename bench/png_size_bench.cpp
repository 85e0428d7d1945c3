// PNG files of a mixed set of pictures: our encoder's size and time against libpng's with
// its default settings (png_picture_set.h), both in this process, in turn, the order
// swapped every round (LUMORA_BENCH_ROUNDS, else 5). Each of our files is read back by
// libpng and compared pixel for pixel with the bitmap.
//
// Counters: bytes and libpng_bytes, size_ratio (ours over libpng's), ms and cpu_ms (ours,
// medians; CPU of the whole process, our helper threads included), libpng_ms, load.
//
// The photograph is the one LUMORA_BENCH_PHOTO names, else a wallpaper of the Debian
// package lomiri-wallpapers-16.04 when installed, scaled by Pillow (pillow_encode.py),
// else the script's generated picture; the label says which.
#include <benchmark/benchmark.h>

#include "bench/bench_support.h"

#include <png.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "bench/camera_picture.h"
#include "bench/png_picture_set.h"
#include "imaging/encode/data_sink.h"
#include "imaging/encode/png_encoder.h"

namespace {

constexpr const char* kDefaultPhoto =
    "/usr/share/backgrounds/picosdeeuropa_by_Aitzol_Berasategi.jpg";

struct Entry {
  std::string what;  // for the README's table
  std::unique_ptr<CWinBmp> bitmap;
};

using Set = std::map<std::string, Entry>;

// The photograph at width x height as packed blue-green-red, and where it came from.
std::vector<uint8_t> Photo(int width, int height, std::string& source) {
  const std::string raw = "/tmp/lumora_png_bench_" + std::to_string(getpid()) + ".rgb";
  const char* env = std::getenv("LUMORA_BENCH_PHOTO");
  source = bench::RunCommand("/usr/bin/python3 " LUMORA_SOURCE_DIR "/bench/pillow_encode.py picture " +
                             raw + " " + std::to_string(width) + " " + std::to_string(height) +
                             " " + (env != nullptr ? env : kDefaultPhoto));
  while (!source.empty() && source.back() == '\n') source.pop_back();
  std::ifstream file(raw, std::ios::binary);
  std::vector<uint8_t> bgr{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  std::remove(raw.c_str());
  for (size_t i = 0; i + 2 < bgr.size(); i += 3) std::swap(bgr[i], bgr[i + 2]);
  return bgr;
}

std::unique_ptr<CWinBmp> Converted(CBmp& source, bool grey) {
  auto bmp = std::make_unique<CWinBmp>();
  bmp->CopyFrom(source, 32);
  if (grey) bmp->ConvertToGrey();
  else bmp->CopyFrom(*bmp, 8);  // our own quantiser, as Save at 8 bits does
  return bmp;
}

const Set& TheSet() {
  static const Set set = [] {
    Set s;
    std::string source;
    const std::vector<uint8_t> photo = Photo(1920, 1080, source);
    const std::vector<uint8_t> small = Photo(320, 240, source);
    s["camera"] = {"camera frame, 24-bit",
                   pngset::TrueColour(1920, 1080, bench::CameraPicture(1920, 1080))};
    if (photo.size() == size_t(1920) * 1080 * 3 && small.size() == size_t(320) * 240 * 3) {
      s["photo"] = {"photo (" + source + "), 24-bit", pngset::TrueColour(1920, 1080, photo)};
      s["photo8"] = {"photo, 8-bit palette", Converted(*s["photo"].bitmap, false)};
      s["grey"] = {"photo, 8-bit grey", Converted(*s["photo"].bitmap, true)};
      s["small8"] = {"photo, 8-bit palette",
                     Converted(*pngset::TrueColour(320, 240, small), false)};
      std::vector<uint8_t> row(photo.begin() + 540 * 1920 * 3, photo.begin() + 541 * 1920 * 3);
      s["row"] = {"one row of the photo, 24-bit", pngset::TrueColour(1920, 1, row)};
    }
    s["graphics"] = {"flat graphics and text, 24-bit",
                     pngset::TrueColour(1280, 800, pngset::GraphicsAndText(1280, 800))};
    s["graphics8"] = {"flat graphics and text, 8-bit", Converted(*s["graphics"].bitmap, false)};
    s["rows"] = {"one row repeated, 8-bit", pngset::RepeatedRows(256, 256)};
    s["column"] = {"one column of the camera frame, 24-bit",
                   pngset::TrueColour(1, 1080, bench::CameraPicture(1, 1080))};
    return s;
  }();
  return set;
}

double ProcessCpu() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + 1e-9 * double(t.tv_nsec);
}

std::vector<uint8_t> Ours(CBmp& bitmap) {
  CPNGEncoder encoder;
  std::vector<uint8_t> buffer(encoder.MaxEncodedSize(bitmap, "bench.png"));
  CDataSink sink;
  sink.Open("bench.png", buffer.data(), buffer.size());
  encoder.EncodeToSink(bitmap, sink);
  buffer.resize(sink.GetPosition());
  return buffer;
}

// Whether libpng reads back the bitmap's pixels from `file`.
bool SamePixels(const CBmp& bitmap, const std::vector<uint8_t>& file) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_memory(&image, file.data(), file.size())) return false;
  image.format = PNG_FORMAT_BGR;
  std::vector<uint8_t> bgr(PNG_IMAGE_SIZE(image));
  if (!png_image_finish_read(&image, nullptr, bgr.data(), 0, nullptr)) return false;
  if (int(image.width) != bitmap.GetWidth() || int(image.height) != bitmap.GetHeight())
    return false;
  const uint8_t* p = bgr.data();
  for (int y = 0; y < bitmap.GetHeight(); ++y)
    for (int x = 0; x < bitmap.GetWidth(); ++x, p += 3) {
      const uint8_t* in = bitmap.GetRowTable()[y];
      const uint8_t* want =
          bitmap.GetBitsPerPixel() == 8 ? &bitmap.GetPalette()[in[x]].blue : in + 4 * x;
      if (p[0] != want[0] || p[1] != want[1] || p[2] != want[2]) return false;
    }
  return true;
}

void BM_PngSize(benchmark::State& state, const std::string& name) {
  CBmp& bitmap = *TheSet().at(name).bitmap;
  std::vector<double> wall, cpu, libpngWall;
  size_t ours = 0, libpng = 0;
  auto runOurs = [&] {
    const double w0 = bench::WallSeconds(), c0 = ProcessCpu();
    const std::vector<uint8_t> file = Ours(bitmap);
    wall.push_back(bench::WallSeconds() - w0);
    cpu.push_back(ProcessCpu() - c0);
    ours = file.size();
    return file;
  };
  auto runLibpng = [&] {
    const double w0 = bench::WallSeconds();
    libpng = pngset::LibpngFile(bitmap).size();
    libpngWall.push_back(bench::WallSeconds() - w0);
  };
  if (!SamePixels(bitmap, runOurs())) {
    state.SkipWithError("libpng does not read back the bitmap's pixels");
    return;
  }
  wall.clear();
  cpu.clear();
  double load = 0;
  int round = 0;
  for (auto _ : state) {
    load += bench::LoadAverage();
    if (round++ % 2 == 0) {
      runOurs();
      runLibpng();
    } else {
      runLibpng();
      runOurs();
    }
  }
  state.counters["bytes"] = double(ours);
  state.counters["libpng_bytes"] = double(libpng);
  state.counters["size_ratio"] = libpng > 0 ? double(ours) / double(libpng) : 0;
  state.counters["ms"] = 1e3 * bench::Median(wall);
  state.counters["cpu_ms"] = 1e3 * bench::Median(cpu);
  state.counters["libpng_ms"] = 1e3 * bench::Median(libpngWall);
  state.counters["load"] = load / double(round);
  state.SetLabel(TheSet().at(name).what + ", " + std::to_string(bitmap.GetWidth()) + " x " +
                 std::to_string(bitmap.GetHeight()));
}

const bool kRegistered = [] {
  for (const auto& [name, entry] : TheSet())
    benchmark::RegisterBenchmark(("BM_PngSize/" + name).c_str(), BM_PngSize, name)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(bench::Rounds());
  return true;
}();

}  // namespace

BENCHMARK_MAIN();
