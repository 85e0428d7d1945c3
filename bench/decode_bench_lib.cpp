// Decoding a 4000 x 3000 photograph stored as JPEG, PNG (RGB), GIF and TIFF (RGB,
// uncompressed and LZW) with CAnyPicDecoder::DecodeFile at the natural depth, against
// Pillow's Image.open(f).load() of the same files in the same run, and for JPEG and PNG
// against libjpeg-turbo's and libpng's own decode of the same bytes into a plain buffer
// (libjpeg-turbo: default integer IDCT and fancy upsampling into 4-byte blue-green-red rows,
// and again with the floating-point IDCT our decoder uses; libpng: 3-byte RGB rows without
// transforms, and again with the blue-green-red-filler transforms ours uses). Every decode
// writes into a newly allocated buffer, as a decode into a new bitmap does.
//
// Counters: ms (wall) and cpu_ms (the decoding thread's CPU time) per decode. The machine is
// shared, so the comparisons use CPU time: for ours pillow_cpu_ms and Pillow's time over ours
// (pillow_over_ours: above 1 means we are faster), and for JPEG and PNG lib_cpu_ms and ours
// over the library (ours_over_lib: 1.10 is 10% slower than the library; lib_same_cpu_ms and
// ours_over_lib_same against the library set up like ours).
//
// The files are written once into /tmp/lumora_decode_bench_lib by pillow_decode_lib.py from
// the photograph LUMORA_BENCH_PHOTO names, else a Debian wallpaper when installed, else a
// generated picture (the label says which).
#include <benchmark/benchmark.h>

#include "bench/bench_support.h"

#include <png.h>
#include <unistd.h>

#include <chrono>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "imaging/core/win_bmp.h"
#include "imaging/decode/any_pic_decoder.h"

namespace {

constexpr int kWidth = 4000;
constexpr int kHeight = 3000;
constexpr int kPillowCalls = 5;
constexpr const char* kDir = "/tmp/lumora_decode_bench_lib";
constexpr const char* kDefaultPhoto = "/usr/share/backgrounds/Dragonfly_by_Bolly.jpg";
const char* const kFiles[] = {"photo.jpg", "photo.png", "photo.gif", "photo_raw.tif",
                              "photo_lzw.tif"};

using bench::RunCommand;

struct Shared {
  std::string label;
  std::map<std::string, std::pair<double, double>> pillow;  // file -> mean wall, cpu (s)
};

std::string PathOf(const char* file) { return std::string(kDir) + "/" + file; }

const Shared& TheShared() {
  static const Shared shared = [] {
    Shared s;
    const std::string script = "/usr/bin/python3 " LUMORA_SOURCE_DIR "/bench/pillow_decode_lib.py ";
    const char* photo = std::getenv("LUMORA_BENCH_PHOTO");
    const std::string labelFile = std::string(kDir) + "/label.txt";
    if (!std::filesystem::exists(labelFile)) {
      std::string made = RunCommand(script + "make " + kDir + " " + std::to_string(kWidth) + " " +
                             std::to_string(kHeight) + " " + (photo ? photo : kDefaultPhoto));
      std::ofstream(labelFile) << made;
    }
    std::getline(std::ifstream(labelFile), s.label);
    std::string files;
    for (const char* f : kFiles) {
      files += ' ';
      files += PathOf(f);
    }
    s.pillow = bench::MeanTimesByKey(RunCommand(script + "time " + std::to_string(kPillowCalls) + files));
    return s;
  }();
  return shared;
}

using bench::ThreadCpuSeconds;

// Runs `decode` per iteration; reports wall and CPU milliseconds per call.
template <class F>
std::pair<double, double> Measure(benchmark::State& state, F&& decode) {
  double wall = 0, cpu = 0;
  for (auto _ : state) {
    auto t0 = std::chrono::steady_clock::now();
    double c0 = ThreadCpuSeconds();
    decode();
    cpu += ThreadCpuSeconds() - c0;
    wall += std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  }
  const double n = double(state.iterations());
  state.counters["ms"] = 1000 * wall / n;
  state.counters["cpu_ms"] = 1000 * cpu / n;
  return {wall / n, cpu / n};
}

std::map<std::string, double>& LibraryTimes() {
  static std::map<std::string, double> times;
  return times;
}

void BM_Ours(benchmark::State& state, const char* file) {
  const Shared& shared = TheShared();
  const std::string path = PathOf(file);
  CAnyPicDecoder decoder;
  CWinBmp bmp;
  auto [wall, cpu] = Measure(state, [&] { decoder.DecodeFile(path.c_str(), bmp, 0); });
  (void)wall;
  auto it = shared.pillow.find(path);
  if (it != shared.pillow.end()) {
    state.counters["pillow_cpu_ms"] = 1000 * it->second.second;
    state.counters["pillow_over_ours"] = it->second.second / cpu;
  }
  // Against the library's defaults, and against the library set up as we set it up
  // (floating-point IDCT for JPEG, blue-green-red-filler rows for PNG).
  auto lib = LibraryTimes().find(file);
  if (lib != LibraryTimes().end()) {
    state.counters["lib_cpu_ms"] = 1000 * lib->second;
    state.counters["ours_over_lib"] = cpu / lib->second;
  }
  for (const char* variant : {" float", " bgrx"}) {
    auto same = LibraryTimes().find(std::string(file) + variant);
    if (same != LibraryTimes().end()) {
      state.counters["lib_same_cpu_ms"] = 1000 * same->second;
      state.counters["ours_over_lib_same"] = cpu / same->second;
    }
  }
  state.SetLabel(shared.label + " " + std::to_string(bmp.GetBitsPerPixel()) + " bpp");
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

std::vector<uint8_t> ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// libjpeg-turbo alone: the file's bytes from memory into one RGB buffer.
struct JpegError {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

void OnJpegError(j_common_ptr info) {
  std::longjmp(reinterpret_cast<JpegError*>(info->err)->jump, 1);
}

// Holds no C++ objects with destructors: libjpeg leaves it by longjmp.
bool LibJpegDecode(const std::vector<uint8_t>* file, uint8_t* out, bool floatIdct) {
  jpeg_decompress_struct info;
  JpegError error;
  info.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = OnJpegError;
  if (setjmp(error.jump) != 0) {
    jpeg_destroy_decompress(&info);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, file->data(), static_cast<unsigned long>(file->size()));
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_EXT_BGRX;  // the layout our bitmaps use
  if (floatIdct) info.dct_method = JDCT_FLOAT;
  jpeg_start_decompress(&info);
  const size_t stride = size_t(info.output_width) * info.output_components;
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = out + stride * info.output_scanline;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

// A fresh output buffer per call, as every decode into a new bitmap has.
void BM_LibJpeg(benchmark::State& state, bool floatIdct) {
  const auto file = ReadAll(PathOf("photo.jpg"));
  auto [wall, cpu] = Measure(state, [&] {
    std::unique_ptr<uint8_t[]> out(new uint8_t[size_t(kWidth) * kHeight * 4]);
    if (!LibJpegDecode(&file, out.get(), floatIdct)) state.SkipWithError("libjpeg failed");
  });
  (void)wall;
  LibraryTimes()[floatIdct ? "photo.jpg float" : "photo.jpg"] = cpu;
}

struct MemReader {
  const uint8_t* p;
  size_t left;
};

void ReadMem(png_structp png, png_bytep out, size_t n) {
  auto* r = static_cast<MemReader*>(png_get_io_ptr(png));
  if (n > r->left) png_error(png, "short");
  std::memcpy(out, r->p, n);
  r->p += n;
  r->left -= n;
}

// libpng alone: the file's bytes from memory into RGB rows; with `bgrx` also the transforms
// that give our 4-byte layout.
bool LibPngDecode(const std::vector<uint8_t>* file, uint8_t* out, png_bytep* rows, bool bgrx) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  MemReader reader{file->data(), file->size()};
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_set_read_fn(png, &reader, ReadMem);
  png_read_info(png, info);
  if (bgrx) {
    png_set_bgr(png);
    png_set_filler(png, 0xFF, PNG_FILLER_AFTER);
    png_read_update_info(png, info);
  }
  const size_t stride = png_get_rowbytes(png, info);
  for (png_uint_32 y = 0; y < png_get_image_height(png, info); ++y) rows[y] = out + stride * y;
  png_read_image(png, rows);
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

void BM_LibPng(benchmark::State& state, bool bgrx) {
  const auto file = ReadAll(PathOf("photo.png"));
  std::vector<png_bytep> rows(kHeight);
  auto [wall, cpu] = Measure(state, [&] {
    std::unique_ptr<uint8_t[]> out(new uint8_t[size_t(kWidth) * kHeight * (bgrx ? 4 : 3)]);
    if (!LibPngDecode(&file, out.get(), rows.data(), bgrx)) state.SkipWithError("libpng failed");
  });
  (void)wall;
  LibraryTimes()[bgrx ? "photo.png bgrx" : "photo.png"] = cpu;
}

// The library baselines run first, so the decoders' rows can quote them.
BENCHMARK_CAPTURE(BM_LibJpeg, jpeg, false)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK_CAPTURE(BM_LibJpeg, jpeg_float_idct, true)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK_CAPTURE(BM_LibPng, png_rgb, false)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK_CAPTURE(BM_LibPng, png_bgrx, true)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK_CAPTURE(BM_Ours, jpeg, "photo.jpg")->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK_CAPTURE(BM_Ours, png_rgb, "photo.png")->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK_CAPTURE(BM_Ours, gif, "photo.gif")->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK_CAPTURE(BM_Ours, tiff_raw, "photo_raw.tif")->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK_CAPTURE(BM_Ours, tiff_lzw, "photo_lzw.tif")->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK_CAPTURE(BM_Pillow, jpeg, "photo.jpg")->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Pillow, png_rgb, "photo.png")->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Pillow, gif, "photo.gif")->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Pillow, tiff_raw, "photo_raw.tif")->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Pillow, tiff_lzw, "photo_lzw.tif")->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
