#include "capture/dialogs/compressor_dlg.h"

#include <QListWidget>
#include <QMessageBox>
#include <string>

#include "ui/dialog_template.h"
#include "ui/skin_engine.h"
#include "capture/device_category.h"
#include "capture/dialogs/dialog_runner.h"
#include "resources/resources.h"

namespace {
constexpr int kNameChars = 80;
}

CCompressorDlg::CCompressorDlg(media::IMediaPlatform& platform, QWidget* parent)
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
  skin::ApplySkin(this);
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
