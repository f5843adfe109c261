// Take files: names made exclusively, takes left behind found and finished, and the folder
// takes go to.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <vector>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "app/TakeFile.h"
#include "audio/wavefile/WaveBytes.h"
#include "audio/wavefile/WaveIO.h"
#include "platform/Exception.h"
#include "platform/FileLock.h"
#include "platform/TakeFolder.h"

using namespace sonarelle;
using namespace wavebytes;

namespace {

const WAVEFORMATEX kFormat = MakePCMFormat(16, 2, 44100);

// What a recorder killed before its first header update leaves: sizes 0, then the audio.
QByteArray Killed(const QByteArray& audio) {
  return Riff(Fmt(kFormat) + Chunk("data", audio, 0), 0);
}

TEST(TakeFileTest, ANewTakeNeverReplacesAnExistingFile) {
  QTemporaryDir dir;
  const QString folder = dir.path() + '/';
  constexpr int kFree = 4711;
  for (int n = 0; n < 10000; ++n) {
    if (n != kFree) {
      ASSERT_TRUE(Put(folder + QStringLiteral("SWtemp%1.wav").arg(n), "theirs"));
    }
  }
  const auto take = TTakeFile::Create(folder, &kFormat);
  EXPECT_EQ(take->Path(), folder + QStringLiteral("SWtemp%1.wav").arg(kFree));
  WaveIOPtr block;
  ASSERT_EQ(OpenWaveFile(take->Path(), block), kWaveIOOk) << "an empty WAVE file to record into";
  EXPECT_EQ(block->samples, 0);
  for (int n = 0; n < 10000; n += 97) {
    if (n != kFree) {
      EXPECT_EQ(Get(folder + QStringLiteral("SWtemp%1.wav").arg(n)), "theirs");
    }
  }
  EXPECT_THROW(TTakeFile::Create(folder, &kFormat), Exception) << "every name is taken";
}

TEST(TakeFileTest, TakesLeftBehindAreFinishedAndOfferedAndNothingElseIsTouched) {
  QTemporaryDir dir;
  const QString folder = dir.path() + '/';
  QByteArray audio(10001, '\0');
  for (int i = 0; i < audio.size(); ++i) audio[i] = static_cast<char>(i * 13);
  const QByteArray killed = Killed(audio);
  const QByteArray finished =
      Riff(Fmt(kFormat) + Chunk("data", audio.left(400)) + Chunk("fact", U32(100)));
  ASSERT_TRUE(Put(folder + "SWtemp1.wav", killed));
  ASSERT_TRUE(Put(folder + "SWtemp2.wav", killed));  // still being recorded
  ASSERT_TRUE(Put(folder + "SWtemp3.wav", Riff(Fmt(kFormat) + Chunk("data", {}))));
  ASSERT_TRUE(Put(folder + "SWtemp4.wav", "no wave at all"));
  ASSERT_TRUE(Put(folder + "SWtemp12345.wav", killed));
  ASSERT_TRUE(Put(folder + "other.wav", killed));
  ASSERT_TRUE(Put(folder + "SWtemp5.wav", finished));
  QFile five(folder + "SWtemp5.wav");
  ASSERT_TRUE(five.open(QIODevice::ReadWrite));
  five.setFileTime(QDateTime::currentDateTime().addSecs(-3600), QFileDevice::FileModificationTime);
  five.close();
  FileLock recording;
  ASSERT_TRUE(recording.Acquire(folder + "SWtemp2.wav"));

  const TTakeFiles left = TTakeFile::FindLeft({folder, dir.path()});
  ASSERT_EQ(left.size(), 2u);
  EXPECT_EQ(left[0]->Path(), folder + "SWtemp5.wav") << "oldest first";
  EXPECT_EQ(left[1]->Path(), folder + "SWtemp1.wav");
  EXPECT_EQ(Get(folder + "SWtemp5.wav"), finished);
  // The killed take now ends after its last whole frame, as a finished file does.
  WaveIOPtr block;
  ASSERT_EQ(OpenWaveFile(folder + "SWtemp1.wav", block), kWaveIOOk);
  EXPECT_EQ(block->samples, 2500);
  const QByteArray repaired = Get(folder + "SWtemp1.wav");
  EXPECT_EQ(repaired.mid(46, 10000), audio.left(10000));
  EXPECT_EQ(repaired.mid(46 + 10000, 4), "fact");
  EXPECT_EQ(left[1]->LengthMs(), std::lround(2500 * 1000.0 / 44100));

  EXPECT_EQ(Get(folder + "SWtemp2.wav"), killed);
  EXPECT_FALSE(QFile::exists(folder + "SWtemp3.wav")) << "it never held any audio";
  EXPECT_EQ(Get(folder + "SWtemp4.wav"), "no wave at all");
  EXPECT_EQ(Get(folder + "SWtemp12345.wav"), killed);
  EXPECT_EQ(Get(folder + "other.wav"), killed);
  EXPECT_TRUE(TTakeFile::FindLeft({folder}).empty()) << "held by the first search";
}

TEST(TakeFileTest, ATakeThatCannotBeReadIsKeptUnchangedAndMarkedDamaged) {
  QTemporaryDir dir;
  const QString folder = dir.path() + '/';
  std::vector<QByteArray> files = UnplayableTakes();
  for (std::size_t i = 0; i < files.size(); ++i) {
    ASSERT_TRUE(Put(folder + QStringLiteral("SWtemp%1.wav").arg(i + 1), files[i]));
  }
  // The first "fmt " chunk too short and a second after it: the reader stops at the first.
  files.push_back(
      Riff(Chunk("fmt ", U16(1) + U16(2)) + Fmt(kFormat) + Chunk("data", Ramp(1001), 0), 0));
  ASSERT_TRUE(Put(folder + "SWtemp4.wav", files.back()));
  ASSERT_TRUE(Put(folder + "SWtemp5.wav", Killed(Ramp(1001))));
  // The fastest byte rate 32 bits hold: 8-bit mono at 0xFFFFFFFF frames a second still reads.
  WAVEFORMATEX fastest = MakePCMFormat(8, 1, 8000);
  fastest.nSamplesPerSec = 0xFFFFFFFFU;
  ASSERT_TRUE(Put(folder + "SWtemp6.wav", Riff(Fmt(fastest) + Chunk("data", Ramp(1001), 0), 0)));

  const TTakeFiles left = TTakeFile::FindLeft({folder});
  for (std::size_t i = 0; i < files.size(); ++i) {
    const QString path = folder + QStringLiteral("SWtemp%1.wav").arg(i + 1);
    EXPECT_EQ(Get(path), files[i]) << "take " << i + 1 << " is left as it was";
    const auto take =
        std::find_if(left.begin(), left.end(), [&](const auto& t) { return t->Path() == path; });
    if (take == left.end()) {
      ADD_FAILURE() << "take " << i + 1 << " is not listed";
      continue;
    }
    EXPECT_TRUE((*take)->Damaged()) << "take " << i + 1;
  }
  EXPECT_EQ(left.size(), files.size() + 2);
  for (const char* name : {"SWtemp5.wav", "SWtemp6.wav"}) {
    const auto good = std::find_if(left.begin(), left.end(),
                                   [&](const auto& t) { return t->Path() == folder + name; });
    ASSERT_NE(good, left.end()) << name;
    EXPECT_FALSE((*good)->Damaged()) << name;
    WaveIOPtr block;
    EXPECT_EQ(OpenWaveFile(folder + name, block), kWaveIOOk) << name << " is mended";
  }
}

TEST(TakeFileTest, TakesGoToThePrivateStateFolderWhichTheSystemDoesNotEmptyAtBoot) {
  const QString folder = TakeFolder();
  EXPECT_EQ(folder, qEnvironmentVariable("XDG_STATE_HOME") + "/sonarelle/takes/");
  EXPECT_EQ(QFileInfo(folder).permissions() & (QFile::ReadOther | QFile::ReadGroup), 0);
}

}  // namespace
