#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include "platform/ProgramFolder.h"
#include "update/UpdateRules.h"

using namespace sonarelle::update_rules;

namespace {

constexpr auto kOnly = TWebUpdateVersionCheck::vcUpdateOnly;
constexpr auto kAlways = TWebUpdateVersionCheck::vcAlways;

class UpdateRulesTest : public ::testing::Test {
 protected:
  QString Put(const char* name, const QByteArray& bytes) {
    QString path = dir_.filePath(QString::fromLatin1(name));
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
    return path;
  }
  // A local file whose version record says `version`, as our executables carry one.
  QString Versioned(const char* name, const char* version) {
    return Put(name, "ELF..." + QByteArray("\x01Sonarelle") + "FileVersion:" + version + '\0');
  }
  QTemporaryDir dir_;
};

TEST_F(UpdateRulesTest, VersionsReadAsFourPartsOfSixteenBits) {
  TVersion v = ParseVersion(QStringLiteral("1.2.3.4"));
  EXPECT_EQ(v.high, 1 << 16 | 2);
  EXPECT_EQ(v.low, 3 << 16 | 4);
  EXPECT_EQ(v.Text(), "1.2.3.4");

  TVersion comma = ParseVersion(QStringLiteral("2,0,0,0"));
  TVersion point = ParseVersion(QStringLiteral("2.0.0.0"));
  EXPECT_TRUE(comma.Full());
  EXPECT_EQ(comma.high, point.high);
  EXPECT_EQ(comma.low, point.low);

  // A comma makes the comma the separator, so "1.2" is the first part, and no number.
  TVersion mixed = ParseVersion(QStringLiteral("1.2,3.4"));
  EXPECT_EQ(mixed.high, -1);
  EXPECT_EQ(mixed.low, -1);

  TVersion three = ParseVersion(QStringLiteral("1.2.3"));
  EXPECT_EQ(three.high, 1 << 16 | 2);
  EXPECT_FALSE(three.Full());
  EXPECT_FALSE(ParseVersion(QStringLiteral("1.2.3.4.5")).Full());
  EXPECT_FALSE(ParseVersion(QStringLiteral("1.x.3.4")).Full());
  EXPECT_EQ(ParseVersion(QStringLiteral("70000.1.2.3")).Text(), "4464.1.2.3");
}

TEST_F(UpdateRulesTest, NewerByVersion) {
  QString local = Versioned("prog", "1.2.3.3");
  TIsNewerResult r = IsNewer(QStringLiteral("1,2,3,4"), local, -1, 0, kOnly, false);
  EXPECT_TRUE(r.newer);
  EXPECT_EQ(r.newVersionText, "1.2.3.4");  // rewritten for the host
  EXPECT_EQ(r.localVersionText, "1.2.3.3");
  EXPECT_FALSE(IsNewer(QStringLiteral("1.2.3.3"), local, -1, 0, kOnly, false).newer);
  EXPECT_TRUE(IsNewer(QStringLiteral("1.3.0.0"), local, -1, 0, kOnly, false).newer);

  // Three parts give no low number: never newer, and the text is left as given.
  r = IsNewer(QStringLiteral("1.2.3"), local, -1, 0, kAlways, false);
  EXPECT_FALSE(r.newer);
  EXPECT_EQ(r.newVersionText, "1.2.3");
  EXPECT_EQ(r.localVersionText, "");

  // A local file without a version: only vcAlways updates it, and shows no local version.
  QString plain = Put("plain", "no version");
  EXPECT_FALSE(IsNewer(QStringLiteral("1.0.0.0"), plain, -1, 0, kOnly, false).newer);
  r = IsNewer(QStringLiteral("1.0.0.0"), plain, -1, 0, kAlways, false);
  EXPECT_TRUE(r.newer);
  EXPECT_EQ(r.localVersionText, "");

  // Nothing to compare, or no local file named with vcUpdateOnly: newer.
  EXPECT_TRUE(IsNewer(QString(), local, -1, 0, kOnly, false).newer);
  EXPECT_TRUE(IsNewer(QStringLiteral("0.0.0.1"), QString(), -1, 0, kOnly, false).newer);
}

TEST_F(UpdateRulesTest, NewerBySizeAndChecksum) {
  QString thousand = Put("thousand", QByteArray(1000, 'a'));
  QString less = Put("less", QByteArray(999, 'a'));
  QString missing = dir_.filePath("missing");
  for (auto check : {kOnly, kAlways}) {
    EXPECT_FALSE(IsNewer({}, thousand, -1, 1000, check, false).newer);
    EXPECT_TRUE(IsNewer({}, less, -1, 1000, check, false).newer);
  }
  EXPECT_FALSE(IsNewer({}, missing, -1, 1000, kOnly, false).newer);
  EXPECT_TRUE(IsNewer({}, missing, -1, 1000, kAlways, false).newer);

  // A checksum wins over size and version; -1 is no checksum at all.
  qint32 sum = FileChecksum(thousand, false);
  EXPECT_EQ(sum, -1 + 1000 * 'a');
  EXPECT_FALSE(IsNewer(QStringLiteral("9.9.9.9"), thousand, sum, 5, kOnly, false).newer);
  EXPECT_TRUE(IsNewer({}, thousand, sum + 1, 1000, kOnly, false).newer);
  EXPECT_FALSE(IsNewer({}, thousand, -1, 1000, kOnly, false).newer);
}

// The CRC-like step computed bit by bit, without a table.
quint32 CrcStep(quint32 c, unsigned char v) {
  quint32 x = c ^ v;
  for (int k = 0; k < 8; ++k) x = (x >> 1) ^ ((x & 1) != 0 ? 0xEDB88320U : 0);
  return x;
}

TEST_F(UpdateRulesTest, ChecksumsOverWholeFiles) {
  EXPECT_EQ(FileChecksum(Put("abc", "abc"), false), 293);
  EXPECT_EQ(FileChecksum(Put("empty", ""), false), -1);
  EXPECT_EQ(FileChecksum(dir_.filePath("missing"), false), -1);

  // Bigger than one read block, so block boundaries count.
  QByteArray bytes(3 * (1 << 20) + 17, Qt::Uninitialized);
  QRandomGenerator random(7);
  for (char& b : bytes) b = static_cast<char>(random.bounded(256));
  QString big = Put("big", bytes);
  quint32 sum = 0xFFFFFFFFU, crc = 0xFFFFFFFFU;
  for (char b : bytes) {
    auto v = static_cast<unsigned char>(b);
    sum += v;
    crc += CrcStep(crc, v);
  }
  EXPECT_EQ(FileChecksum(big, false), static_cast<qint32>(sum));
  EXPECT_EQ(FileChecksum(big, true), static_cast<qint32>(~crc));
  // The added step makes it differ from the standard CRC-32 of "abc", 0x352441C2.
  EXPECT_NE(FileChecksum(Put("abc", "abc"), true), static_cast<qint32>(0x352441C2));
}

TEST_F(UpdateRulesTest, TokensExpandToFoldersThatTakeAPath) {
  sonarelle::SetProgramFolder(QStringLiteral("/opt/sonarelle/"));
  // APP is the current folder, which here is not the program folder.
  QString previous = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(dir_.path()));
  QString app = ExpandTokens(QStringLiteral("{app}\\x.exe"), DefaultExpandToken);
  QDir::setCurrent(previous);
  EXPECT_EQ(LocalPath(app), dir_.path() + "/./x.exe");
  EXPECT_TRUE(QFile::exists(LocalPath(app).replace("x.exe", "")));

  EXPECT_EQ(ExpandTokens(QStringLiteral("{WIN}\\config.ini"), DefaultExpandToken),
            "/opt/sonarelle/.\\config.ini");
  EXPECT_EQ(ExpandTokens(QStringLiteral("{Pf}"), DefaultExpandToken), "/opt/.");
  EXPECT_EQ(ExpandTokens(QStringLiteral("{TMP}"), DefaultExpandToken), QDir::tempPath() + "/.");
  EXPECT_EQ(ExpandTokens(QStringLiteral("a{FOO}b{ }{TMP"), DefaultExpandToken), "a{FOO}b{ }{TMP");
  sonarelle::SetProgramFolder(QString());

  EXPECT_EQ(NormaliseFolder(QStringLiteral("C:\\WINDOWS\\"), QLatin1Char('\\')), "C:\\WINDOWS");
  EXPECT_EQ(NormaliseFolder(QStringLiteral("C:\\"), QLatin1Char('\\')), "C:\\.");
  EXPECT_EQ(NormaliseFolder(QStringLiteral("/")), "/.");

  // Scanning resumes inside the inserted text, and a folder naming itself ends.
  auto chain = [](const QString& name) {
    return name == "A" ? QStringLiteral("<{b}>") : name == "B" ? QStringLiteral("b") : QString();
  };
  EXPECT_EQ(ExpandTokens(QStringLiteral("{a}{c}{a}"), chain), "<b>{c}<b>");
  auto loop = [](const QString&) { return QStringLiteral("x{SELF}"); };
  EXPECT_EQ(ExpandTokens(QStringLiteral("{SELF}"), loop),
            QString("x").repeated(kMaxTokenReplacements) + "{SELF}");
}

TEST_F(UpdateRulesTest, NamesFromURLs) {
  EXPECT_EQ(FileNameFromURL(QStringLiteral("http://h/dir/sub\\name.exe")), "name.exe");
  EXPECT_EQ(FileNameFromURL(QStringLiteral("\\\\share\\data\\readme.txt")), "readme.txt");
  EXPECT_EQ(FileNameFromURL(QStringLiteral("ftp://h/dir/")), "");
}

TEST_F(UpdateRulesTest, ReleaseMomentsAgainstFileTimes) {
  QDateTime release = ReadDateTime(QStringLiteral("01/02/2004"), QStringLiteral("00:00"));
  EXPECT_EQ(release, QDateTime(QDate(2004, 2, 1), QTime(0, 0)));
  // A file last written that day at midnight or later is not older than the release.
  QFile file(Put("written", "x"));
  ASSERT_TRUE(file.open(QIODevice::ReadWrite));
  ASSERT_TRUE(file.setFileTime(QDateTime(QDate(2004, 2, 1), QTime(0, 0)),
                               QFileDevice::FileModificationTime));
  file.close();
  EXPECT_GE(QFileInfo(file.fileName()).lastModified(), release);
  EXPECT_LT(QDateTime(QDate(2004, 1, 31), QTime(23, 59)), release);

  EXPECT_EQ(ReadDateTime(QStringLiteral("14/03/2004"), QStringLiteral("18:30")),
            QDateTime(QDate(2004, 3, 14), QTime(18, 30)));
  EXPECT_EQ(ReadDateTime(QStringLiteral("2004-03-14"), QStringLiteral("7.05.09"),
                         QStringLiteral("yyyy-mm-dd"), QLatin1Char('-'), QLatin1Char('.')),
            QDateTime(QDate(2004, 3, 14), QTime(7, 5, 9)));
  EXPECT_EQ(ReadDateTime(QStringLiteral("3/14/04"), {}, QStringLiteral("m/d/yy")),
            QDateTime(QDate(2004, 3, 14), QTime(0, 0)));
  EXPECT_EQ(ReadDateTime(QStringLiteral("14/03/0004"), {}).date(), QDate(4, 3, 14));
  // Unreadable dates count as 1 January 1980; unreadable times are ignored.
  QDateTime y1980(QDate(1980, 1, 1), QTime(0, 0));
  for (const char* date : {"", "31/02/2004", "14/03", "14/03/2004/1", "a/b/c"}) {
    EXPECT_EQ(ReadDateTime(QString::fromLatin1(date), {}), y1980) << date;
  }
  EXPECT_EQ(ReadDateTime({}, QStringLiteral("12:30")), QDateTime(QDate(1980, 1, 1), QTime(12, 30)));
  for (const char* time : {"", "25:00", "12", "12:xx"}) {
    EXPECT_EQ(ReadDateTime(QStringLiteral("14/03/2004"), QString::fromLatin1(time)),
              QDateTime(QDate(2004, 3, 14), QTime(0, 0)))
        << time;
  }
}

}  // namespace
