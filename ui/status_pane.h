// A status bar's text pane, cheap to rewrite many times a second.
//
// A capture rewrites the status text 30 times a second. A QLabel given new text asks its bar
// to lay out again, measuring (shaping) the text once for the layout and again for painting,
// and is repainted and sent to the display on its own, between the preview's frames. This pane
// keeps one size for every text (a line of the widget's font; text too long for it is cut at
// its far edge, as a status pane's is), draws Latin text without OpenType shaping, and shows
// new text with the window's next repaint, at most kLatestMs later. It stays a QLabel for the
// skins' style sheets ("QStatusBar QLabel"); its text is its accessible name, which assistive
// tools read first.
#pragma once

#include <QBasicTimer>
#include <QFont>
#include <QLabel>
#include <QPointer>

#include <optional>

namespace ui {

class StatusPane : public QLabel {
public:
  static constexpr int kLatestMs = 50;

  explicit StatusPane(QWidget* parent = nullptr);

  void SetText(const QString& text);
  const QString& Text() const { return text_; }

  QSize sizeHint() const override;
  QSize minimumSizeHint() const override;
  bool eventFilter(QObject* watched, QEvent* event) override;

protected:
  void paintEvent(QPaintEvent* event) override;
  void changeEvent(QEvent* event) override;
  void timerEvent(QTimerEvent* event) override;

private:
  void RepaintNow();

  QString text_;
  mutable std::optional<QFont> paintFont_;  // the widget's, unshaped where the script allows
  mutable QSize hint_;  // empty until measured; measured again when font or style change
  QBasicTimer latest_;  // running while new text waits for the window's repaint
  QPointer<QObject> window_;  // where that repaint is announced
};

}  // namespace ui
