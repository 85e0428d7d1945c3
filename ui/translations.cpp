#include "ui/translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QPointer>
#include <QTranslator>

#include "resources/resources.h"

namespace lang {
namespace {

// The program's own pages: their English texts looked up in the resource table.
class CPageTranslator : public QTranslator {
 public:
  using QTranslator::QTranslator;
  bool isEmpty() const override { return false; }
  QString translate(const char*, const char* source, const char*, int) const override {
    if (!source) return {};
    const std::string_view chinese = res::ChineseFor(source);
    return QString::fromUtf8(chinese.data(), qsizetype(chinese.size()));
  }
};

// Owned by the application object: they go with it, and the pointers learn of that.
QPointer<QTranslator> g_qt;
QPointer<QTranslator> g_pages;

}  // namespace

void InstallTranslations(int languageFlag) {
  for (QPointer<QTranslator>* t : {&g_qt, &g_pages}) {
    if (!*t) continue;
    QCoreApplication::removeTranslator(*t);
    delete t->data();
  }
  if (languageFlag != res::kLangChinese) return;
  auto* qt = new QTranslator(QCoreApplication::instance());
  if (qt->load(QStringLiteral("qtbase_zh_CN"), QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    QCoreApplication::installTranslator(qt);
    g_qt = qt;
  } else {
    delete qt;
  }
  g_pages = new CPageTranslator(QCoreApplication::instance());
  QCoreApplication::installTranslator(g_pages);
}

}  // namespace lang
