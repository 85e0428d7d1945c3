#include "capture/platform/gst/gst_pages.h"

#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QSlider>
#include <QString>

#include <vector>

namespace media::gstpages {

bool ShowColorBalance(QWidget* owner, int x, int y, const std::string& caption,
                      GstColorBalance* balance) {
  QDialog dialog(owner);
  dialog.setWindowTitle(QString::fromStdString(caption));
  dialog.setObjectName("ColorBalancePage");
  auto* form = new QFormLayout(&dialog);
  struct Saved {
    GstColorBalanceChannel* channel;
    int value;
  };
  std::vector<Saved> saved;
  for (const GList* l = gst_color_balance_list_channels(balance); l; l = l->next) {
    auto* channel = GST_COLOR_BALANCE_CHANNEL(l->data);
    const int value = gst_color_balance_get_value(balance, channel);
    saved.push_back({channel, value});
    auto* slider = new QSlider(Qt::Horizontal, &dialog);
    slider->setObjectName(QString::fromUtf8(channel->label));
    slider->setRange(channel->min_value, channel->max_value);
    slider->setValue(value);
    QObject::connect(slider, &QSlider::valueChanged, &dialog, [balance, channel](int v) {
      gst_color_balance_set_value(balance, channel, v);
    });
    // Labels come upper-case from most drivers ("BRIGHTNESS"): show them as words.
    QString label = QString::fromUtf8(channel->label).toLower();
    if (!label.isEmpty()) label[0] = label[0].toUpper();
    form->addRow(new QLabel(label, &dialog), slider);
  }
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  form->addRow(buttons);
  dialog.move(owner ? owner->mapToGlobal(QPoint(x, y)) : QPoint(x, y));
  const bool ok = dialog.exec() == QDialog::Accepted;
  if (!ok)
    for (const Saved& s : saved) gst_color_balance_set_value(balance, s.channel, s.value);
  return ok;
}

}  // namespace media::gstpages
