#include "capture/dialogs/compressor_dlg.h"

#include <QListWidget>
#include <QPushButton>
#include <QScrollBar>
#include <algorithm>
#include <QMessageBox>
#include <string>

#include "ui/dialog_template.h"
#include "ui/skin_engine.h"
#include "capture/device_category.h"
#include "capture/dialogs/dialog_runner.h"
#include "resources/resources.h"

namespace {
constexpr int kNameChars = 80;
// Room a title bar takes beside the caption: the window's icon, its buttons and margins.
constexpr int kTitleBarExtras = 160;
}  // namespace

CCompressorDlg::CCompressorDlg(media::IMediaPlatform& platform, const QString& current,
                               QWidget* parent)
    : QDialog(parent) {
  const res::DialogTemplate* t =
      res::FindDialog(res::PickResource(res::kCompressorDlgChinese, res::kCompressorDlgEnglish));
  if (t) BuildDialogFromTemplate(*this, *t);
  m_list = qobject_cast<QListWidget*>(DialogItem(*this, res::kIdcCompressorList));
  // The list has no caption of its own: the dialog's names it.
  if (m_list) m_list->setAccessibleName(windowTitle());
  std::string name;
  for (int i = 0; EnumDeviceCategory(platform, &media::guid::kVideoCompressorCategory, i, &name,
                                     kNameChars, nullptr) != -1;
       ++i) {
    if (m_list) {
      // The list sorts itself; each entry keeps where the enumeration had it.
      auto* item = new QListWidgetItem(QString::fromLocal8Bit(name.c_str()));
      item->setData(Qt::UserRole, i);
      m_list->addItem(item);
    }
    m_count = i + 1;
  }
  if (m_list) {
    const QList<QListWidgetItem*> found = m_list->findItems(current, Qt::MatchExactly);
    if (!current.isEmpty() && !found.isEmpty()) m_list->setCurrentItem(found.first());
  }
  skin::ApplySkin(this);
  FitToContents();
}

void CCompressorDlg::FitToContents() {
  if (!m_list) return;
  // The caption and the longest name are shown whole: the dialog grows (it never shrinks
  // below its template), the list with it, and the buttons stay centred beneath.
  ensurePolished();
  m_list->ensurePolished();
  QFont titleFont = font();
  titleFont.setBold(true);
  const int titleNeeds = QFontMetrics(titleFont).horizontalAdvance(windowTitle()) + kTitleBarExtras;
  const int listNeeds = m_list->sizeHintForColumn(0) + 2 * m_list->frameWidth() +
                        m_list->verticalScrollBar()->sizeHint().width() + 8;
  const int grow = std::max({0, listNeeds - m_list->width(), titleNeeds - width()});
  if (grow == 0) return;
  setFixedSize(width() + grow, height());
  m_list->resize(m_list->width() + grow, m_list->height());
  for (QPushButton* button : findChildren<QPushButton*>(Qt::FindDirectChildrenOnly))
    button->move(button->x() + grow / 2, button->y());
}

void CCompressorDlg::accept() {
  const QListWidgetItem* item = m_list ? m_list->currentItem() : nullptr;
  if (!item || !item->isSelected() || m_list->row(item) >= m_count) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Error"),
                    QStringLiteral("Please select a device by highlighting it."),
                    QMessageBox::Ok, this);
    capture_dialogs::RunModal(box);
    return;
  }
  m_chosen = item->data(Qt::UserRole).toInt();
  QDialog::accept();
}
