// The snapshot window's Save command: the save dialog over the encoders' formats, then the
// export of a copy of the picture. Failures of the image library are shown here and leave the
// window and the picture as they were.
#include <QMessageBox>
#include <new>
#include <string>
#include <vector>

#include "imaging/core/text_exception.h"
#include "resources/resources.h"
#include "snapshot/dib.h"
#include "snapshot/save_dialog/message_box.h"
#include "snapshot/save_dialog/save_dlg.h"
#include "snapshot/snapshot_window.h"
#include "snapshot/wci_container.h"

namespace {
constexpr int16_t kMaxFormats = 20;
constexpr char kSaveTitle[] = "lumora";
constexpr char kNoContentText[] = " No content to save! ";
}  // namespace

void CSnapshotWnd::OnFileSave() {
  CSaveDlg dialog(false, QString(), QString(),
                  CSaveDlg::kHideReadOnly | CSaveDlg::kOverwritePrompt, QString(), nullptr);
  CWCIContainer container;
  {
    std::vector<std::string> names(kMaxFormats), patterns(kMaxFormats);
    const int16_t count = container.GetFormatFilters(CWCIContainer::kEncoderSide, names.data(),
                                                     patterns.data(), kMaxFormats);
    names.resize(size_t(count > 0 ? count : 0));
    patterns.resize(names.size());
    dialog.SetFilters(names, patterns);
  }
  dialog.setWindowTitle(QLatin1String(kSaveTitle));
  if (dialog.DoModal() != QDialog::Accepted) return;

  const QString caption = QString::fromUtf8(res::LoadString(res::kStrAppTitle, res::kLangEnglish));
  if (!image_.HasDib()) {
    snapshotui::ShowMessageBox(this, QMessageBox::NoIcon, caption, QLatin1String(kNoContentText));
    return;
  }
  try {
    container.SetImage(image_.GetDib(), &dialog.Record());
    container.Export(dialog.GetPathName().toLocal8Bit().constData());
  } catch (const CTextException& e) {
    snapshotui::ShowMessageBox(this, QMessageBox::Critical, caption,
                               QString::fromLocal8Bit(e.GetErrorText()));
  } catch (const std::bad_alloc& e) {
    // The bitmap's copy of a large picture may not fit; the picture itself is untouched.
    snapshotui::ShowMessageBox(this, QMessageBox::Critical, caption, QLatin1String(e.what()));
  }
}
