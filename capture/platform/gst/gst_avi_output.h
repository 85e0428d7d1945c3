// AVI output: the multiplexer (with its settings and the stream-control gate), the file
// sink's name and the writer that opens the (possibly pre-allocated) capture file.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>

#include "capture/platform/capture_file.h"
#include "capture/platform/gst/gst_filter.h"

namespace media::gst {

using namespace gsth;

class GAviMuxConfig : public IConfigAviMux {
public:
  Status SetOutputCompatibilityIndex(bool on) override {
    compatibilityIndex = on;  // avimux always writes the idx1 index
    return status::kOk;
  }
  Status SetMasterStream(long) override { return status::kOk; }  // video only: no master
  bool compatibilityIndex = false;
};

class GMuxFilter : public GFilter {
public:
  GMuxFilter() : GFilter(FilterKind::Mux, "AVI Mux"), config(std::make_shared<GAviMuxConfig>()) {
    mux_ = Make("avimux");
  }
  bool Init() {
    if (!mux_) return false;
    GstPad* video = gst_element_request_pad_simple(mux_, "video_%u");
    if (!video) return false;
    AddGhostPin(PinDirection::Input, "Input 01", video);
    ProbeCounters(video, &GMuxFilter::Gate);
    gst_object_unref(video);
    AddGhostPin(PinDirection::Output, "AVI Out", StaticPad(mux_, "src"));
    return true;
  }
  GstElement* Mux() const { return mux_; }
  std::shared_ptr<GAviMuxConfig> config;

private:
  // Stream control: while the capture stream is off its buffers stop here (events pass, so
  // the file still gets a complete header and index when it ends). When it opens, frames
  // wait for a key frame: an encoder that writes delta frames kept encoding while the gate
  // was shut, and its first frames through would refer to pictures the file never got.
  static GstPadProbeReturn Gate(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto c = CountersOf(data);
    if (!c) return GST_PAD_PROBE_OK;
    if (!c->gateOpen) return GST_PAD_PROBE_DROP;
    GstBuffer* buffer = GST_PAD_PROBE_INFO_BUFFER(info);
    if (c->awaitKeyFrame) {
      if (GST_BUFFER_FLAG_IS_SET(buffer, GST_BUFFER_FLAG_DELTA_UNIT)) return GST_PAD_PROBE_DROP;
      c->awaitKeyFrame = false;
    }
    c->muxFrames++;
    c->muxBytes += (long long)gst_buffer_get_size(buffer);
    return GST_PAD_PROBE_OK;
  }
  GstElement* mux_ = nullptr;
};

class GFileSink : public IFileSinkFilter {
public:
  explicit GFileSink(std::string path) : path(std::move(path)) {}
  Status SetFileName(const std::string& p) override {
    if (p.empty()) return status::kInvalidArg;
    path = p;
    return status::kOk;
  }
  Status GetCurFile(std::string& p) override {
    p = path;
    return status::kOk;
  }
  std::string path;
};

// Posted by the writer when end of stream reaches it: the file is complete.
inline constexpr char kFileFinished[] = "lumora-file-finished";

// How often a running capture's data is flushed to the disk: what a power cut can take.
inline constexpr std::chrono::milliseconds kCaptureFlushInterval{2000};

class GWriterFilter : public GFilter {
public:
  explicit GWriterFilter(std::string path)
      : GFilter(FilterKind::FileWriter, "File Writer"), sink(std::make_shared<GFileSink>(std::move(path))),
        file_(std::make_shared<FileState>()) {
    fdsink_ = Make("fdsink");
    // While the stream-control gate is shut nothing reaches the writer: it must not hold the
    // whole graph (and its preview) waiting for a first buffer to preroll.
    if (fdsink_) g_object_set(fdsink_, "async", FALSE, nullptr);
  }
  ~GWriterFilter() override { CloseFile(); }
  bool Init() {
    if (!fdsink_) return false;
    AddGhostPin(PinDirection::Input, "in", StaticPad(fdsink_, "sink"));
    // Everything before the end of stream has been written when it arrives here.
    gst_pad_add_probe(StaticPad(fdsink_, "sink"), GST_PAD_PROBE_TYPE_EVENT_DOWNSTREAM, &GWriterFilter::SeeEnd,
                      nullptr, nullptr);
    gst_pad_add_probe(StaticPad(fdsink_, "sink"),
                      GstPadProbeType(GST_PAD_PROBE_TYPE_BUFFER | GST_PAD_PROBE_TYPE_BUFFER_LIST),
                      &GWriterFilter::Guard, new GuardData{Slot(), file_},
                      [](gpointer p) { delete static_cast<GuardData*>(p); });
    return true;
  }
  // The capture file is opened without truncation, so a reserved file keeps its space;
  // fdsink seeks back to rewrite the header at the end.
  Status Starting() override {
    if (fd_ >= 0) return status::kOk;
    fd_ = ::open(sink->path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
    if (fd_ < 0) {
      Warn("cannot open capture file", sink->path + ": " + std::strerror(errno));
      return errno == EACCES || errno == EROFS ? status::kAccessDenied
             : errno == ENOENT                 ? status::kFileNotFound
                                               : status::kFail;
    }
    g_object_set(fdsink_, "fd", fd_, nullptr);
    std::lock_guard lock(file_->mutex);
    file_->fd = fd_;
    file_->armed = false;
    return status::kOk;
  }
  void Stopped() override { CloseFile(); }
  std::shared_ptr<GFileSink> sink;

private:
  static GstPadProbeReturn SeeEnd(GstPad* pad, GstPadProbeInfo* info, gpointer) {
    if (GST_EVENT_TYPE(GST_PAD_PROBE_INFO_EVENT(info)) == GST_EVENT_EOS)
      if (GstObject* parent = gst_pad_get_parent(pad)) {
        gst_element_post_message(GST_ELEMENT(parent),
                                 gst_message_new_application(parent, gst_structure_new_empty(kFileFinished)));
        gst_object_unref(parent);
      }
    return GST_PAD_PROBE_OK;
  }
  // The file as the streaming thread sees it.
  struct FileState {
    std::mutex mutex;
    int fd = -1;
    bool armed = false;  // the capture's first frame passed: the file is the capture's now
    std::unique_ptr<PeriodicFlush> flush;
  };
  struct GuardData {
    std::shared_ptr<CounterSlot> slot;
    std::shared_ptr<FileState> file;
  };
  // Nothing reaches the file before a frame has passed the stream-control gate: a capture
  // backed out of in the Ready dialog ends the muxer all the same, and the header it writes
  // then must not overwrite the last recording's. The first byte of the capture clears what
  // an earlier one left in the file (so a rescue ends at this capture's frames) and starts
  // the periodic flush.
  static GstPadProbeReturn Guard(GstPad*, GstPadProbeInfo*, gpointer data) {
    auto* guard = static_cast<GuardData*>(data);
    FileState& file = *guard->file;
    std::lock_guard lock(file.mutex);
    if (file.armed) return GST_PAD_PROBE_OK;
    const std::shared_ptr<CaptureCounters> c = guard->slot->Get();
    if (!c || c->muxFrames == 0 || file.fd < 0) return GST_PAD_PROBE_DROP;
    file.armed = true;
    if (Failed(ClearCaptureFile(file.fd))) Warn("cannot clear the capture file", std::strerror(errno));
    file.flush = std::make_unique<PeriodicFlush>(file.fd, kCaptureFlushInterval);
    return GST_PAD_PROBE_OK;
  }
  void CloseFile() {
    {
      std::lock_guard lock(file_->mutex);
      file_->flush.reset();
      file_->fd = -1;
      file_->armed = false;
    }
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  GstElement* fdsink_ = nullptr;
  int fd_ = -1;
  std::shared_ptr<FileState> file_;
};

}  // namespace media::gst
