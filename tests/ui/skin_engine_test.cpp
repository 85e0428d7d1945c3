// The skin engine: what it accepts as a skin file, what a failed load leaves, and which
// windows a skin reaches.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDialog>
#include <QFile>
#include <QMainWindow>
#include <QMenuBar>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <ostream>

#include "ui/skin_engine.h"

namespace {

const QString kSkinDir = QStringLiteral(LUMORA_SOURCE_DIR "/resources/skins/");

QByteArray Header(const char* name = "Test", const char* version = "1.0") {
  return QByteArray("/* lumora2003 skin\n   name: ") + name + "\n   version: " + version +
         "\n*/\n";
}

// Red buttons, a blue dialog and a green main window: easy to tell apart in pixels.
const QByteArray kProbeSheet = Header("Probe") +
                               "QMainWindow { background-color: #00ff00; }\n"
                               "QDialog { background-color: #0000ff; }\n"
                               "QPushButton { background-color: #ff0000; border: none; }\n";

QApplication& App() {
  static int argc = 1;
  static char name[] = "skin_engine_test";
  static char* argv[] = {name, nullptr};
  static QApplication* app = new QApplication(argc, argv);
  return *app;
}

QString WriteFile(const QTemporaryDir& dir, const QString& name, const QByteArray& bytes) {
  const QString path = dir.filePath(name);
  QFile f(path);
  EXPECT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(bytes);
  return path;
}

QColor CentreColour(QWidget* w) {
  const QImage image = w->grab().toImage();
  return image.pixelColor(image.width() / 2, image.height() / 2);
}

struct ShippedSkin {
  const char* file;
  const char* name;
};

void PrintTo(const ShippedSkin& s, std::ostream* os) { *os << s.file; }

class ShippedSkinTest : public ::testing::TestWithParam<ShippedSkin> {};

TEST_P(ShippedSkinTest, ParsesWithItsNameAndStylesTheWindowsThemselves) {
  QFile f(kSkinDir + QString::fromLatin1(GetParam().file));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << GetParam().file;
  const std::optional<SkinFile> skin = CSkinEngine::Parse(f.readAll());
  ASSERT_TRUE(skin.has_value());
  EXPECT_EQ(skin->name, QString::fromLatin1(GetParam().name));
  EXPECT_FALSE(skin->version.isEmpty());
  EXPECT_TRUE(skin->mainWindowCss.contains(QStringLiteral("background-color")));
  EXPECT_TRUE(skin->dialogCss.contains(QStringLiteral("background-color")));
  // Each look covers every kind of control the windows and dialogs use.
  for (const char* selector : {"QMenuBar", "QMenu::item:selected", "QStatusBar", "QPushButton",
                               "QLineEdit", "QListWidget", "QComboBox", "QCheckBox",
                               "QScrollBar::handle:vertical"})
    EXPECT_TRUE(skin->sheet.contains(QLatin1String(selector))) << selector;
}

INSTANTIATE_TEST_SUITE_P(
    SixSkins, ShippedSkinTest,
    ::testing::Values(ShippedSkin{"green.skn", "Green"}, ShippedSkin{"galaxy.skn", "Galaxy"},
                      ShippedSkin{"Paper.skn", "Paper"}, ShippedSkin{"Media.skn", "Media"},
                      ShippedSkin{"Chizh.skn", "Chizh"},
                      ShippedSkin{"TopSecret.skn", "TopSecret"}));

TEST(SkinParseTest, RefusesWhatIsNotASkin) {
  const QByteArray rule = "QWidget { color: #000000; }\n";
  const struct {
    const char* why;
    QByteArray bytes;
  } cases[] = {
      {"empty", ""},
      {"plain style sheet", rule},
      {"other comment first", "/* my colours */\n" + rule},
      {"no name", "/* lumora2003 skin\n version: 1 */\n" + rule},
      {"no version", "/* lumora2003 skin\n name: X */\n" + rule},
      {"header never closed", "/* lumora2003 skin\n name: X\n version: 1\n" + rule},
      {"no rules", Header()},
      {"unclosed rule", Header() + "QWidget { color: #000000;\n"},
      {"stray brace", Header() + rule + "}\n"},
      {"nested braces", Header() + "QWidget { QLabel { color: red; } }\n"},
      {"rule without selector", Header() + "{ color: red; }\n"},
      {"comment never closed", Header() + rule + "/* unfinished"},
      {"not UTF-8", Header() + "QLabel { color: red; }\n/* \xff\xfe */\n"},
      {"too large", Header() + rule + QByteArray(CSkinEngine::kMaxFileBytes, ' ')},
  };
  for (const auto& c : cases) EXPECT_FALSE(CSkinEngine::Parse(c.bytes).has_value()) << c.why;
  EXPECT_TRUE(CSkinEngine::Parse(Header() + rule).has_value());
}

TEST(SkinLoadTest, AFileThatCannotBeUsedLeavesTheLoadedSkin) {
  App();
  QTemporaryDir dir;
  CSkinEngine engine;
  const QString good = WriteFile(dir, QStringLiteral("good.skn"), kProbeSheet);
  ASSERT_TRUE(engine.LoadSkin(good));
  EXPECT_EQ(engine.SkinName(), QStringLiteral("Probe"));
  const QString broken = WriteFile(dir, QStringLiteral("broken.skn"), Header("Broken") + "QLabel {");
  for (const QString& path : {broken, dir.filePath(QStringLiteral("missing.skn")), dir.path()}) {
    EXPECT_FALSE(engine.LoadSkin(path)) << path.toStdString();
    EXPECT_EQ(engine.SkinName(), QStringLiteral("Probe"));
    EXPECT_EQ(engine.SkinPath(), good);
  }
}

TEST(SkinApplyTest, NothingLoadedLeavesTheWindowAlone) {
  App();
  CSkinEngine engine;
  QMainWindow window;
  engine.ApplySkin(&window);
  EXPECT_FALSE(window.property(skin::kSkinNameProperty).isValid());
  EXPECT_TRUE(window.menuBar()->styleSheet().isEmpty());
}

class SkinApplyProbeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    App();
    ASSERT_TRUE(engine_.LoadSkin(WriteFile(dir_, QStringLiteral("probe.skn"), kProbeSheet)));
  }
  QTemporaryDir dir_;
  CSkinEngine engine_;
};

TEST_F(SkinApplyProbeTest, ReachesTheWindowItsBarsAndControlsAddedLater) {
  QMainWindow window;
  window.menuBar()->addMenu(QStringLiteral("File"));
  window.setStatusBar(new QStatusBar(&window));
  window.resize(300, 200);
  engine_.ApplySkin(&window);
  EXPECT_EQ(window.property(skin::kSkinNameProperty).toString(), QStringLiteral("Probe"));
  // The client view arrives after the skin, as the document template adds it.
  auto* later = new QPushButton(QStringLiteral("later"), &window);
  window.setCentralWidget(later);
  window.show();
  EXPECT_EQ(CentreColour(later), QColor(0xff, 0, 0));
  EXPECT_FALSE(window.statusBar()->styleSheet().isEmpty());
  // The main window's own background: a spot no child covers.
  window.setCentralWidget(nullptr);
  const QImage image = window.grab().toImage();
  EXPECT_EQ(image.pixelColor(image.width() / 2, image.height() / 2), QColor(0, 0xff, 0));
}

TEST_F(SkinApplyProbeTest, DialogsOwnedByASkinnedWindowKeepTheirLookUntilSkinnedThemselves) {
  QMainWindow window;
  engine_.ApplySkin(&window);
  // An owned dialog that never asks for the skin (as the save dialog) ...
  QDialog plain(&window);
  auto* plainButton = new QPushButton(QStringLiteral("plain"), &plain);
  plainButton->resize(80, 30);
  plain.resize(200, 100);
  plain.show();
  EXPECT_NE(CentreColour(plainButton), QColor(0xff, 0, 0));
  EXPECT_NE(plain.grab().toImage().pixelColor(150, 80), QColor(0, 0, 0xff));
  // ... and one that does, as the capture dialogs and the About box.
  QDialog skinned(&window);
  auto* skinnedButton = new QPushButton(QStringLiteral("skinned"), &skinned);
  skinnedButton->resize(80, 30);
  skinned.resize(200, 100);
  skin::SetCurrent(&engine_);
  skin::ApplySkin(&skinned);
  skin::SetCurrent(nullptr);
  skinned.show();
  EXPECT_EQ(CentreColour(skinnedButton), QColor(0xff, 0, 0));
  EXPECT_EQ(skinned.grab().toImage().pixelColor(150, 80), QColor(0, 0, 0xff));
}

TEST_F(SkinApplyProbeTest, WithoutACurrentSkinDialogsStayAsTheyAre) {
  skin::SetCurrent(nullptr);
  QDialog dialog;
  skin::ApplySkin(&dialog);
  EXPECT_TRUE(dialog.styleSheet().isEmpty());
  EXPECT_FALSE(dialog.property(skin::kSkinNameProperty).isValid());
}

}  // namespace
