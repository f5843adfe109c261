// The language file against the real windows: the shipped English file holds the program's
// own texts, and a translation of every key reaches every caption, menus and access keys
// included.
#include <gtest/gtest.h>

#include <QAction>
#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>

#include "app/CollapsiblePanel.h"
#include "app/FrmConfig.h"
#include "app/FrmMain.h"
#include "app/ProgramWindows.h"
#include "media/EventWait.h"
#include "platform/ProgramFolder.h"
#include "support/FileBytes.h"
#include "update/FrmUpdate.h"

namespace sonarelle {
namespace {

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
    texts.append({section, line.left(equals), line.mid(equals + 1)});
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
    if (key.startsWith("label")) {
      if (auto* label = window->findChild<QLabel*>("Label" + key.mid(5))) return label->text();
    }
    const QString button = key.startsWith("button") ? "suiButton" + key.mid(6) : key;
    if (auto* control = window->findChild<QPushButton*>(button)) return control->text();
    for (QAction* item : window->findChildren<QAction*>()) {
      if (item->objectName().compare(key, Qt::CaseInsensitive) == 0) return item->text();
    }
    return "nothing shows " + text.section + "/" + key;
  }

  QTemporaryDir folder_;
  std::unique_ptr<TProgramWindows> windows_;
};

TEST_F(LanguageTest, WithoutALanguageFileEveryTextIsTheShippedEnglishOneAndNoMenuItemIsLeftOut) {
  const QList<Text> shipped = ShippedTexts();
  Start();
  for (const Text& text : shipped) {
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
    EXPECT_EQ(Shown(text), text.value)
        << text.section.toStdString() << "/" << text.key.toStdString();
  }
  TFrmMain& main = *windows_->FrmMain;
  EXPECT_FALSE(main.Item("N13")->isSeparator()) << "a separator given a text is an item";
  EXPECT_TRUE(main.Item("N15")->isSeparator()) << "an item given \"-\" is a separator";

  // The file's access keys work from the keyboard: Alt+S opens the options menu, A picks
  // the recording settings.
  ASSERT_TRUE(QTest::qWaitForWindowActive(&main));
  auto* options = main.findChild<QMenu*>("N6");
  QTest::keyClick(&main, Qt::Key_S, Qt::AltModifier);
  ASSERT_TRUE(event_wait::WaitUntil([&] { return options->isVisible(); }, 5000));
  QTest::keyClick(options, Qt::Key_A);
  EXPECT_TRUE(event_wait::WaitUntil([&] { return windows_->FrmConfig->isVisible(); }, 5000));
}

}  // namespace
}  // namespace sonarelle
