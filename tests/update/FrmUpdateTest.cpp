// The update window on its real widgets: the proxy settings it reads and writes, and what
// Update does where the program may not change itself.
#include "update/FrmUpdate.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include "media/EventWait.h"
#include "platform/ProgramFolder.h"
#include "support/FileBytes.h"
#include "support/ModalBoxWatcher.h"
#include "support/SmallDisk.h"
#include "support/Unprivileged.h"
#include "update/WebUpdate.h"

namespace sonarelle {
namespace {

class FrmUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder_.isValid());
    // Readable by everyone, writable by its owner only: a program folder as installed.
    QFile::setPermissions(folder_.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                              QFile::ReadOther | QFile::ExeOther);
    SetProgramFolder(folder_.path() + "/");
  }
  void TearDown() override { SetProgramFolder({}); }

  QString Config() const { return folder_.filePath("config.ini"); }
  void PutConfig(const QByteArray& text) { WriteBytes(Config(), text); }
  QByteArray ConfigText() const { return ReadBytes(Config()); }

  QTemporaryDir folder_;
  bool closed_ = false;
};

TEST_F(FrmUpdateTest, TheBoxFollowsIsProxyAndTheEditsAreFilledEitherWay) {
  PutConfig("[proxy]\nproxy=cache:3128\nproxyUserID=ann\nproxyPassword=s3cret\n");
  TFrmUpdate off(Config(), [] {});
  EXPECT_FALSE(off.suiCheckBox1->isChecked());
  EXPECT_FALSE(off.suiEdit1->isEnabled());
  EXPECT_EQ(off.suiEdit1->text(), "cache:3128");
  EXPECT_EQ(off.suiEdit3->text(), "s3cret");

  off.suiCheckBox1->click();
  EXPECT_TRUE(off.suiEdit2->isEnabled());
  off.suiCheckBox1->click();
  EXPECT_FALSE(off.suiEdit2->isEnabled());

  PutConfig("[proxy]\nisProxy=1\nproxy=cache:3128\n");
  TFrmUpdate on(Config(), [] {});
  EXPECT_TRUE(on.suiCheckBox1->isChecked());
  EXPECT_TRUE(on.suiEdit1->isEnabled() && on.suiEdit3->isEnabled());
}

TEST_F(FrmUpdateTest, UpdateWritesTheFourKeysInOrderAndHandsTheProxyOnlyWhenTicked) {
  TFrmUpdate window(Config(), [] {});
  // An address nothing answers: the run ends at once, with nothing to install.
  window.WebUpdateUrl = "http://127.0.0.1:9/update.inf";
  window.suiEdit1->setText("cache:3128");
  window.suiEdit2->setText("ann");
  window.suiEdit3->setText("s3cret");
  window.suiButton1->click();
  EXPECT_FALSE(window.suiButton1->isEnabled());
  EXPECT_EQ(ConfigText(),
            "[proxy]\nisProxy=0\nproxy=cache:3128\nproxyUserID=ann\nproxyPassword=s3cret\n");
  EXPECT_EQ(window.WebUpdate1->Proxy, "");
  EXPECT_EQ(window.WebUpdate1->URL, "http://127.0.0.1:9/update.inf");
  EXPECT_TRUE(event_wait::WaitUntil([&] { return !window.WebUpdate1->Running(); }, 20000));

  TFrmUpdate ticked(Config(), [] {});
  ticked.WebUpdateUrl = window.WebUpdateUrl;
  ticked.suiCheckBox1->click();
  ticked.suiButton1->click();
  EXPECT_TRUE(ConfigText().startsWith("[proxy]\nisProxy=1\n"));
  EXPECT_EQ(ticked.WebUpdate1->Proxy, "cache:3128");
  EXPECT_EQ(ticked.WebUpdate1->ProxyUserID, "ann");
  EXPECT_EQ(ticked.WebUpdate1->ProxyPassword, "s3cret");
  EXPECT_TRUE(event_wait::WaitUntil([&] { return !ticked.WebUpdate1->Running(); }, 20000));
}

TEST_F(FrmUpdateTest, AProgramFolderThatCannotBeWrittenIsSaidOnceAndNothingChanges) {
  PutConfig("[proxy]\nisProxy=1\nproxy=cache:3128\n");
  QFile::setPermissions(Config(), QFile::ReadOwner | QFile::WriteOwner | QFile::ReadOther);
  const QByteArray before = ConfigText();
  // As the user of an installed program: the folder belongs to someone else.
  const int result = RunUnprivileged([&] {
    TFrmUpdate window(Config(), [] {});
    ModalBoxWatcher boxes;
    window.suiButton1->click();
    event_wait::WaitUntil([&] { return !boxes.Boxes().isEmpty(); }, 5000);
    const bool said = boxes.Boxes().size() == 1 && boxes.Boxes()[0].critical &&
                      boxes.Boxes()[0].text.contains(folder_.path()) &&
                      boxes.Boxes()[0].text.contains("package manager");
    return said && window.suiButton1->isEnabled() && !window.WebUpdate1->Running() ? 0 : 1;
  });
  EXPECT_EQ(result, 0);
  EXPECT_EQ(ConfigText(), before);
}

// config.ini on a disk that is full: the proxy settings cannot be written, which is said as
// for every settings write; nothing is fetched, Update can be pressed again, and config.ini
// keeps what it held (a refused buffered write used to empty it).
TEST_F(FrmUpdateTest, AProxySettingTheDiskRefusesIsSaidAndNothingIsFetched) {
  SmallDisk disk(4096);
  if (disk.RanElsewhere()) return;
  const QString config = QDir(disk.Folder()).filePath("config.ini");
  WriteBytes(config, "[proxy]\nisProxy=0\n");
  // What room is left goes to another file.
  WriteBytes(QDir(disk.Folder()).filePath("filler"), QByteArray(4096, 'x'));
  TFrmUpdate window(config, [] {});
  window.suiEdit1->setText("a-proxy-name-long-enough-not-to-fit:3128");
  ModalBoxWatcher boxes;
  disk.Arm();
  window.suiButton1->click();
  disk.Disarm();
  ASSERT_EQ(boxes.Boxes().size(), 1);
  EXPECT_EQ(boxes.Boxes()[0].text.toStdString(), "Unable to write to " + config.toStdString());
  EXPECT_TRUE(boxes.Boxes()[0].critical);
  EXPECT_FALSE(window.WebUpdate1->Running());
  EXPECT_TRUE(window.suiButton1->isEnabled());
  EXPECT_EQ(ReadBytes(config), "[proxy]\nisProxy=0\n");
}

}  // namespace
}  // namespace sonarelle
