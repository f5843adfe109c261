#include <gtest/gtest.h>

#include <algorithm>

#include <QAction>
#include <QApplication>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QUrl>

#include "app/CollapsiblePanel.h"
#include "app/FrmMain.h"
#include "app/ProgramWindows.h"
#include "displays/MMLEDLabel.h"
#include "platform/ProgramFolder.h"
#include "platform/Shell.h"
#include "platform/TakeFolder.h"
#include "support/ModalBoxWatcher.h"

using namespace sonarelle;

namespace {

// Records the URLs the desktop is asked to open instead of opening them.
class UrlRecorder : public QObject {
  Q_OBJECT
 public:
  explicit UrlRecorder(const QStringList& schemes) : schemes_(schemes) {
    for (const QString& scheme : schemes_) QDesktopServices::setUrlHandler(scheme, this, "Open");
  }
  ~UrlRecorder() override {
    for (const QString& scheme : schemes_) QDesktopServices::unsetUrlHandler(scheme);
  }
  QList<QUrl> urls;
 public slots:
  void Open(const QUrl& url) { urls << url; }

 private:
  QStringList schemes_;
};

class FrmMainTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SetProgramFolder(folder_.path());
    form_ = std::make_unique<TFrmMain>();
  }
  void TearDown() override {
    form_.reset();
    SetProgramFolder(QString());
    // Ending the program (Exit, closing the main window) makes every later event loop of
    // this process return at once; an application loop started and left clears that.
    QTimer::singleShot(0, qApp, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
  }

  QAction* Item(const char* name) const {
    QAction* action = form_->Item(QString::fromLatin1(name));
    EXPECT_NE(action, nullptr) << name;
    return action;
  }

  QTemporaryDir folder_;
  std::unique_ptr<TFrmMain> form_;
};

TEST_F(FrmMainTest, StartsWithTheTimeDisplayAtZeroAndOnlyRecordEnabled) {
  form_->show();
  EXPECT_EQ(form_->MMLEDLABEL1->Caption(), "00:00:00   00:00:00");
  EXPECT_EQ(form_->MMLEDLABEL1->width(), 310);
  EXPECT_EQ(form_->MMLEDLABEL1->height(), 26);
  EXPECT_EQ(form_->MMLEDLABEL1->NumChars(), 19);
  EXPECT_FALSE(form_->suiTrackBar1->isEnabled());
  EXPECT_EQ(form_->suiTrackBar1->value(), 0);
  for (const char* off : {"N21", "N22", "N23", "N32", "N51", "N52", "MenuWindows"}) {
    EXPECT_FALSE(Item(off)->isEnabled()) << off;
  }
  for (const char* on : {"N31", "MenuScreen", "N11", "N17", "N81"}) {
    EXPECT_TRUE(Item(on)->isEnabled()) << on;
  }
  EXPECT_EQ(form_->FPlayState, TPlayState::psIdle);
  EXPECT_EQ(form_->FMediaKind, TMediaKind::mkNone);
  EXPECT_FALSE(form_->FRecording);
  EXPECT_FALSE(form_->Timer1->isActive());
  EXPECT_EQ(form_->Timer1->interval(), 1000);
  EXPECT_EQ(form_->LyricLine, -2);
  EXPECT_EQ(form_->FConfigFile, folder_.path() + "/config.ini");
  EXPECT_EQ(form_->FLanguageFile, folder_.path() + "/language/en.ini");
  EXPECT_FALSE(QFile::exists(form_->FConfigFile)) << "start-up must not write config.ini";
}

TEST_F(FrmMainTest, EveryToolbarButtonFollowsAndRunsItsMenuCommand) {
  ModalBoxWatcher boxes;  // the commands themselves find nothing to play
  const struct {
    QToolButton* button;
    const char* command;
    const char* hint;
  } pairs[] = {{form_->BtnPlay, "N21", "play"},
               {form_->BtnPause, "N22", "pause"},
               {form_->BtnStop, "N23", "stop"},
               {form_->BtnRecord, "N31", "record"},
               {form_->BtnStopRecord, "N32", "stop"}};
  for (const auto& pair : pairs) {
    QAction* command = Item(pair.command);
    EXPECT_EQ(pair.button->toolTip(), pair.hint);
    EXPECT_EQ(pair.button->isEnabled(), command->isEnabled()) << pair.command;
    for (bool enabled : {true, false, true}) {
      command->setEnabled(enabled);
      EXPECT_EQ(pair.button->isEnabled(), enabled) << pair.command;
    }
    QSignalSpy triggered(command, &QAction::triggered);
    pair.button->click();
    EXPECT_EQ(triggered.count(), 1) << pair.command;
    command->setEnabled(false);
    pair.button->click();
    EXPECT_EQ(triggered.count(), 1) << "a disabled button must not run " << pair.command;
  }
}

TEST_F(FrmMainTest, MenusCarryTheirNamesCaptionsAndFunctionKeys) {
  const struct {
    const char* name;
    const char* caption;
    int key;
  } items[] = {{"N1", "&File", 0},
               {"N11", "&Open a file", 0},
               {"N12", "&Play Karaoke Disk", 0},
               {"N14", "Open CD-ROM Door", 0},
               {"N15", "Close CD-ROM Door", 0},
               {"N17", "&Exit", 0},
               {"N21", "&Play", Qt::Key_F2},
               {"N22", "P&ause", Qt::Key_F3},
               {"N23", "&Stop", Qt::Key_F4},
               {"N31", "&Record", Qt::Key_F5},
               {"N32", "&Stop", Qt::Key_F6},
               {"N42", "Left  Channel", 0},
               {"N43", "Right Channel", 0},
               {"N51", "Full Screen", 0},
               {"N52", "Normal", 0},
               {"N62", "MP3 Infomation Setting", 0},
               {"N63", "Multimedia Mixer", 0},
               {"N64", "System Volume", 0},
               {"N9", "&Skin", 0},
               {"N95", "DeepBlue", 0},
               {"N98", "BlueStorm", 0},
               {"N101", "Online Update", 0},
               {"N81", "&Help    F1", 0},
               {"N82", "H&omepage", 0},
               {"N83", "&Support", 0},
               {"MenuVCD", "VCD", 0},
               {"MenuScreen", "Full Screen", 0},
               {"MenuWindows", "Normal", 0}};
  for (const auto& item : items) {
    QAction* action = Item(item.name);
    ASSERT_NE(action, nullptr);
    EXPECT_EQ(action->text(), item.caption) << item.name;
    EXPECT_EQ(action->shortcut(), item.key ? QKeySequence(item.key) : QKeySequence()) << item.name;
  }
  for (const char* separator : {"N13", "N16"}) {
    EXPECT_TRUE(Item(separator)->isSeparator()) << separator;
    EXPECT_TRUE(Item(separator)->text().isEmpty()) << separator << " draws its caption";
  }
  EXPECT_FALSE(Item("MenuVCD")->isVisible());
}

TEST_F(FrmMainTest, ClientAreaIsFixedAndTheSourcePanelStartsCollapsed) {
  form_->show();
  EXPECT_EQ(form_->width(), TFrmMain::kClientWidth);
  EXPECT_EQ(form_->height(), TFrmMain::kClientHeight - 116);
  EXPECT_TRUE(form_->suiPanel1->Collapsed());
  EXPECT_EQ(form_->suiPanel1->height(), TCollapsiblePanel::kCaptionHeight);
  EXPECT_EQ(form_->suiPanel1->geometry().bottom() + 1, form_->centralWidget()->height());

  form_->suiPanel1->Pop();
  EXPECT_EQ(form_->height(), TFrmMain::kClientHeight);
  EXPECT_EQ(form_->suiPanel1->height(), 136);
  EXPECT_EQ(form_->suiPanel1->geometry().bottom() + 1,
            form_->height() - form_->menuBar()->height());
  form_->suiPanel1->Push();
  EXPECT_EQ(form_->height(), TFrmMain::kClientHeight - 116);
  EXPECT_EQ(form_->minimumSize(), form_->maximumSize()) << "the window is not resizable";
}

TEST_F(FrmMainTest, ExitEndsAtOnceWithoutOfferingTheTake) {
  form_->show();
  form_->FRecording = true;
  QSignalSpy stopRecording(Item("N32"), &QAction::triggered);
  QEventLoop loop;
  QTimer::singleShot(0, Item("N17"), &QAction::trigger);
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, &loop, [&] { loop.exit(99); });
  guard.start(5000);
  EXPECT_EQ(loop.exec(), 0) << "Exit must end the message loop";
  EXPECT_EQ(stopRecording.count(), 0);
  EXPECT_TRUE(form_->isVisible()) << "Exit does not run the close handling";
  form_->FRecording = false;
}

TEST_F(FrmMainTest, ClosingWhileRecordingOffersTheTakeFirst) {
  form_->show();
  // As Record leaves it.
  const WAVEFORMATEX format = MakePCMFormat(16, 2, 44100);
  form_->FTake = TTakeFile::Create(TakeFolder(), &format);
  form_->FRecording = true;
  const QString take = form_->FTake->Path();
  bool offered = false;
  QString asked;
  QTimer::singleShot(50, form_.get(), [&] {
    offered = form_->SaveDialog1->isVisible();
    // Cancelled, and then the question of what becomes of the take answered with Escape.
    QTimer::singleShot(50, form_.get(), [&] {
      if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
        asked = box->text();
        QTest::keyClick(box, Qt::Key_Escape);
      }
    });
    form_->SaveDialog1->reject();
  });
  form_->close();
  EXPECT_TRUE(offered) << "the save dialog must come before the program ends";
  EXPECT_EQ(asked, "Discard this take?");
  EXPECT_TRUE(QFile::exists(take)) << "Escape keeps the take for the next start";
  EXPECT_FALSE(form_->FRecording);

  auto second = std::make_unique<TFrmMain>();
  second->close();
  EXPECT_TRUE(second->SaveDialog1 == nullptr || !second->SaveDialog1->isVisible());
}

// Opens a file as a singer does: a path typed into the open dialog's name field, Open
// clicked. Answers where the dialog stood and what its name field held then.
std::pair<QString, QString> TypeIntoOpenDialog(TFrmMain& form, const QString& typed) {
  std::pair<QString, QString> shown;
  // The dialog is made once the window is on the screen, as a singer first sees it.
  EXPECT_TRUE(QTest::qWaitFor([&] { return form.OpenDialog1 != nullptr; }, 5000));
  QTimer typing;
  QObject::connect(&typing, &QTimer::timeout, &form, [&] {
    QFileDialog& dialog = *form.OpenDialog1;
    if (!dialog.isVisible()) return;
    typing.stop();
    auto* name = dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    // Pasted over what is selected, as a typed path goes (typed key by key, the dialog may
    // follow the folders on the way, racing its directory model).
    name->insert(typed);
    shown = {dialog.directory().absolutePath(), name->text()};
    auto* buttons = dialog.findChild<QDialogButtonBox*>();
    QTest::mouseClick(buttons->button(QDialogButtonBox::Open), Qt::LeftButton);
  });
  typing.start(20);
  form.Item(QStringLiteral("N11"))->trigger();
  return shown;
}

TEST_F(FrmMainTest, TheOpenDialogStartsInTheLastSongsFolderAndATypedNameReplacesTheLast) {
  ModalBoxWatcher boxes(false);
  QTemporaryDir first;
  QTemporaryDir second;
  // Files the program does not play: each open ends in the format message.
  const QString a = first.filePath("a.txt");
  const QString b = second.filePath("b.txt");
  for (const QString& file : {a, b}) QFile(file).open(QIODevice::WriteOnly);
  form_.reset();
  auto windows = std::make_unique<TProgramWindows>();
  windows->FrmMain->show();
  TypeIntoOpenDialog(*windows->FrmMain, a);
  // The second time: in the first song's folder, and a whole path typed there is the name.
  const auto shown = TypeIntoOpenDialog(*windows->FrmMain, b);
  EXPECT_EQ(shown.first.toStdString(), first.path().toStdString());
  EXPECT_EQ(shown.second.toStdString(), b.toStdString());
  EXPECT_EQ(boxes.Texts(), QStringList(2, "Do not support this file format!"));
  // Remembered across starts.
  windows = std::make_unique<TProgramWindows>();
  windows->FrmMain->show();
  EXPECT_EQ(TypeIntoOpenDialog(*windows->FrmMain, a).first, second.path());
}

TEST_F(FrmMainTest, HelpHomepageAndSupportOpenThroughTheDesktop) {
  UrlRecorder recorder({"file", "https", "mailto"});
  Item("N81")->trigger();
  Item("N82")->trigger();
  Item("N83")->trigger();
  ASSERT_EQ(recorder.urls.size(), 3);
  const QString chm = folder_.path() + "/karaoke.chm";
  QFile::copy(QString::fromUtf8(qgetenv("SONARELLE_SOURCE_DIR")) + "/resources/help/karaoke.chm",
              chm);
  // Without a viewer for the compiled help the HTML copy opens.
  EXPECT_EQ(recorder.urls[0], QUrl::fromLocalFile(folder_.path() + "/help/karaoke.html"));
  EXPECT_EQ(recorder.urls[1].toString(), TFrmMain::kHomePage);
  EXPECT_EQ(recorder.urls[2].scheme(), "mailto");
  EXPECT_TRUE(recorder.urls[2].toString().contains("support@"));

  recorder.urls.clear();
  Item("N81")->trigger();
  ASSERT_EQ(recorder.urls.size(), 1);
  const QString expected =
      Shell::HasDefaultApplication(chm) ? chm : folder_.path() + "/help/karaoke.html";
  EXPECT_EQ(recorder.urls[0], QUrl::fromLocalFile(expected));
}

TEST_F(FrmMainTest, SoundSettingsStartTheDesktopsPanelOrSayWhyNot) {
  QTemporaryDir bin;
  const QByteArray oldPath = qgetenv("PATH");
  qputenv("PATH", bin.path().toUtf8());
  {
    ModalBoxWatcher boxes;
    Item("N63")->trigger();
    Item("N64")->trigger();
    ASSERT_EQ(boxes.Boxes().size(), 2);
    EXPECT_EQ(boxes.Boxes()[0].caption, "sonarelle recorder");
    EXPECT_TRUE(boxes.Boxes()[0].text.contains("pavucontrol"));
  }
  const QString log = bin.filePath("args.log");
  QFile script(bin.filePath("pavucontrol"));
  ASSERT_TRUE(script.open(QIODevice::WriteOnly));
  script.write("#!/bin/sh\necho \"$@\" >> '" + log.toUtf8() + "'\n");
  script.close();
  script.setPermissions(QFileDevice::ReadOwner | QFileDevice::ExeOwner | QFileDevice::WriteOwner);
  Item("N63")->trigger();
  Item("N64")->trigger();
  qputenv("PATH", oldPath);
  QFile logFile(log);
  for (int i = 0; i < 500 && logFile.size() < 16; ++i) QThread::msleep(10);
  ASSERT_TRUE(logFile.open(QIODevice::ReadOnly));
  QList<QByteArray> calls = logFile.readAll().trimmed().split('\n');
  std::sort(calls.begin(), calls.end());
  EXPECT_EQ(calls, (QList<QByteArray>{"--tab=3", "--tab=4"}));
}

}  // namespace

#include "FrmMainTest.moc"
