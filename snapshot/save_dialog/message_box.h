// Message boxes of the snapshot window and its save dialog. Tests install a runner that
// inspects each box instead of running it modally.
#pragma once

#include <QMessageBox>
#include <QString>
#include <functional>

namespace snapshotui {

using MessageBoxRunner = std::function<void(QMessageBox&)>;
void SetMessageBoxRunnerForTesting(MessageBoxRunner runner);

// An OK box with `icon`, captioned `caption`, owned by `parent`.
void ShowMessageBox(QWidget* parent, QMessageBox::Icon icon, const QString& caption,
                    const QString& text);

}  // namespace snapshotui
