// CLumora2003View: the frame's client view. It draws nothing: the live video is a child
// window that the preview places over it.
#pragma once

#include <QWidget>

class CLumora2003View : public QWidget {
  Q_OBJECT
 public:
  explicit CLumora2003View(QWidget* parent = nullptr) : QWidget(parent) {
    setObjectName(QStringLiteral("CLumora2003View"));
    // The skins colour the empty client area around the video.
    setAttribute(Qt::WA_StyledBackground);
  }
};
