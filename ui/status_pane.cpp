#include "ui/status_pane.h"

#include <QEvent>
#include <QPainter>
#include <QStyle>
#include <QTimerEvent>

namespace ui {

StatusPane::StatusPane(QWidget* parent) : QLabel(parent) {}

void StatusPane::SetText(const QString& text) {
  if (text == text_) return;
  text_ = text;
  // QLabel's own text stays empty (setting it would lay the bar out again).
  setAccessibleName(text_);
  if (!isVisible()) return;  // painted when shown
  if (window() != window_) {
    if (window_) window_->removeEventFilter(this);
    window_ = window();
    window_->installEventFilter(this);
  }
  if (!latest_.isActive()) latest_.start(kLatestMs, this);
}

void StatusPane::RepaintNow() {
  latest_.stop();
  update(contentsRect());
}

bool StatusPane::eventFilter(QObject* watched, QEvent* event) {
  // The window is about to repaint what is due (a preview frame, say): the pane joins in, so
  // the display receives both at once.
  if (watched == window_ && event->type() == QEvent::UpdateRequest && latest_.isActive())
    RepaintNow();
  return QLabel::eventFilter(watched, event);
}

void StatusPane::timerEvent(QTimerEvent* event) {
  if (event->timerId() == latest_.timerId()) RepaintNow();
  else QLabel::timerEvent(event);
}

QSize StatusPane::sizeHint() const {
  if (hint_.isEmpty()) {
    // One line of either interface language: the fallback font that draws Chinese may be
    // taller than the widget's own.
    const QRect line = fontMetrics().boundingRect(QRect(0, 0, 2000, 2000),
                                                  Qt::AlignLeft | Qt::TextSingleLine,
                                                  QStringLiteral(u"Ready 就绪"));
    const QMargins m = contentsMargins();
    hint_ = QSize(line.width() + m.left() + m.right() + 2 * margin(),
                  line.height() + m.top() + m.bottom() + 2 * margin());
  }
  return hint_;
}

QSize StatusPane::minimumSizeHint() const { return sizeHint(); }

void StatusPane::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  drawFrame(&painter);
  if (!paintFont_) {
    paintFont_ = font();
    paintFont_->setStyleStrategy(QFont::PreferNoShaping);
  }
  painter.setFont(*paintFont_);
  const int m = margin();
  const QRect area = contentsRect().marginsRemoved(QMargins(m, m, m, m));
  style()->drawItemText(&painter, area,
                        int(QStyle::visualAlignment(layoutDirection(), alignment())) |
                            Qt::TextSingleLine,
                        palette(), isEnabled(), text_, foregroundRole());
}

void StatusPane::changeEvent(QEvent* event) {
  if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange ||
      event->type() == QEvent::ContentsRectChange) {
    hint_ = QSize();
    paintFont_.reset();
    updateGeometry();
  }
  QLabel::changeEvent(event);
}

}  // namespace ui
