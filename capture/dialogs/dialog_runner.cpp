#include "capture/dialogs/dialog_runner.h"

namespace capture_dialogs {
namespace {
Runner g_runner;
}

void SetRunnerForTesting(Runner runner) { g_runner = std::move(runner); }

int RunModal(QDialog& dialog) { return g_runner ? g_runner(dialog) : dialog.exec(); }

}  // namespace capture_dialogs
