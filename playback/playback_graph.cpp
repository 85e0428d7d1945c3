#include "playback/playback_graph.h"

#include <gst/app/gstappsink.h>

#include <QCoreApplication>
#include <cmath>
#include <string>

#include "gstqt/bus_watch.h"

namespace playback {
namespace gsth = media::gsth;

namespace {

constexpr GstClockTime kPrerollTimeout = 20 * GST_SECOND;
constexpr GstClockTime kStateTimeout = 5 * GST_SECOND;
constexpr long kSilence = -10000;

// What an error during rendering means for the caller: which stream could not be handled.
Status StatusOfError(GstMessage* message) {
  GError* raw = nullptr;
  gst_message_parse_error(message, &raw, nullptr);
  const gsth::ErrorRef error(raw);
  if (!error) return kFail;
  if (error->domain == GST_STREAM_ERROR) {
    switch (error->code) {
      case GST_STREAM_ERROR_TYPE_NOT_FOUND:
      case GST_STREAM_ERROR_WRONG_TYPE:
      case GST_STREAM_ERROR_DEMUX:
      case GST_STREAM_ERROR_FORMAT: return kUnknownFileType;
      case GST_STREAM_ERROR_CODEC_NOT_FOUND:
      case GST_STREAM_ERROR_DECODE:
      case GST_STREAM_ERROR_NOT_IMPLEMENTED: return kCannotRender;
      default: return kFail;
    }
  }
  if (error->domain == GST_CORE_ERROR && error->code == GST_CORE_ERROR_MISSING_PLUGIN)
    return kCannotRender;
  if (error->domain == GST_RESOURCE_ERROR &&
      (error->code == GST_RESOURCE_ERROR_NOT_FOUND || error->code == GST_RESOURCE_ERROR_OPEN_READ))
    return kFileNotFound;
  return kFail;
}

Status FromStateChange(GstStateChangeReturn r) {
  return r == GST_STATE_CHANGE_FAILURE ? kFail : kOk;
}

}  // namespace

Status CPlaybackGraph::Create(std::unique_ptr<CPlaybackGraph>& graph) {
  if (!gst_is_initialized()) gst_init(nullptr, nullptr);
  std::unique_ptr<CPlaybackGraph> g(new CPlaybackGraph);
  g->pipeline_ = gsth::Sink(gst_element_factory_make("playbin", nullptr));
  if (!g->pipeline_) return kFail;
  GError* raw = nullptr;
  // Decoders mostly deliver formats the widget paints itself (converting only the frames it
  // shows); videoconvert passes those through and converts the rest.
  const std::string description = std::string("videoconvert n-threads=0 ! ") +
                                  media::gstpreview::PreviewWidget::kPaintableCaps + " ! appsink name=sink";
  GstElement* bin = gst_parse_bin_from_description(description.c_str(), TRUE, &raw);
  const gsth::ErrorRef error(raw);
  if (!bin) return kFail;
  gsth::Ref<GstElement> ownedBin = gsth::Sink(bin);
  const gsth::Ref<GstElement> sink = gsth::Own(gst_bin_get_by_name(GST_BIN(bin), "sink"));
  if (!sink) return kFail;
  // A player drops late frames as a video renderer would instead of falling behind the clock.
  g_object_set(sink.get(), "qos", TRUE, "enable-last-sample", FALSE, nullptr);
  g->videoSink_ = sink.get();  // the bin keeps it alive for as long as the pipeline lives
  g->frames_ = std::make_shared<media::gstpreview::FrameSlot>();
  media::gstpreview::AttachSink(GST_APP_SINK(sink.get()), g->frames_, true);
  g_object_set(g->pipeline_.get(), "video-sink", bin, nullptr);
  graph = std::move(g);
  return kOk;
}

CPlaybackGraph::~CPlaybackGraph() {
  watch_.reset();
  if (pipeline_) gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
}

Status CPlaybackGraph::RenderFile(const std::string& path) {
  if (!g_file_test(path.c_str(), G_FILE_TEST_IS_REGULAR)) return kFileNotFound;
  const gsth::CharRef uri(gst_filename_to_uri(path.c_str(), nullptr));
  if (!uri) return kFileNotFound;
  g_object_set(pipeline_.get(), "uri", uri.get(), nullptr);

  Status status = kOk;
  const GstStateChangeReturn r = gst_element_set_state(pipeline_.get(), GST_STATE_PAUSED);
  const gsth::Ref<GstBus> bus = gsth::Own(gst_element_get_bus(pipeline_.get()));
  if (r == GST_STATE_CHANGE_ASYNC || r == GST_STATE_CHANGE_FAILURE) {
    // Rendering is synchronous for the caller: wait for the preroll or the reason it failed.
    for (;;) {
      const gsth::MessageRef msg(gst_bus_timed_pop_filtered(
          bus.get(), kPrerollTimeout,
          static_cast<GstMessageType>(GST_MESSAGE_ASYNC_DONE | GST_MESSAGE_ERROR)));
      if (!msg) {
        status = r == GST_STATE_CHANGE_FAILURE ? kFail : kTimeout;
        break;
      }
      if (GST_MESSAGE_TYPE(msg.get()) == GST_MESSAGE_ERROR) {
        status = StatusOfError(msg.get());
        break;
      }
      if (GST_MESSAGE_SRC(msg.get()) == GST_OBJECT(pipeline_.get())) break;
    }
  }
  if (Failed(status)) {
    gst_element_set_state(pipeline_.get(), GST_STATE_NULL);
    return status;
  }
  hasVideo_ = StreamCount("n-video") > 0;
  hasAudio_ = StreamCount("n-audio") > 0;
  if (hasVideo_) {
    const gsth::Ref<GstPad> pad = gsth::Own(gst_element_get_static_pad(videoSink_, "sink"));
    const gsth::CapsRef caps(pad ? gst_pad_get_current_caps(pad.get()) : nullptr);
    const GstStructure* s = caps ? gst_caps_get_structure(caps.get(), 0) : nullptr;
    if (s) {
      gst_structure_get_int(s, "width", &videoWidth_);
      gst_structure_get_int(s, "height", &videoHeight_);
    }
  }
  rate_ = 1.0;
  volume_ = 0;
  return kOk;
}

int CPlaybackGraph::StreamCount(const char* property) const {
  gint n = 0;
  g_object_get(pipeline_.get(), property, &n, nullptr);
  return n;
}

Status CPlaybackGraph::Query(Facility facility) const {
  switch (facility) {
    case Facility::Control:
    case Facility::Seeking:
    case Facility::Position: return pipeline_ ? kOk : kNoInterface;
    case Facility::Events: {
      const gsth::Ref<GstBus> bus = gsth::Own(gst_element_get_bus(pipeline_.get()));
      return bus ? kOk : kNoInterface;
    }
    case Facility::VideoWindow:
    case Facility::BasicVideo: return videoSink_ ? kOk : kNoInterface;
    case Facility::BasicAudio:
      return g_object_class_find_property(G_OBJECT_GET_CLASS(pipeline_.get()), "volume")
                 ? kOk
                 : kNoInterface;
  }
  return kNoInterface;
}

GstState CPlaybackGraph::TargetState() const {
  GstState current = GST_STATE_NULL, pending = GST_STATE_VOID_PENDING;
  gst_element_get_state(pipeline_.get(), &current, &pending, 0);
  return pending != GST_STATE_VOID_PENDING ? pending : current;
}

Status CPlaybackGraph::Resume(GstState target) {
  if (TargetState() < GST_STATE_PAUSED) {
    // A stopped clip prerolls from its start again; a rate set meanwhile applies from there.
    if (gst_element_set_state(pipeline_.get(), GST_STATE_PAUSED) == GST_STATE_CHANGE_FAILURE)
      return kFail;
    if (rate_ != 1.0) {
      gst_element_get_state(pipeline_.get(), nullptr, nullptr, kStateTimeout);
      gst_element_seek(pipeline_.get(), rate_, GST_FORMAT_TIME,
                       static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                       GST_SEEK_TYPE_SET, 0, GST_SEEK_TYPE_NONE, GST_CLOCK_TIME_NONE);
    }
  }
  return FromStateChange(gst_element_set_state(pipeline_.get(), target));
}

Status CPlaybackGraph::Run() { return Resume(GST_STATE_PLAYING); }

Status CPlaybackGraph::Pause() { return Resume(GST_STATE_PAUSED); }

Status CPlaybackGraph::Stop() {
  return FromStateChange(gst_element_set_state(pipeline_.get(), GST_STATE_READY));
}

Status CPlaybackGraph::SeekToStart() {
  if (TargetState() < GST_STATE_PAUSED) return kFail;
  return gst_element_seek(pipeline_.get(), rate_, GST_FORMAT_TIME,
                          static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                          GST_SEEK_TYPE_SET, 0, GST_SEEK_TYPE_NONE, GST_CLOCK_TIME_NONE)
             ? kOk
             : kFail;
}

Status CPlaybackGraph::GetRate(double& rate) const {
  rate = rate_;
  return kOk;
}

Status CPlaybackGraph::PutRate(double rate) {
  if (!(rate > 0.0) || !std::isfinite(rate)) return kInvalidArg;
  if (TargetState() >= GST_STATE_PAUSED) {
    gint64 position = 0;
    if (!gst_element_query_position(pipeline_.get(), GST_FORMAT_TIME, &position)) position = 0;
    if (!gst_element_seek(pipeline_.get(), rate, GST_FORMAT_TIME,
                          static_cast<GstSeekFlags>(GST_SEEK_FLAG_FLUSH | GST_SEEK_FLAG_ACCURATE),
                          GST_SEEK_TYPE_SET, position, GST_SEEK_TYPE_NONE, GST_CLOCK_TIME_NONE))
      return kFail;
  }
  rate_ = rate;
  return kOk;
}

Status CPlaybackGraph::GetVolume(long& volume) const {
  if (!hasAudio_) return kNotImplemented;
  volume = volume_;
  return kOk;
}

Status CPlaybackGraph::PutVolume(long volume) {
  if (!hasAudio_) return kNotImplemented;
  if (volume > 0 || volume < kSilence) return kInvalidArg;
  // Hundredths of a decibel to playbin's linear factor; the floor is silence, not -100 dB.
  const double linear = volume == kSilence ? 0.0 : std::pow(10.0, volume / 2000.0);
  g_object_set(pipeline_.get(), "volume", linear, nullptr);
  volume_ = volume;
  return kOk;
}

Status CPlaybackGraph::GetVisible() const { return hasVideo_ ? kOk : kNoInterface; }

Status CPlaybackGraph::GetVideoSize(int& width, int& height) const {
  if (!hasVideo_ || videoWidth_ <= 0 || videoHeight_ <= 0) return kNoInterface;
  width = videoWidth_;
  height = videoHeight_;
  return kOk;
}

Status CPlaybackGraph::CanStep(int frames) const {
  if (!hasVideo_) return kNoInterface;
  return frames >= 1 ? kOk : kInvalidArg;
}

Status CPlaybackGraph::Step(int frames) {
  if (Failed(CanStep(frames))) return CanStep(frames);
  // Stepping happens in the paused state: the sink skips the frames and prerolls the next.
  if (TargetState() != GST_STATE_PAUSED) {
    if (Failed(Pause())) return kFail;
  }
  gst_element_get_state(pipeline_.get(), nullptr, nullptr, kStateTimeout);
  GstEvent* step = gst_event_new_step(GST_FORMAT_BUFFERS, static_cast<guint64>(frames), 1.0,
                                      TRUE, FALSE);
  return gst_element_send_event(pipeline_.get(), step) ? kOk : kFail;
}

Status CPlaybackGraph::SetNotify(std::function<void()> ready) {
  watch_.reset();
  if (!ready) return kOk;
  const gsth::Ref<GstBus> bus = gsth::Own(gst_element_get_bus(pipeline_.get()));
  if (!bus || !QCoreApplication::instance()) return kFail;
  watch_ = std::make_unique<media::gstqt::BusWatch>(bus.get(), std::move(ready));
  return kOk;
}

bool CPlaybackGraph::GetEvent(Event& event) {
  const gsth::Ref<GstBus> bus = gsth::Own(gst_element_get_bus(pipeline_.get()));
  while (const gsth::MessageRef msg{gst_bus_pop(bus.get())}) {
    switch (GST_MESSAGE_TYPE(msg.get())) {
      case GST_MESSAGE_EOS: event = Event::Complete; return true;
      case GST_MESSAGE_ERROR: event = Event::ErrorAbort; return true;
      case GST_MESSAGE_STEP_DONE:
        ++stepsCompleted_;
        event = Event::StepComplete;
        return true;
      default: break;  // state changes, tags, QoS: nothing the window acts on
    }
  }
  return false;
}

}  // namespace playback
