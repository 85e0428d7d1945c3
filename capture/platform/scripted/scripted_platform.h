// The scripted media platform: a deterministic, in-process test double of the whole media
// platform, configured by data. Test-only (target capture_platform_scripted).
//
// Tests describe devices, compressors and failure switches in ScriptedSettings, install the
// platform with ScopedScriptedPlatform, drive the capture code, then read what happened from
// the call log and the platform's observable state. Nothing streams on its own: frames and
// events are produced when the test asks (DeliverFrames, InjectEvent, LoseDevice), and the
// clock moves only with AdvanceClock. Notifications still arrive on the UI thread through
// queued calls when a QCoreApplication exists (so the notify path is the real one); without
// one they are called at once.
//
// Call log: one line per operation, "Object.Operation argument":
//   Graph.AddFilter <asked name, or the filter's own>   Graph.RemoveFilter <name in graph>
//   Graph.Connect <filter>:<pin>-><filter>:<pin>         Graph.Render <filter>:<pin>
//   Graph.Disconnect <filter>:<pin>                      Graph.QueryMediaControl / ...Event / ...VideoWindow
//   MediaControl.Run / .Pause / .Stop                   MediaEvent.SetNotifyWindow on|off
//   Builder.RenderStream capture|preview|any vids|iavs|any
//   Builder.SetOutputFileName <path>                     Builder.ControlStream capture start=max|now stop=none|max
//   Builder.AllocCapFile <path> <bytes>                  Builder.CopyCaptureFile <from> <to>
//   VideoWindow.Owner 0|1   VideoWindow.Style <hex>   VideoWindow.Position x,y wxh   VideoWindow.Visible 0|1
//   Grabber.SetBufferSamples 0|1   StreamConfig.GetFormat   StreamConfig.SetFormat <w>x<h> <interval>
//   AviMux.SetOutputCompatibilityIndex 0|1   FileSink.SetFileName <path>
//   Moniker.BindToFilter <friendly name>   Dialog.Show <friendly name> <which>
//   PropertyFrame <filter name|StreamConfig|Crossbar|TVTuner> <pages> at x,y
//   Platform.CreateSystemDeviceEnum / .CreateClassEnumerator / .CreateFilterGraph / .CreateSampleGrabber /
//   .CreateCaptureGraphBuilder2 / .CreateCaptureGraphBuilder
//   Inject <code hex>   LoseDevice <friendly name>          (test controls)
//
// Failure switches: `fail["Object.Operation"] = status` makes every call of that operation
// answer the status (after logging it); the names are those of the call log.
//
// Filters take these names when added without one: the device's friendly name, "Video
// Renderer", "AVI Mux", "Smart Tee" (inserted for a preview render on a device without a
// preview pin), the compressor's friendly name; the file writer is added under its path.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "capture/platform/media_platform.h"

namespace media {

struct ScriptedCapability {
  Guid subtype = guid::kSubtypeRGB24;
  int32_t width = 320;
  int32_t height = 240;
  uint16_t bitCount = 24;
  uint32_t compression = 0;  // 0 for RGB, else the four-character code
  int64_t avgTimePerFrame = 333333;
};

struct ScriptedDevice {
  std::string displayName;   // identity, e.g. "@device:scripted:camera-a"
  std::string friendlyName;  // empty: the property bag has no "FriendlyName"
  std::string clsid = "{17CCA71B-ECD7-11D0-B908-00A0C9223196}";
  Status bindStatus = status::kOk;  // failure: BindToFilter answers it
  bool hasPreviewPin = false;       // false: preview renders answer kPreviewFromCapture
  bool hasInterleavedPin = false;   // DV-style "iavs" capture pin
  bool inUse = false;               // connecting its capture pin fails (kCannotConnect)
  int driverDialogs = 0;            // mask of dialog::kSource | kFormat | kDisplay
  Status formatDialogResult = status::kOk;  // what ShowDialog(kFormat) answers
  // Compression information on the capture pin (none when both are empty and !hasCompression).
  bool hasCompression = false;
  std::string compressionVersion;
  std::string compressionDescription;
  // Property pages (0 = none) of: the filter, the capture pin's and the preview pin's
  // stream configuration, the crossbar and the tuner (absent when 0 / false).
  int filterPages = 0;
  int capturePinPages = 0;
  int previewPinPages = 0;
  bool hasCrossbar = false;
  int crossbarPages = 0;
  bool hasTuner = false;
  int tunerPages = 0;
  bool hasStreamConfig = true;
  bool hasDroppedFrames = true;
  std::vector<ScriptedCapability> capabilities{ScriptedCapability{}};
  int currentCapability = 0;  // the format in force at start
  // Frame counters: every DeliverFrames call adds frames; every `dropEvery`-th is dropped.
  int dropEvery = 0;
  long averageFrameSize = 0;  // 0: the format's image size
};

struct ScriptedCompressor {
  std::string displayName;
  std::string friendlyName;
  Status bindStatus = status::kOk;
};

struct ScriptedSettings {
  std::vector<ScriptedDevice> devices;
  std::vector<ScriptedCompressor> compressors;
  std::map<std::string, Status> fail;
  uint32_t startTimeMs = 1000;
  // Answer of the property frame and of driver dialogs (they never block).
  Status propertyFrameResult = status::kOk;
};

// A device with a preview pin and one without, both plain RGB24 320x240.
ScriptedSettings TwoCameraSettings();
// A device that is listed with its name but cannot be opened (BindToFilter answers `why`).
ScriptedDevice FailingDevice(const std::string& friendlyName, Status why = status::kDeviceInUse);

class ScriptedPlatform : public IMediaPlatform {
public:
  explicit ScriptedPlatform(ScriptedSettings settings);
  ~ScriptedPlatform() override;

  // --- IMediaPlatform
  Status CreateSystemDeviceEnum() override;
  Status CreateClassEnumerator(const Guid& category,
                               std::vector<std::shared_ptr<IMoniker>>& monikers) override;
  Status ParseDisplayName(const std::string& displayName,
                          std::shared_ptr<IMoniker>& moniker) override;
  Status CreateCaptureGraphBuilder2(std::shared_ptr<ICaptureGraphBuilder2>& builder) override;
  Status CreateCaptureGraphBuilder(std::shared_ptr<ICaptureGraphBuilder>& builder) override;
  Status CreateFilterGraph(std::shared_ptr<IFilterGraph>& graph) override;
  Status CreateSampleGrabber(std::shared_ptr<ISampleGrabber>& grabber) override;
  Status ShowPropertyFrame(OwnerWindow owner, int x, int y, const std::string& caption,
                           IPropertyPageHost& object, const PropertyPageList& pages) override;
  void SetDeviceChangeCallback(std::function<void()> callback) override;
  uint32_t TickCountMs() override;

  // --- test controls
  ScriptedSettings& Settings();  // changes apply to later calls
  void AdvanceClock(uint32_t ms);
  // Streams `count` frames through every running graph: grabbers keep the last one (a
  // deterministic pattern that depends on the frame number), counters count them.
  void DeliverFrames(int count);
  // Queues an event on every graph whose event queue exists (as the streaming thread would).
  void InjectEvent(long code, intptr_t param1, intptr_t param2,
                   std::shared_ptr<IBaseFilter> filter = nullptr);
  // The device (by settings index) disappears: queues kDeviceLost(filter, 0) on the graphs
  // holding its filters, removes it from later enumerations and fires the device change.
  void LoseDevice(size_t index);
  void FireDeviceChange();

  // Observable state.
  const std::vector<std::string>& CallLog() const;
  void ClearCallLog();
  struct VideoWindowState {
    OwnerWindow owner;
    long style = 0;
    int left = 0, top = 0, width = 0, height = 0;
    bool visible = false;
  };
  // The video window of the newest graph that has one (default state when none).
  VideoWindowState LastVideoWindow() const;
  // Whether any graph is running / paused now.
  bool AnyGraphRunning() const;
  // Filters currently in the newest graph, by name.
  std::vector<std::string> FiltersInGraph() const;

  struct Impl;

private:
  std::shared_ptr<Impl> impl_;
};

// Installs a scripted platform as MediaPlatform() for the scope.
class ScopedScriptedPlatform {
public:
  explicit ScopedScriptedPlatform(ScriptedSettings settings);
  ~ScopedScriptedPlatform();
  ScriptedPlatform& operator*() { return *platform_; }
  ScriptedPlatform* operator->() { return platform_.get(); }
  std::shared_ptr<ScriptedPlatform> Get() { return platform_; }

private:
  std::shared_ptr<ScriptedPlatform> platform_;
};

}  // namespace media
