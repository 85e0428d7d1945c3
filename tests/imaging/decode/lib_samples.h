// The sample files written by Pillow and ImageMagick (make_lib_samples.py), made once per
// build tree and shared by every test process.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

namespace libdecodetest {

struct Sample {
  std::string name;
  int tolerance = 0;
};
inline void PrintTo(const Sample& s, std::ostream* os) { *os << s.name; }

inline std::string SamplesDir() {
  namespace fs = std::filesystem;
  static const std::string dir = [] {
    const fs::path script =
        fs::path(LUMORA_SOURCE_DIR) / "tests/imaging/decode/make_lib_samples.py";
    const fs::path base = fs::path(LUMORA_BIN_DIR) / ".." / "lib_decode_samples";
    const fs::path manifest = base / "manifest.txt";
    std::error_code ec;
    if (fs::exists(manifest) && fs::last_write_time(manifest) >= fs::last_write_time(script)) {
      return base.string();
    }
    // Written aside and renamed, so test processes running side by side never see half.
    const fs::path temp = base.string() + ".tmp" + std::to_string(::getpid());
    fs::create_directories(temp);
    const std::string command = "/usr/bin/python3 " + script.string() + " " + temp.string();
    if (std::system(command.c_str()) != 0) return std::string();
    fs::remove_all(base, ec);
    fs::rename(temp, base, ec);
    if (ec) fs::remove_all(temp, ec);  // another process got there first
    return base.string();
  }();
  return dir;
}

inline std::vector<Sample> LoadSamples() {
  std::vector<Sample> samples;
  const std::string dir = SamplesDir();
  if (dir.empty()) return samples;
  std::ifstream in(dir + "/manifest.txt");
  Sample s;
  while (in >> s.name >> s.tolerance) samples.push_back(s);
  return samples;
}

}  // namespace libdecodetest
