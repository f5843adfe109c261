// The update engine against the local servers: real downloads, real cabinets and SZDD files,
// real signatures, the reports it gives and the files it leaves.
#include "update/WebUpdate.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QMap>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>

#include "media/EventWait.h"
#include "platform/ProgramFolder.h"
#include "platform/UpdateSignature.h"
#include "support/CabinetWriter.h"
#include "support/FileBytes.h"
#include "support/ModalBoxWatcher.h"
#include "support/SmallDisk.h"
#include "support/UpdateServers.h"

namespace sonarelle {
namespace {

// Every file below `folder` with its bytes: what "unchanged" means for an install folder.
QMap<QString, QByteArray> Snapshot(const QString& folder) {
  QMap<QString, QByteArray> files;
  QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString path = it.next();
    files.insert(QDir(folder).relativeFilePath(path), ReadBytes(path));
  }
  return files;
}

class WebUpdateTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(work_.isValid());
    served_ = work_.filePath("served");
    installed_ = work_.filePath("installed");
    QDir().mkpath(served_);
    QDir().mkpath(installed_);
    // WUPDATE.LOG is written to the current folder.
    previousFolder_ = QDir::currentPath();
    QDir::setCurrent(work_.path());
    UpdateSignature::GenerateKeyPair(&publicKey_, &secretKey_);
    servers_ = std::make_unique<UpdateServers>(served_);
    ASSERT_EQ(servers_->Error(), "");

    engine_.URL = servers_->HttpUrl("update.inf");
    engine_.UpdateType = TWebUpdateType::httpUpdate;
    engine_.UpdateUpdate = TWebUpdateUpdate::wuuSilent;
    engine_.ExtractCAB = true;
    engine_.Logging = true;
    engine_.UpdatePublicKey = publicKey_;
    engine_.OnStatus = [this](TWebUpdate*, const QString& text, int status, int error) {
      statuses_ << QStringLiteral("%1|%2|%3").arg(text).arg(status).arg(error);
    };
  }
  void TearDown() override { QDir::setCurrent(previousFolder_); }

  // Publishes a control file and its signature, as sonarelle-sign would.
  void Publish(const QByteArray& control) {
    WriteBytes(served_ + "/update.inf", control);
    WriteBytes(served_ + "/update.inf.sig", UpdateSignature::Sign(control, secretKey_));
  }

  // Runs one update to its end; gives the report numbers of WUPDATE.LOG in order.
  QList<int> Run() {
    QFile::remove(work_.filePath("WUPDATE.LOG"));
    engine_.DoUpdate();
    EXPECT_TRUE(event_wait::WaitUntil([&] { return !engine_.Running(); }, 60000));
    QList<int> numbers;
    static const QRegularExpression number(QStringLiteral(" : \\[(\\d+)\\] "));
    for (const QString& line :
         QString::fromUtf8(ReadBytes(work_.filePath("WUPDATE.LOG"))).split('\n')) {
      const auto match = number.match(line);
      if (match.hasMatch()) numbers << match.captured(1).toInt();
    }
    return numbers;
  }

  // A file entry for `name` served from the origin, with its hash.
  QByteArray FileEntry(int index, const QString& name, const QString& extra = {}) {
    return QStringLiteral("[file%1]\nurl=%2\ntargetdir=%3\nsha256=%4\n%5")
        .arg(index)
        .arg(servers_->HttpUrl(name), installed_, UpdateSignature::FileSha256(served_ + "/" + name),
             extra)
        .toUtf8();
  }

  QTemporaryDir work_;
  QString served_;
  QString installed_;
  QString previousFolder_;
  QByteArray publicKey_;
  QByteArray secretKey_;
  std::unique_ptr<UpdateServers> servers_;
  TWebUpdate engine_;
  QStringList statuses_;
};

TEST_F(WebUpdateTest, ASignedUpdateInstallsAFileACabinetAndAnSzddFileReportingEachStep) {
  WriteBytes(served_ + "/tool.bin", QByteArray(300000, 'T'));
  QDir().mkpath(work_.filePath("cab/sub"));
  WriteBytes(work_.filePath("cab/readme.txt"), "read me\n");
  WriteBytes(work_.filePath("cab/sub/lyrics.txt"), "la la la\n");
  QProcess gcab;
  gcab.setWorkingDirectory(work_.filePath("cab"));
  gcab.start("gcab", {"-c", "-z", served_ + "/songs.cab", "readme.txt", "sub/lyrics.txt"});
  ASSERT_TRUE(gcab.waitForFinished());
  ASSERT_EQ(gcab.exitCode(), 0);
  // SZDD: "notes.tx_" restores its last character from the header.
  WriteBytes(work_.filePath("notes.txt"), QByteArray("notes notes notes notes\n").repeated(50));
  ASSERT_EQ(QProcess::execute("mscompress", {work_.filePath("notes.txt")}), 0);
  QByteArray szdd = ReadBytes(work_.filePath("notes.txt_"));
  szdd[9] = 't';
  WriteBytes(served_ + "/notes.tx_", szdd);

  // Version-based, against the program's own executable.
  const QString program = QCoreApplication::applicationDirPath() + "/sonarelle";
  Publish("[update]\nlocalversion=" + program.toUtf8() +
          "\nnewversion=99.0.0.0\n[files]\ncount=3\n" + FileEntry(1, "tool.bin") +
          FileEntry(2, "songs.cab") + FileEntry(3, "notes.tx_", "compressed=1\n"));

  EXPECT_EQ(Run(), QList<int>({918, 921, 915, 926, 933, 929, 943, 915, 915, 915, 948, 949, 949}));
  const QString first =
      QString::fromUtf8(ReadBytes(work_.filePath("WUPDATE.LOG"))).section('\n', 0, 0);
  EXPECT_TRUE(QRegularExpression("^\\d\\d\\D\\d\\d\\D\\d{4} \\d\\d\\D\\d\\d\\D\\d\\d : \\[918\\] "
                                 "Checking for Internet connection \\(Status:3\\) \\(Error:0\\)$")
                  .match(first)
                  .hasMatch())
      << first.toStdString();
  EXPECT_EQ(ReadBytes(installed_ + "/tool.bin"), ReadBytes(served_ + "/tool.bin"));
  EXPECT_EQ(ReadBytes(installed_ + "/readme.txt"), "read me\n");
  EXPECT_EQ(ReadBytes(installed_ + "/sub/lyrics.txt"), "la la la\n");
  EXPECT_FALSE(QFile::exists(installed_ + "/songs.cab")) << "an unpacked cabinet is deleted";
  EXPECT_EQ(ReadBytes(installed_ + "/notes.txt"), ReadBytes(work_.filePath("notes.txt")));
  EXPECT_FALSE(QFile::exists(installed_ + "/notes.tx_"));
  EXPECT_TRUE(statuses_.contains("New version found : 99.0.0.0|5|0"))
      << statuses_.join('\n').toStdString();
}

TEST_F(WebUpdateTest, TamperedCutOrOlderUpdatesLeaveTheInstallFolderByteIdentical) {
  WriteBytes(installed_ + "/tool.bin", "the good old tool");
  const QByteArray good(200000, 'N');
  WriteBytes(served_ + "/tool.bin", good);
  const QByteArray entry = FileEntry(1, "tool.bin");
  const QByteArray head = "[update]\nunconditional=1\n[files]\ncount=1\n";
  const auto before = Snapshot(installed_);

  struct Case {
    const char* what;
    std::function<void()> arrange;
    int refusal;
  };
  const std::vector<Case> cases = {
      {"a flipped byte in the control file",
       [&] {
         Publish(head + entry);
         QByteArray changed = ReadBytes(served_ + "/update.inf");
         changed.replace("count=1", "count=2");
         WriteBytes(served_ + "/update.inf", changed);
       },
       927},
      {"no signature at all",
       [&] {
         Publish(head + entry);
         QFile::remove(served_ + "/update.inf.sig");
       },
       927},
      {"a flipped byte in the file",
       [&] {
         Publish(head + entry);
         QByteArray changed = good;
         changed[1000] = 'X';
         WriteBytes(served_ + "/tool.bin", changed);
       },
       946},
      {"a cut connection",
       [&] {
         WriteBytes(served_ + "/tool.bin", good);
         Publish(head + QByteArray(entry).replace("/tool.bin", "/_cut/tool.bin"));
       },
       946},
      {"a wrong length",
       [&] { Publish(head + QByteArray(entry).replace("/tool.bin", "/_short/tool.bin")); }, 946},
      {"an older version",
       [&] {
         const QString program = QCoreApplication::applicationDirPath() + "/sonarelle";
         Publish("[update]\nlocalversion=" + program.toUtf8() +
                 "\nnewversion=0.9.0.0\n[files]\ncount=1\n" + entry);
       },
       930},
  };
  for (const Case& c : cases) {
    c.arrange();
    EXPECT_TRUE(Run().contains(c.refusal)) << c.what;
    EXPECT_EQ(Snapshot(installed_), before) << c.what;
  }

  // A signed cabinet whose entry climbs out of the target is refused whole.
  const QDateTime now = QDateTime::currentDateTime();
  WriteBytes(served_ + "/evil.cab",
             MakeCabinet({{"good.txt", "fine", now}, {"..\\..\\escape.txt", "gotcha", now}}));
  Publish(head + FileEntry(1, "evil.cab"));
  EXPECT_TRUE(Run().contains(947));
  EXPECT_FALSE(QFile::exists(work_.filePath("escape.txt")));
  EXPECT_FALSE(QFile::exists(installed_ + "/good.txt"));
  EXPECT_EQ(ReadBytes(installed_ + "/tool.bin"), "the good old tool");
}

TEST_F(WebUpdateTest, AFullDiskEndsTheRunWithAnErrorAndKeepsTheOldFile) {
  SmallDisk disk(64 * 1024);
  if (disk.RanElsewhere()) return;
  WriteBytes(disk.Folder() + "/tool.bin", "the good old tool");
  WriteBytes(served_ + "/tool.bin", QByteArray(400000, 'F'));
  Publish("[update]\nunconditional=1\n[files]\ncount=1\n" +
          FileEntry(1, "tool.bin").replace(installed_.toUtf8(), disk.Folder().toUtf8()));
  ModalBoxWatcher boxes;
  disk.Arm();
  Run();
  disk.Disarm();
  event_wait::WaitUntil([&] { return !boxes.Boxes().isEmpty(); }, 5000);
  ASSERT_EQ(boxes.Boxes().size(), 1) << disk.Kind().toStdString();
  EXPECT_TRUE(boxes.Boxes()[0].critical);
  EXPECT_TRUE(boxes.Boxes()[0].text.startsWith("Cannot write"))
      << boxes.Texts().join("").toStdString();
  EXPECT_EQ(QDir(disk.Folder()).entryList(QDir::Files), QStringList({"tool.bin"}));
  EXPECT_EQ(ReadBytes(disk.Folder() + "/tool.bin"), "the good old tool");
}

TEST_F(WebUpdateTest, TheProxyGetsTheCredentialsAndTheOriginNeverDoes) {
  WriteBytes(served_ + "/tool.bin", "through the proxy");
  Publish("[update]\nunconditional=1\n[files]\ncount=1\n" + FileEntry(1, "tool.bin"));
  engine_.Proxy = servers_->ProxyAddress();
  engine_.ProxyUserID = UpdateServers::kProxyUser;
  engine_.ProxyPassword = UpdateServers::kProxyPassword;

  Run();
  EXPECT_EQ(ReadBytes(installed_ + "/tool.bin"), "through the proxy");
  const QByteArray credentials =
      QByteArray(UpdateServers::kProxyUser) + ":" + UpdateServers::kProxyPassword;
  EXPECT_TRUE(servers_->ProxyLog().contains("Basic " + credentials.toBase64()));
  const QByteArray origin = servers_->OriginLog();
  EXPECT_FALSE(origin.isEmpty());
  EXPECT_FALSE(origin.contains("Authorization"));
  EXPECT_FALSE(origin.contains(UpdateServers::kProxyPassword));
  EXPECT_FALSE(origin.contains(credentials.toBase64()));
}

TEST_F(WebUpdateTest, NoConnectionModeAMissingControlFileAndAMissingFileEachEndAsReported) {
  engine_.UpdateConnect = TWebUpdateConnect::wucNone;
  EXPECT_EQ(Run(), QList<int>({918, 949}));

  engine_.UpdateConnect = TWebUpdateConnect::wucNoConnect;
  EXPECT_EQ(Run(), QList<int>({918, 921, 915, 916, 925, 949, 949}));

  Publish("[update]\nunconditional=1\n[files]\ncount=1\n[file1]\nurl=" +
          servers_->HttpUrl("missing.bin").toUtf8() + "\ntargetdir=" + installed_.toUtf8() + "\n");
  statuses_.clear();
  const QList<int> numbers = Run();
  EXPECT_TRUE(statuses_.contains("Http status : 404|6|404")) << statuses_.join('\n').toStdString();
  EXPECT_TRUE(numbers.contains(946));
  EXPECT_FALSE(QFile::exists(installed_ + "/missing.bin"));
}

TEST_F(WebUpdateTest, PromptOnceAsksOnceAndPromptAllAsksForEveryFile) {
  WriteBytes(served_ + "/a.bin", "A");
  WriteBytes(served_ + "/b.bin", "B");
  Publish("[update]\nunconditional=1\n[files]\ncount=2\n" + FileEntry(1, "a.bin") +
          FileEntry(2, "b.bin"));
  ModalBoxWatcher boxes;
  engine_.UpdateUpdate = TWebUpdateUpdate::wuuPromptOnce;
  Run();
  EXPECT_EQ(boxes.Texts(), QStringList({"Download update files ?"}));
  EXPECT_TRUE(Snapshot(installed_).isEmpty()) << "No downloads nothing";

  boxes.AnswerYes(true);
  Run();
  EXPECT_EQ(boxes.Texts().size(), 2) << "Yes downloads every file after one question";
  EXPECT_EQ(Snapshot(installed_).size(), 2);

  engine_.UpdateUpdate = TWebUpdateUpdate::wuuPromptAll;
  Run();
  EXPECT_EQ(boxes.Texts().mid(2),
            QStringList({"Download update file : a.bin", "Download update file : b.bin"}));
}

TEST_F(WebUpdateTest, ACancelStopsTheDownloadsAndTheStepsAfterThem) {
  WriteBytes(served_ + "/a.bin", QByteArray(2000000, 'A'));
  WriteBytes(served_ + "/b.bin", QByteArray(2000000, 'B'));
  Publish(
      "[update]\nunconditional=1\n[action]\nupdateURL=http://elsewhere/u.inf\n[files]\ncount=2\n" +
      FileEntry(1, "a.bin") + FileEntry(2, "b.bin"));
  engine_.OnProgressCancel = [](TWebUpdate*, bool* cancel) { *cancel = true; };
  const QList<int> numbers = Run();
  EXPECT_FALSE(QFile::exists(installed_ + "/b.bin")) << "the cancel holds for the next file";
  EXPECT_FALSE(numbers.contains(948));
  EXPECT_FALSE(numbers.contains(941));
  EXPECT_TRUE(QDir(installed_).entryList(QDir::Files).filter("WUPD").isEmpty());
}

TEST_F(WebUpdateTest, AFetchedComponentStartsTheUpdaterWithTheRestartCommandAsOneArgument) {
  // A stand-in updater that writes down its arguments.
  const QString programFolder = work_.filePath("program");
  WriteBytes(programFolder + "/sonarelle-updater",
             "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\"; done > \"" +
                 work_.filePath("arguments.txt").toUtf8() + "\"\n");
  QFile::setPermissions(programFolder + "/sonarelle-updater",
                        QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
  SetProgramFolder(programFolder);
  WriteBytes(served_ + "/app_new", "new program");
  Publish("[update]\nunconditional=1\n[application]\nappupdate=1\nappname=" + installed_.toUtf8() +
          "/my app -silent\nappcomps=app_new data.dll\n[files]\ncount=1\n" +
          FileEntry(1, "app_new"));
  bool asked = false;
  bool closed = false;
  engine_.OnAppRestart = [&](TWebUpdate*, bool* allow) {
    asked = true;
    *allow = true;
  };
  engine_.OnAppDoClose = [&](TWebUpdate*) { closed = true; };

  Run();
  SetProgramFolder({});
  EXPECT_TRUE(asked);
  EXPECT_TRUE(closed);
  EXPECT_EQ(ReadBytes(installed_ + "/app_new"), "new program") << "left for the updater";
  ASSERT_TRUE(
      event_wait::WaitUntil([&] { return QFile::exists(work_.filePath("arguments.txt")); }, 10000));
  event_wait::Pump(200);
  EXPECT_EQ(
      QString::fromUtf8(ReadBytes(work_.filePath("arguments.txt"))).split('\n', Qt::SkipEmptyParts),
      QStringList({QString::number(QCoreApplication::applicationPid()),
                   installed_ + "/my app -silent", "app_new", "data.dll"}));
}

TEST_F(WebUpdateTest, TheRegistryRemembersTheLastUpdateDateAndTheRedirectedControlFile) {
  WriteBytes(served_ + "/tool.bin", "dated tool");
  const QByteArray files = "[files]\ncount=1\n" + FileEntry(1, "tool.bin");
  WriteBytes(served_ + "/next.inf", "[update]\ndate=01/02/2004\n" + files);
  WriteBytes(served_ + "/next.inf.sig",
             UpdateSignature::Sign(ReadBytes(served_ + "/next.inf"), secretKey_));
  Publish("[update]\ndate=01/02/2004\ntime=10:30\n[action]\nupdateURL=" +
          servers_->HttpUrl("next.inf").toUtf8() + "\n" + files);
  engine_.LastURLEntry = {true, "Software\\Sonarelle", "Update", TLastURLRoot::lurLOCALUSER};

  const QList<int> first = Run();
  EXPECT_TRUE(first.contains(928) && first.contains(929) && first.contains(941));
  EXPECT_EQ(ReadBytes(installed_ + "/tool.bin"), "dated tool");

  // The next run reads next.inf and finds the stored date at the release: nothing to do.
  QFile::remove(installed_ + "/tool.bin");
  QFile::remove(served_ + "/update.inf");
  const QList<int> second = Run();
  EXPECT_TRUE(second.contains(926) && second.contains(930)) << "reports: " << second.size();
  EXPECT_FALSE(QFile::exists(installed_ + "/tool.bin"));
}

TEST_F(WebUpdateTest, CancelledReleaseNotesEndTheRunAndAnAcceptedLicenceLetsItGoOn) {
  WriteBytes(served_ + "/tool.bin", "licensed tool");
  WriteBytes(served_ + "/notes.txt", "What is new:\nmore songs\n");
  WriteBytes(served_ + "/licence.txt", "You may sing.\n");
  Publish("[update]\nunconditional=1\n[whatsnew]\nfile=" + servers_->HttpUrl("notes.txt").toUtf8() +
          "\ncaption=New\n[files]\ncount=1\n" + FileEntry(1, "tool.bin"));
  {
    ModalBoxWatcher cancelsDialogs;
    const QList<int> numbers = Run();
    EXPECT_TRUE(numbers.contains(937) && numbers.contains(938));
    EXPECT_FALSE(QFile::exists(installed_ + "/tool.bin"));
  }

  Publish("[update]\nunconditional=1\n[eula]\nfile=" + servers_->HttpUrl("licence.txt").toUtf8() +
          "\ncaption=Licence\n[files]\ncount=1\n" + FileEntry(1, "tool.bin"));
  QString shown;
  QTimer accepter;
  QObject::connect(&accepter, &QTimer::timeout, [&] {
    QWidget* window = QApplication::activeModalWidget();
    if (window == nullptr || window->objectName() != "LicenseWindow") return;
    shown = window->findChild<QPlainTextEdit*>()->toPlainText();
    window->findChild<QRadioButton*>("AcceptChoice")->click();
    window->findChild<QPushButton*>("OkButton")->click();
  });
  accepter.start(10);
  const QList<int> numbers = Run();
  EXPECT_TRUE(numbers.contains(939));
  EXPECT_EQ(shown, "You may sing.");
  EXPECT_EQ(ReadBytes(installed_ + "/tool.bin"), "licensed tool");
}

TEST_F(WebUpdateTest, AnFtpUpdateFetchesFromTheServersFolder) {
  WriteBytes(served_ + "/pub/tool.bin", "over ftp");
  const QByteArray control =
      "[update]\nunconditional=1\n[files]\ncount=1\n[file1]\nurl=tool.bin\n"
      "targetdir=" +
      installed_.toUtf8() + "\n";
  WriteBytes(served_ + "/pub/update.inf", control);
  WriteBytes(served_ + "/pub/update.inf.sig", UpdateSignature::Sign(control, secretKey_));
  engine_.UpdateType = TWebUpdateType::ftpUpdate;
  engine_.URL = "update.inf";
  engine_.Host = "127.0.0.1";
  engine_.Port = servers_->FtpPort();
  engine_.UserID = UpdateServers::kFtpUser;
  engine_.Password = UpdateServers::kFtpPassword;
  engine_.FTPDirectory = "pub";
  engine_.FTPPassive = true;

  const QList<int> numbers = Run();
  EXPECT_EQ(numbers.mid(0, 4), QList<int>({918, 921, 923, 915}));
  EXPECT_EQ(ReadBytes(installed_ + "/tool.bin"), "over ftp");
  EXPECT_EQ(numbers.mid(numbers.size() - 4), QList<int>({948, 954, 949, 949}));
}

// Without any route off the machine, as in a network namespace of its own.
TEST(WebUpdateOfflineTest, WithoutAConnectionTheModesReportAndFetchNothing) {
  if (!qEnvironmentVariableIsSet("SONARELLE_NO_ROUTES")) {
    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert("SONARELLE_NO_ROUTES", "1");
    child.setProcessEnvironment(environment);
    child.setProcessChannelMode(QProcess::ForwardedChannels);
    child.start("unshare", {"-rn", "true"});
    if (!child.waitForFinished(10000) || child.exitCode() != 0) {
      GTEST_SKIP() << "user and network namespaces are not allowed here";
    }
    child.start("unshare", {"-rn", QCoreApplication::applicationFilePath(),
                            "--gtest_filter=WebUpdateOfflineTest.*"});
    ASSERT_TRUE(child.waitForFinished(60000));
    EXPECT_EQ(child.exitCode(), 0) << "the test failed without routes (its output is above)";
    return;
  }
  const auto reports = [](TWebUpdateConnect mode) {
    TWebUpdate engine;
    engine.URL = "http://updates.example.org/update.inf";
    engine.UpdateType = TWebUpdateType::httpUpdate;
    engine.UpdateConnect = mode;
    QStringList texts;
    engine.OnStatus = [&](TWebUpdate*, const QString& text, int, int) { texts << text; };
    engine.DoUpdate();
    EXPECT_TRUE(event_wait::WaitUntil([&] { return !engine.Running(); }, 20000));
    return texts;
  };
  EXPECT_EQ(reports(TWebUpdateConnect::wucNoConnect),
            QStringList({"Checking for Internet connection"}));
  EXPECT_EQ(reports(TWebUpdateConnect::wucConnectPrompt),
            QStringList({"Checking for Internet connection",
                         "Prompt to open new Internet connection", ""}));
  EXPECT_EQ(reports(TWebUpdateConnect::wucConnectSilentHangup),
            QStringList({"Checking for Internet connection", "Opening Internet connection", ""}));
}

}  // namespace
}  // namespace sonarelle
