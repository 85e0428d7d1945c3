#include "ui/dialog_template.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QFontMetrics>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QRadioButton>
#include <QStyle>

namespace {

using Kind = res::DialogControl::Kind;

QString PlainText(const QString& text) {
  QString plain = text;
  plain.remove(u'&');
  return plain;
}

QWidget* MakeControl(QDialog& dialog, const res::DialogControl& c) {
  const QString text = QString::fromUtf8(c.text.data(), qsizetype(c.text.size()));
  switch (c.kind) {
    case Kind::Icon: {
      auto* icon = new QLabel(&dialog);
      icon->setPixmap(
          dialog.style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(32, 32));
      return icon;
    }
    case Kind::Static: {
      auto* label = new QLabel(text, &dialog);
      label->setWordWrap(c.cy > 12);
      return label;
    }
    case Kind::DefPushButton:
    case Kind::PushButton: {
      auto* b = new QPushButton(text, &dialog);
      b->setDefault(c.kind == Kind::DefPushButton);
      b->setAutoDefault(c.kind == Kind::DefPushButton);
      if (c.id == res::kIdOk) QObject::connect(b, &QPushButton::clicked, &dialog, &QDialog::accept);
      if (c.id == res::kIdCancel)
        QObject::connect(b, &QPushButton::clicked, &dialog, &QDialog::reject);
      return b;
    }
    case Kind::CheckBox: return new QCheckBox(text, &dialog);
    case Kind::RadioButton: return new QRadioButton(text, &dialog);
    case Kind::GroupBox: return new QGroupBox(text, &dialog);
    case Kind::Edit: {
      auto* edit = new QLineEdit(&dialog);
      edit->setFrame(c.style & res::DialogControl::kBorder);
      return edit;
    }
    case Kind::ListBox: {
      auto* list = new QListWidget(&dialog);
      list->setSortingEnabled(c.style & res::DialogControl::kSorted);
      list->setVerticalScrollBarPolicy((c.style & res::DialogControl::kVScroll)
                                           ? Qt::ScrollBarAsNeeded
                                           : Qt::ScrollBarAlwaysOff);
      return list;
    }
    case Kind::DropList:
    case Kind::DropDown: {
      auto* combo = new QComboBox(&dialog);
      combo->setEditable(c.kind == Kind::DropDown);
      return combo;
    }
    case Kind::Control: return nullptr;
  }
  return nullptr;
}

}  // namespace

void BuildDialogFromTemplate(QDialog& dialog, const res::DialogTemplate& t) {
  dialog.setWindowTitle(QString::fromUtf8(t.caption.data(), qsizetype(t.caption.size())));
  // Dialog units: a quarter of the average character width, an eighth of the line height.
  const QFontMetrics fm(dialog.font());
  const double ux = fm.averageCharWidth() / 4.0, uy = fm.height() / 8.0;
  auto px = [&](int x, int y, int cx, int cy) {
    return QRect(qRound(x * ux), qRound(y * uy), qRound(cx * ux), qRound(cy * uy));
  };
  dialog.setFixedSize(qRound(t.cx * ux), qRound(t.cy * uy));
  QLabel* lastLabel = nullptr;
  for (const res::DialogControl& c : t.controls) {
    QWidget* w = MakeControl(dialog, c);
    if (!w) continue;
    if (c.id >= 0) w->setObjectName(QString::number(c.id));
    QRect r = px(c.x, c.y, c.cx, c.cy);
    if (c.kind == Kind::Static) {
      // Static text keeps its box but may not clip a line the font draws wider.
      if (!static_cast<QLabel*>(w)->wordWrap())
        r.setWidth(qMax(r.width(), w->sizeHint().width()));
      r.setHeight(qMax(r.height(), w->sizeHint().height()));
    }
    if (c.kind == Kind::Icon) r.setSize(QSize(32, 32));
    // Drop-down lists are sized by their closed height; the template gives the open one.
    if (c.kind == Kind::DropList || c.kind == Kind::DropDown)
      r.setHeight(w->sizeHint().height());
    if (c.kind == Kind::PushButton || c.kind == Kind::DefPushButton || c.kind == Kind::Edit ||
        c.kind == Kind::CheckBox || c.kind == Kind::RadioButton)
      r.setHeight(qMax(r.height(), w->sizeHint().height()));
    w->setGeometry(r);
    const bool takesBuddy = c.kind == Kind::Edit || c.kind == Kind::ListBox ||
                            c.kind == Kind::DropList || c.kind == Kind::DropDown;
    if (takesBuddy && lastLabel) {
      lastLabel->setBuddy(w);
      w->setAccessibleName(PlainText(lastLabel->text()));
    }
    // A static the code fills in (a figure, a file name) is read as what it shows; its
    // caption reaches assistive tools as the labelled-by relation the buddy gives.
    if (c.kind == Kind::Static && c.id >= 0 && lastLabel) lastLabel->setBuddy(w);
    lastLabel = c.kind == Kind::Static && c.id < 0 ? static_cast<QLabel*>(w) : nullptr;
  }
}

QWidget* DialogItem(const QDialog& dialog, int id) {
  return dialog.findChild<QWidget*>(QString::number(id), Qt::FindDirectChildrenOnly);
}
