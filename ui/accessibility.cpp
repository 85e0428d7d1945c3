#include "ui/accessibility.h"

#include <QAccessible>
#include <QAction>
#include <QEvent>
#include <QFileDialog>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>

namespace a11y {
namespace {

void ForgetIn(QMenu* menu) {
  for (QAction* action : menu->actions()) {
    if (QAccessibleInterface* item = QAccessible::queryAccessibleInterface(action)) {
      QAccessibleInterface* owner = item->isValid() ? item->parent() : nullptr;
      if (!owner || owner->object() != menu)
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(item));
    }
    if (action->menu()) ForgetIn(action->menu());
  }
}

// Relates the chooser's captions to their lists each time it shows.
class CaptionRelater : public QObject {
 public:
  using QObject::QObject;
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::Show) return false;
    static constexpr const char* kPairs[][2] = {{"lookInLabel", "lookInCombo"},
                                                {"fileTypeLabel", "fileTypeCombo"}};
    for (const auto& [caption, list] : kPairs) {
      auto* label = watched->findChild<QLabel*>(QLatin1String(caption));
      auto* field = watched->findChild<QWidget*>(QLatin1String(list));
      if (label && field && !label->buddy()) label->setBuddy(field);
    }
    return false;
  }
};

}  // namespace

void ForgetStaleMenuItems(QMenuBar* bar) {
  if (!bar) return;
  for (QAction* popup : bar->actions())
    if (popup->menu()) ForgetIn(popup->menu());
}

void RelateFileDialogCaptions(QFileDialog& dialog) {
  // Qt may make the chooser's widgets only when it is first shown.
  dialog.installEventFilter(new CaptionRelater(&dialog));
}

}  // namespace a11y
