// The capture-file paths on any file, as the File menu runs them: the real length, the trim
// of a reservation, and the copy (a finished AVI copied as it is, an unfinished one rebuilt,
// anything else refused). The input lives in a file in /dev/shm. Promises checked beyond not
// crashing: the real length lies within the file; a trim keeps at least the real length and
// never takes a frame from the copy (the last one may go when the trim leaves it ending in
// zeros, as a half-written one); a copy reported saved reads back as a finished AVI with the
// frames reported; a refused copy leaves the old target as it was.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "capture/avi/avi_rebuild.h"
#include "capture/platform/capture_file.h"

namespace {

namespace fs = std::filesystem;

void Require(bool ok) {
  if (!ok) __builtin_trap();
}

std::vector<uint8_t> ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}
void WriteAll(const fs::path& p, const uint8_t* data, size_t size) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), std::streamsize(size));
}

const fs::path& Dir() {
  static const fs::path dir = [] {
    fs::path d = fs::exists("/dev/shm") ? fs::path("/dev/shm") : fs::temp_directory_path();
    d /= "lumora-fuzz-capfile-" + std::to_string(::getpid());
    fs::create_directories(d);
    return d;
  }();
  return dir;
}

// Frames the copy of `file` holds, or -1 when no copy is made. The target starts as "old".
int CopyFrames(const fs::path& file) {
  const fs::path target = Dir() / "copy.avi";
  const uint8_t old[] = {'o', 'l', 'd'};
  WriteAll(target, old, sizeof old);
  avi::SaveResult result;
  media::CopyObserver observer;
  observer.finished = [&](const avi::SaveResult& r) { result = r; };
  media::Status s;
  {
    media::ScopedCopyObserver scope(&observer);
    s = media::CopyCaptureFile(file.string(), target.string(), nullptr);
  }
  const std::vector<uint8_t> copy = ReadAll(target);
  if (media::Failed(s)) {
    Require(copy == std::vector<uint8_t>(old, old + sizeof old));
    return -1;
  }
  Require(s == media::status::kOk);
  const avi::MemorySource src(copy);
  const avi::AviInfo info = avi::ReadAviInfo(src);
  Require(info.finished);
  if (result.rescued) Require(avi::ScanMovi(src, info, {}).chunks.size() >= result.frames);
  return int(result.frames);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fs::path file = Dir() / "capture.avi";
  WriteAll(file, data, size);
  const std::optional<uint64_t> length = media::AviRealLengthOfFile(file.string());
  if (length) Require(*length <= size);
  const int before = CopyFrames(file);

  // Trim to a size the last byte picks (0 .. the whole file).
  const uint64_t want = size > 0 ? uint64_t(size) * data[size - 1] / 255 : 0;
  const media::Status trimmed = media::TrimCaptureFile(file.string(), want);
  Require(trimmed == media::status::kOk || trimmed == media::kRecordingEndUnknown);
  const uint64_t now = fs::file_size(file);
  if (trimmed == media::kRecordingEndUnknown) Require(now == size);
  if (length) Require(now >= std::min<uint64_t>(*length, size));
  const int after = CopyFrames(file);
  // The trim may leave the last frame ending in zeros at the end of the file, which marks it
  // as half-written: it is the one frame a trim may cost (and with it a one-frame rescue).
  const int kept = after < 0 ? 0 : after;
  Require(before < 0 ? after < 0 : (kept == before || kept == before - 1));
  return 0;
}
