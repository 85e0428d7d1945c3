#include "ui/skin_engine.h"

#include <QChildEvent>
#include <QDialog>
#include <QFile>
#include <QMainWindow>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QWidget>

namespace {

CSkinEngine* g_current = nullptr;

// Properties a skinned window carries: its sheet for children that join later, and the
// marker its own rules select on.
constexpr const char* kSheetProperty = "lumoraSkinSheet";
constexpr const char* kWindowProperty = "lumoraSkinWindow";

QString StripComments(const QString& css, bool* closed) {
  QString out;
  out.reserve(css.size());
  *closed = true;
  for (qsizetype i = 0; i < css.size(); ++i) {
    if (css[i] == u'/' && i + 1 < css.size() && css[i + 1] == u'*') {
      const qsizetype end = css.indexOf(QStringLiteral("*/"), i + 2);
      if (end < 0) {
        *closed = false;
        return out;
      }
      i = end + 1;
      out += u' ';
      continue;
    }
    out += css[i];
  }
  return out;
}

// Splits a sheet into (selectors, declarations) rules; false when braces do not pair up.
bool SplitRules(const QString& css, QList<std::pair<QString, QString>>& rules) {
  qsizetype pos = 0;
  while (true) {
    const qsizetype open = css.indexOf(u'{', pos);
    if (open < 0) return css.mid(pos).trimmed().isEmpty() && !css.mid(pos).contains(u'}');
    const qsizetype close = css.indexOf(u'}', open + 1);
    if (close < 0) return false;
    const QString selectors = css.mid(pos, open - pos).trimmed();
    const QString body = css.mid(open + 1, close - open - 1);
    if (selectors.isEmpty() || selectors.contains(u'}') || body.contains(u'{')) return false;
    rules.append({selectors, body.trimmed()});
    pos = close + 1;
  }
}

// Declarations of the rules whose selector list names `type` on its own (no descendants,
// states or sub-controls).
QString OwnDeclarations(const QList<std::pair<QString, QString>>& rules, const QString& type) {
  QString decls;
  for (const auto& [selectors, body] : rules) {
    for (const QString& s : selectors.split(u',')) {
      if (s.trimmed() == type) {
        decls += body;
        if (!body.endsWith(u';')) decls += u';';
        break;
      }
    }
  }
  return decls;
}

void SetSheet(QWidget* w, const QString& sheet) {
  if (w->styleSheet() != sheet) w->setStyleSheet(sheet);
}

}  // namespace

std::optional<SkinFile> CSkinEngine::Parse(const QByteArray& bytes) {
  if (bytes.size() > kMaxFileBytes) return std::nullopt;
  QStringDecoder decode(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  const QString text = decode(bytes);
  if (decode.hasError()) return std::nullopt;

  // The header: the first comment, opening with "lumora2003 skin".
  const QString start = text.trimmed();
  if (!start.startsWith(QStringLiteral("/*"))) return std::nullopt;
  const qsizetype headerEnd = start.indexOf(QStringLiteral("*/"));
  if (headerEnd < 0) return std::nullopt;
  const QStringList lines = start.mid(2, headerEnd - 2).split(u'\n');
  if (lines.isEmpty() || lines.first().trimmed() != QStringLiteral("lumora2003 skin"))
    return std::nullopt;
  SkinFile skin;
  static const QRegularExpression field(QStringLiteral("^\\s*(name|version)\\s*:\\s*(.*?)\\s*$"));
  for (const QString& line : lines) {
    const QRegularExpressionMatch m = field.match(line);
    if (!m.hasMatch()) continue;
    (m.captured(1) == QStringLiteral("name") ? skin.name : skin.version) = m.captured(2);
  }
  if (skin.name.isEmpty() || skin.version.isEmpty()) return std::nullopt;

  bool closed = true;
  const QString css = StripComments(text, &closed);
  QList<std::pair<QString, QString>> rules;
  if (!closed || !SplitRules(css, rules) || rules.isEmpty()) return std::nullopt;
  skin.sheet = text;
  skin.mainWindowCss = OwnDeclarations(rules, QStringLiteral("QMainWindow"));
  skin.dialogCss = OwnDeclarations(rules, QStringLiteral("QDialog"));
  return skin;
}

bool CSkinEngine::LoadSkin(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly) || file.size() > kMaxFileBytes) return false;
  std::optional<SkinFile> skin = Parse(file.read(kMaxFileBytes + 1));
  if (!skin) return false;
  m_skin = std::move(skin);
  m_path = path;
  return true;
}

void CSkinEngine::ApplySkin(QWidget* window) {
  if (!window || !m_skin) return;
  window->setProperty(skin::kSkinNameProperty, m_skin->name);
  window->setProperty(kSheetProperty, m_skin->sheet);
  // The window's own look, under a selector that only the window itself matches: the sheet
  // cascades into every window it owns, and those must keep their own look (a skinned dialog
  // owned by the main window carries the other marker value).
  const bool mainWindow = qobject_cast<QMainWindow*>(window) != nullptr;
  const QString marker = mainWindow ? QStringLiteral("main") : QStringLiteral("dialog");
  const QString own = mainWindow                           ? m_skin->mainWindowCss
                       : qobject_cast<QDialog*>(window)   ? m_skin->dialogCss
                                                          : QString();
  window->setProperty(kWindowProperty, marker);
  SetSheet(window, own.isEmpty() ? QString()
                                 : QStringLiteral("*[%1=\"%2\"] { %3 }")
                                       .arg(QLatin1String(kWindowProperty), marker, own));
  for (QWidget* child : window->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
    if (!child->isWindow()) SetSheet(child, m_skin->sheet);
  // Bars and views that join the window later take the skin when they are first polished.
  window->removeEventFilter(this);
  window->installEventFilter(this);
}

bool CSkinEngine::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() == QEvent::ChildPolished) {
    auto* child = qobject_cast<QWidget*>(static_cast<QChildEvent*>(event)->child());
    const QVariant sheet = watched->property(kSheetProperty);
    if (child && !child->isWindow() && sheet.isValid()) SetSheet(child, sheet.toString());
  }
  return false;
}

namespace skin {

CSkinEngine* Current() { return g_current; }
void SetCurrent(CSkinEngine* engine) { g_current = engine; }
void ApplySkin(QWidget* window) {
  if (g_current) g_current->ApplySkin(window);
}

}  // namespace skin
