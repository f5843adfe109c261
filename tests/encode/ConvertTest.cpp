// sonarelle-convert run as a process, as a user runs it.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "EncodeFixtures.h"
#include "support/SmallDisk.h"

namespace {

struct Outcome {
  int exitCode = -1;
  QString out;
  QString err;
};

Outcome Convert(const QStringList& args) {
  QProcess process;
  process.start(SONARELLE_CONVERT, args);
  Outcome outcome;
  if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit) {
    return outcome;
  }
  outcome.exitCode = process.exitCode();
  outcome.out = QString::fromLocal8Bit(process.readAllStandardOutput());
  outcome.err = QString::fromLocal8Bit(process.readAllStandardError());
  return outcome;
}

TEST(ConvertTest, WaveBecomesMp3TaggedFromTheGivenConfig) {
  QTemporaryDir dir;
  const QString wav = dir.filePath("take.wav");
  const QString mp3 = dir.filePath("take.mp3");
  const QString config = dir.filePath("config.ini");
  ASSERT_TRUE(WriteFile(wav, MakeToneWav(44100, 2, 1.5, 440)));
  ASSERT_TRUE(WriteFile(config,
                        "[mp3_info]\ntitle=Moon River\nartist=Evening Choir\nalbum=Rehearsals\n"
                        "year=2026\ncomment=take two\n"));
  const Outcome outcome = Convert({wav, mp3, "--config", config});
  ASSERT_EQ(outcome.exitCode, 0) << outcome.err.toStdString();
  EXPECT_TRUE(outcome.out.contains("100%"));

  const QByteArray file = ReadFile(mp3);
  ASSERT_GT(file.size(), 128);
  const QByteArray stream = file.left(file.size() - 128);
  qsizetype end = 0;
  const std::vector<FrameHeader> frames = WalkFrames(stream, end);
  EXPECT_EQ(end, stream.size());
  ASSERT_GT(frames.size(), 50u);
  EXPECT_EQ(frames[10].bitrateKbps, 160);
  EXPECT_TRUE(frames[10].crc);
  EXPECT_EQ(static_cast<std::uint8_t>(file.at(file.size() - 1)), 12);

  const std::map<QString, QString> tags = ReadTagsWithGStreamer(mp3);
  ASSERT_FALSE(tags.empty());
  EXPECT_EQ(tags.at("title"), "Moon River");
  EXPECT_EQ(tags.at("artist"), "Evening Choir");
  EXPECT_EQ(tags.at("album"), "Rehearsals");
  EXPECT_EQ(tags.at("comment"), "take two");
}

TEST(ConvertTest, FailuresExitNonZeroWithTheChainsMessage) {
  QTemporaryDir dir;
  const QString config = dir.filePath("config.ini");
  ASSERT_TRUE(WriteFile(config, "[mp3_info]\ntitle=x\n"));

  const Outcome missing =
      Convert({dir.filePath("none.wav"), dir.filePath("a.mp3"), "--config", config});
  EXPECT_NE(missing.exitCode, 0);
  EXPECT_FALSE(missing.err.trimmed().isEmpty());
  EXPECT_FALSE(QFile::exists(dir.filePath("a.mp3")));

  const QString slow = dir.filePath("slow.wav");
  ASSERT_TRUE(WriteFile(slow, MakeToneWav(22050, 2, 0.2, 440)));
  const Outcome refused = Convert({slow, dir.filePath("b.mp3"), "--config", config});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_TRUE(refused.err.contains("Unsupported Input Format"));
  EXPECT_FALSE(QFile::exists(dir.filePath("b.mp3")));

  const Outcome usage = Convert({slow});
  EXPECT_NE(usage.exitCode, 0);
  EXPECT_TRUE(usage.err.contains("usage"));
}

TEST(ConvertTest, AnEmptyWaveEndsAtOnceWithTheStartError) {
  QTemporaryDir dir;
  const QString wav = dir.filePath("empty.wav");
  const QByteArray full = MakeToneWav(44100, 2, 0.1, 440);
  // The 44-byte header alone: a "data" chunk of no bytes.
  QByteArray header = full.left(44);
  header.replace(40, 4, QByteArray(4, '\0'));
  header.replace(4, 4, QByteArray::fromHex("24000000"));
  ASSERT_EQ(header.mid(36, 4), "data");
  ASSERT_TRUE(WriteFile(wav, header));
  const Outcome outcome = Convert({wav, dir.filePath("out.mp3"), "--config", dir.filePath("x")});
  EXPECT_EQ(outcome.exitCode, 1);
  EXPECT_TRUE(outcome.err.contains("Unable to start device")) << outcome.err.toStdString();
  EXPECT_FALSE(QFile::exists(dir.filePath("out.mp3")));
}

TEST(ConvertTest, AFullDiskFailsAndLeavesNoPartialFile) {
  SmallDisk disk(qint64{48} * 1024);
  if (disk.RanElsewhere()) return;
  QTemporaryDir dir;
  const QString wav = dir.filePath("take.wav");
  ASSERT_TRUE(WriteFile(wav, MakeToneWav(44100, 2, 10, 440)));
  const QString mp3 = QDir(disk.Folder()).filePath("take.mp3");
  disk.Arm();
  const Outcome outcome = Convert({wav, mp3, "--config", dir.filePath("x")});
  disk.Disarm();
  EXPECT_EQ(outcome.exitCode, 1) << disk.Kind().toStdString();
  EXPECT_TRUE(outcome.err.contains(mp3)) << outcome.err.toStdString();
  EXPECT_FALSE(QFile::exists(mp3)) << "a partial MP3 file is not the conversion";
  EXPECT_TRUE(QFile::exists(wav));
}

}  // namespace
