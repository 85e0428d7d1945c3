#include "app/about_box.h"

#include <QApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QPushButton>
#include <QStyle>

#include "resources/resources.h"

CAboutBox::CAboutBox(QWidget* parent)
    : QDialog(parent),
      m_templateId(res::PickResource(res::kAboutBoxChinese, res::kAboutBoxEnglish)) {
  const res::DialogTemplate* t = res::FindDialog(m_templateId);
  if (!t) return;
  setWindowTitle(QString::fromUtf8(t->caption));
  // Dialog units from the dialog font, as a template is laid out.
  QFontMetrics fm(font());
  const double ux = fm.averageCharWidth() / 4.0, uy = fm.height() / 8.0;
  auto px = [&](int x, int y, int cx, int cy) {
    return QRect(qRound(x * ux), qRound(y * uy), qRound(cx * ux), qRound(cy * uy));
  };
  setFixedSize(qRound(t->cx * ux), qRound(t->cy * uy));
  for (const res::DialogControl& c : t->controls) {
    QWidget* w = nullptr;
    const QString text = QString::fromUtf8(c.text);
    switch (c.kind) {
      case res::DialogControl::Kind::Icon: {
        auto* icon = new QLabel(this);
        icon->setPixmap(style()->standardIcon(QStyle::SP_MessageBoxInformation).pixmap(32, 32));
        w = icon;
        break;
      }
      case res::DialogControl::Kind::Static: w = new QLabel(text, this); break;
      case res::DialogControl::Kind::DefPushButton:
      case res::DialogControl::Kind::PushButton: {
        auto* b = new QPushButton(text, this);
        b->setDefault(c.kind == res::DialogControl::Kind::DefPushButton);
        if (c.id == res::kIdOk) connect(b, &QPushButton::clicked, this, &QDialog::accept);
        if (c.id == res::kIdCancel) connect(b, &QPushButton::clicked, this, &QDialog::reject);
        w = b;
        break;
      }
    }
    if (c.id >= 0) w->setObjectName(QString::number(c.id));
    QRect r = px(c.x, c.y, c.cx, c.cy);
    // Static text keeps its template box but may not clip a line the font draws wider.
    if (c.kind == res::DialogControl::Kind::Static) r.setWidth(qMax(r.width(), w->sizeHint().width()));
    if (c.kind == res::DialogControl::Kind::Icon) r.setSize(QSize(32, 32));
    w->setGeometry(r);
  }
  // The skin is applied to the box here once skins exist.
}
