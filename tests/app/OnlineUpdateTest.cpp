// One whole online update as a user meets it: the program (a real process) updates from a
// local server through its menu, ends, and the updater installs the component and starts
// the program again.
#include <signal.h>

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "media/EventWait.h"
#include "platform/UpdateSignature.h"
#include "support/FileBytes.h"
#include "support/UpdateServers.h"

namespace {

// The process running the executable at `path`, or 0.
qint64 RunningProgram(const QString& path) {
  const QString wanted = QFileInfo(path).canonicalFilePath();
  for (const QString& entry : QDir("/proc").entryList(QDir::Dirs)) {
    bool number = false;
    const qint64 pid = entry.toLongLong(&number);
    if (number && QFileInfo("/proc/" + entry + "/exe").canonicalFilePath() == wanted) return pid;
  }
  return 0;
}

TEST(OnlineUpdateTest, UpdateFromTheMenuInstallsTheComponentAndStartsTheProgramAgain) {
  QTemporaryDir work;
  const QString program = work.filePath("program");
  const QString served = work.filePath("served");
  QDir().mkpath(program);
  QDir().mkpath(served);
  const QString built = QCoreApplication::applicationDirPath();
  for (const char* name : {"sonarelle", "sonarelle-updater"}) {
    ASSERT_TRUE(QFile::copy(built + "/" + name, program + "/" + name)) << name;
  }
  QByteArray publicKey;
  QByteArray secretKey;
  sonarelle::UpdateSignature::GenerateKeyPair(&publicKey, &secretKey);
  WriteBytes(program + "/update-key.pub", publicKey);
  WriteBytes(program + "/songbook.txt", "old songbook");
  WriteBytes(served + "/songbook.txt_new", "new songbook");

  UpdateServers servers(served);
  ASSERT_EQ(servers.Error(), "");
  const QByteArray control =
      "[update]\nunconditional=1\n[application]\nappupdate=1\nappname={WIN}/sonarelle\n"
      "appcomps={WIN}/songbook.txt_new\n[files]\ncount=1\n[file1]\nurl=" +
      servers.HttpUrl("songbook.txt_new").toUtf8() + "\ntargetdir={WIN}\nsha256=" +
      sonarelle::UpdateSignature::FileSha256(served + "/songbook.txt_new").toUtf8() + "\n";
  WriteBytes(served + "/update.inf", control);
  WriteBytes(served + "/update.inf.sig", sonarelle::UpdateSignature::Sign(control, secretKey));
  WriteBytes(program + "/language/en.ini",
             "[FrmUpdate]\nWebUpdateUrl=" + servers.HttpUrl("update.inf").toUtf8() + "\n");

  QProcess probe;
  probe.setProcessChannelMode(QProcess::ForwardedChannels);
  probe.start(SONARELLE_UPDATE_PROBE, {program + "/"});
  ASSERT_TRUE(probe.waitForFinished(60000));
  EXPECT_EQ(probe.exitCode(), 0) << "the update closed the main window";

  EXPECT_TRUE(event_wait::WaitUntil(
      [&] { return ReadBytes(program + "/songbook.txt") == "new songbook"; }, 30000));
  EXPECT_FALSE(QFile::exists(program + "/songbook.txt_new"));
  qint64 restarted = 0;
  EXPECT_TRUE(event_wait::WaitUntil(
      [&] { return (restarted = RunningProgram(program + "/sonarelle")) != 0; }, 30000));
  if (restarted != 0) ::kill(pid_t(restarted), SIGTERM);
}

}  // namespace
