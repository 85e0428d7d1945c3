#include "capture/dialogs/video_source_dlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <QVBoxLayout>
#include <algorithm>
#include <climits>
#include <cstring>

using v4l2::Control;

namespace {

int ToInt(int64_t v) { return int(std::clamp<int64_t>(v, INT_MIN, INT_MAX)); }

}  // namespace

CVideoSourceDlg::CVideoSourceDlg(v4l2::CV4L2Controls& controls, QWidget* parent)
    : QDialog(parent), m_controls(controls) {
  setObjectName(QStringLiteral("VideoSourceDlg"));
  setWindowTitle(tr("Video Source"));
  auto* layout = new QVBoxLayout(this);
  auto* form = new QFormLayout;
  layout->addLayout(form);
  for (Control& c : m_controls.Enumerate()) {
    Row row;
    row.control = std::move(c);
    int32_t value = 0;
    if (!row.control.ReadOnly() && row.control.kind != Control::Kind::Button &&
        m_controls.Get(row.control.id, value) == 0)
      m_atOpen.emplace_back(row.control.id, value);
    m_rows.push_back(std::move(row));
  }
  for (size_t i = 0; i < m_rows.size(); ++i) {
    Row& row = m_rows[i];
    QWidget* field = MakeWidget(row);
    row.label = new QLabel(QString::fromStdString(row.control.name), this);
    row.label->setBuddy(row.widget);
    form->addRow(row.label, field);
  }
  m_note = new QLabel(this);
  m_note->setObjectName(QStringLiteral("note"));
  m_note->setWordWrap(true);
  layout->addWidget(m_note);
  auto* buttons =
      new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
  m_defaultButton = buttons->addButton(tr("&Default"), QDialogButtonBox::ResetRole);
  m_defaultButton->setAccessibleName(tr("Default"));
  connect(m_defaultButton, &QPushButton::clicked, this, &CVideoSourceDlg::RestoreDefaults);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &CVideoSourceDlg::reject);
  layout->addWidget(buttons);
  Refresh();
}

QWidget* CVideoSourceDlg::MakeWidget(Row& row) {
  const Control& c = row.control;
  const QString name = QString::fromStdString(c.name);
  const size_t index = size_t(&row - m_rows.data());
  QWidget* field = nullptr;
  switch (c.kind) {
    case Control::Kind::Integer: {
      auto* slider = new QSlider(Qt::Horizontal, this);
      slider->setRange(ToInt(c.minimum), ToInt(c.maximum));
      slider->setSingleStep(std::max(1, ToInt(c.step)));
      slider->setPageStep(std::max(ToInt(c.step), ToInt((c.maximum - c.minimum) / 10)));
      row.valueText = new QLabel(this);
      row.valueText->setMinimumWidth(row.valueText->fontMetrics().horizontalAdvance("-00000"));
      connect(slider, &QSlider::valueChanged, this, [this, index](int v) { Change(index, v); });
      auto* box = new QWidget(this);
      auto* h = new QHBoxLayout(box);
      h->setContentsMargins(0, 0, 0, 0);
      h->addWidget(slider, 1);
      h->addWidget(row.valueText);
      row.widget = slider;
      field = box;
      break;
    }
    case Control::Kind::Boolean: {
      auto* check = new QCheckBox(this);
      connect(check, &QCheckBox::toggled, this, [this, index](bool on) { Change(index, on); });
      row.widget = field = check;
      break;
    }
    case Control::Kind::Menu:
    case Control::Kind::IntegerMenu: {
      auto* list = new QComboBox(this);
      for (const auto& [item, text] : c.menu)
        list->addItem(QString::fromStdString(text), QVariant::fromValue<qlonglong>(item));
      connect(list, &QComboBox::activated, this, [this, index, list](int i) {
        Change(index, int32_t(list->itemData(i).toLongLong()));
      });
      row.widget = field = list;
      break;
    }
    case Control::Kind::Button: {
      auto* button = new QPushButton(name, this);
      connect(button, &QPushButton::clicked, this, [this, index] { Change(index, 1); });
      row.widget = field = button;
      break;
    }
  }
  row.widget->setObjectName(name);
  row.widget->setAccessibleName(name);
  return field;
}

QWidget* CVideoSourceDlg::ControlWidget(uint32_t id) const {
  for (const Row& row : m_rows)
    if (row.control.id == id) return row.widget;
  return nullptr;
}

QString CVideoSourceDlg::Note() const { return m_note->text(); }

void CVideoSourceDlg::Change(size_t index, int32_t value) {
  const Control& c = m_rows[index].control;
  const int error = m_controls.Set(c.id, value);
  if (error != 0)
    m_note->setText(tr("%1: the camera did not take %2 (%3).")
                        .arg(QString::fromStdString(c.name))
                        .arg(value)
                        .arg(QString::fromLocal8Bit(std::strerror(error))));
  else
    m_note->clear();
  // The camera may have rounded the value, refused it, or switched other controls in or
  // out of their automatic modes.
  Refresh();
}

void CVideoSourceDlg::Refresh() {
  for (Row& row : m_rows) {
    Control now;
    int32_t value = 0;
    const bool present = m_controls.Query(row.control.id, now) == 0;
    if (present) row.control.flags = now.flags;
    const bool readable =
        row.control.kind == Control::Kind::Button || m_controls.Get(row.control.id, value) == 0;
    const bool usable = present && readable && !row.control.ReadOnly() && !row.control.Inactive();
    row.widget->setEnabled(usable);
    row.label->setEnabled(usable);
    if (row.valueText) row.valueText->setEnabled(usable);
    if (!present || !readable) continue;
    const QSignalBlocker block(row.widget);
    if (auto* slider = qobject_cast<QSlider*>(row.widget)) {
      slider->setValue(value);
      row.valueText->setText(QString::number(value));
    } else if (auto* check = qobject_cast<QCheckBox*>(row.widget)) {
      check->setChecked(value != 0);
    } else if (auto* list = qobject_cast<QComboBox*>(row.widget)) {
      list->setCurrentIndex(list->findData(QVariant::fromValue<qlonglong>(value)));
    }
  }
}

void CVideoSourceDlg::RestoreDefaults() {
  // In the camera's order, so an automatic mode is back before the values it governs, which
  // are then left to it.
  for (Row& row : m_rows) {
    Control now;
    if (row.control.kind == Control::Kind::Button || m_controls.Query(row.control.id, now) != 0 ||
        now.ReadOnly() || now.Inactive())
      continue;
    m_controls.Set(row.control.id, int32_t(row.control.defaultValue));
  }
  m_note->clear();
  Refresh();
}

void CVideoSourceDlg::reject() {
  for (const auto& [id, value] : m_atOpen) m_controls.Set(id, value);
  QDialog::reject();
}
