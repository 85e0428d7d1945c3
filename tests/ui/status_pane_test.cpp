// The status pane: new text neither lays the bar out again nor waits long to be seen.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QApplication>
#include <QElapsedTimer>
#include <QMainWindow>
#include <QStatusBar>

#include "ui/status_pane.h"

namespace {

// Counts one kind of event reaching an object.
struct EventCounter : QObject {
  EventCounter(QObject* target, QEvent::Type type) : type(type) {
    target->installEventFilter(this);
  }
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == type) ++count;
    return false;
  }
  QEvent::Type type;
  int count = 0;
};

void RunEventsFor(int ms) {
  QElapsedTimer clock;
  clock.start();
  while (clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

class StatusPaneTest : public ::testing::Test {
protected:
  void SetUp() override {
    window.resize(400, 300);
    window.setCentralWidget(other);
    window.statusBar()->addWidget(pane, 1);
    pane->SetText(QStringLiteral("Ready"));
    window.show();
    RunEventsFor(50);
  }
  int argc = 1;
  char name[12] = "status_pane";
  char* argv[2] = {name, nullptr};
  QApplication app{argc, argv};
  QMainWindow window;
  QWidget* other = new QWidget;
  ui::StatusPane* pane = new ui::StatusPane;
};

TEST_F(StatusPaneTest, NewTextKeepsTheBarsLayoutAndIsItsAccessibleName) {
  const QSize hint = pane->sizeHint();
  const int barHeight = window.statusBar()->height();
  EventCounter layouts(window.statusBar(), QEvent::LayoutRequest);
  for (const QString& text : {QStringLiteral("Captured 123456 frames (0 dropped) 4115.2sec"),
                              QStringLiteral(u"捕获 1 帧"), QStringLiteral("<b>x</b> & y"),
                              QString()}) {
    pane->SetText(text);
    RunEventsFor(ui::StatusPane::kLatestMs + 20);
    EXPECT_EQ(pane->Text(), text);
    EXPECT_EQ(QAccessible::queryAccessibleInterface(pane)->text(QAccessible::Name), text);
    EXPECT_EQ(pane->sizeHint(), hint) << text.toStdString();
  }
  EXPECT_EQ(layouts.count, 0);
  EXPECT_EQ(window.statusBar()->height(), barHeight);
  EXPECT_GE(barHeight, pane->fontMetrics().height());
}

TEST_F(StatusPaneTest, NewTextIsPaintedWithTheWindowsNextRepaintOrSoonAfter) {
  EventCounter paints(pane, QEvent::Paint);
  // Another widget's repaint takes the pane's along.
  pane->SetText(QStringLiteral("one"));
  other->update();
  RunEventsFor(10);
  EXPECT_EQ(paints.count, 1);
  // Nothing else repaints: the pane does on its own, once.
  pane->SetText(QStringLiteral("two"));
  RunEventsFor(ui::StatusPane::kLatestMs / 2);
  EXPECT_EQ(paints.count, 1);
  RunEventsFor(ui::StatusPane::kLatestMs * 2);
  EXPECT_EQ(paints.count, 2);
  // The same text again is no change.
  pane->SetText(QStringLiteral("two"));
  RunEventsFor(ui::StatusPane::kLatestMs * 2);
  EXPECT_EQ(paints.count, 2);
}

}  // namespace
