// The snapshot window beside a main window: placement, docking, painting, closing, and the
// Save command through the save dialog into files an independent reader checks.
#include "snapshot/snapshot_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenuBar>
#include <QProcess>
#include <QPointer>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QWindow>
#include <cmath>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "imaging/core/dib.h"
#include "resources/resources.h"
#include "resources/save_options_template.h"
#include "snapshot/dib.h"
#include "snapshot/dib_format.h"
#include "snapshot/save_dialog/message_box.h"
#include "snapshot/save_dialog/save_dlg.h"
#include "snapshot/snapshot_glue.h"
#include "tests/obey_file_permissions.h"

namespace {

// A smooth 24-bit picture: red from x, green from y, blue fixed.
CGlobalBlock Picture(int width, int height) {
  const size_t stride = dib::RowStride(uint64_t(width), 24);
  CGlobalBlock block(40 + stride * size_t(height));
  BitmapInfoHeader h;
  h.width = width;
  h.height = height;
  h.bitCount = 24;
  std::memcpy(block.Data(), &h, sizeof h);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uint8_t* p = block.Data() + 40 + size_t(height - 1 - y) * stride + 3 * size_t(x);
      p[0] = 96;
      p[1] = uint8_t(y * 255 / height);
      p[2] = uint8_t(x * 255 / width);
    }
  return block;
}

QRgb PictureColour(int x, int y, int width, int height) {
  return qRgb(x * 255 / width, y * 255 / height, 96);
}

struct Shown {
  QMessageBox::Icon icon;
  QString caption, text;
};

// Counts the stacking changes of a window.
class RaiseCounter : public QObject {
public:
  RaiseCounter(QWidget* w, int& count) : w_(w), count_(count) { w->installEventFilter(this); }
  ~RaiseCounter() override { if (w_) w_->removeEventFilter(this); }
  bool eventFilter(QObject*, QEvent* e) override {
    if (e->type() == QEvent::ZOrderChange) ++count_;
    return false;
  }

private:
  QPointer<QWidget> w_;
  int& count_;
};

class SnapshotWindowTest : public testing::Test {
protected:
  static void SetUpTestSuite() {
    static int argc = 1;
    static char name[] = "snapshot_window_tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new QApplication(argc, argv);
  }
  void SetUp() override {
    main_.setGeometry(100, 50, 400, 300);
    main_.show();
    snapshotui::SetMessageBoxRunnerForTesting([this](QMessageBox& box) {
      shown_.push_back({box.icon(), box.windowTitle(), box.text()});
    });
  }
  void TearDown() override {
    if (CSnapshotWnd* w = CSnapshotWnd::Find()) delete w;
    snapshotui::SetMessageBoxRunnerForTesting({});
    CSaveDlg::SetModalHookForTesting({});
  }
  // As the Snapshot command does: a new picture, then a new or refreshed window.
  CSnapshotWnd* Snap(int width, int height) {
    image_.SetDib(Picture(width, height));
    if (CSnapshotWnd* open = CSnapshotWnd::Find()) {
      open->OnSnapshotRefresh();
    } else {
      auto* w = new CSnapshotWnd(image_, &main_, res::kSnapshotMenuEnglish);
      w->resize(width, height);
      w->show();
    }
    QCoreApplication::processEvents();
    return CSnapshotWnd::Find();
  }
  QPoint Beside() const {
    return {main_.frameGeometry().x() + main_.frameGeometry().width() + 1, main_.y()};
  }

  QMainWindow main_;
  CDib image_;
  std::vector<Shown> shown_;
};

TEST_F(SnapshotWindowTest, ClientAreaIsThePictureBesideTheMainWindow) {
  CSnapshotWnd* w = Snap(320, 240);
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->windowTitle(), "Snapshot Window");
  EXPECT_EQ(w->parentWidget(), &main_);
  EXPECT_TRUE(w->isWindow());
  EXPECT_EQ(w->View()->size(), QSize(320, 240));
  EXPECT_EQ(w->frameGeometry().topLeft(), Beside());
  // Menu 134: File > &Save with command 32783.
  ASSERT_EQ(w->menuBar()->actions().size(), 1);
  QMenu* file = w->menuBar()->actions()[0]->menu();
  EXPECT_EQ(w->menuBar()->actions()[0]->text(), "File");
  ASSERT_EQ(file->actions().size(), 1);
  EXPECT_EQ(file->actions()[0]->text(), "&Save");
  EXPECT_EQ(file->actions()[0]->objectName(), QString::number(cmd::kSave));

  // The view shows the picture unscaled from its top-left corner.
  const QImage shot = w->View()->grab().toImage();
  for (QPoint p : {QPoint(0, 0), QPoint(319, 0), QPoint(17, 200), QPoint(319, 239)})
    EXPECT_EQ(shot.pixel(p) & 0xFFFFFF, PictureColour(p.x(), p.y(), 320, 240) & 0xFFFFFF) << p.x();
}

TEST_F(SnapshotWindowTest, SecondSnapshotResizesTheSameWindow) {
  CSnapshotWnd* first = Snap(320, 240);
  CSnapshotWnd* second = Snap(160, 100);
  EXPECT_EQ(first, second);
  EXPECT_EQ(second->View()->size(), QSize(160, 100));
  EXPECT_EQ(second->frameGeometry().topLeft(), Beside());
  EXPECT_EQ(second->View()->grab().toImage().pixel(159, 99) & 0xFFFFFF,
            PictureColour(159, 99, 160, 100) & 0xFFFFFF);
}

TEST_F(SnapshotWindowTest, FollowsTheMainWindow) {
  CSnapshotWnd* w = Snap(64, 48);
  const QSize size = w->size();
  main_.move(30, 70);
  QCoreApplication::processEvents();
  EXPECT_EQ(w->frameGeometry().topLeft(), Beside());
  EXPECT_EQ(w->size(), size);

  main_.showMinimized();
  QCoreApplication::processEvents();
  EXPECT_TRUE(w->isMinimized());
  main_.showNormal();
  QCoreApplication::processEvents();
  EXPECT_FALSE(w->isMinimized());
  EXPECT_TRUE(w->isVisible());

  // Maximising leaves it where it is, above the main window (raised, as an owned window).
  int raised = 0;
  RaiseCounter counter(w, raised);
  const QPoint before = w->pos();
  main_.showMaximized();
  QCoreApplication::processEvents();
  EXPECT_EQ(w->pos(), before);
  EXPECT_FALSE(w->isMinimized());
  EXPECT_GT(raised, 0);
  EXPECT_EQ(w->windowHandle()->transientParent(), main_.windowHandle());

  // Back from maximised, and when only the width changes, it stands at the new right edge.
  main_.showNormal();
  QCoreApplication::processEvents();
  EXPECT_EQ(w->frameGeometry().topLeft(), Beside());
  main_.resize(main_.width() + 57, main_.height());
  QCoreApplication::processEvents();
  EXPECT_EQ(w->frameGeometry().topLeft(), Beside());
  EXPECT_EQ(w->size(), size);
}

TEST_F(SnapshotWindowTest, ShowingAgainPlacesFromTheCurrentMainWindow) {
  CSnapshotWnd* w = Snap(64, 48);
  w->hide();
  main_.removeEventFilter(main_.findChild<CSnapshotGlue*>());
  main_.move(10, 20);
  QCoreApplication::processEvents();
  main_.installEventFilter(main_.findChild<CSnapshotGlue*>());
  w->show();
  EXPECT_EQ(w->frameGeometry().topLeft(), Beside());
}

TEST_F(SnapshotWindowTest, ClosingFreesThePictureAndAReopenDocksAgain) {
  Snap(64, 48);
  CSnapshotWnd::Find()->close();
  QCoreApplication::processEvents();
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  EXPECT_EQ(CSnapshotWnd::Find(), nullptr);
  EXPECT_FALSE(image_.HasDib());
  CSnapshotWnd* again = Snap(32, 24);
  ASSERT_NE(again, nullptr);
  main_.move(40, 40);
  QCoreApplication::processEvents();
  EXPECT_EQ(again->frameGeometry().topLeft(), Beside());
  EXPECT_EQ(main_.findChildren<CSnapshotGlue*>().size(), 1);
}

// --- Save ---

// Runs the save dialog as a user would: pick `type`, maybe set options, type `name`.
CSaveDlg::ModalHook SaveAs(int type, QString name, std::function<void(CSaveDlg&)> options = {}) {
  return [=](CSaveDlg& d) {
    d.show();
    auto* types = qobject_cast<QComboBox*>(d.Control(res::kIdcFileTypeList));
    types->setCurrentIndex(type);
    emit types->activated(type);
    if (options) options(d);
    qobject_cast<QLineEdit*>(d.Control(res::kIdcFileNameBox))->setText(name);
    d.accept();
    return d.result();
  };
}

// Pixels of `path` as ImageMagick reads them, 8-bit RGB, top row first (it keeps a TGA's
// bottom-up order as an orientation note unless asked to apply it); empty when it cannot.
QByteArray ReadWithImageMagick(const QString& path, QSize size) {
  QProcess p;
  p.start("convert", {path, "-auto-orient", "-depth", "8", "rgb:-"});
  if (!p.waitForFinished(20000) || p.exitCode() != 0) return {};
  const QByteArray rgb = p.readAllStandardOutput();
  return rgb.size() == size.width() * size.height() * 3 ? rgb : QByteArray();
}

double Psnr(const QByteArray& a, const QByteArray& b) {
  double se = 0;
  for (qsizetype i = 0; i < a.size(); ++i) {
    const double d = double(uint8_t(a[i])) - double(uint8_t(b[i]));
    se += d * d;
  }
  const double mse = se / double(a.size());
  return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

TEST_F(SnapshotWindowTest, SavesEveryFormatWithThePicturesPixels) {
  if (QStandardPaths::findExecutable("convert").isEmpty()) GTEST_SKIP() << "no ImageMagick";
  const QSize size(64, 48);
  CSnapshotWnd* w = Snap(size.width(), size.height());
  QByteArray expected;
  for (int y = 0; y < size.height(); ++y)
    for (int x = 0; x < size.width(); ++x) {
      const QRgb c = PictureColour(x, y, size.width(), size.height());
      expected.append(char(qRed(c))).append(char(qGreen(c))).append(char(qBlue(c)));
    }
  QTemporaryDir dir;
  const char* names[] = {"s.bmp", "s.jpg", "s.png", "s.tif", "s.tga", "s.pcx", "s.gif"};
  for (int type = 0; type < 7; ++type) {
    const QString path = dir.filePath(names[type]);
    std::function<void(CSaveDlg&)> quality90;
    if (type == 1)
      quality90 = [](CSaveDlg& d) {
        qobject_cast<QPushButton*>(d.Control(res::kIdcAdvanced))->click();
        qobject_cast<QLineEdit*>(d.Control(res::kIdcJpegQuality))->setText("90");
      };
    CSaveDlg::SetModalHookForTesting(SaveAs(type, path, quality90));
    w->OnFileSave();
    ASSERT_TRUE(shown_.empty()) << shown_.front().text.toStdString();
    const QByteArray got = ReadWithImageMagick(path, size);
    ASSERT_FALSE(got.isEmpty()) << names[type];
    if (type == 1)
      EXPECT_GE(Psnr(got, expected), 38.0) << names[type];
    else if (type == 6)
      EXPECT_GE(Psnr(got, expected), 24.0) << names[type];  // 3072 colours cut to 256
    else
      EXPECT_EQ(got, expected) << names[type];
  }
}

TEST_F(SnapshotWindowTest, CancelChangesNothing) {
  CSnapshotWnd* w = Snap(32, 24);
  const QByteArray before(reinterpret_cast<const char*>(image_.GetDib().Data()),
                          qsizetype(image_.GetDib().Size()));
  QTemporaryDir dir;
  CSaveDlg::SetModalHookForTesting([](CSaveDlg& d) {
    d.show();
    d.reject();
    return d.result();
  });
  w->OnFileSave();
  EXPECT_TRUE(shown_.empty());
  EXPECT_TRUE(QDir(dir.path()).isEmpty());
  EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(image_.GetDib().Data()),
                       qsizetype(image_.GetDib().Size())),
            before);
}

TEST_F(SnapshotWindowTest, SaveWithoutPictureSaysSo) {
  CSnapshotWnd* w = Snap(32, 24);
  image_.FreeDib();
  QTemporaryDir dir;
  CSaveDlg::SetModalHookForTesting(SaveAs(0, dir.filePath("none.bmp")));
  w->OnFileSave();
  ASSERT_EQ(shown_.size(), 1u);
  EXPECT_EQ(shown_[0].text, " No content to save! ");
  EXPECT_EQ(shown_[0].caption, "lumora2003");
  EXPECT_FALSE(QFile::exists(dir.filePath("none.bmp")));
}

// The library's error in a stop box; the window and its picture stay.
void ExpectEncoderErrorShown(CSnapshotWnd* w, const CDib& image, const std::vector<Shown>& shown) {
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].icon, QMessageBox::Critical);
  EXPECT_EQ(shown[0].caption, "lumora2003");
  EXPECT_FALSE(shown[0].text.isEmpty());
  EXPECT_TRUE(w->isVisible());
  EXPECT_TRUE(image.HasDib());
  EXPECT_EQ(CSnapshotWnd::Find(), w);
}

TEST_F(SnapshotWindowTest, EncoderErrorIsShownAndTheWindowStays) {
  CSnapshotWnd* w = Snap(32, 24);
  QTemporaryDir dir;
  // A "folder" that is a plain file: the encoder cannot open its output.
  QFile blocker(dir.filePath("plain"));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  CSaveDlg::SetModalHookForTesting(SaveAs(2, dir.filePath("plain/out.png")));
  w->OnFileSave();
  ExpectEncoderErrorShown(w, image_, shown_);
}

TEST_F(SnapshotWindowTest, ReadOnlyFolderLosesNothing) {
  const ObeyFilePermissions asUser;  // root too
  ASSERT_TRUE(asUser.ok());
  CSnapshotWnd* w = Snap(32, 24);
  QTemporaryDir dir;
  ASSERT_EQ(::chmod(dir.path().toLocal8Bit().constData(), 0555), 0);
  CSaveDlg::SetModalHookForTesting(SaveAs(2, dir.filePath("locked.png")));
  w->OnFileSave();
  ::chmod(dir.path().toLocal8Bit().constData(), 0755);
  ExpectEncoderErrorShown(w, image_, shown_);
}

}  // namespace
