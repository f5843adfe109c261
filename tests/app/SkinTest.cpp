#include <gtest/gtest.h>

#include <QAction>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenuBar>
#include <QTemporaryDir>
#include <QTextEdit>
#include <QToolButton>

#include "app/FrmConfig.h"
#include "app/FrmDisplay.h"
#include "app/FrmMP3info.h"
#include "app/FrmMain.h"
#include "app/FrmTakes.h"
#include "app/FrmWaiting.h"
#include "app/ProgramWindows.h"
#include "displays/MMLEDLabel.h"
#include "midi/FrmMidiPlayer.h"
#include "platform/ProgramFolder.h"
#include "skins/SkinColors.h"
#include "skins/SuiThemeManager.h"
#include "support/FileBytes.h"
#include "support/ModalBoxWatcher.h"
#include "update/FrmUpdate.h"

namespace sonarelle {
namespace {

int messages = 0;  // Qt messages (warnings and the like) printed since the count was reset

class SkinTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramFolder(folder_.path());
    QDir(folder_.path()).mkdir(QStringLiteral("themes"));
    qInstallMessageHandler(
        [](QtMsgType, const QMessageLogContext&, const QString&) { ++messages; });
  }
  void TearDown() override {
    windows_.reset();
    qInstallMessageHandler(nullptr);
    SetProgramFolder(QString());
  }
  void Start() {
    windows_.reset();
    windows_ = std::make_unique<TProgramWindows>();
    windows_->FrmMain->show();
  }
  void Choose(const char* item) { windows_->FrmMain->Item(QString::fromLatin1(item))->trigger(); }
  void Write(const QString& name, const QByteArray& bytes) {
    WriteBytes(folder_.filePath(name), bytes);
  }
  QByteArray Config() const { return ReadBytes(folder_.filePath(QStringLiteral("config.ini"))); }
  QList<QWidget*> Windows() const {
    return {windows_->FrmConfig.get(),  windows_->FrmDisplay.get(), windows_->FrmMain.get(),
            windows_->FrmMP3info.get(), windows_->FrmWaiting.get(), windows_->FrmMidiPlayer.get(),
            windows_->FrmUpdate.get(),  windows_->FrmTakes.get()};
  }
  // Every listed control of every window carries `style`; returns how many there were.
  int ExpectStyle(TsuiUIStyle style) const {
    int restyled = 0;
    for (QWidget* window : Windows()) {
      auto* manager = window->findChild<TsuiThemeManager*>(QStringLiteral("suiThemeManager1"));
      EXPECT_NE(manager, nullptr) << window->objectName().toStdString();
      if (manager == nullptr) continue;
      EXPECT_EQ(manager->UIStyle(), style);
      for (const QString& name : manager->Controls()) {
        QWidget* control = manager->Control(name);
        EXPECT_NE(control, nullptr)
            << window->objectName().toStdString() << " " << name.toStdString();
        if (control == nullptr) continue;
        EXPECT_EQ(control->property(TsuiThemeManager::kStyleProperty).toInt(), int(style))
            << window->objectName().toStdString() << " " << name.toStdString();
        ++restyled;
      }
    }
    return restyled;
  }
  // The colour of the main window's frame between its groups and of the waiting window.
  QColor MainFace() const {
    return windows_->FrmMain->findChild<QWidget*>(QStringLiteral("suiForm1"))
        ->grab()
        .toImage()
        .pixelColor(431, 40);
  }
  QColor WaitingFace() const {
    windows_->FrmWaiting->show();
    return windows_->FrmWaiting->grab().toImage().pixelColor(2, 2);
  }
  QColor TakesFace() const { return windows_->FrmTakes->grab().toImage().pixelColor(2, 2); }

  QTemporaryDir folder_;
  std::unique_ptr<TProgramWindows> windows_;
};

TEST_F(SkinTest, AChosenSkinReachesTheListedControlsOfEveryWindowIsWrittenAndComesBack) {
  Write(QStringLiteral("themes/bluestorm.sui"),
        "[theme]\nwindow=#3b5f8a\nface=#c8d8e8\nbutton=#2d4a6e\nhighlight=#9fc4ef\n");
  Write(QStringLiteral("themes/xpsilver.sui"),
        "[Theme]\nWINDOW=silver\nface=#eeeef4\nbutton=#d4d0c8\nhighlight=#7a96df\n");
  Start();
  EXPECT_EQ(ExpectStyle(TsuiUIStyle::MacOS), 52);
  const QList<QWidget*> unlisted = {
      windows_->FrmMain->BtnPlay,     windows_->FrmMain->Label1,
      windows_->FrmMain->MMLEDLABEL1, windows_->FrmMidiPlayer->RichEdit1,
      windows_->FrmUpdate->Label4,    windows_->FrmTakes->Label1};
  // Their text and field colours; a window's background shows behind them.
  auto colors = [](const QWidget* control) {
    QStringList names;
    for (QPalette::ColorRole role : {QPalette::WindowText, QPalette::Text, QPalette::Base,
                                     QPalette::Button, QPalette::ButtonText}) {
      names << control->palette().color(role).name();
    }
    return names;
  };
  for (QWidget* control : unlisted) control->setProperty("colorsBefore", colors(control));

  Choose("N95");
  EXPECT_EQ(ExpectStyle(TsuiUIStyle::DeepBlue), 52);
  EXPECT_EQ(Config(), "[skin]\nskin=5\n");
  EXPECT_EQ(MainFace(), Readable(BuiltInLook(TsuiUIStyle::DeepBlue)).face);
  for (QWidget* control : unlisted) {
    EXPECT_TRUE(control->styleSheet().isEmpty()) << control->objectName().toStdString();
    EXPECT_FALSE(control->property(TsuiThemeManager::kStyleProperty).isValid());
    EXPECT_EQ(colors(control), control->property("colorsBefore").toStringList());
  }
  // The menu bar keeps its own compact font under the look.
  EXPECT_TRUE(windows_->FrmMain->menuBar()->styleSheet().startsWith(
      QStringLiteral("QMenuBar { font-size: 8pt;")));

  // A theme file replaces the one before it on every window at once.
  Choose("N98");
  EXPECT_EQ(MainFace(), QColor(0xc8, 0xd8, 0xe8));
  Choose("N96");
  EXPECT_EQ(ExpectStyle(TsuiUIStyle::FromThemeFile), 52);
  EXPECT_EQ(MainFace(), QColor(0xee, 0xee, 0xf4));
  EXPECT_EQ(WaitingFace(), QColor(0xee, 0xee, 0xf4));
  EXPECT_EQ(TakesFace(), QColor(0xee, 0xee, 0xf4)) << "the takes window is skinned too";
  Choose("N98");
  EXPECT_EQ(Config(), "[skin]\nskin=8\n");

  Start();  // a restart
  ExpectStyle(TsuiUIStyle::FromThemeFile);
  EXPECT_EQ(MainFace(), QColor(0xc8, 0xd8, 0xe8));
  EXPECT_EQ(WaitingFace(), QColor(0xc8, 0xd8, 0xe8));
  EXPECT_EQ(Config(), "[skin]\nskin=8\n");
}

TEST_F(SkinTest, AStoredSkinOutOfRangeStartsWithTheFirstLookAndStays) {
  for (const QByteArray& stored :
       {QByteArray("[skin]\nskin=0\n"), QByteArray("[skin]\r\nskin=9\r\n")}) {
    Write(QStringLiteral("config.ini"), stored);
    Start();
    ExpectStyle(TsuiUIStyle::MacOS);
    EXPECT_EQ(MainFace(), Readable(BuiltInLook(TsuiUIStyle::MacOS)).face);
    windows_.reset();
    EXPECT_EQ(Config(), stored);
  }
}

TEST_F(SkinTest, AMissingOrDamagedThemeFileLeavesTheProgramUsableAndSilent) {
  ModalBoxWatcher boxes;
  Start();
  const QColor first = MainFace();
  messages = 0;
  Choose("N97");  // no xpgreen.sui at all
  EXPECT_EQ(Config(), "[skin]\nskin=7\n");
  ExpectStyle(TsuiUIStyle::FromThemeFile);
  EXPECT_EQ(MainFace(), first);

  Write(QStringLiteral("themes/bluestorm.sui"),
        "[theme]\nwindow=#3b5f8a\nface=#c8d8e8\nbutton=#2d4a6e\nhighlight=#9fc4ef\n");
  Choose("N98");
  const QColor storm = MainFace();
  const QByteArray damaged[] = {
      QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16),
      "[theme]\nwindow=#3b5f8a\nface=#nothex\nbutton=#2d4a6e\nhighlight=#9fc4ef\n",
      "window=#3b5f8a\nface=#c8d8e8\nbutton=#2d4a6e\nhighlight=#9fc4ef\n",
      "[theme]\nname=" + QByteArray(100000, 'x') +
          "\nwindow=red\nface=red\nbutton=red\nhighlight=red\n",
  };
  for (const QByteArray& bytes : damaged) {
    Write(QStringLiteral("themes/xpgreen.sui"), bytes);
    Choose("N97");
    EXPECT_EQ(MainFace(), storm) << bytes.left(40).toStdString();
  }
  // Text no one could read is made readable: white on white becomes black.
  Write(QStringLiteral("themes/xpgreen.sui"),
        "[theme]\nwindow=white\ntext=white\nface=black\nbutton=#2d4a6e\nhighlight=#9fc4ef\n");
  Choose("N97");
  EXPECT_GE(ContrastRatio(MainFace(), Qt::black), kMinTextContrast);

  Choose("N92");
  ExpectStyle(TsuiUIStyle::WinXP);
  EXPECT_EQ(Config(), "[skin]\nskin=2\n");
  EXPECT_TRUE(boxes.Texts().isEmpty()) << boxes.Texts().join(QLatin1Char('|')).toStdString();
  EXPECT_EQ(messages, 0);
}

}  // namespace
}  // namespace sonarelle
