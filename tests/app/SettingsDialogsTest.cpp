// The recording-quality and MP3 tag dialogs on their real widgets: what they show from
// config.ini, what OK, Cancel and Default leave in it, and the input OK refuses.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>

#include "app/FrmConfig.h"
#include "app/FrmMP3info.h"
#include "app/FrmMain.h"
#include "app/ProgramWindows.h"
#include "media/EventWait.h"
#include "platform/ProgramFolder.h"
#include "support/FileBytes.h"
#include "support/ModalBoxWatcher.h"

namespace sonarelle {
namespace {

using event_wait::WaitUntil;

class SettingsDialogsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.isValid());
    SetProgramFolder(folder_.path() + "/");
  }
  void TearDown() override { SetProgramFolder({}); }

  QString Config() const { return folder_.filePath("config.ini"); }
  void PutConfig(const QByteArray& text) { WriteBytes(Config(), text); }
  QByteArray ConfigText() const { return ReadBytes(Config()); }
  // Shows the window and waits until it is the active one, as a user's click makes it.
  static bool Activate(QWidget* window) {
    window->show();
    window->activateWindow();
    return QTest::qWaitForWindowActive(window);
  }

  QTemporaryDir folder_;
};

TEST_F(SettingsDialogsTest, ConfigShowsTheStoredValuesAtEachActivationAndOkWritesThemInPlace) {
  PutConfig("[recorder_setting]\nsamplerate=0x5622\nsamplebit=12\nchannels=3\nbuffersize=1000\n");
  TFrmConfig config(Config(), [] { return QStringLiteral("Sine source"); });
  QWidget other;
  ASSERT_TRUE(Activate(&config));
  EXPECT_EQ(config.Label3->text(), "Product Name   Sine source");
  EXPECT_EQ(config.TrackBar1->value(), 3);
  EXPECT_EQ(config.TrackBar2->value(), 10) << "numbuffers missing: 20";
  EXPECT_EQ(config.suiComboBox1->currentText(), "22050");
  EXPECT_TRUE(config.suiRadioButton2->isChecked()) << "channels 3 is stereo";
  EXPECT_TRUE(config.suiRadioButton4->isChecked()) << "samplebit 12 is 16 bits";
  EXPECT_EQ(config.suiEdit1->text(), "5.04M/min");

  // Edits not confirmed are lost when the user comes back from another window.
  config.suiComboBox1->setEditText("8000");
  config.suiRadioButton1->click();
  ASSERT_TRUE(Activate(&other));
  ASSERT_TRUE(Activate(&config));
  EXPECT_EQ(config.suiComboBox1->currentText(), "22050");
  EXPECT_TRUE(config.suiRadioButton2->isChecked());

  config.suiButton1->click();
  EXPECT_FALSE(config.isVisible());
  EXPECT_EQ(ConfigText(),
            "[recorder_setting]\nsamplerate=22050\nsamplebit=16\nchannels=2\nbuffersize=768\n"
            "numbuffers=20\nmixlevel=100\nmixoffset=0\n");
}

TEST_F(SettingsDialogsTest, ConfigOkWritesTheUsersChoiceInOrderCancelNothingDefaultOnlyTheForm) {
  TFrmConfig config(Config(), {});
  ASSERT_TRUE(Activate(&config));
  EXPECT_EQ(config.suiEdit1->text(), "10.0M/min");
  config.TrackBar1->setValue(0);
  config.suiButton2->click();
  EXPECT_FALSE(config.isVisible());
  EXPECT_FALSE(QFile::exists(Config())) << "Cancel writes nothing";

  ASSERT_TRUE(Activate(&config));
  EXPECT_EQ(config.TrackBar1->value(), 16) << "the stored value shows again";
  config.TrackBar1->setValue(40);
  config.TrackBar2->setValue(1);
  QTest::mouseClick(config.suiRadioButton1, Qt::LeftButton);
  QTest::mouseClick(config.suiRadioButton3, Qt::LeftButton);
  config.suiComboBox1->setCurrentIndex(0);  // 8000
  EXPECT_EQ(config.suiEdit1->text(), "0.45M/min") << "0.4577: cut, not rounded";

  config.suiButton3->click();
  EXPECT_EQ(config.TrackBar1->value(), 16);
  EXPECT_EQ(config.TrackBar2->value(), 10);
  EXPECT_TRUE(config.suiRadioButton2->isChecked() && config.suiRadioButton4->isChecked());
  EXPECT_EQ(config.suiComboBox1->currentText(), "44100");
  EXPECT_EQ(config.suiEdit1->text(), "10.0M/min");
  EXPECT_FALSE(QFile::exists(Config())) << "Default writes nothing";

  config.TrackBar1->setValue(40);
  config.TrackBar2->setValue(1);
  config.suiRadioButton1->click();
  config.suiRadioButton3->click();
  config.suiComboBox1->setEditText("96000");
  // The take mix's settings come after the recording format's, and show the server's view.
  config.MixLevelEdit->setValue(70);
  config.MixOffsetEdit->setValue(-12);
  EXPECT_TRUE(config.LatencyLabel->text().startsWith("Server: microphone "))
      << config.LatencyLabel->text().toStdString();
  config.suiButton1->click();
  EXPECT_EQ(ConfigText(),
            "[recorder_setting]\nbuffersize=10240\nnumbuffers=2\nchannels=1\nsamplebit=8\n"
            "samplerate=96000\nmixlevel=70\nmixoffset=-12\n");
}

TEST_F(SettingsDialogsTest, ConfigRefusesInputThatBreaksATakeAndStoresNothing) {
  const QByteArray stored =
      "[recorder_setting]\nbuffersize=4096\nnumbuffers=20\nchannels=2\nsamplebit=16\n"
      "samplerate=44100\n";
  PutConfig(stored);
  TFrmConfig config(Config(), {});
  ASSERT_TRUE(Activate(&config));
  ModalBoxWatcher boxes;
  config.suiRadioButton1->click();

  // A rate that is no number: the field keeps its text, OK stores none of the keys.
  config.suiComboBox1->setEditText("22k");
  EXPECT_EQ(config.suiEdit1->text(), "5.04M/min");
  config.suiButton1->click();
  EXPECT_EQ(boxes.Texts(), QStringList({"'22k' is not a valid integer value",
                                        "'22k' is not a valid integer value"}));
  EXPECT_TRUE(boxes.Boxes().last().critical);
  EXPECT_EQ(ConfigText(), stored);
  EXPECT_TRUE(config.isVisible());

  // Rates the recorder cannot take, and no buffers at all.
  for (const char* rate : {"0", "7999", "100001", "-44100"}) {
    config.suiComboBox1->setEditText(QString::fromLatin1(rate));
    config.suiButton1->click();
    EXPECT_TRUE(boxes.Texts().last().startsWith("The sample rate must be from 8000 to 100000 Hz"))
        << rate;
  }
  config.suiComboBox1->setEditText("22050");
  for (QSlider* bar : {config.TrackBar1, config.TrackBar2}) {
    bar->setValue(0);
    config.suiButton1->click();
    EXPECT_TRUE(boxes.Texts().last().contains("must be above 0"));
    bar->setValue(10);
  }
  EXPECT_EQ(ConfigText(), stored);
  EXPECT_TRUE(config.isVisible());
  EXPECT_EQ(boxes.Boxes().size(), 8);
}

TEST_F(SettingsDialogsTest, Mp3InfoReadsOnceAtCreationAndOkWritesTheFiveInOrder) {
  PutConfig("[mp3_info]\ntitle=Old title\nyear=1999\n");
  TFrmMP3info info(Config());
  EXPECT_EQ(info.suiEdit1->text(), "Old title");
  EXPECT_EQ(info.suiEdit4->text(), "1999");
  EXPECT_EQ(info.suiEdit2->text(), "");

  // Cancel keeps the typed text and writes nothing; the next OK stores it.
  info.show();
  info.suiEdit2->setText("Ann");
  info.suiButton2->click();
  EXPECT_FALSE(info.isVisible());
  EXPECT_EQ(ConfigText(), "[mp3_info]\ntitle=Old title\nyear=1999\n");
  PutConfig("");
  info.show();
  EXPECT_EQ(info.suiEdit2->text(), "Ann") << "loaded once, at creation";
  const QString longTitle(40, QLatin1Char('t'));
  info.suiEdit1->setText(longTitle);
  info.suiEdit3->setText("Live");
  info.suiEdit5->setText("take two");
  info.suiButton1->click();
  EXPECT_FALSE(info.isVisible());
  EXPECT_EQ(ConfigText(), "[mp3_info]\nalbum=Live\nartist=Ann\ncomment=take two\ntitle=" +
                              longTitle.toLatin1() + "\nyear=1999\n");
}

TEST_F(SettingsDialogsTest, TheOptionsMenuShowsBothDialogsWithTheLanguageFilesTexts) {
  WriteBytes(folder_.filePath("language/en.ini"),
             "[frmConfig]\ncaption=Aufnahme\nlabel5=Puffer\nsuiButton1=&Gut\n"
             "[FrmMP3info]\nlabel1=Titel\nlabel4=\n");
  PutConfig("[mp3_info]\nartist=Ann\n[recorder_setting]\nchannels=1\n");

  TProgramWindows windows;
  windows.FrmMain->show();
  TFrmConfig& config = *windows.FrmConfig;
  TFrmMP3info& info = *windows.FrmMP3info;
  EXPECT_EQ(config.windowTitle(), "Aufnahme");
  EXPECT_EQ(config.Label5->text(), "Puffer");
  EXPECT_EQ(config.suiButton1->text(), "&Gut");
  EXPECT_EQ(config.suiButton2->text(), "&Cancel") << "a missing key keeps its default";
  EXPECT_EQ(info.windowTitle(), "MP3 Infomation Setting");
  EXPECT_EQ(info.Label1->text(), "Titel");
  EXPECT_EQ(info.Label4->text(), "") << "an empty value is a text of its own";
  EXPECT_EQ(info.suiEdit2->text(), "Ann") << "read through the main window's config.ini";

  windows.FrmMain->Item("N61")->trigger();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&config));
  EXPECT_TRUE(config.suiRadioButton1->isChecked());
  EXPECT_TRUE(config.Label3->text().startsWith("Product Name   "));
  windows.FrmMain->Item("N62")->trigger();
  EXPECT_TRUE(info.isVisible());
  EXPECT_TRUE(config.isVisible()) << "shown without a modal loop, both stay open";
  EXPECT_TRUE(windows.FrmMain->isEnabled());
}

}  // namespace
}  // namespace sonarelle
