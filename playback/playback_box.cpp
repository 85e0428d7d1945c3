#include "playback/playback_box.h"

#include <QMessageBox>
#include <cstdarg>
#include <cstdio>

namespace playback {
namespace {
ModalRunner g_runner;
}

void SetModalRunnerForTesting(ModalRunner runner) { g_runner = std::move(runner); }

int RunModal(QDialog& dialog) { return g_runner ? g_runner(dialog) : dialog.exec(); }

void ShowPlaybackError(QWidget* owner, const char* format, ...) {
  char text[kBoxTextChars];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(kBoxCaption), QString::fromUtf8(text),
                  QMessageBox::Ok, owner);
  RunModal(box);
}

}  // namespace playback
