#include "app/about_box.h"

#include "ui/dialog_template.h"
#include "ui/skin_engine.h"
#include "resources/resources.h"

CAboutBox::CAboutBox(QWidget* parent)
    : QDialog(parent),
      m_templateId(res::PickResource(res::kAboutBoxChinese, res::kAboutBoxEnglish)) {
  const res::DialogTemplate* t = res::FindDialog(m_templateId);
  if (!t) return;
  BuildDialogFromTemplate(*this, *t);
  skin::ApplySkin(this);
}
