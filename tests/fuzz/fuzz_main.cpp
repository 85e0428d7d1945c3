// Plain main for the fuzz targets: runs the target once on every file named on the command
// line (folders are walked), so corpus and crash inputs replay in the normal test run and a
// report reproduces without a fuzzer.
//
//   NAME_replay [--valid LIST] PATH...
//
// LIST names, one a line relative to the list's own folder, the seeds that are well-formed
// files: each of them under a replayed folder must exist and decode, so a decoder that
// starts refusing good input fails the run instead of passing quietly.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "fuzz_decode.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fs = std::filesystem;

namespace {

std::set<fs::path> ReadValidList(const fs::path& list) {
  std::set<fs::path> valid;
  std::ifstream in(list);
  if (!in) {
    std::fprintf(stderr, "cannot read the list of valid seeds %s\n", list.c_str());
    return valid;
  }
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    valid.insert(fs::weakly_canonical(list.parent_path() / line));
  }
  return valid;
}

bool IsUnder(const fs::path& file, const fs::path& folder) {
  const auto rel = file.lexically_relative(folder);
  return !rel.empty() && *rel.begin() != "..";
}

}  // namespace

int main(int argc, char** argv) {
  std::set<fs::path> valid;
  bool haveList = false;
  std::vector<fs::path> roots;
  for (int i = 1; i < argc; ++i) {
    const std::string arg(argv[i]);
    if (arg == "--valid" && i + 1 < argc) {
      valid = ReadValidList(argv[++i]);
      haveList = true;
    } else {
      roots.emplace_back(arg);
    }
  }
  if (haveList && valid.empty()) return 1;

  int count = 0;
  int failures = 0;
  auto runFile = [&](const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), {}};
    fuzzdecode::SuccessfulDecodes() = 0;
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    ++count;
    if (valid.count(fs::weakly_canonical(p)) && fuzzdecode::SuccessfulDecodes() == 0) {
      std::fprintf(stderr, "valid seed no longer decodes: %s\n", p.c_str());
      ++failures;
    }
  };
  for (const fs::path& root : roots) {
    if (fs::is_directory(root)) {
      for (const auto& entry : fs::recursive_directory_iterator(root)) {
        if (entry.is_regular_file()) runFile(entry.path());
      }
      // A listed seed that went missing would otherwise drop out of the check unseen.
      const fs::path canonRoot = fs::weakly_canonical(root);
      for (const fs::path& seed : valid) {
        if (IsUnder(seed, canonRoot) && !fs::exists(seed)) {
          std::fprintf(stderr, "listed valid seed is missing: %s\n", seed.c_str());
          ++failures;
        }
      }
    } else if (fs::exists(root)) {
      runFile(root);
    }
  }
  std::printf("replayed %d inputs\n", count);
  return count > 0 && failures == 0 ? 0 : 1;
}
