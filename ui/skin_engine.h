// CSkinEngine: loads a skin file and skins windows with it.
//
// A skin file (".skn") is a Qt style sheet that opens with a comment naming the skin:
//
//   /* lumora2003 skin
//      name: Paper
//      version: 1.0 */
//
// Skinning a window gives its bars and controls the whole sheet, and the window itself the
// declarations of the sheet's plain "QMainWindow" or "QDialog" rules. Windows it owns (message
// boxes, the save dialog, other top-level windows) are not touched: each dialog that wants the
// skin asks for it when it initialises, through skin::ApplySkin. Do not give style sheets of
// your own to the direct children of a skinned window; the skin replaces them.
//
// A missing, oversized, undecodable or malformed file leaves the loaded skin as it was;
// nothing is reported to the user.
#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <optional>

class QWidget;

struct SkinFile {
  QString name, version;
  QString sheet;         // the whole file, for the controls
  QString mainWindowCss;  // declarations for a main window itself
  QString dialogCss;      // declarations for a dialog itself
};

class CSkinEngine : public QObject {
  Q_OBJECT
 public:
  static constexpr qint64 kMaxFileBytes = 256 * 1024;

  // Parses skin file contents; nothing when they are not a skin.
  static std::optional<SkinFile> Parse(const QByteArray& bytes);

  // Loads a skin file by path; false (and the skin unchanged) when it cannot be used.
  bool LoadSkin(const QString& path);
  // Skins a window with the loaded skin (nothing before a skin was loaded).
  void ApplySkin(QWidget* window);

  bool HasSkin() const { return m_skin.has_value(); }
  QString SkinName() const { return m_skin ? m_skin->name : QString(); }
  QString SkinPath() const { return m_path; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  std::optional<SkinFile> m_skin;
  QString m_path;
};

namespace skin {

// The application-wide skin interface: set while the skin host lives, none otherwise.
CSkinEngine* Current();
void SetCurrent(CSkinEngine* engine);
// Skins a window or dialog with the current skin; nothing without one. Every dialog except
// the save dialog calls this when it initialises.
void ApplySkin(QWidget* window);

// The name a skinned window carries (dynamic property), for tests and diagnostics.
inline constexpr const char* kSkinNameProperty = "lumoraSkin";

}  // namespace skin
