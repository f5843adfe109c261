#include "SmallDisk.h"

#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdio>

#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>

namespace {

constexpr const char* kInNamespace = "SONARELLE_SMALL_DISK_NAMESPACE";

QStringList Unshare() {
  return {QStringLiteral("--user"), QStringLiteral("--map-root-user"), QStringLiteral("--mount")};
}

bool NamespacesAllowed() {
  QProcess probe;
  probe.start(QStringLiteral("unshare"), Unshare() + QStringList{QStringLiteral("true")});
  return probe.waitForFinished(10000) && probe.exitStatus() == QProcess::NormalExit &&
         probe.exitCode() == 0;
}

rlimit g_savedLimit{};

}  // namespace

SmallDisk::SmallDisk(qint64 bytes) : bytes_(bytes) {
  if (qEnvironmentVariableIsSet(kInNamespace)) {
    const QByteArray options = "size=" + QByteArray::number(bytes_);
    tmpfs_ = ::mount("tmpfs", QFile::encodeName(Folder()).constData(), "tmpfs", 0,
                     options.constData()) == 0;
    EXPECT_TRUE(tmpfs_) << "no tmpfs in the test's own mount namespace";
    return;
  }
  if (!NamespacesAllowed()) return;
  const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
  QProcess child;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QString::fromLatin1(kInNamespace), QStringLiteral("1"));
  child.setProcessEnvironment(env);
  child.setProcessChannelMode(QProcess::ForwardedChannels);
  child.start(QStringLiteral("unshare"),
              Unshare() + QStringList{QCoreApplication::applicationFilePath(),
                                      QStringLiteral("--gtest_filter=%1.%2")
                                          .arg(QString::fromUtf8(test->test_suite_name()),
                                               QString::fromUtf8(test->name()))});
  const bool finished = child.waitForFinished(600000);
  EXPECT_TRUE(finished && child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0)
      << "the test failed on a tmpfs of " << bytes_ << " bytes (its output is above)";
  ranElsewhere_ = true;
}

SmallDisk::~SmallDisk() {
  Disarm();
  if (tmpfs_) ::umount2(QFile::encodeName(Folder()).constData(), MNT_DETACH);
}

QString SmallDisk::Kind() const {
  return tmpfs_ ? QStringLiteral("tmpfs") : QStringLiteral("file-size limit");
}

void SmallDisk::Arm() {
  if (tmpfs_ || armed_) return;
  // A write past the limit then fails with EFBIG instead of ending the process.
  std::signal(SIGXFSZ, SIG_IGN);
  ::getrlimit(RLIMIT_FSIZE, &g_savedLimit);
  rlimit limit = g_savedLimit;
  limit.rlim_cur = static_cast<rlim_t>(bytes_);
  armed_ = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
  EXPECT_TRUE(armed_);
}

void SmallDisk::Disarm() {
  if (!armed_) return;
  ::setrlimit(RLIMIT_FSIZE, &g_savedLimit);
  armed_ = false;
}
