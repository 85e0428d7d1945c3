// Runs the capture engine's modal dialogs. Tests install a runner that fills in and answers
// the dialog instead of running it modally; without one the dialog runs with exec().
#pragma once

#include <QDialog>
#include <functional>

namespace capture_dialogs {

// The runner sees the dialog after it initialised and returns its result (QDialog::Accepted
// for OK, QDialog::Rejected for Cancel).
using Runner = std::function<int(QDialog&)>;
void SetRunnerForTesting(Runner runner);
int RunModal(QDialog& dialog);

}  // namespace capture_dialogs
