// AVI output: the multiplexer (with its settings and the stream-control gate), the file
// sink's name and the writer that opens the (possibly pre-allocated) capture file.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

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
  GMuxFilter() : GFilter(Kind::Mux, "AVI Mux"), config(std::make_shared<GAviMuxConfig>()) {
    mux_ = Make("avimux");
  }
  bool Init() {
    if (!mux_) return false;
    GstPad* video = gst_element_request_pad_simple(mux_, "video_%u");
    if (!video) return false;
    AddPin(PinDirection::Input, "Input 01", video);
    gst_pad_add_probe(video, GST_PAD_PROBE_TYPE_BUFFER, &GMuxFilter::Gate,
                      new std::weak_ptr<GMuxFilter>(std::static_pointer_cast<GMuxFilter>(shared_from_this())),
                      [](gpointer p) { delete static_cast<std::weak_ptr<GMuxFilter>*>(p); });
    gst_object_unref(video);
    AddPin(PinDirection::Output, "AVI Out", StaticPad(mux_, "src"));
    return true;
  }
  void Attached(const std::shared_ptr<CaptureCounters>& c) override {
    std::lock_guard lock(mutex_);
    counters_ = c;
  }
  GstElement* Mux() const { return mux_; }
  std::shared_ptr<GAviMuxConfig> config;

private:
  // Stream control: while the capture stream is off its buffers stop here (events pass, so
  // the file still gets a complete header and index when it ends).
  static GstPadProbeReturn Gate(GstPad*, GstPadProbeInfo* info, gpointer data) {
    auto self = static_cast<std::weak_ptr<GMuxFilter>*>(data)->lock();
    if (!self) return GST_PAD_PROBE_OK;
    std::shared_ptr<CaptureCounters> c;
    {
      std::lock_guard lock(self->mutex_);
      c = self->counters_;
    }
    if (!c) return GST_PAD_PROBE_OK;
    if (!c->gateOpen) return GST_PAD_PROBE_DROP;
    c->muxFrames++;
    c->muxBytes += (long long)gst_buffer_get_size(GST_PAD_PROBE_INFO_BUFFER(info));
    return GST_PAD_PROBE_OK;
  }
  GstElement* mux_ = nullptr;
  std::mutex mutex_;
  std::shared_ptr<CaptureCounters> counters_;
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

class GWriterFilter : public GFilter {
public:
  explicit GWriterFilter(std::string path)
      : GFilter(Kind::FileWriter, "File Writer"), sink(std::make_shared<GFileSink>(std::move(path))) {
    fdsink_ = Make("fdsink");
  }
  ~GWriterFilter() override { CloseFile(); }
  bool Init() {
    if (!fdsink_) return false;
    AddPin(PinDirection::Input, "in", StaticPad(fdsink_, "sink"));
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
    return status::kOk;
  }
  void Stopped() override { CloseFile(); }
  std::shared_ptr<GFileSink> sink;

private:
  void CloseFile() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }
  GstElement* fdsink_ = nullptr;
  int fd_ = -1;
};

}  // namespace media::gst
