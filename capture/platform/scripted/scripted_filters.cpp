#include "capture/platform/scripted/scripted_filters.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <cstdio>

#include "capture/platform/scripted/scripted_graph.h"

namespace media::scripted {

std::string Hex(Status s) {
  char text[16];
  std::snprintf(text, sizeof text, "%08x", unsigned(s));
  return text;
}

void Post(std::function<void()> fn) {
  if (auto* app = QCoreApplication::instance())
    QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
  else
    fn();
}

std::vector<uint8_t> SyntheticFrame(const MediaType& type, uint64_t frameNumber) {
  if (!type.IsVideoInfo()) return std::vector<uint8_t>(1024, uint8_t(frameNumber));
  const auto& b = type.videoInfo->bmiHeader;
  uint32_t bytes = b.biSizeImage ? b.biSizeImage : DibImageBytes(b.biWidth, b.biHeight, b.biBitCount);
  std::vector<uint8_t> frame(bytes);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = uint8_t((i * 7 + frameNumber * 13) & 0xFF);
  return frame;
}

std::shared_ptr<IBaseFilter> SGrabber::Filter() { return filter_; }
Status SGrabber::SetBufferSamples(bool on) {
  impl_->Log(std::string("Grabber.SetBufferSamples ") + (on ? "1" : "0"));
  filter_->buffering = on;
  return status::kOk;
}
Status SGrabber::GetCurrentBufferSize(int32_t& size) {
  if (!filter_->hasFrame) return status::kWrongState;
  size = int32_t(filter_->frame.size());
  return status::kOk;
}
Status SGrabber::GetCurrentBuffer(int32_t& size, uint8_t* buffer) {
  if (!filter_->hasFrame) return status::kWrongState;
  if (!buffer) return status::kPointer;
  if (size < int32_t(filter_->frame.size())) return status::kBufferTooSmall;
  std::copy(filter_->frame.begin(), filter_->frame.end(), buffer);
  size = int32_t(filter_->frame.size());
  return status::kOk;
}
Status SGrabber::GetConnectedMediaType(MediaType& type) {
  auto in = filter_->PinNamed("In");
  return in->ConnectionMediaType(type);
}


}  // namespace media::scripted
