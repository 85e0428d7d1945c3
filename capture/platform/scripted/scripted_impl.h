// Internal state of the scripted platform shared by its files: settings, clock, call log,
// graphs, lost devices.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "capture/platform/graph_model.h"
#include "capture/platform/scripted/scripted_platform.h"

namespace media::scripted {

using model::FilterKind;
using model::GraphState;

class SFilter;
class SGraph;

std::string Hex(Status s);
// Runs `fn` on the UI thread later when an event loop exists, at once otherwise.
void Post(std::function<void()> fn);
// A deterministic frame: every byte depends on its position and the frame number.
std::vector<uint8_t> SyntheticFrame(const MediaType& type, uint64_t frameNumber);

}  // namespace media::scripted

namespace media {

struct ScriptedPlatform::Impl : std::enable_shared_from_this<ScriptedPlatform::Impl> {
  ScriptedSettings settings;
  uint32_t clockMs = 0;
  std::vector<std::string> log;
  std::function<void()> deviceChange;
  std::vector<std::weak_ptr<scripted::SGraph>> graphs;
  std::vector<bool> lost;
  uint64_t frameNumber = 0;

  void Log(std::string line) { log.push_back(std::move(line)); }
  // The failure switch of an operation (kOk when none). Logs the call either way.
  Status Check(const std::string& op, const std::string& arg = {}) {
    Log(arg.empty() ? op : op + " " + arg);
    auto it = settings.fail.find(op);
    return it == settings.fail.end() ? status::kOk : it->second;
  }
  bool DeviceLost(size_t index) const { return index < lost.size() && lost[index]; }
  const ScriptedDevice* Device(size_t index) const {
    return index < settings.devices.size() ? &settings.devices[index] : nullptr;
  }
};

}  // namespace media
