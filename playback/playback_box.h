// The playback window's failure box and its modal dialogs. Failures show in a box captioned
// "Reelview Sample" with an OK button and the text made from a printf-style format (at most
// 512 characters). Tests install a runner that inspects and answers a dialog instead of
// running it modally.
#pragma once

#include <QDialog>
#include <functional>

namespace playback {

inline constexpr const char* kBoxCaption = "Reelview Sample";
inline constexpr int kBoxTextChars = 512;

// Shows the failure box owned by `owner`.
void ShowPlaybackError(QWidget* owner, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The runner sees the dialog ready to run and returns its result (QDialog::Accepted or
// QDialog::Rejected); without one the dialog runs with exec().
using ModalRunner = std::function<int(QDialog&)>;
void SetModalRunnerForTesting(ModalRunner runner);
int RunModal(QDialog& dialog);

}  // namespace playback
