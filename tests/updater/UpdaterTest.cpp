// The real updater run as a process, in a temporary folder that is its current folder.
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/syscall.h>

#include <cerrno>
#include <cstddef>

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

namespace {

class UpdaterTest : public ::testing::Test {
 protected:
  QString At(const QString& name) const { return dir_.filePath(name); }

  void Put(const QString& name, const QByteArray& bytes,
           QFileDevice::Permissions mode = QFileDevice::ReadOwner | QFileDevice::WriteOwner) {
    QFile f(At(name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << name.toStdString();
    f.write(bytes);
    f.close();
    ASSERT_TRUE(f.setPermissions(mode));
  }

  QByteArray Get(const QString& name) const {
    QFile f(At(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
  }

  QString Log() const {
    QFile f(state_.filePath("sonarelle/updater.log"));
    return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
  }

  // A shell script the updater may start; it writes its arguments, one a line, to `output`.
  void PutRecorder(const QString& name, const QString& output) {
    Put(name, QStringLiteral("#!/bin/sh\nprintf '%s\\n' \"$@\" > %1\n").arg(output).toUtf8(),
        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  }

  void Run(const QString& program, const QStringList& args) {
    QProcess p;
    p.setWorkingDirectory(dir_.path());
    p.start(program, args);
    ASSERT_TRUE(p.waitForFinished(60000)) << program.toStdString();
    ASSERT_EQ(p.exitCode(), 0) << program.toStdString();
  }

  // Starts the updater in the folder, with a state folder (its log) of its own.
  void Start(QProcess& updater, const QStringList& args) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_STATE_HOME", state_.path());
    updater.setProcessEnvironment(env);
    updater.setWorkingDirectory(dir_.path());
    updater.start(SONARELLE_UPDATER, args);
    ASSERT_TRUE(updater.waitForStarted());
  }

  int RunUpdater(const QStringList& args) {
    QProcess updater;
    Start(updater, args);
    EXPECT_TRUE(updater.waitForFinished(60000));
    return updater.exitCode();
  }

  // A process identifier that no process has any more.
  static QString GonePid() {
    QProcess p;
    p.start("true", {});
    p.waitForFinished();
    return QString::number(p.processId());
  }

  static QString Digest(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return QStringLiteral("-");
    return QString::fromLatin1(
        QCryptographicHash::hash(f.readAll(), QCryptographicHash::Md5).toHex());
  }

  // Every name in the folder with its contents, modification time and mode.
  QStringList Snapshot() const {
    QStringList entries;
    QDirIterator it(dir_.path(), QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
      const QFileInfo info(it.next());
      entries << QStringLiteral("%1 %2 %3 %4")
                     .arg(info.filePath(), info.lastModified().toString(Qt::ISODateWithMs))
                     .arg(int(info.permissions()))
                     .arg(Digest(info.filePath()));
    }
    entries.sort();
    return entries;
  }

  // Waits until the updater started with a real `sleep 2` has ended, and checks that app.exe
  // was still old while sleep ran and is new after.
  void CheckWaitsForSleep(QProcess& updater, QProcess& sleep) {
    QElapsedTimer timer;
    timer.start();
    while (!Log().contains("waiting for process") && timer.elapsed() < 10000) QThread::msleep(10);
    QThread::msleep(300);  // the updater is in its wait by now
    EXPECT_EQ(Get("app.exe"), "old");
    EXPECT_FALSE(sleep.waitForFinished(0)) << "the check above came too late";
    EXPECT_FALSE(updater.waitForFinished(0));
    ASSERT_TRUE(updater.waitForFinished(60000));
    EXPECT_TRUE(sleep.waitForFinished(0));
    EXPECT_EQ(Get("app.exe"), "new");
  }

  QTemporaryDir dir_;
  QTemporaryDir state_;
};

TEST_F(UpdaterTest, EachKindOfComponentIsInstalledAndAMissingOneFailsAlone) {
  const auto executable = QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner;
  Put("app.exe", "old program", executable);
  Put("app.exe_new", "new program");
  Put("Readme.TXT_New", "new readme");
  Put("my_new_tool.exe_new", "not compressed");
  Put("update.pat", "patch");
  PutRecorder("patcher.exe", "patched.txt");
  Put("packed.txt", "from the cabinet");
  Run("gcab", {"-c", "bundle.cab", "packed.txt"});
  QFile::remove(At("packed.txt"));
  // SZDD as mscompress writes it; the header's byte 9 carries the replaced "t".
  Put("notes.txt", "notes, compressed and back");
  Run("mscompress", {"notes.txt"});
  QFile::remove(At("notes.txt"));
  QByteArray szdd = Get("notes.txt_");
  ASSERT_TRUE(szdd.startsWith("SZDD"));
  QByteArray unnamed = szdd;
  szdd[9] = 't';
  Put("notes.tx_", szdd);
  Put("raw.da_", unnamed);  // stores no character: expanding would overwrite it
  Put("x.z", "shorter than a mark");

  EXPECT_EQ(RunUpdater({GonePid(), "null", "app.exe_new", "gone.exe_new", "Readme.TXT_New",
                        "my_new_tool.exe_new", "update.pat", "bundle.cab", "notes.tx_", "raw.da_",
                        "x.z"}),
            1);

  EXPECT_EQ(Get("app.exe"), "new program");
  EXPECT_EQ(QFile::permissions(At("app.exe")),
            executable | QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser);
  EXPECT_FALSE(QFile::exists(At("app.exe_new")));
  EXPECT_EQ(Get("Readme.TXT"), "new readme");
  EXPECT_EQ(Get("my_new_tool.exe_new"), "not compressed");
  EXPECT_FALSE(QFile::exists(At("my_new_tool.exe")));
  EXPECT_EQ(Get("patched.txt"), "update.pat\nupdate.EXE\n");
  EXPECT_FALSE(QFile::exists(At("update.pat")));
  EXPECT_EQ(Get("packed.txt"), "from the cabinet");
  EXPECT_FALSE(QFile::exists(At("bundle.cab")));
  EXPECT_EQ(Get("notes.txt"), "notes, compressed and back");
  EXPECT_EQ(Get("notes.tx_"), szdd);
  EXPECT_EQ(Get("raw.da_"), unnamed);
  EXPECT_EQ(Get("x.z"), "shorter than a mark");
  const QString log = Log();
  EXPECT_TRUE(log.contains("gone.exe_new: not renamed")) << log.toStdString();
  EXPECT_TRUE(log.contains("my_new_tool.exe_new: not SZDD-compressed; left alone"));
  EXPECT_TRUE(log.contains("raw.da_: its header names no replaced character"));
  EXPECT_TRUE(log.contains("x.z: not SZDD-compressed; left alone"));
  EXPECT_TRUE(log.contains("no restart (null)"));
}

TEST_F(UpdaterTest, ThePatchIsKeptWhenNoPatcherCanStart) {
  Put("update.pat", "patch");
  EXPECT_EQ(RunUpdater({GonePid(), "null", "update.pat"}), 1);
  EXPECT_EQ(Get("update.pat"), "patch");
}

TEST_F(UpdaterTest, TheRestartCommandStartsInTheCurrentFolder) {
  PutRecorder("restart me", "restarted.txt");
  PutRecorder("null", "started-null.txt");
  EXPECT_EQ(RunUpdater({GonePid(), "\"restart me\" -x \"two words\""}), 0);
  QElapsedTimer timer;
  timer.start();
  while (!QFile::exists(At("restarted.txt")) && timer.elapsed() < 10000) QThread::msleep(20);
  QThread::msleep(100);
  EXPECT_EQ(Get("restarted.txt"), "-x\ntwo words\n");

  // "null" is no command, even with a program of that name in the folder.
  EXPECT_EQ(RunUpdater({GonePid(), "null"}), 0);
  QThread::msleep(500);
  EXPECT_FALSE(QFile::exists(At("started-null.txt")));
}

TEST_F(UpdaterTest, ANonNumericFirstArgumentChangesNothing) {
  Put("app.exe", "old");
  Put("app.exe_new", "new");
  Put("update.pat", "patch");
  PutRecorder("patcher.exe", "patched.txt");
  PutRecorder("restart", "restarted.txt");
  const QStringList before = Snapshot();
  for (const char* first : {"12x", "-5", " 12", "", "0x10"}) {
    EXPECT_EQ(RunUpdater({first, "restart", "app.exe_new", "update.pat"}), 2);
  }
  EXPECT_EQ(RunUpdater({}), 2);
  QThread::msleep(300);
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(UpdaterTest, NothingIsTouchedBeforeTheProcessHasEnded) {
  Put("app.exe", "old");
  Put("app.exe_new", "new");
  QProcess sleep;
  sleep.start("sleep", {"2"});
  ASSERT_TRUE(sleep.waitForStarted());
  const QString pid = QString::number(sleep.processId());
  QProcess updater;
  Start(updater, {pid, "null", "app.exe_new"});
  CheckWaitsForSleep(updater, sleep);
  EXPECT_TRUE(Log().contains(QStringLiteral("process %1 ended\n").arg(pid))) << Log().toStdString();
}

TEST_F(UpdaterTest, WithoutProcessDescriptorsTheWaitPollsAndSaysSo) {
  Put("app.exe", "old");
  Put("app.exe_new", "new");
  QProcess sleep;
  sleep.start("sleep", {"2"});
  ASSERT_TRUE(sleep.waitForStarted());
  QProcess updater;
  // A kernel without pidfd_open, as before Linux 5.3: the call answers ENOSYS.
  updater.setChildProcessModifier([] {
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, SYS_pidfd_open, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | ENOSYS),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{sizeof(filter) / sizeof(filter[0]), filter};
    if (::prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 ||
        ::prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
      ::_exit(99);
    }
  });
  Start(updater, {QString::number(sleep.processId()), "null", "app.exe_new"});
  CheckWaitsForSleep(updater, sleep);
  EXPECT_EQ(updater.exitCode(), 0);
  EXPECT_TRUE(Log().contains("checked every 100 ms, as pidfd_open: Function not implemented"))
      << Log().toStdString();
}

}  // namespace
