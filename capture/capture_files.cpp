// The File menu's capture-file commands: choosing the capture file, reserving space for it and
// saving a copy of the captured video.
#include "capture/capture_files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEvent>
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QProgressDialog>
#include <atomic>
#include <cstring>
#include <filesystem>
#include <thread>

#include "capture/dialogs/dialog_runner.h"
#include "capture/dialogs/set_file_size_dlg.h"
#include "capture/main_frame.h"
#include "capture/platform/capture_file.h"
#include "resources/resources.h"
#include "ui/accessibility.h"

namespace {

constexpr uint64_t kMegabyte = 1048576;
constexpr int kProgressSteps = 1000;

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

int64_t FreeSpaceOfVolume(const std::string& path) {
  if (path.empty()) return -1;
  std::error_code ec;
  std::filesystem::path p = std::filesystem::absolute(path, ec);
  if (ec) return -1;
  // The file may not exist yet: measure the nearest folder above it that does.
  for (;;) {
    struct statvfs vfs {};
    if (::statvfs(p.c_str(), &vfs) == 0)
      return int64_t(uint64_t(vfs.f_bavail) * uint64_t(vfs.f_frsize) / 1024);
    if (errno != ENOENT && errno != ENOTDIR) return -1;
    if (!p.has_relative_path()) return -1;
    p = p.parent_path();
  }
}

uint64_t GetCaptureFileBytes(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  struct stat st {};
  const bool known = ::fstat(fd, &st) == 0;
  if (::close(fd) != 0 || !known) return 0;
  return uint64_t(st.st_size);
}

int CMainFrame::AskAviFileName(char* buffer, int bufferSize) {
  if (!buffer || bufferSize <= 0) return 0;
  const QString current = QFile::decodeName(m_captureFileName.c_str());
  const int slash = current.lastIndexOf(u'/');
  const QString folder = slash >= 0 ? current.left(slash + 1) : QString();
  QFileDialog dialog(this, QStringLiteral("Set Capture File"), folder,
                     QStringLiteral("Microsoft AVI (*.avi)"));
  dialog.setObjectName(QStringLiteral("SetCaptureFileDialog"));
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::AnyFile);  // a new capture file may be named here
  a11y::RelateFileDialogCaptions(dialog);
  if (!current.isEmpty()) dialog.selectFile(current);
  if (capture_dialogs::RunModal(dialog) != QDialog::Accepted) return 0;
  const QStringList chosen = dialog.selectedFiles();
  if (chosen.isEmpty() || chosen.front().isEmpty()) return 0;
  const QByteArray path = QFile::encodeName(chosen.front());
  // A path cut to fit would name some other file: refuse it instead.
  if (path.size() > bufferSize - 1) {
    ShowError("File name too long (at most %d characters): %s", bufferSize - 1, path.constData());
    return 0;
  }
  std::memcpy(buffer, path.constData(), size_t(path.size()));
  buffer[path.size()] = '\0';
  return 1;
}

int CMainFrame::PickCaptureFile() {
  char name[kCaptureFileNameChars];
  std::strncpy(name, m_captureFileName.c_str(), sizeof name - 1);
  name[sizeof name - 1] = '\0';
  if (!AskAviFileName(name, sizeof name)) return 0;
  m_captureFileName = name;
  // Written at once: after a crash the program still knows which file to rescue.
  SaveCaptureSettings();
  if (!FileExists(m_captureFileName) && !PreallocateCaptureFile()) return 0;
  if (m_fileSink) m_fileSink->SetFileName(m_captureFileName);
  return 1;
}

int CMainFrame::PreallocateCaptureFile() {
  if (m_captureFileName.empty()) return 0;
  const uint64_t existing = GetCaptureFileBytes(m_captureFileName);
  const int64_t freeKb = FreeSpaceOfVolume(m_captureFileName);

  CSetFileSizeDlg dialog(this);
  // Free megabytes, counting the space the existing file already holds.
  if (freeKb != -1)
    dialog.SetFreeSpaceText(QString::number((uint64_t(freeKb) + existing / 1024) / 1024));
  m_captureFileSizeMb = uint16_t(existing / kMegabyte);
  dialog.SetFileSizeMb(m_captureFileSizeMb);
  if (capture_dialogs::RunModal(dialog) != QDialog::Accepted) return 0;

  m_captureFileSizeMb = uint16_t(dialog.FileSizeMb());
  if (!m_builder && (media::Failed(m_platform.CreateCaptureGraphBuilder2(m_builder)) || !m_builder)) {
    m_builder.reset();
    return 0;
  }
  const uint64_t bytes = uint64_t(m_captureFileSizeMb) * kMegabyte;
  media::Status hr = m_builder->AllocCapFile(m_captureFileName, bytes);
  // The reservation only grows a file; a smaller size than before is made exact here.
  if (media::Succeeded(hr)) hr = media::TrimCaptureFile(m_captureFileName, bytes);
  if (hr == media::kRecordingEndUnknown) {
    ShowError("The capture file holds a recording whose end cannot be found, so it was not made "
              "smaller. Save it with \"Save Captured Video As...\" or choose another file.");
    return 1;
  }
  if (media::Succeeded(hr)) return 1;
  QMessageBox box(QMessageBox::Warning, QStringLiteral("Failed to pre-allocate capture file space"),
                  QStringLiteral("Error"), QMessageBox::Ok, this);
  box.setObjectName(QStringLiteral("PreallocateFailedBox"));
  capture_dialogs::RunModal(box);
  return 0;
}

int CMainFrame::SaveCaptureCopy() {
  if (!m_builder) return 0;
  char target[kCaptureFileNameChars];
  std::strncpy(target, m_captureFileName.c_str(), sizeof target - 1);
  target[sizeof target - 1] = '\0';
  if (!AskAviFileName(target, sizeof target)) return 1;
  const QString saving = QStringLiteral("Saving capture file - please wait...");
  SetPaneText(saving);

  std::shared_ptr<media::ICaptureGraphBuilder> copier;
  if (media::Failed(m_platform.CreateCaptureGraphBuilder(copier)) || !copier) {
    SetPaneText(QStringLiteral("Capture file save ERROR"));
    return 0;
  }

  // The copy runs on a worker while a modal progress dialog keeps the window responsive;
  // its Cancel button and Escape abort the copy, which then leaves no file behind.
  QProgressDialog progress(saving, QString::fromUtf8(res::LanguageFlag() == res::kLangChinese ? "取消" : "Cancel"),
                           0, kProgressSteps, this);
  progress.setObjectName(QStringLiteral("SaveCaptureProgress"));
  progress.setWindowTitle(QString::fromUtf8(res::LoadString(res::kStrAppTitle, 1)));
  progress.setWindowModality(Qt::ApplicationModal);
  progress.setAutoClose(false);
  progress.setAutoReset(false);
  progress.setMinimumDuration(0);
  progress.setValue(0);

  std::atomic<bool> abort{false};
  std::atomic<bool> finished{false};
  std::atomic<bool> progressPending{false};
  std::atomic<int> step{0};
  connect(&progress, &QProgressDialog::canceled, this, [&abort] { abort = true; });
  avi::SaveResult outcome;
  media::Status hr = media::status::kFail;
  const std::string from = m_captureFileName;
  const std::string to = target;

  std::thread worker([&] {
    media::CopyObserver observer;
    observer.progress = [&](uint64_t done, uint64_t total) {
      step = total ? int(done * kProgressSteps / total) : kProgressSteps;
      // One queued update at a time: a fast copy does not flood the UI thread.
      if (progressPending.exchange(true)) return;
      QMetaObject::invokeMethod(&progress, [&] {
        progressPending = false;
        progress.setValue(step);
      }, Qt::QueuedConnection);
    };
    observer.finished = [&](const avi::SaveResult& r) { outcome = r; };
    {
      media::ScopedCopyObserver scope(&observer);
      hr = copier->CopyCaptureFile(from, to, true, [&abort] { return abort.load(); });
    }
    finished = true;
    QMetaObject::invokeMethod(&progress, [&] { progress.done(QDialog::Accepted); },
                              Qt::QueuedConnection);
  });
  capture_dialogs::RunModal(progress);
  // Closed some other way before the copy ended (Escape, the window's close box): abort.
  if (!finished) abort = true;
  worker.join();
  // Updates still queued refer to this frame's locals: drop them before they go.
  QCoreApplication::removePostedEvents(&progress, QEvent::MetaCall);
  copier.reset();

  if (hr == media::status::kOk) {
    if (outcome.rescued)
      SetPaneText(QStringLiteral("Capture file saved - %1 frames rescued").arg(outcome.frames));
    else
      SetPaneText(QStringLiteral("Capture file saved"));
    return 1;
  }
  SetPaneText(hr == media::status::kFalse ? QStringLiteral("Capture file save aborted")
                                          : QStringLiteral("Capture file save ERROR"));
  return 0;
}
