// The stream format page: colour space, output size and frame rate of a device, from the
// capabilities its stream configuration lists. OK asks the configuration for the chosen
// format; what the device refuses leaves the old format in place and the page open.
#include <QComboBox>
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QSignalBlocker>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "capture/platform/gst/format_map.h"
#include "capture/platform/gst/gst_pages.h"

namespace media::gstpages {
namespace {

struct Choice {
  MediaType type;
  QString space;
  int32_t width = 0, height = 0;
  int64_t minInterval = 0, maxInterval = 0;
};

// "RGB24" for uncompressed formats, else the four characters of the code ("YUY2", "MJPG").
QString SpaceText(const MediaType& type) {
  const BitmapInfoHeader& b = type.videoInfo->bmiHeader;
  if (b.biCompression == 0) return QStringLiteral("RGB%1").arg(b.biBitCount);
  const uint32_t c = b.biCompression;
  const char text[4] = {char(c & 0xFF), char((c >> 8) & 0xFF), char((c >> 16) & 0xFF), char(c >> 24)};
  return QString::fromLatin1(text, 4);
}

QString RateText(int64_t interval) {
  const double fps = 10000000.0 / double(interval);
  return QStringLiteral("%1 fps").arg(fps, 0, 'f', std::abs(fps - std::round(fps)) < 0.01 ? 0 : 2);
}

class FormatPage : public QDialog {
public:
  FormatPage(QWidget* owner, IAMStreamConfig& config, std::vector<Choice> choices)
      : QDialog(owner), config_(config), choices_(std::move(choices)) {
    setObjectName("StreamFormatPage");
    auto* form = new QFormLayout(this);
    spaces_ = AddList(form, "ColorSpace", tr("Color space:"));
    sizes_ = AddList(form, "OutputSize", tr("Output size:"));
    rates_ = AddList(form, "FrameRate", tr("Frame rate:"));
    status_ = new QLabel(this);
    form->addRow(status_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    form->addRow(buttons);

    MediaType now;
    const bool known = Succeeded(config_.GetFormat(now)) && now.IsVideoInfo();
    for (const Choice& c : choices_)
      if (spaces_->findText(c.space) < 0) spaces_->addItem(c.space);
    if (known) spaces_->setCurrentIndex(std::max(0, spaces_->findText(SpaceText(now))));
    FillSizes(known ? &now : nullptr);
    connect(spaces_, &QComboBox::currentIndexChanged, this, [this] { FillSizes(nullptr); });
    connect(sizes_, &QComboBox::currentIndexChanged, this, [this] { FillRates(nullptr); });
  }

  void accept() override {
    const int i = sizes_->currentData().toInt();
    if (sizes_->currentIndex() < 0 || i < 0 || size_t(i) >= choices_.size()) return;
    MediaType type = choices_[size_t(i)].type;
    if (rates_->currentIndex() >= 0) type.videoInfo->AvgTimePerFrame = rates_->currentData().toLongLong();
    if (Failed(config_.SetFormat(type))) {
      status_->setText(tr("The device does not accept this format."));
      return;
    }
    QDialog::accept();
  }

private:
  QComboBox* AddList(QFormLayout* form, const char* name, const QString& label) {
    auto* list = new QComboBox(this);
    list->setObjectName(name);
    list->setAccessibleName(QString(label).remove(':'));
    auto* caption = new QLabel(label, this);
    caption->setBuddy(list);  // read with the list, which a screen reader names by its value
    form->addRow(caption, list);
    return list;
  }
  void FillSizes(const MediaType* now) {
    QSignalBlocker block(sizes_);
    sizes_->clear();
    for (size_t i = 0; i < choices_.size(); ++i) {
      const Choice& c = choices_[i];
      if (c.space != spaces_->currentText()) continue;
      sizes_->addItem(QStringLiteral("%1 x %2").arg(c.width).arg(c.height), int(i));
      const BitmapInfoHeader* b = now ? &now->videoInfo->bmiHeader : nullptr;
      if (b && b->biWidth == c.width && std::abs(b->biHeight) == c.height)
        sizes_->setCurrentIndex(sizes_->count() - 1);
    }
    FillRates(now);
  }
  void FillRates(const MediaType* now) {
    rates_->clear();
    const int i = sizes_->currentData().toInt();
    if (sizes_->currentIndex() < 0 || i < 0 || size_t(i) >= choices_.size()) return;
    const Choice& c = choices_[size_t(i)];
    int64_t closest = INT64_MAX;
    for (int64_t interval : gstmap::OfferedIntervals(c.minInterval, c.maxInterval)) {
      rates_->addItem(RateText(interval), qlonglong(interval));
      const int64_t off = now ? std::abs(interval - now->videoInfo->AvgTimePerFrame) : 0;
      if (now && off < closest) {
        closest = off;
        rates_->setCurrentIndex(rates_->count() - 1);
      }
    }
  }

  IAMStreamConfig& config_;
  std::vector<Choice> choices_;
  QComboBox* spaces_ = nullptr;
  QComboBox* sizes_ = nullptr;
  QComboBox* rates_ = nullptr;
  QLabel* status_ = nullptr;
};

}  // namespace

Status ShowStreamFormat(QWidget* owner, int x, int y, const std::string& caption,
                        IAMStreamConfig& config) {
  int count = 0, size = 0;
  if (Failed(config.GetNumberOfCapabilities(count, size))) return status::kFail;
  std::vector<Choice> choices;
  for (int i = 0; i < count; ++i) {
    Choice c;
    VideoStreamConfigCaps caps;
    if (Failed(config.GetStreamCaps(i, c.type, caps)) || !c.type.IsVideoInfo()) continue;
    c.space = SpaceText(c.type);
    c.width = c.type.videoInfo->bmiHeader.biWidth;
    c.height = std::abs(c.type.videoInfo->bmiHeader.biHeight);
    c.minInterval = caps.minFrameInterval;
    c.maxInterval = caps.maxFrameInterval;
    choices.push_back(std::move(c));
  }
  FormatPage page(owner, config, std::move(choices));
  page.setWindowTitle(QCoreApplication::translate("media::gstpages", caption.c_str()));
  page.move(owner ? owner->mapToGlobal(QPoint(x, y)) : QPoint(x, y));
  return page.exec() == QDialog::Accepted ? status::kOk : status::kFalse;
}

}  // namespace media::gstpages
