#include "app/about_box.h"

#include <QLabel>

#include "ui/dialog_template.h"
#include "ui/skin_engine.h"
#include "resources/resources.h"

namespace {

// The version line names the version the build was made as (the project's version), the
// same that lumora-image --version and the package carry.
QString VersionLine(int templateId) {
  const QString version = QStringLiteral(LUMORA_VERSION);
  return templateId == res::kAboutBoxChinese ? QStringLiteral("lumora2003 %1版").arg(version)
                                             : QStringLiteral("lumora2003 %1 version").arg(version);
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
      if (label->text() == text) label->setText(VersionLine(m_templateId));
    break;
  }
  skin::ApplySkin(this);
}
