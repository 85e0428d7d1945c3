// Walks a window's accessibility tree the way a screen reader does (QAccessible, no bus) and
// lists what its user would miss: a control without a name, a name that is not a text the
// window shows (so not in the window's language), a label named otherwise than its text, a
// drop-down list without its caption, and a menu whose items are not its children with their
// text, checked and enabled state.
#pragma once

#include <QAbstractButton>
#include <QAccessible>
#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QRegularExpression>
#include <QSet>
#include <QStringList>
#include <QWidget>

#include "ui/status_pane.h"

namespace a11ywalk {

// Names and texts compared without mnemonic markers ("&F", or "(&F)" after Chinese text), the
// shown key and a trailing colon.
inline QString Plain(QString s) {
  static const QRegularExpression mnemonic(QStringLiteral("\\([A-Z0-9]\\)"));
  s.remove(u'&');
  s.remove(mnemonic);
  s = s.section(u'\t', 0, 0).trimmed();
  while (s.endsWith(u':') || s.endsWith(u'：')) s.chop(1);
  return s.trimmed();
}

inline QString Who(QAccessibleInterface* i) {
  QObject* o = i->object();
  return QStringLiteral("%1 '%2'").arg(o ? QString::fromLatin1(o->metaObject()->className()) : "?",
                                       o ? o->objectName() : QString());
}

// Every action of `menu` (and of its submenus) is a valid child of the menu's interface, in
// order, with the action's text and states.
inline void CheckMenu(QMenu* menu, QStringList& problems) {
  const QString where = Plain(menu->title());
  QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(menu);
  const QList<QAction*> actions = menu->actions();
  if (!iface || iface->childCount() != actions.size()) {
    problems << QStringLiteral("menu %1: %2 children for %3 items")
                    .arg(where).arg(iface ? iface->childCount() : -1).arg(actions.size());
    return;
  }
  for (int i = 0; i < actions.size(); ++i) {
    QAction* a = actions[i];
    QAccessibleInterface* item = iface->child(i);
    const QString what = QStringLiteral("menu %1, item %2 '%3'").arg(where).arg(i).arg(Plain(a->text()));
    if (!item || !item->isValid() || item->object() != a || !item->parent() ||
        item->parent()->object() != menu) {
      problems << what + QStringLiteral(": not a live child of its menu");
      continue;
    }
    if (a->isSeparator() || !a->isVisible()) continue;
    const QAccessible::State s = item->state();
    if (Plain(item->text(QAccessible::Name)).isEmpty() ||
        Plain(item->text(QAccessible::Name)) != Plain(a->text()))
      problems << what + QStringLiteral(": named '%1'").arg(item->text(QAccessible::Name));
    if (bool(s.checkable) != a->isCheckable() || bool(s.checked) != a->isChecked())
      problems << what + QStringLiteral(": checked state differs");
    if (bool(s.disabled) == a->isEnabled()) problems << what + QStringLiteral(": enabled state differs");
    if (a->menu()) CheckMenu(a->menu(), problems);
  }
}

// What a label shows: the status pane draws its own text.
inline QString LabelText(const QLabel* label) {
  if (auto* pane = dynamic_cast<const ui::StatusPane*>(label)) return pane->Text();
  return label->text();
}

// The texts a window shows: its title, its labels, buttons, group boxes, tool tips and the
// entries of its lists.
inline QSet<QString> ShownTexts(QWidget* window) {
  QSet<QString> shown{Plain(window->windowTitle())};
  for (QWidget* w : window->findChildren<QWidget*>()) {
    if (!w->toolTip().isEmpty()) shown << Plain(w->toolTip());
    if (auto* l = qobject_cast<QLabel*>(w)) shown << Plain(LabelText(l));
    if (auto* b = qobject_cast<QAbstractButton*>(w)) shown << Plain(b->text());
    if (auto* g = qobject_cast<QGroupBox*>(w)) shown << Plain(g->title());
    if (auto* c = qobject_cast<QComboBox*>(w))
      for (int i = 0; i < c->count(); ++i) shown << Plain(c->itemText(i));
  }
  return shown;
}

// English texts a Chinese window may not show: the captions and buttons of the program's own
// pages and those of Qt's dialogs.
inline QStringList EnglishShown(QWidget* window) {
  static const QSet<QString> english{
      "OK", "Cancel", "Open", "Save", "Look in", "File name", "Files of type", "Back",
      "Detail View", "List View", "Create New Folder", "Video Source", "Video Format",
      "Video Crossbar", "TV Tuner", "Video input", "TV norm", "Color space", "Output size",
      "Frame rate", "Default"};
  QStringList found;
  for (const QString& text : ShownTexts(window))
    if (english.contains(text)) found << QStringLiteral("shows English '%1'").arg(text);
  found.sort();
  return found;
}

// Chinese texts an English window may not show (Qt's catalogue left in force after a switch
// back, say).
inline QStringList ChineseShown(QWidget* window) {
  QStringList found;
  for (const QString& text : ShownTexts(window))
    for (QChar c : text)
      if (c.unicode() >= 0x4E00 && c.unicode() <= 0x9FFF) {
        found << QStringLiteral("shows Chinese '%1'").arg(text);
        break;
      }
  found.sort();
  return found;
}

inline bool Interactive(QAccessible::Role r) {
  switch (r) {
    case QAccessible::PushButton: case QAccessible::CheckBox: case QAccessible::RadioButton:
    case QAccessible::ComboBox: case QAccessible::EditableText: case QAccessible::List:
    case QAccessible::Slider: case QAccessible::SpinBox: case QAccessible::ButtonMenu:
    case QAccessible::Table: case QAccessible::Tree:
      return true;
    default:
      return false;
  }
}

inline void CheckNode(QAccessibleInterface* i, const QSet<QString>& shown, QStringList& problems,
                      int depth) {
  if (!i || !i->isValid() || i->state().invisible || depth > 12) return;
  const QAccessible::Role role = i->role();
  const QString name = i->text(QAccessible::Name);
  if (auto* label = qobject_cast<QLabel*>(i->object()); label && role == QAccessible::StaticText) {
    if (Plain(name) != Plain(LabelText(label)))
      problems << Who(i) + QStringLiteral(": label named '%1' shows '%2'").arg(name, LabelText(label));
  } else if (Interactive(role)) {
    // A list's name may be one the window does not show (Qt's file chooser names its views);
    // it still needs one.
    const bool view = role == QAccessible::List || role == QAccessible::Table || role == QAccessible::Tree;
    if (Plain(name).isEmpty())
      problems << Who(i) + QStringLiteral(": no name");
    else if (!view && !shown.contains(Plain(name)))
      problems << Who(i) + QStringLiteral(": name '%1' is not a text the window shows").arg(name);
    // A drop-down list is named by its value: its caption comes through the labelled-by
    // relation.
    if (role == QAccessible::ComboBox) {
      const auto labels = i->relations(QAccessible::Label);
      if (labels.isEmpty() || Plain(labels.first().first->text(QAccessible::Name)).isEmpty())
        problems << Who(i) + QStringLiteral(": no caption related");
    }
  }
  // Items of lists and tables are their contents; menus are checked on their own.
  if (role == QAccessible::List || role == QAccessible::Table || role == QAccessible::Tree ||
      role == QAccessible::MenuBar)
    return;
  for (int c = 0; c < i->childCount(); ++c) CheckNode(i->child(c), shown, problems, depth + 1);
}

// Problems of a window, its menu bar and every menu on it.
inline QStringList Check(QWidget* window) {
  QStringList problems;
  CheckNode(QAccessible::queryAccessibleInterface(window), ShownTexts(window), problems, 0);
  if (auto* main = qobject_cast<QMainWindow*>(window)) {
    QAccessibleInterface* bar = QAccessible::queryAccessibleInterface(main->menuBar());
    const QList<QAction*> popups = main->menuBar()->actions();
    if (!bar || bar->childCount() != popups.size())
      problems << QStringLiteral("menu bar: children differ from its menus");
    for (int p = 0; bar && p < popups.size() && p < bar->childCount(); ++p) {
      QAccessibleInterface* item = bar->child(p);
      if (!item || !item->isValid() || Plain(item->text(QAccessible::Name)) != Plain(popups[p]->text()))
        problems << QStringLiteral("menu bar: entry %1 is not '%2'").arg(p).arg(popups[p]->text());
      if (popups[p]->menu()) CheckMenu(popups[p]->menu(), problems);
    }
  }
  return problems;
}

}  // namespace a11ywalk
