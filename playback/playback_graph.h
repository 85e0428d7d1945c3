// CPlaybackGraph: one clip rendered by GStreamer's playbin, driven the way the playback window
// drives a filter graph: render a file, run / pause / stop, seek to the start, rate, volume in
// hundredths of a decibel, native video size and frame stepping. Every call returns a Status.
//
// Video goes to an appsink (raw formats the widget paints) that feeds a FrameSlot; the window paints it with the shared
// video widget. Everything here runs on the UI thread; the streaming threads only touch the
// FrameSlot and the bus, which the window reads through SetNotify.
#pragma once

#include <gst/gst.h>

#include <functional>
#include <memory>
#include <string>

#include "gstqt/gst_handles.h"
#include "gstqt/video_widget.h"
#include "playback/playback_status.h"

namespace media::gstqt {
class BusWatch;
}

namespace playback {

class CPlaybackGraph {
 public:
  // The facilities the window asks for after rendering, in the order it asks.
  enum class Facility { Control, Events, Seeking, Position, VideoWindow, BasicVideo, BasicAudio };
  // Graph events, reduced to the kinds the window tells apart.
  enum class Event { Complete, ErrorAbort, StepComplete };

  // A playbin with our video output; kFail when GStreamer lacks the elements.
  static Status Create(std::unique_ptr<CPlaybackGraph>& graph);
  ~CPlaybackGraph();
  CPlaybackGraph(const CPlaybackGraph&) = delete;
  CPlaybackGraph& operator=(const CPlaybackGraph&) = delete;

  // Opens `path` and prerolls it (paused on the first frame); a failure leaves the graph empty.
  Status RenderFile(const std::string& path);
  Status Query(Facility facility) const;

  Status Run();
  Status Pause();
  // Halts the clip where it is; the window seeks and pauses afterwards to show the first frame.
  Status Stop();
  // Flushing seek to the start, keeping the rate.
  Status SeekToStart();

  Status GetRate(double& rate) const;
  // Rates above zero; the graph refuses others with kInvalidArg and keeps its rate.
  Status PutRate(double rate);

  // 0 is full volume, -10000 silence; kNotImplemented for a clip without sound.
  Status GetVolume(long& volume) const;
  Status PutVolume(long volume);

  // kOk when the clip shows video, kNoInterface when it has none.
  Status GetVisible() const;
  Status GetVideoSize(int& width, int& height) const;

  // kOk when `frames` frames can be stepped (video clips only).
  Status CanStep(int frames) const;
  // Pauses if needed and steps `frames` frames; the graph posts StepComplete when done.
  Status Step(int frames);
  int StepsCompleted() const { return stepsCompleted_; }

  // `ready` runs on the UI thread whenever events wait; an empty function cancels.
  // kFail without an application event loop to watch the bus with.
  Status SetNotify(std::function<void()> ready);
  // Takes the next event the window cares about; false when none is left.
  bool GetEvent(Event& event);

  GstElement* Pipeline() const { return pipeline_.get(); }
  const std::shared_ptr<media::gstpreview::FrameSlot>& Frames() const { return frames_; }

 private:
  CPlaybackGraph() = default;
  int StreamCount(const char* property) const;
  GstState TargetState() const;
  // Brings a stopped clip back to its first frame before going to `target`.
  Status Resume(GstState target);

  media::gsth::Ref<GstElement> pipeline_;
  GstElement* videoSink_ = nullptr;  // the appsink inside the video-sink bin (owned by it)
  std::shared_ptr<media::gstpreview::FrameSlot> frames_;
  std::unique_ptr<media::gstqt::BusWatch> watch_;
  double rate_ = 1.0;
  long volume_ = 0;
  bool hasVideo_ = false;
  bool hasAudio_ = false;
  int videoWidth_ = 0;
  int videoHeight_ = 0;
  int stepsCompleted_ = 0;
};

}  // namespace playback
