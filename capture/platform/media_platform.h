// The media platform: what the capture code (main frame, devices, preview, snapshot, capture
// run, capture files, compressor and format dialogs) asks of the media framework.
//
// The shape follows those callers: devices are monikers enumerated by category and bound to
// filters; filters have pins; a filter graph joins them; a capture graph builder renders
// streams by pin category, finds the facilities (stream configuration, compression, dropped
// frames, driver dialogs, crossbar, tuner) on a pin or filter and sets up AVI output. Every
// operation returns a Status (media_types.h); objects come back through out-parameters as
// shared_ptr, null when the status is a failure. Releasing an object = dropping the pointer.
//
// Backends: GStreamer for the program (capture/platform/gst), the scripted test double for
// tests (capture/platform/scripted). `MediaPlatform()` is the one place that picks one.
//
// Threading
// - Every call in this file is made on the UI thread (the thread running the Qt event loop).
// - Media flows on the backend's own streaming threads. They never call the capture code:
//   * graph events are queued and the notify callback of IMediaEventEx runs on the UI thread
//     (it says "events are waiting"; drain them with GetEvent(..., 0));
//   * the device-change callback runs on the UI thread;
//   * ISampleGrabber keeps the newest frame under its own lock; GetCurrentBuffer* read it
//     from the UI thread at any time.
// - The video window is a widget of the UI thread painted from queued frame updates.
// - First use MediaPlatform() after the QApplication exists: the backend watches its buses
//   and the device monitor through the application's event loop.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "capture/platform/media_types.h"

namespace media {

class IBaseFilter;
class IFilterGraph;

// Property pages: the capture filter, stream configurations, crossbars and tuners can list
// pages shown in the platform's property frame. kNoInterface when the object has none.
class IPropertyPageHost {
public:
  virtual ~IPropertyPageHost() = default;
  virtual Status GetPages(PropertyPageList& pages) = 0;
};

// "FriendlyName" and "CLSID" are read as text (UTF-8). kFail / kInvalidArg when absent.
class IPropertyBag {
public:
  virtual ~IPropertyBag() = default;
  virtual Status Read(const std::string& name, std::string& value) = 0;
};

// A device of some category. The display name is a stable identity (kept in the settings and
// parsed back); equality compares identities, not pointers.
class IMoniker {
public:
  virtual ~IMoniker() = default;
  virtual std::string GetDisplayName() const = 0;
  // kOk when both name the same device, kFalse otherwise.
  virtual Status IsEqual(const IMoniker& other) const = 0;
  virtual Status BindToPropertyBag(std::shared_ptr<IPropertyBag>& bag) = 0;
  // A new filter for the device each call (video input: the capture filter; compressor
  // category: the compressor).
  virtual Status BindToFilter(std::shared_ptr<IBaseFilter>& filter) = 0;
};

class IPin;

struct PinInfo {
  std::shared_ptr<IBaseFilter> filter;  // owning filter
  PinDirection direction = PinDirection::Output;
  std::string name;
};

class IPin {
public:
  virtual ~IPin() = default;
  virtual PinDirection Direction() const = 0;
  virtual Status QueryPinInfo(PinInfo& info) = 0;
  // The pin this one is connected to; kNotConnected when none.
  virtual Status ConnectedTo(std::shared_ptr<IPin>& other) = 0;
  // The media type of the connection; kNotConnected when none.
  virtual Status ConnectionMediaType(MediaType& type) = 0;
  // Pin category of an output pin (guid::kPinCategoryCapture / kPinCategoryPreview), null
  // for others.
  virtual Guid Category() const = 0;
};

class IBaseFilter : public IPropertyPageHost {
public:
  // Pins in enumeration order (the first output pin is the one the preview connects).
  virtual std::vector<std::shared_ptr<IPin>> EnumPins() = 0;
  // Name given when added to a graph (empty when in no graph).
  virtual std::string Name() const = 0;
  // The graph the filter is in (null when none).
  virtual std::shared_ptr<IFilterGraph> Graph() const = 0;
};

// Finds the first pin of a direction (nullptr when none).
std::shared_ptr<IPin> FirstPin(IBaseFilter& filter, PinDirection direction);

class IMediaControl {
public:
  virtual ~IMediaControl() = default;
  virtual Status Run() = 0;
  virtual Status Pause() = 0;
  // A graph that was writing a file finishes it (index, header counts) before this returns.
  virtual Status Stop() = 0;
};

class IMediaEventEx {
public:
  virtual ~IMediaEventEx() = default;
  // `notify(message, instance)` runs on the UI thread whenever events are queued (also
  // for events already waiting). An empty function stops the notifications.
  using Notify = std::function<void(uint32_t message, intptr_t instance)>;
  virtual Status SetNotifyWindow(Notify notify, uint32_t message, intptr_t instance) = 0;
  // Takes the oldest event; timeout 0 = do not wait. kTimeout (failure) when none is queued.
  virtual Status GetEvent(GraphEvent& event, long timeoutMs) = 0;
  virtual Status FreeEventParams(GraphEvent& event) = 0;
};

class IVideoWindow {
public:
  virtual ~IVideoWindow() = default;
  virtual Status put_Owner(OwnerWindow owner) = 0;  // null: no owner, the window is hidden
  virtual Status put_WindowStyle(long style) = 0;
  virtual Status SetWindowPosition(int left, int top, int width, int height) = 0;
  virtual Status put_Visible(bool visible) = 0;
};

// Keeps a copy of the newest sample passing it (when buffering is on), handed out in the
// layout of the connected media type. The GStreamer backend always hands out 24-bit
// blue-green-red, rows bottom-up, each padded to 4 bytes (the DIB layout); the scripted
// backend hands out the device's own format, so tests can also meet compressed frames.
class ISampleGrabber {
public:
  virtual ~ISampleGrabber() = default;
  virtual std::shared_ptr<IBaseFilter> Filter() = 0;
  virtual Status SetBufferSamples(bool on) = 0;
  // Size of the current buffer in bytes; a failure when no sample has been kept yet.
  virtual Status GetCurrentBufferSize(int32_t& size) = 0;
  // Copies the current buffer; size in: bytes available, out: bytes copied.
  // kBufferTooSmall when it does not fit.
  virtual Status GetCurrentBuffer(int32_t& size, uint8_t* buffer) = 0;
  virtual Status GetConnectedMediaType(MediaType& type) = 0;
};

class IAMStreamConfig : public IPropertyPageHost {
public:
  virtual Status GetFormat(MediaType& type) = 0;
  virtual Status SetFormat(const MediaType& type) = 0;
  // `size` receives kStreamConfigCapsSize.
  virtual Status GetNumberOfCapabilities(int& count, int& size) = 0;
  virtual Status GetStreamCaps(int index, MediaType& type, VideoStreamConfigCaps& caps) = 0;
};

class IAMVideoCompression {
public:
  virtual ~IAMVideoCompression() = default;
  // Texts cut to at most maxChars - 1 characters (the caller's buffer sizes).
  virtual Status GetInfo(std::string& version, int versionMaxChars, std::string& description,
                         int descriptionMaxChars) = 0;
};

class IAMDroppedFrames {
public:
  virtual ~IAMDroppedFrames() = default;
  virtual Status GetNumDropped(long& dropped) = 0;
  virtual Status GetNumNotDropped(long& delivered) = 0;
  virtual Status GetAverageFrameSize(long& bytes) = 0;
};

// The capture driver's own dialogs (dialog::kFormat / kSource / kDisplay).
class IAMVfwCaptureDialogs {
public:
  virtual ~IAMVfwCaptureDialogs() = default;
  virtual Status HasDialog(int which) = 0;  // kOk when present, kFalse when not
  // kCannotConnect from the format dialog: the new format needs the graph rebuilt.
  virtual Status ShowDialog(int which, OwnerWindow owner) = 0;
};

class IAMCrossbar : public IPropertyPageHost {
public:
  // The crossbar's filter when it is one (null otherwise).
  virtual std::shared_ptr<IBaseFilter> AsFilter() = 0;
};

class IAMTVTuner : public IPropertyPageHost {};

class IConfigAviMux {
public:
  virtual ~IConfigAviMux() = default;
  virtual Status SetOutputCompatibilityIndex(bool on) = 0;
  virtual Status SetMasterStream(long stream) = 0;
};

class IFileSinkFilter {
public:
  virtual ~IFileSinkFilter() = default;
  virtual Status SetFileName(const std::string& path) = 0;
  virtual Status GetCurFile(std::string& path) = 0;
};

class IFilterGraph {
public:
  virtual ~IFilterGraph() = default;
  // Empty name: the graph makes one. A name already in use gets a suffix and kDuplicateName
  // (success); kDuplicateNameError when no unique name could be made.
  virtual Status AddFilter(const std::shared_ptr<IBaseFilter>& filter, const std::string& name) = 0;
  // Disconnects and removes; kWrongState while the graph is running or paused.
  virtual Status RemoveFilter(const std::shared_ptr<IBaseFilter>& filter) = 0;
  // Output pin to input pin, inserting converters when needed. kCannotConnect on failure.
  virtual Status Connect(const std::shared_ptr<IPin>& out, const std::shared_ptr<IPin>& in) = 0;
  // Renders an output pin to the default video renderer.
  virtual Status Render(const std::shared_ptr<IPin>& out) = 0;
  // Breaks one side of a connection (call it for both pins); kWrongState unless stopped.
  virtual Status Disconnect(const std::shared_ptr<IPin>& pin) = 0;
  virtual std::vector<std::shared_ptr<IBaseFilter>> EnumFilters() = 0;
  // The graph's control facilities; kNoInterface when absent (the video window exists only
  // when a renderer is in the graph).
  virtual Status QueryMediaControl(std::shared_ptr<IMediaControl>& control) = 0;
  virtual Status QueryMediaEvent(std::shared_ptr<IMediaEventEx>& events) = 0;
  virtual Status QueryVideoWindow(std::shared_ptr<IVideoWindow>& window) = 0;
};

// The capture graph builder. `category` / `type` may be null ("any"); `type` is a major type
// (kMediaTypeInterleaved, kMediaTypeVideo).
class ICaptureGraphBuilder2 {
public:
  virtual ~ICaptureGraphBuilder2() = default;
  virtual Status SetFiltergraph(const std::shared_ptr<IFilterGraph>& graph) = 0;
  virtual Status GetFiltergraph(std::shared_ptr<IFilterGraph>& graph) = 0;

  // Looks on the pin of `filter` with that category and type (or, without category, on the
  // filter and its neighbours; with kLookUpstreamOnly, upstream only). kNoInterface when
  // nothing offers it.
  virtual Status FindInterface(const Guid* category, const Guid* type,
                               const std::shared_ptr<IBaseFilter>& filter,
                               std::shared_ptr<IAMStreamConfig>& out) = 0;
  virtual Status FindInterface(const Guid* category, const Guid* type,
                               const std::shared_ptr<IBaseFilter>& filter,
                               std::shared_ptr<IAMVideoCompression>& out) = 0;
  virtual Status FindInterface(const Guid* category, const Guid* type,
                               const std::shared_ptr<IBaseFilter>& filter,
                               std::shared_ptr<IAMDroppedFrames>& out) = 0;
  virtual Status FindInterface(const Guid* category, const Guid* type,
                               const std::shared_ptr<IBaseFilter>& filter,
                               std::shared_ptr<IAMVfwCaptureDialogs>& out) = 0;
  virtual Status FindInterface(const Guid* category, const Guid* type,
                               const std::shared_ptr<IBaseFilter>& filter,
                               std::shared_ptr<IAMCrossbar>& out) = 0;
  virtual Status FindInterface(const Guid* category, const Guid* type,
                               const std::shared_ptr<IBaseFilter>& filter,
                               std::shared_ptr<IAMTVTuner>& out) = 0;
  // The AVI multiplexer's settings (ask the file writer from SetOutputFileName).
  virtual Status FindInterface(const Guid* category, const Guid* type,
                               const std::shared_ptr<IBaseFilter>& filter,
                               std::shared_ptr<IConfigAviMux>& out) = 0;

  // Renders the `category` pin of `source` through `intermediate` (may be null) into `sink`
  // (null: the default video renderer). kPreviewFromCapture for a preview render on a
  // device without a preview pin (the preview is then a copy of the capture stream).
  virtual Status RenderStream(const Guid* category, const Guid* type,
                              const std::shared_ptr<IBaseFilter>& source,
                              const std::shared_ptr<IBaseFilter>& intermediate,
                              const std::shared_ptr<IBaseFilter>& sink) = 0;
  // Adds the AVI multiplexer (`mux`, the "file writer") and the file writer to the graph;
  // `subtype` must be guid::kSubtypeAvi.
  virtual Status SetOutputFileName(const Guid& subtype, const std::string& path,
                                   std::shared_ptr<IBaseFilter>& mux,
                                   std::shared_ptr<IFileSinkFilter>& sink) = 0;
  // Start/stop times of a pin's stream (null start = now, kMaxTime = never; null stop = no
  // stop). kNoInterface when the graph cannot gate that stream.
  virtual Status ControlStream(const Guid* category, const Guid* type,
                               const std::shared_ptr<IBaseFilter>& filter, const int64_t* start,
                               const int64_t* stop, uint16_t startCookie, uint16_t stopCookie) = 0;
  // Reserves `bytes` for the capture file (creating it; an existing file keeps its data).
  virtual Status AllocCapFile(const std::string& path, uint64_t bytes) = 0;
};

// The older builder, used only to copy the capture file to its real length.
class ICaptureGraphBuilder {
public:
  virtual ~ICaptureGraphBuilder() = default;
  // Returns kOk when copied, kFalse (1) when Escape aborted it, a failure otherwise.
  // `escapePressed` is polled while copying when `allowEscAbort` (may be empty).
  virtual Status CopyCaptureFile(const std::string& oldPath, const std::string& newPath,
                                 bool allowEscAbort,
                                 const std::function<bool()>& escapePressed) = 0;
};

// The backend: creation of the top-level objects.
class IMediaPlatform {
public:
  virtual ~IMediaPlatform() = default;

  // The system device enumerator: kOk when devices can be listed at all; a failure when the
  // platform has no working way to look for devices (nothing to enumerate with), which is
  // not the same as having none.
  virtual Status CreateSystemDeviceEnum() = 0;
  // Monikers of a category in enumeration order. kOk with at least one; kFalse (1) when the
  // category is empty (callers treat anything but kOk as "no devices").
  virtual Status CreateClassEnumerator(const Guid& category,
                                       std::vector<std::shared_ptr<IMoniker>>& monikers) = 0;
  // Moniker from a display name (as GetDisplayName gave it). Failure when malformed; a
  // well-formed name of an absent device still yields a moniker that binds to nothing.
  virtual Status ParseDisplayName(const std::string& displayName,
                                  std::shared_ptr<IMoniker>& moniker) = 0;

  virtual Status CreateCaptureGraphBuilder2(std::shared_ptr<ICaptureGraphBuilder2>& builder) = 0;
  virtual Status CreateCaptureGraphBuilder(std::shared_ptr<ICaptureGraphBuilder>& builder) = 0;
  virtual Status CreateFilterGraph(std::shared_ptr<IFilterGraph>& graph) = 0;
  virtual Status CreateSampleGrabber(std::shared_ptr<ISampleGrabber>& grabber) = 0;

  // The property frame over one object's pages (modal), at (x, y) of the owner. `caption`
  // may be empty (the object's name is used). kOk after OK, kFalse after Cancel (changes
  // made while it was open are then undone), kNotImplemented for pages it cannot show.
  virtual Status ShowPropertyFrame(OwnerWindow owner, int x, int y, const std::string& caption,
                                   IPropertyPageHost& object, const PropertyPageList& pages) = 0;

  // Called on the UI thread when a video device arrives or goes away (empty: none).
  virtual void SetDeviceChangeCallback(std::function<void()> callback) = 0;

  // Milliseconds of the system clock (wraps like a 32-bit tick count). The capture code
  // takes its start/stop times from here so tests can drive the clock.
  virtual uint32_t TickCountMs() = 0;
};

// The platform the program uses: the test platform when one is installed, otherwise the
// GStreamer backend (created on first use, kept until exit).
IMediaPlatform& MediaPlatform();

// Test hook: installs `platform` for MediaPlatform() until reset (nullptr restores the
// default). Only tests call this.
void SetMediaPlatformForTesting(std::shared_ptr<IMediaPlatform> platform);

}  // namespace media
