#include <gtest/gtest.h>
#include <sys/stat.h>

#include <ctime>

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include "platform/Cabinet.h"
#include "support/CabinetWriter.h"
#include "support/SmallDisk.h"

// Readable failure messages.
void PrintTo(const QString& text, std::ostream* out) {
  *out << '"' << text.toStdString() << '"';
}

namespace Cabinet = sonarelle::Cabinet;
namespace Szdd = sonarelle::Szdd;

namespace {

// gcab stores times in UTC and cabinets are read as local time: under UTC the two agree.
const bool kUtc = [] {
  qputenv("TZ", "UTC");
  tzset();
  return true;
}();

class CabinetTest : public ::testing::Test {
 protected:
  QString At(const QString& relative) const { return dir_.filePath(relative); }

  static void Put(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly)) << path.toStdString();
    f.write(bytes);
  }

  static QByteArray Get(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
  }

  static QByteArray Noise(int size) {
    QByteArray bytes(size, Qt::Uninitialized);
    for (char& c : bytes) c = static_cast<char>(QRandomGenerator::global()->generate());
    return bytes;
  }

  static QString Digest(const QByteArray& bytes) {
    return QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Md5).toHex());
  }

  // Every name below `folder`, hidden files and symlinks included, with a digest of each file.
  static QStringList Tree(const QString& folder) {
    QStringList names;
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
      it.next();
      QString entry = QDir(folder).relativeFilePath(it.filePath());
      if (it.fileInfo().isFile() && !it.fileInfo().isSymLink()) {
        entry += " " + Digest(Get(it.filePath()));
      }
      names << entry;
    }
    names.sort();
    return names;
  }

  static void Run(const QString& program, const QStringList& args, const QString& in) {
    QProcess p;
    p.setWorkingDirectory(in);
    p.setProcessChannelMode(QProcess::ForwardedChannels);
    p.start(program, args);
    ASSERT_TRUE(p.waitForFinished(60000)) << program.toStdString();
    ASSERT_EQ(p.exitCode(), 0) << program.toStdString();
  }

  QTemporaryDir dir_;
};

TEST_F(CabinetTest, AGcabCabinetExtractsByteIdenticalWithItsStoredTimes) {
  ASSERT_TRUE(kUtc);
  const QDateTime stamps[] = {QDateTime(QDate(2004, 2, 1), QTime(12, 34, 56), Qt::UTC),
                              QDateTime(QDate(2019, 11, 30), QTime(23, 59, 58), Qt::UTC),
                              QDateTime(QDate(1999, 1, 2), QTime(0, 0, 2), Qt::UTC)};
  const QString names[] = {"readme.txt", "data/big.bin", "data/deep/tíny.dat"};
  const QByteArray contents[] = {"hello\r\n", Noise(300000), "x"};
  for (int i = 0; i < 3; ++i) {
    Put(At("src/" + names[i]), contents[i]);
    QFile f(At("src/" + names[i]));
    ASSERT_TRUE(f.open(QIODevice::ReadWrite));
    ASSERT_TRUE(f.setFileTime(stamps[i], QFileDevice::FileModificationTime));
  }
  Run("gcab", {"-c", "-z", At("update.cab"), names[0], names[1], names[2]}, At("src"));
  ASSERT_TRUE(Cabinet::IsCabinet(At("update.cab")));

  // An existing file is replaced and keeps its mode (an executable stays one).
  Put(At("out/readme.txt"), "old contents");
  QFile::setPermissions(At("out/readme.txt"),
                        QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
  EXPECT_EQ(Cabinet::Extract(At("update.cab"), At("out")), "");
  for (int i = 0; i < 3; ++i) {
    const QString path = At("out/" + names[i]);
    EXPECT_EQ(Get(path), contents[i]) << names[i].toStdString();
    EXPECT_EQ(QFileInfo(path).lastModified().toUTC(), stamps[i]) << names[i].toStdString();
  }
  EXPECT_TRUE(QFileInfo(At("out/readme.txt")).isExecutable());
  EXPECT_EQ(Tree(At("out")).size(), 5)
      << "three files, two folders, nothing else: " << Tree(At("out")).join(", ").toStdString();

  // With no folder, the current one.
  QDir::setCurrent(At("src"));
  QFile::remove(At("src/data/deep/tíny.dat"));
  EXPECT_EQ(Cabinet::Extract(At("update.cab"), QString()), "");
  EXPECT_EQ(Get(At("src/data/deep/tíny.dat")), "x");
  QDir::setCurrent(QDir::tempPath());
}

TEST_F(CabinetTest, WhatIsNoCabinetIsRefused) {
  Put(At("plain.txt"), QByteArray(4096, 'M'));
  Put(At("fake.cab"), "MSCF" + QByteArray(60, '\0'));
  QDir().mkpath(At("out"));
  for (const char* name : {"plain.txt", "fake.cab", "missing.cab"}) {
    EXPECT_FALSE(Cabinet::IsCabinet(At(name))) << name;
    EXPECT_NE(Cabinet::Extract(At(name), At("out")), "") << name;
  }
  EXPECT_TRUE(Tree(At("out")).isEmpty());
}

TEST_F(CabinetTest, AHostileNameRefusesTheWholeCabinetBeforeAnyWrite) {
  // Deep enough that "../.." stays inside the test's folder, where any escape would show.
  const QString target = At("a/b/target");
  QDir().mkpath(target);
  Put(At("a/keep.txt"), "keep");
  const QDateTime now = QDateTime::currentDateTime();
  const QByteArray hostile[] = {"../../.bashrc",       QFile::encodeName(At("absolute.txt")),
                                "C:\\x.txt",           "..\\x.txt",
                                "sub\\..\\..\\x.txt",  "ctrl\x01name.txt",
                                "line\nbreak.txt",
                                "nul\xC0\x80name.txt",  // NUL in modified UTF-8
                                "sub\\\\double.txt",   "sub\\"};
  const QStringList before = Tree(dir_.path());
  for (const QByteArray& name : hostile) {
    const QByteArray cab = MakeCabinet({{"first.txt", "1", now},
                                        {name, "evil", now, quint16(0x20 | 0x80)},
                                        {"last.txt", "3", now}});
    Put(At("hostile.cab"), cab);
    const QString error = Cabinet::Extract(At("hostile.cab"), target);
    EXPECT_NE(error, "") << name.toStdString();
    QFile::remove(At("hostile.cab"));
    EXPECT_EQ(Tree(dir_.path()), before) << name.toStdString();
  }
  // The same cabinet with a plain name is extracted: the refusals came from the names.
  // A name without the UTF-8 flag is Latin-1.
  Put(At("fine.cab"), MakeCabinet({{"first.txt", "1", now}, {"sub\\caf\xE9.txt", "ok", now}}));
  EXPECT_EQ(Cabinet::Extract(At("fine.cab"), target), "");
  EXPECT_EQ(Get(target + "/sub/café.txt"), "ok");
}

TEST_F(CabinetTest, ASymlinkBelowTheTargetIsNotFollowed) {
  const QDateTime now = QDateTime::currentDateTime();
  QDir().mkpath(At("target"));
  QDir().mkpath(At("outside"));
  Put(At("outside/victim.txt"), "victim");
  ASSERT_TRUE(QFile::link(At("outside"), At("target/plugins")));
  ASSERT_TRUE(QFile::link(At("outside/victim.txt"), At("target/readme.txt")));

  // Through a symlinked folder: refused, nothing written anywhere.
  Put(At("through.cab"), MakeCabinet({{"a.txt", "a", now}, {"plugins\\x.so", "evil", now}}));
  EXPECT_NE(Cabinet::Extract(At("through.cab"), At("target")), "");
  EXPECT_EQ(Tree(At("outside")), QStringList({"victim.txt " + Digest("victim")}));
  EXPECT_FALSE(QFile::exists(At("target/a.txt")));

  // A symlink as the final name is replaced by the file, not written through.
  Put(At("final.cab"), MakeCabinet({{"readme.txt", "new", now}}));
  EXPECT_EQ(Cabinet::Extract(At("final.cab"), At("target")), "");
  EXPECT_EQ(Get(At("outside/victim.txt")), "victim");
  EXPECT_FALSE(QFileInfo(At("target/readme.txt")).isSymLink());
  EXPECT_EQ(Get(At("target/readme.txt")), "new");
}

TEST_F(CabinetTest, ACabinetCutShortLeavesNoPartialFileAndTheOldOneWhole) {
  const QDateTime now = QDateTime::currentDateTime();
  QByteArray cab = MakeCabinet({{"small.txt", "small", now}, {"big.bin", Noise(200000), now}});
  cab.truncate(cab.size() - 50000);
  Put(At("cut.cab"), cab);
  Put(At("out/big.bin"), "the old version");
  EXPECT_NE(Cabinet::Extract(At("cut.cab"), At("out")), "");
  EXPECT_EQ(Get(At("out/big.bin")), "the old version");
  for (const QString& name : Tree(At("out"))) {
    EXPECT_TRUE(name.startsWith("big.bin ") || name.startsWith("small.txt "))
        << "left behind: " << name.toStdString();
  }
}

TEST_F(CabinetTest, AFullDiskLeavesNoPartialFile) {
  SmallDisk disk(qint64{64} * 1024);
  if (disk.RanElsewhere()) return;
  const QDateTime now = QDateTime::currentDateTime();
  Put(At("big.cab"), MakeCabinet({{"small.txt", "small", now}, {"big.bin", Noise(300000), now}}));
  disk.Arm();
  const QString error = Cabinet::Extract(At("big.cab"), disk.Folder());
  disk.Disarm();
  EXPECT_NE(error, "") << "on a " << disk.Kind().toStdString();
  EXPECT_EQ(Tree(disk.Folder()), QStringList({"small.txt " + Digest("small")}))
      << error.toStdString();
}

class SzddTest : public CabinetTest {
 protected:
  // upd.exe compressed by mscompress, renamed upd.ex_ with the replaced "e" in its header,
  // as COMPRESS -r stores it.
  void SetUp() override {
    original_ = Noise(20000) + QByteArray(50000, 'a') + "end";
    Put(At("src/upd.exe"), original_);
    Run("mscompress", {"upd.exe"}, At("src"));
    QByteArray compressed = Get(At("src/upd.exe_"));
    ASSERT_TRUE(compressed.startsWith("SZDD"));
    ASSERT_EQ(compressed[9], '\0') << "mscompress stores no character";
    compressed[9] = 'E';
    Put(At("out/upd.ex_"), compressed);
  }

  QByteArray original_;
};

TEST_F(SzddTest, AnMscompressFileExpandsToItsRestoredName) {
  ASSERT_TRUE(Szdd::IsSzdd(At("out/upd.ex_")));
  EXPECT_FALSE(Szdd::IsSzdd(At("src/upd.exe")));
  const QString expanded = Szdd::ExpandedName(At("out/upd.ex_"));
  EXPECT_EQ(expanded, At("out/upd.exe"));
  EXPECT_EQ(Szdd::Expand(At("out/upd.ex_"), expanded), "");
  EXPECT_EQ(Get(At("out/upd.exe")), original_);

  // Without a stored character the name stays; expanding onto itself replaces the file.
  EXPECT_EQ(Szdd::ExpandedName(At("src/upd.exe_")), At("src/upd.exe_"));
  EXPECT_EQ(Szdd::Expand(At("src/upd.exe_"), At("src/upd.exe_")), "");
  EXPECT_EQ(Get(At("src/upd.exe_")), original_);

  // A stored character that would lead out of the folder counts as none.
  QByteArray slash = Get(At("out/upd.ex_"));
  slash[9] = '/';
  Put(At("out/slash.ex_"), slash);
  EXPECT_EQ(Szdd::ExpandedName(At("out/slash.ex_")), At("out/slash.ex_"));
}

TEST_F(SzddTest, ATruncatedFileLeavesNoOutput) {
  QByteArray cut = Get(At("out/upd.ex_"));
  cut.truncate(cut.size() / 2);
  Put(At("out/upd.ex_"), cut);
  const QStringList before = Tree(At("out"));
  EXPECT_NE(Szdd::Expand(At("out/upd.ex_"), At("out/upd.exe")), "");
  EXPECT_EQ(Tree(At("out")), before);

  // Nor does it harm an older file of that name.
  Put(At("out/upd.exe"), "the old updater");
  EXPECT_NE(Szdd::Expand(At("out/upd.ex_"), At("out/upd.exe")), "");
  EXPECT_EQ(Get(At("out/upd.exe")), "the old updater");
}

}  // namespace
