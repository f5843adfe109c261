#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include "platform/IniProfile.h"
#include "platform/UpdateSignature.h"

using sonarelle::IniProfile::ReadString;

namespace {

struct Result {
  int code = -1;
  QString output;  // stdout and stderr together
};

class SignToolTest : public ::testing::Test {
 protected:
  QString At(const QString& name) const { return dir_.filePath(name); }

  static Result Run(const QString& program, const QStringList& args) {
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    Result r;
    if (p.waitForFinished(60000) && p.exitStatus() == QProcess::NormalExit) r.code = p.exitCode();
    r.output = QString::fromLocal8Bit(p.readAll());
    return r;
  }

  static Result Sign(const QStringList& args) {
    return Run(QCoreApplication::applicationDirPath() + "/sonarelle-sign", args);
  }

  static void Put(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
  }

  static QByteArray Get(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }

  static void FlipByte(const QString& path, qsizetype at) {
    QByteArray bytes = Get(path);
    bytes[at] = static_cast<char>(bytes[at] ^ 0x01);
    Put(path, bytes);
  }

  // The digest as the system's own tool computes it.
  static QString Sha256sum(const QString& path) {
    return Run("sha256sum", {path}).output.section(' ', 0, 0);
  }

  void MakeKeys() {
    Result r = Sign({"keygen", At("release.secret"), At("release.public")});
    ASSERT_EQ(r.code, 0) << r.output.toStdString();
  }

  QTemporaryDir dir_;
};

TEST_F(SignToolTest, KeygenWritesAPrivateSecretAndNeverOverwritesOne) {
  MakeKeys();
  EXPECT_EQ(QFile::permissions(At("release.secret")),
            QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadUser |
                QFileDevice::WriteUser);
  const QByteArray secret = Get(At("release.secret"));
  const QByteArray publicKey = Get(At("release.public")).trimmed();
  EXPECT_EQ(secret.trimmed().size(), 128);
  EXPECT_EQ(publicKey.size(), 64);
  // The secret key holds the public one (Ed25519 key pairs from one seed).
  EXPECT_TRUE(secret.trimmed().endsWith(publicKey));

  Result again = Sign({"keygen", At("release.secret"), At("other.public")});
  EXPECT_EQ(again.code, 1);
  EXPECT_EQ(Get(At("release.secret")), secret);
  EXPECT_FALSE(QFile::exists(At("other.public")));

  EXPECT_EQ(Sign({}).code, 2);
  EXPECT_EQ(Sign({"sing", At("a"), At("b")}).code, 2);
  EXPECT_EQ(Sign({"sign", At("a")}).code, 2);
}

TEST_F(SignToolTest, HashFillsTheFilesPresentAndNamesTheMissingOnes) {
  QDir().mkpath(At("release"));
  Put(At("release/sonarelle"), QByteArray(100000, 'x') + "end");
  Put(At("release/en.ini"), "[FrmMain]\ncaption=Sonarelle\n");
  Put(At("update.txt"),
      "[update]\n"
      "newversion=1.2.3.4\n"
      "[files]\n"
      "count=3\n"
      "[file1]\n"
      "url=http://example.invalid/updates/sonarelle\n"
      "[file2]\n"
      "url=ftp://example.invalid/pub\\lang\\en.ini\n"
      "targetdir={APP}\\language\n"
      "[file3]\n"
      "url=http://example.invalid/updates/manual.pdf\n");

  Result partly = Sign({"hash", At("update.txt"), At("release")});
  EXPECT_EQ(partly.code, 1) << partly.output.toStdString();
  EXPECT_TRUE(partly.output.contains("manual.pdf")) << partly.output.toStdString();
  const QString control = At("update.txt");
  EXPECT_EQ(ReadString(control, "file1", "sha256", ""), Sha256sum(At("release/sonarelle")));
  EXPECT_EQ(ReadString(control, "file2", "sha256", ""), Sha256sum(At("release/en.ini")));
  EXPECT_EQ(ReadString(control, "file3", "sha256", "<none>"), "<none>");
  EXPECT_EQ(ReadString(control, "file2", "targetdir", ""), "{APP}\\language");
  EXPECT_EQ(ReadString(control, "update", "newversion", ""), "1.2.3.4");

  Put(At("release/manual.pdf"), "%PDF");
  Result whole = Sign({"hash", At("update.txt"), At("release")});
  EXPECT_EQ(whole.code, 0) << whole.output.toStdString();
  EXPECT_EQ(ReadString(control, "file3", "sha256", ""), Sha256sum(At("release/manual.pdf")));
  EXPECT_EQ(sonarelle::UpdateSignature::FileSha256(At("release/manual.pdf")),
            Sha256sum(At("release/manual.pdf")));
  EXPECT_EQ(sonarelle::UpdateSignature::FileSha256(At("release/none")), "");
}

TEST_F(SignToolTest, OnlyTheUntouchedControlFileVerifies) {
  MakeKeys();
  Put(At("update.txt"), "[update]\nnewversion=2.0.0.0\n[files]\ncount=0\n");
  Result signedIt = Sign({"sign", At("update.txt"), At("release.secret")});
  ASSERT_EQ(signedIt.code, 0) << signedIt.output.toStdString();
  const QByteArray signature = Get(At("update.txt.sig"));
  EXPECT_EQ(signature.size(), 129);
  EXPECT_TRUE(signature.endsWith('\n'));
  EXPECT_EQ(Sign({"verify", At("update.txt"), At("release.public")}).code, 0);
  // What the engine does with the same texts, white space around the signature included.
  EXPECT_TRUE(sonarelle::UpdateSignature::Verify(Get(At("update.txt")), "\r\n " + signature,
                                                 Get(At("release.public"))));

  FlipByte(At("update.txt"), 20);
  EXPECT_EQ(Sign({"verify", At("update.txt"), At("release.public")}).code, 1);
  FlipByte(At("update.txt"), 20);
  EXPECT_EQ(Sign({"verify", At("update.txt"), At("release.public")}).code, 0);

  FlipByte(At("update.txt.sig"), 70);
  EXPECT_EQ(Sign({"verify", At("update.txt"), At("release.public")}).code, 1);
  Put(At("update.txt.sig"), signature.left(126) + "\n");
  EXPECT_EQ(Sign({"verify", At("update.txt"), At("release.public")}).code, 1);
  Put(At("update.txt.sig"), signature);

  // Another publisher's key does not verify it.
  ASSERT_EQ(Sign({"keygen", At("other.secret"), At("other.public")}).code, 0);
  EXPECT_EQ(Sign({"verify", At("update.txt"), At("other.public")}).code, 1);
  EXPECT_EQ(Sign({"verify", At("update.txt"), At("release.public")}).code, 0);
}

}  // namespace
