// The language file against the real windows: the shipped English file holds the program's
// own texts, and a translation of every key reaches every caption, menus and access keys
// included.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSettings>
#include <QSlider>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>

#include "app/CollapsiblePanel.h"
#include "app/FrmConfig.h"
#include "app/FrmMain.h"
#include "app/FrmTakes.h"
#include "app/FrmWaiting.h"
#include "app/ProgramWindows.h"
#include "media/EventWait.h"
#include "platform/ProgramFolder.h"
#include "support/FileBytes.h"
#include "support/ModalBoxWatcher.h"
#include "update/FrmUpdate.h"

namespace sonarelle {
namespace {

// Messages only a take, a sound server, a failing disk or the update can bring up: the
// recording and update tests see them with the shipped file.
const QStringList kShownElsewhere = {"MsgNoHelpFile",
                                     "MsgNoVcd",
                                     "MsgUnsupportedAudio",
                                     "MsgWavOrMp3",
                                     "MsgNotOntoTheTake",
                                     "MsgDiscardTake",
                                     "BtnDiscardTake",
                                     "BtnKeepTake",
                                     "MsgWavSaveFailed",
                                     "MsgDiskFull",
                                     "MsgLowSpace",
                                     "MsgInputLost",
                                     "MsgTagFailed",
                                     "HintRecordingFrom",
                                     "MsgUnableToWrite",
                                     "MsgConversionUnfinished",
                                     "MsgSaveFailed",
                                     "MsgNoSettingsForRecording",
                                     "MsgNoSettingsForVolume",
                                     "LatencyLabel",
                                     "LatencyUnknown",
                                     "MsgCannotUpdateItself",
                                     "MsgUnableToDelete",
                                     "MsgDamaged",
                                     "MsgUnableToShowFolder"};

struct Text {
  QString section;
  QString key;
  QString value;
};

// The shipped English file, key by key in its own order.
QList<Text> ShippedTexts() {
  QFile file(qEnvironmentVariable("SONARELLE_SOURCE_DIR") + "/resources/language/en.ini");
  EXPECT_TRUE(file.open(QIODevice::ReadOnly | QIODevice::Text));
  QList<Text> texts;
  QString section;
  while (!file.atEnd()) {
    const QString line = QString::fromUtf8(file.readLine()).trimmed();
    if (line.isEmpty() || line.startsWith(';')) continue;
    if (line.startsWith('[')) {
      section = line.mid(1, line.size() - 2);
      continue;
    }
    const qsizetype equals = line.indexOf('=');
    QString value = line.mid(equals + 1);
    // Quotes keep a value's spaces at its ends.
    if (value.size() >= 2 && value.startsWith('"') && value.endsWith('"')) {
      value = value.mid(1, value.size() - 2);
    }
    texts.append({section, line.left(equals), value});
  }
  return texts;
}

class LanguageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.isValid());
    SetProgramFolder(folder_.path() + "/");
  }
  void TearDown() override {
    windows_.reset();
    SetProgramFolder({});
  }
  void Start() {
    windows_ = std::make_unique<TProgramWindows>();
    windows_->FrmMain->show();
  }
  QWidget* Window(const QString& section) const {
    for (QWidget* window : QApplication::topLevelWidgets()) {
      if (window->objectName().compare(section, Qt::CaseInsensitive) == 0) return window;
    }
    return nullptr;
  }
  // What the program shows for a key of the language file: the control's text, the
  // window's caption, or one of the update window's two values.
  QString Shown(const Text& text) const {
    QWidget* window = Window(text.section);
    if (window == nullptr) return "no window " + text.section;
    const QString key = text.key;
    if (key == "caption") return window->windowTitle();
    if (key == "Msg1") return windows_->FrmUpdate->Msg1;
    if (key == "WebUpdateUrl") return windows_->FrmUpdate->WebUpdateUrl;
    if (key == "suiPanel1") return windows_->FrmMain->suiPanel1->Caption();
    if (key == "checkbox1") return windows_->FrmUpdate->suiCheckBox1->text();
    if (key == "groupbox1") return windows_->FrmUpdate->suiGroupBox1->title();
    if (key == "HintExpand") return windows_->FrmMain->suiPanel1->ExpandHint();
    if (key == "HintCollapse") return windows_->FrmMain->suiPanel1->CollapseHint();
    if (key == "HintOffset") return windows_->FrmConfig->MixOffsetEdit->toolTip();
    if (key.startsWith("Msg") || key == "closing") return Message(text);
    if (key.startsWith("label")) {
      if (auto* label = window->findChild<QLabel*>("Label" + key.mid(5))) {
        // The setup window's device label goes on with the device's name.
        const bool named = window == windows_->FrmConfig.get() && key == "label3";
        return named && label->text().startsWith(text.value) ? text.value : label->text();
      }
    }
    const QString button = key.startsWith("button") ? "suiButton" + key.mid(6) : key;
    for (QAbstractButton* control : window->findChildren<QAbstractButton*>()) {
      if (control->objectName().compare(button, Qt::CaseInsensitive) != 0) continue;
      return qobject_cast<QToolButton*>(control) ? control->toolTip() : control->text();
    }
    if (auto* group = window->findChild<QGroupBox*>(key)) return group->title();
    for (QAction* item : window->findChildren<QAction*>()) {
      if (item->objectName().compare(key, Qt::CaseInsensitive) == 0) return item->text();
    }
    return "nothing shows " + text.section + "/" + key;
  }

  // The message the program shows for a message key, brought up as a user would.
  QString Message(const Text& text) const {
    if (text.key == "closing") {
      TFrmWaiting& waiting = *windows_->FrmWaiting;
      waiting.ShowClosing();
      const QString shown = waiting.Label1->text();
      waiting.hide();
      return shown;
    }
    ModalBoxWatcher boxes;
    TFrmConfig& config = *windows_->FrmConfig;
    if (text.key == "MsgUnsupportedFile") {
      windows_->FrmMain->PlayFile(folder_.filePath("song.xyz"));
    } else if (text.key == "MsgBadSampleRate" || text.key == "MsgNoBuffers") {
      config.show();
      const bool rate = text.key == "MsgBadSampleRate";
      config.suiComboBox1->setEditText(rate ? "5" : "44100");
      config.TrackBar1->setValue(rate ? config.TrackBar1->maximum() : 0);
      config.suiButton1->click();
      config.hide();
    } else {
      return "no way to show " + text.key;
    }
    if (!event_wait::WaitUntil([&] { return !boxes.Boxes().isEmpty(); }, 5000)) return {};
    QString shown = boxes.Boxes().first().text;
    // What the program puts in stands where the file has its marks.
    if (text.key == "MsgBadSampleRate")
      shown.replace("8000", "%1").replace(QString::number(TFrmConfig::kMaxSampleRate), "%2");
    return shown;
  }

  QTemporaryDir folder_;
  std::unique_ptr<TProgramWindows> windows_;
};

TEST_F(LanguageTest, WithoutALanguageFileEveryTextIsTheShippedEnglishOneAndNoMenuItemIsLeftOut) {
  const QList<Text> shipped = ShippedTexts();
  Start();
  for (const Text& text : shipped) {
    if (kShownElsewhere.contains(text.key)) continue;
    EXPECT_EQ(Shown(text), text.value)
        << text.section.toStdString() << "/" << text.key.toStdString();
  }
  // Every named item of the menu bar and the pop-up menu is a key of the English file.
  QStringList items;
  for (QAction* item : windows_->FrmMain->menuBar()->findChildren<QAction*>()) {
    items << item->objectName();
  }
  for (QAction* item : windows_->FrmMain->suiPopupMenu1->actions()) items << item->objectName();
  for (const QString& item : items) {
    if (item.isEmpty()) continue;
    EXPECT_TRUE(std::any_of(shipped.begin(), shipped.end(), [&](const Text& t) {
      return t.key.compare(item, Qt::CaseInsensitive) == 0;
    })) << item.toStdString();
  }
  EXPECT_TRUE(windows_->FrmMain->Item("N13")->isSeparator());
}

TEST_F(LanguageTest, ATranslationOfEveryKeyReachesEveryCaptionWhateverTheCaseOfItsNames) {
  // Sections in capitals and keys in lower case: names match without regard to case.
  QList<Text> translated;
  QByteArray file;
  QString section;
  for (const Text& text : ShippedTexts()) {
    QString value = "&Ü" + text.section.left(4) + " " + text.key;
    if (text.key == "N15") value = "-";
    if (text.key == "N6") value = "Ein&stellungen";
    if (text.key == "N61") value = "&Aufnahme";
    translated.append({text.section, text.key, value});
    if (text.section != section) file += "[" + text.section.toUpper().toUtf8() + "]\n";
    section = text.section;
    file += text.key.toLower().toUtf8() + "=" + value.toUtf8() + "\n";
  }
  WriteBytes(folder_.filePath("language/en.ini"), file);

  Start();
  for (const Text& text : translated) {
    if (kShownElsewhere.contains(text.key)) continue;
    EXPECT_EQ(Shown(text), text.value)
        << text.section.toStdString() << "/" << text.key.toStdString();
  }
  TFrmMain& main = *windows_->FrmMain;
  EXPECT_FALSE(main.Item("N13")->isSeparator()) << "a separator given a text is an item";
  EXPECT_TRUE(main.Item("N15")->isSeparator()) << "an item given \"-\" is a separator";

  // The file's access keys work from the keyboard: Alt+S opens the options menu, A picks
  // the recording settings.
  // The messages brought up above took the focus.
  main.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&main));
  auto* options = main.findChild<QMenu*>("N6");
  QTest::keyClick(&main, Qt::Key_S, Qt::AltModifier);
  ASSERT_TRUE(event_wait::WaitUntil([&] { return options->isVisible(); }, 5000));
  QTest::keyClick(options, Qt::Key_A);
  EXPECT_TRUE(event_wait::WaitUntil([&] { return windows_->FrmConfig->isVisible(); }, 5000));
}

}  // namespace
}  // namespace sonarelle
