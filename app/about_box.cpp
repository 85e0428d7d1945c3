#include "app/about_box.h"

#include <QLabel>

#include "ui/dialog_template.h"
#include "ui/skin_engine.h"
#include "resources/resources.h"

namespace {

// The version line names the version the build was made as (the project's version), the
// same that lumora-image --version and the package carry. A template line that already
// names this version is kept exactly as written, spacing included ("1.0 1版").
QString VersionLine(int templateId, const QString& templateLine) {
  const QString version = QStringLiteral(LUMORA_VERSION);
  const QString line = templateId == res::kAboutBoxChinese
                           ? QStringLiteral("lumora2003 %1版").arg(version)
                           : QStringLiteral("lumora2003 %1 version").arg(version);
  QString bare = templateLine;
  bare.remove(QLatin1Char(' '));
  QString bareLine = line;
  bareLine.remove(QLatin1Char(' '));
  return bare == bareLine ? templateLine : line;
}

}  // namespace

CAboutBox::CAboutBox(QWidget* parent)
    : QDialog(parent),
      m_templateId(res::PickResource(res::kAboutBoxChinese, res::kAboutBoxEnglish)) {
  const res::DialogTemplate* t = res::FindDialog(m_templateId);
  if (!t) return;
  BuildDialogFromTemplate(*this, *t);
  // The template's first static text is the version line.
  for (const res::DialogControl& c : t->controls) {
    if (c.kind != res::DialogControl::Kind::Static) continue;
    const QString text = QString::fromUtf8(c.text.data(), qsizetype(c.text.size()));
    for (QLabel* label : findChildren<QLabel*>())
      if (label->text() == text) label->setText(VersionLine(m_templateId, text));
    break;
  }
  skin::ApplySkin(this);
}
