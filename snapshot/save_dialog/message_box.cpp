#include "snapshot/save_dialog/message_box.h"

namespace snapshotui {
namespace {
MessageBoxRunner g_runner;
}

void SetMessageBoxRunnerForTesting(MessageBoxRunner runner) { g_runner = std::move(runner); }

void ShowMessageBox(QWidget* parent, QMessageBox::Icon icon, const QString& caption,
                    const QString& text) {
  QMessageBox box(icon, caption, text, QMessageBox::Ok, parent);
  if (g_runner)
    g_runner(box);
  else
    box.exec();
}

}  // namespace snapshotui
