// Devices and compressors: property bags, monikers and the platform that lists them.
#pragma once

#include "capture/platform/gst/gst_filter.h"

namespace media::gst {

using namespace gsth;

class GBag : public IPropertyBag {
public:
  GBag(std::string friendly, std::string clsid) : friendly_(std::move(friendly)), clsid_(std::move(clsid)) {}
  Status Read(const std::string& name, std::string& value) override {
    if (name == "FriendlyName" && !friendly_.empty()) value = friendly_;
    else if (name == "CLSID" && !clsid_.empty()) value = clsid_;
    else return status::kInvalidArg;
    return status::kOk;
  }

private:
  std::string friendly_, clsid_;
};

// The class identifier the capture code reads from a device's property bag.
constexpr char kCaptureFilterClsid[] = "{17CCA71B-ECD7-11D0-B908-00A0C9223196}";
constexpr char kEncoderPrefix[] = "@device:gst:encoder:";

class GPlatform;

struct DeviceEntry {
  std::string displayName;
  std::string friendlyName;
  Ref<GstDevice> device;
};
// Encoders whose output the AVI muxer takes: {factory name, long name}.
using EncoderList = std::vector<std::pair<std::string, std::string>>;

// What one enumeration found; its monikers share it, so binding them reads nothing again.
struct Catalog {
  std::vector<DeviceEntry> devices;
  EncoderList encoders;
};

class GMoniker : public IMoniker {
public:
  GMoniker(GPlatform* platform, std::string displayName, std::shared_ptr<const Catalog> catalog = nullptr)
      : platform_(platform), name_(std::move(displayName)), catalog_(std::move(catalog)) {}
  std::string GetDisplayName() const override { return name_; }
  Status IsEqual(const IMoniker& other) const override {
    return other.GetDisplayName() == name_ ? status::kOk : status::kFalse;
  }
  Status BindToPropertyBag(std::shared_ptr<IPropertyBag>& bag) override;
  Status BindToFilter(std::shared_ptr<IBaseFilter>& filter) override;

private:
  // The enumeration's catalog, or (a moniker parsed from a name) what is there now.
  std::shared_ptr<const Catalog> Lookup(bool encoders);
  GPlatform* platform_;
  std::string name_;
  std::shared_ptr<const Catalog> catalog_;
};

}  // namespace media::gst
