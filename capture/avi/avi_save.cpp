#include "capture/avi/avi_save.h"

#include <sys/stat.h>

#include <cerrno>

#include "imaging/core/file_replacement.h"

namespace avi {
namespace {

class FileSink final : public ByteSink {
 public:
  FileSink(CFileReplacement& file, uint64_t total, const SaveOptions& options)
      : file_(file), total_(total), options_(options) {}

  bool Write(std::span<const uint8_t> bytes) override {
    if (options_.abort && options_.abort->load()) {
      aborted_ = true;
      return false;
    }
    error_ = file_.Write(bytes.data(), bytes.size());
    if (error_ != 0) return false;
    written_ += bytes.size();
    if (options_.progress) options_.progress(written_, total_);
    return true;
  }
  bool Aborted() const { return aborted_; }
  int Error() const { return error_; }
  uint64_t Written() const { return written_; }

 private:
  CFileReplacement& file_;
  uint64_t total_;
  const SaveOptions& options_;
  uint64_t written_ = 0;
  bool aborted_ = false;
  int error_ = 0;
};

SaveResult Fail(SaveError error, int sysError, std::string detail) {
  SaveResult r;
  r.error = error;
  r.sysError = sysError;
  r.detail = std::move(detail);
  return r;
}

uint32_t HeaderFrames(const AviInfo& info) {
  return info.hasOdml && info.odmlFrames > 0 ? info.odmlFrames : info.TotalFrames();
}

}  // namespace

SaveResult SaveAviCopy(const std::string& from, const std::string& to, const SaveOptions& options) {
  if (from.empty() || to.empty()) return Fail(SaveError::kInvalidArgument, EINVAL, "empty path");
  int err = 0;
  const std::unique_ptr<FileSource> src = FileSource::Open(from, &err);
  if (!src) return Fail(SaveError::kOpenSource, err, "cannot open " + from);
  struct stat in {}, out {};
  if (::fstat(src->Fd(), &in) == 0 && ::stat(to.c_str(), &out) == 0 && in.st_dev == out.st_dev &&
      in.st_ino == out.st_ino)
    return Fail(SaveError::kSameFile, 0, "the copy would replace the capture file");

  // A target that may not be written is refused before anything is read or written.
  CFileReplacement file;
  if (const int error = file.Open(to))
    return Fail(SaveError::kCreateTarget, error, "cannot write " + to);

  const AviInfo info = ReadAviInfo(*src);
  if (!info.isAvi) return Fail(SaveError::kNotAvi, 0, info.problem);

  SaveResult result;
  RebuildPlan plan;
  uint64_t total = info.riffLength;
  if (!info.finished) {
    if (!info.headerValid) return Fail(SaveError::kDamagedHeader, 0, info.problem);
    std::function<bool()> aborted;
    if (options.abort) aborted = [&] { return options.abort->load(); };
    MoviScan scan = ScanMovi(*src, info, aborted);
    if (scan.aborted) return Fail(SaveError::kAborted, 0, "aborted while scanning");
    if (scan.chunks.empty()) return Fail(SaveError::kNoFrames, 0, info.problem + "; " + scan.stop);
    plan = PlanRebuild(info, std::move(scan.chunks), options.riffLimit);
    total = plan.totalBytes;
    result.rescued = true;
    result.frames = plan.videoFrames;
    result.detail = info.problem + "; frames end at " + std::to_string(scan.end) + " (" + scan.stop + ")";
  } else {
    result.frames = HeaderFrames(info);
  }

  FileSink sink(file, total, options);
  const RebuildEnd end = info.finished ? CopyPrefix(*src, total, sink) : WriteRebuilt(plan, *src, sink);
  if (sink.Aborted()) return Fail(SaveError::kAborted, 0, "aborted while writing");
  if (end == RebuildEnd::kSourceShort) return Fail(SaveError::kReadFailed, EIO, "the capture file changed while copying");
  if (end != RebuildEnd::kDone) return Fail(SaveError::kWriteFailed, sink.Error(), "writing the copy failed");
  if (const int error = file.Commit())
    return Fail(SaveError::kWriteFailed, error, "finishing the copy failed");
  result.bytes = sink.Written();
  return result;
}

}  // namespace avi
