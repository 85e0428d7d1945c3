#include "app/lumora2003_doc.h"

#include <QFileInfo>

#include "resources/resources.h"

bool CLumora2003Doc::OnNewDocument() {
  m_pathName.clear();
  return true;
}

bool CLumora2003Doc::OnOpenDocument(const QString& path) {
  QFileInfo info(path);
  if (!info.isFile() || !info.isReadable()) return false;
  m_pathName = info.absoluteFilePath();
  return true;
}

QString CLumora2003Doc::Title() const {
  if (!m_pathName.isEmpty()) return QFileInfo(m_pathName).fileName();
  return QString::fromUtf8(res::LoadString(res::kStrUntitled, res::LanguageFlag()));
}
