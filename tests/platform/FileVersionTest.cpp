#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QFile>
#include <QStringList>
#include <QTemporaryDir>

#include "platform/FileVersion.h"

using sonarelle::ReadFileVersion;

namespace {

// The project version as the build gave it, in the record's two numbers.
std::pair<qint32, qint32> BuiltVersion() {
  QStringList parts = QStringLiteral(SONARELLE_FILE_VERSION).split(QLatin1Char('.'));
  EXPECT_EQ(parts.size(), 4);
  auto word = [&](int i) { return static_cast<quint32>(parts.value(i).toUInt()); };
  return {static_cast<qint32>(word(0) << 16 | word(1)),
          static_cast<qint32>(word(2) << 16 | word(3))};
}

// A record as an executable carries it, put together here so this test's own executable
// does not hold one.
QByteArray Record(const char* version) {
  return QByteArray("\x01Sonarelle") + "FileVersion:" + version + '\0';
}

TEST(FileVersionTest, OurExecutablesCarryTheProjectVersion) {
  auto [high, low] = BuiltVersion();
  for (const char* name : {"sonarelle", "sonarelle-convert"}) {
    QString path = QCoreApplication::applicationDirPath() + '/' + QLatin1String(name);
    ASSERT_TRUE(QFile::exists(path)) << name;
    qint32 readHigh = 0, readLow = 0;
    EXPECT_TRUE(ReadFileVersion(path, &readHigh, &readLow)) << name;
    EXPECT_EQ(readHigh, high) << name;
    EXPECT_EQ(readLow, low) << name;
  }
}

TEST(FileVersionTest, FilesWithoutAWholeRecordGiveMinusOne) {
  QTemporaryDir dir;
  qint32 high = 0, low = 0;
  EXPECT_FALSE(ReadFileVersion(dir.filePath("missing"), &high, &low));
  EXPECT_EQ(high, -1);
  EXPECT_EQ(low, -1);

  QString path = dir.filePath("plain");
  for (const QByteArray& bytes :
       {QByteArray("no record here"), Record("1.2.3").chopped(1), Record("1.2.3.4x"),
        Record("70000.1.2.3"), Record("1.2.3.4").chopped(1) /* cut at the end of the file */}) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
    f.close();
    high = low = 0;
    EXPECT_FALSE(ReadFileVersion(path, &high, &low)) << bytes.toStdString();
    EXPECT_EQ(high, -1);
    EXPECT_EQ(low, -1);
  }
}

TEST(FileVersionTest, RecordsAcrossAndAtTheEndOfReadBlocksAreFound) {
  QTemporaryDir dir;
  QString path = dir.filePath("big");
  const qsizetype block = 1 << 20;
  // A damaged record first, then a whole one that straddles the first block's end; then a
  // file whose only record is its last bytes, past the first block.
  for (qsizetype at : {block - 5, block - 1, block + 3, 3 * block - 29}) {
    QByteArray bytes(at, 'x');
    QByteArray damaged = Record("9.9");
    bytes.replace(0, damaged.size(), damaged);
    bytes += Record("1.2.65535.4");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
    f.close();
    qint32 high = 0, low = 0;
    EXPECT_TRUE(ReadFileVersion(path, &high, &low)) << at;
    EXPECT_EQ(high, 1 << 16 | 2) << at;
    EXPECT_EQ(low, static_cast<qint32>(65535U << 16 | 4)) << at;
  }
}

}  // namespace
