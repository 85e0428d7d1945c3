// The "Video Crossbar" and "TV Tuner" pages: a list of the device's inputs or norms with the
// current one selected. OK switches the device; what it refuses is named on the page, which
// stays open with the device's own choice selected again.
#include <QCoreApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLabel>
#include <QListWidget>
#include <QVBoxLayout>

#include <cstring>
#include <functional>
#include <utility>
#include <vector>

#include "capture/platform/gst/gst_pages.h"

namespace media::gstpages {
namespace {

struct ChoiceList {
  QStringList texts;
  // The row the device uses now (-1: unknown), read again after a refusal.
  std::function<int()> current;
  // Switches the device to a row: 0 or an errno.
  std::function<int(int)> choose;
  QString refusal;  // "%1": the choice, "%2": the reason
};

class ChoicePage : public QDialog {
public:
  ChoicePage(QWidget* owner, const char* name, const QString& label, ChoiceList choices)
      : QDialog(owner), choices_(std::move(choices)) {
    setObjectName(name);
    auto* layout = new QVBoxLayout(this);
    auto* caption = new QLabel(label, this);
    layout->addWidget(caption);
    list_ = new QListWidget(this);
    list_->setObjectName("Choices");
    list_->setAccessibleName(QString(label).remove(':'));
    caption->setBuddy(list_);
    list_->addItems(choices_.texts);
    list_->setCurrentRow(choices_.current());
    layout->addWidget(list_);
    status_ = new QLabel(this);
    status_->setObjectName("Status");
    status_->setWordWrap(true);
    layout->addWidget(status_);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(list_, &QListWidget::itemActivated, this, &QDialog::accept);
    layout->addWidget(buttons);
  }

  void accept() override {
    const int row = list_->currentRow();
    if (row >= 0 && row != choices_.current()) {
      if (const int error = choices_.choose(row)) {
        status_->setText(choices_.refusal.arg(choices_.texts[row], QString::fromLocal8Bit(std::strerror(error))));
        list_->setCurrentRow(choices_.current());
        return;
      }
    }
    QDialog::accept();
  }

private:
  ChoiceList choices_;
  QListWidget* list_ = nullptr;
  QLabel* status_ = nullptr;
};

Status Show(QWidget* owner, int x, int y, const std::string& caption, const char* name,
            const QString& label, ChoiceList choices) {
  ChoicePage page(owner, name, label, std::move(choices));
  page.setWindowTitle(QCoreApplication::translate("media::gstpages", caption.c_str()));
  page.move(owner ? owner->mapToGlobal(QPoint(x, y)) : QPoint(x, y));
  return page.exec() == QDialog::Accepted ? status::kOk : status::kFalse;
}

}  // namespace

Status ShowCrossbar(QWidget* owner, int x, int y, const std::string& caption, v4l2::CV4L2Inputs& inputs) {
  const std::vector<v4l2::Input> all = inputs.Inputs();
  if (all.empty()) return status::kFail;
  ChoiceList choices;
  for (const v4l2::Input& in : all) choices.texts << QString::fromStdString(in.name);
  choices.current = [&inputs, all] {
    uint32_t index = 0;
    if (inputs.CurrentInput(index) != 0) return -1;
    for (size_t i = 0; i < all.size(); ++i)
      if (all[i].index == index) return int(i);
    return -1;
  };
  choices.choose = [&inputs, all](int row) { return inputs.SetInput(all[size_t(row)].index); };
  choices.refusal = QObject::tr("The device did not switch to %1: %2.");
  return Show(owner, x, y, caption, "CrossbarPage", QObject::tr("Video input:"), std::move(choices));
}

Status ShowTuner(QWidget* owner, int x, int y, const std::string& caption, v4l2::CV4L2Inputs& inputs) {
  const std::vector<v4l2::Standard> all = inputs.Standards();
  ChoiceList choices;
  for (const v4l2::Standard& s : all) choices.texts << QString::fromStdString(s.name);
  choices.current = [&inputs, all] {
    uint64_t id = 0;
    return inputs.CurrentStandard(id) == 0 ? v4l2::StandardIndex(all, id) : -1;
  };
  choices.choose = [&inputs, all](int row) { return inputs.SetStandard(all[size_t(row)].id); };
  choices.refusal = QObject::tr("The device did not take the %1 norm: %2.");
  return Show(owner, x, y, caption, "TunerPage", QObject::tr("TV norm:"), std::move(choices));
}

}  // namespace media::gstpages
