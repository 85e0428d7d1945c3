// CLumora2003Doc: the single document. It carries no data: capture state lives in the main
// frame and the snapshot in the shared snapshot image. It exists so the document template
// can create the main frame with a client view and a window title.
#pragma once

#include <QObject>
#include <QString>

class CLumora2003Doc : public QObject {
  Q_OBJECT
 public:
  explicit CLumora2003Doc(QObject* parent = nullptr) : QObject(parent) {}

  // New document: forget the path and report success.
  bool OnNewDocument();
  // Nothing is ever stored through the document, so "opening" one only names it.
  bool OnOpenDocument(const QString& path);
  const QString& PathName() const { return m_pathName; }
  // The title shown in the frame's caption: the file's name, or the untitled text of the
  // current language.
  QString Title() const;

 private:
  QString m_pathName;
};
