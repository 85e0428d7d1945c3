#include "app/skin_host_dlg.h"

#include "ui/dialog_template.h"
#include "ui/skin_engine.h"
#include "resources/resources.h"

namespace {

CSkinHostDlg::EngineFactory g_factory;

}  // namespace

CSkinHostDlg::CSkinHostDlg() : QDialog(nullptr) {}

CSkinHostDlg::~CSkinHostDlg() = default;

void CSkinHostDlg::SetEngineFactoryForTesting(EngineFactory factory) {
  g_factory = std::move(factory);
}

bool CSkinHostDlg::Create() {
  const res::DialogTemplate* t = res::FindDialog(res::kSkinHostDlg);
  if (!t) return false;
  BuildDialogFromTemplate(*this, *t);
  // The control takes its place in the dialog as a plain object: it draws nothing itself.
  m_engine = g_factory ? g_factory() : std::make_unique<CSkinEngine>();
  if (m_engine) m_engine->setObjectName(QString::number(res::kIdcSkinControl));
  return m_engine != nullptr;
}
