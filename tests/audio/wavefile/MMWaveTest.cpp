#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <cstring>
#include <vector>

#include <QFile>
#include <QTemporaryDir>

#include "WaveBytes.h"
#include "audio/wavefile/MMWave.h"

using namespace sonarelle;
using namespace wavebytes;

namespace {

class MMWaveTest : public ::testing::Test {
 protected:
  QString Path(const char* name = "take.wav") const {
    return dir_.filePath(QString::fromLatin1(name));
  }

  // Writes `bytes` of audio as a new file through a wave, in pieces of `piece` bytes.
  void Record(const QString& path, const WAVEFORMATEX& format, const QByteArray& audio,
              int piece = 4096) {
    TMMWave wave;
    wave.SetFileMustExist(false);
    wave.CreateFile(path, &format);
    for (qsizetype at = 0; at < audio.size(); at += piece) {
      const QByteArray part = audio.mid(at, piece);
      ASSERT_EQ(wave.WriteData(part.constData(), part.size()), part.size());
    }
    wave.CloseFile();
  }

  // Everything a wave gives from its start to its end, with ReadData.
  static QByteArray ReadAll(TMMWave& wave, int piece = 1000) {
    QByteArray all;
    std::vector<char> buffer(static_cast<size_t>(piece));
    for (int guard = 0; guard < 1000000; ++guard) {
      const std::int64_t n = wave.ReadData(buffer.data(), piece);
      if (n < 0) {
        return all;
      }
      all.append(buffer.data(), static_cast<qsizetype>(n));
    }
    ADD_FAILURE() << "ReadData never reached the end";
    return all;
  }

  QTemporaryDir dir_;
};

TEST_F(MMWaveTest, OneSecondOfCDAudioHasTheExpectedLayoutAndReadsBack) {
  const QByteArray audio = Ramp(176400);
  Record(Path(), MakePCMFormat(16, 2, 44100), audio, 3000);

  const QByteArray file = Get(Path());
  ASSERT_EQ(file.size(), 176458);
  EXPECT_EQ(file.left(4), "RIFF");
  EXPECT_EQ(ReadU32(file, 4), 176450u);
  EXPECT_EQ(file.mid(12, 4), "fmt ");
  EXPECT_EQ(ReadU32(file, 16), 18u);
  EXPECT_EQ(ReadU16(file, 36), 0);  // cbSize
  EXPECT_EQ(file.mid(38, 4), "data");
  EXPECT_EQ(ReadU32(file, 42), 176400u);
  EXPECT_EQ(file.mid(46, 176400), audio);
  EXPECT_EQ(file.mid(176446, 4), "fact");
  EXPECT_EQ(ReadU32(file, 176450), 4u);
  EXPECT_EQ(ReadU32(file, 176454), 44100u);

  TMMWave wave;
  wave.SetFileName(Path());
  EXPECT_EQ(wave.FileSize(), 176458);
  EXPECT_EQ(wave.DataSize(), 44100);
  EXPECT_EQ(wave.FormatTag(), 1);
  EXPECT_EQ(wave.FormatString(), "PCM");
  EXPECT_EQ(wave.BitLength(), 16);
  EXPECT_EQ(wave.Mode(), mStereo);
  EXPECT_EQ(wave.SampleRate(), 44100);
  EXPECT_EQ(wave.Position(), 0);
  wave.SetTimeFormat(tfMillisecond);
  EXPECT_EQ(wave.DataSize(), 1000);
  wave.SetTimeFormat(tfByte);
  EXPECT_EQ(wave.DataSize(), 176400);

  wave.OpenFile();
  EXPECT_EQ(ReadAll(wave, 4096), audio);
  EXPECT_EQ(wave.Position(), 176400);
  // From the middle, in byte units: the rest of the data.
  wave.SetPosition(100000);
  EXPECT_EQ(wave.BytesRemaining(), 76400);
  EXPECT_EQ(ReadAll(wave), audio.mid(100000));
  wave.CloseFile();
  EXPECT_EQ(Get(Path()), file);  // reading never rewrites
}

TEST_F(MMWaveTest, DataRunsToTheNextChunkHeaderOrTheEndOfTheFile) {
  const WAVEFORMATEX mono8 = MakePCMFormat(8, 1, 8000);
  // 10001 declared bytes followed by a LIST: the pad byte belongs to the data.
  ASSERT_TRUE(Put(Path(), Riff(Fmt(mono8) + Chunk("data", Ramp(10001)) +
                               Chunk("LIST", QByteArray("INFO") + Chunk("ICMT", "note")))));
  TMMWave wave;
  wave.SetFileName(Path());
  EXPECT_EQ(wave.DataSize(), 10002);
  wave.OpenFile();
  EXPECT_EQ(ReadAll(wave), Ramp(10001) + QByteArray(1, '\0'));
  wave.CloseFile();

  // The last chunk claims more than the file holds: up to the end, in whole blocks.
  const WAVEFORMATEX stereo16 = MakePCMFormat(16, 2, 22050);
  const QByteArray cut = Riff(Fmt(stereo16) + Chunk("data", Ramp(4002), 100000), 200000);
  ASSERT_TRUE(Put(Path("cut.wav"), cut));
  wave.SetFileName(Path("cut.wav"));
  wave.SetTimeFormat(tfByte);
  EXPECT_EQ(wave.DataSize(), 4000);
  wave.OpenFile();
  EXPECT_EQ(ReadAll(wave), Ramp(4000));
}

TEST_F(MMWaveTest, WrongBlockSizeAndByteRateOfPCMAreCorrected) {
  WAVEFORMATEX wrong = MakePCMFormat(16, 2, 44100);
  wrong.nBlockAlign = 3;
  wrong.nAvgBytesPerSec = 12345;
  ASSERT_TRUE(Put(Path(), Riff(Fmt(wrong) + Chunk("data", Ramp(4000)) + Chunk("fact", U32(77)))));
  TMMWave wave;
  wave.SetFileName(Path());
  ASSERT_NE(wave.GetFormat(), nullptr);
  EXPECT_EQ(wave.GetFormat()->nBlockAlign, 4);
  EXPECT_EQ(wave.GetFormat()->nAvgBytesPerSec, 176400u);
  EXPECT_EQ(wave.DataSize(), 999);  // 3999 bytes in whole 3-byte blocks, then whole frames
  wave.SetTimeFormat(tfByte);
  EXPECT_EQ(wave.DataSize(), 3996);

  // A file older programs wrote, with the 16-byte record, reads the same.
  ASSERT_TRUE(
      Put(Path("short.wav"), Riff(Fmt(MakePCMFormat(8, 1, 11025), 16) + Chunk("data", Ramp(9)))));
  wave.SetFileName(Path("short.wav"));
  EXPECT_EQ(wave.GetFormat()->cbSize, 0);
  EXPECT_EQ(wave.DataSize(), 10);  // tfByte; 9 bytes and the pad byte
}

TEST_F(MMWaveTest, BadFilesRaiseThePartsErrorsAndKeepTheOldFile) {
  const WAVEFORMATEX f = MakePCMFormat(16, 1, 8000);
  const QByteArray good = Riff(Fmt(f) + Chunk("data", Ramp(800)));
  ASSERT_TRUE(Put(Path("good.wav"), good));
  WAVEFORMATEX zeroBlock = f;
  zeroBlock.nBlockAlign = 0;
  WAVEFORMATEX noBits = f;
  noBits.wBitsPerSample = 0;
  WAVEFORMATEX zeroRate = f;
  zeroRate.nSamplesPerSec = 0;
  WAVEFORMATEX wideExtra = f;  // claims more extra bytes than its chunk holds
  wideExtra.wFormatTag = 2;
  wideExtra.cbSize = 5000;
  const struct {
    const char* name;
    QByteArray bytes;
  } invalid[] = {
      {"text", "just some words, nothing like a wave file\n"},
      {"empty", ""},
      {"rifx", QByteArray("RIFX") + good.mid(4)},
      {"avi", QByteArray("RIFF") + U32(4) + "AVI "},
      {"header only", good.left(12)},
      {"truncated fmt", good.left(30)},
      {"no fmt", Riff(Chunk("data", Ramp(800)))},
      {"no data", Riff(Fmt(f))},
      {"zero block", Riff(Fmt(zeroBlock) + Chunk("data", Ramp(800)))},
      {"zero bits", Riff(Fmt(noBits) + Chunk("data", Ramp(800)))},
      {"zero rate", Riff(Fmt(zeroRate) + Chunk("data", Ramp(800)))},
      {"tiny fmt", Riff(Chunk("fmt ", U32(1)) + Chunk("data", Ramp(8)))},
      {"only junk and data", Riff(Chunk("junk", Ramp(3)) + Chunk("data", Ramp(8)))},
  };
  TMMWave wave;
  wave.SetFileName(Path("good.wav"));
  for (const auto& c : invalid) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(Put(Path("bad.wav"), c.bytes));
    try {
      wave.SetFileName(Path("bad.wav"));
      ADD_FAILURE() << "opened";
    } catch (const EMMWaveError& e) {
      EXPECT_EQ(e.Message(), "Invalid wave file...");
    }
    EXPECT_EQ(wave.FileName(), Path("good.wav"));
    EXPECT_EQ(wave.DataSize(), 400);
  }

  // Extra bytes claimed beyond the chunk are cut to what it held.
  ASSERT_TRUE(Put(Path("extra.wav"), Riff(Fmt(wideExtra) + Chunk("data", Ramp(800)))));
  wave.SetFileName(Path("extra.wav"));
  EXPECT_EQ(wave.GetFormat()->cbSize, 0);
  EXPECT_EQ(wave.FormatString(), "Microsoft ADPCM");

  try {
    wave.SetFileName(Path("missing.wav"));
    ADD_FAILURE() << "accepted a missing file";
  } catch (const EMMWaveError& e) {
    EXPECT_EQ(e.Message(), "Error reading wave file");
  }
  EXPECT_EQ(wave.FileName(), Path("extra.wav"));
}

TEST_F(MMWaveTest, NamesOfNewFilesAreRememberedAndObserversTold) {
  TMMWave wave;
  std::vector<int> calls;
  TMMObserver first;
  TMMObserver second;
  first.OnNotify = [&](TMMObservable*, void* data) {
    EXPECT_EQ(data, &wave);
    calls.push_back(1);
  };
  second.OnNotify = [&](TMMObservable*, void*) { calls.push_back(2); };
  first.SetObservable(&wave.Observable());
  second.SetObservable(&wave.Observable());

  wave.SetFileMustExist(false);
  wave.SetFileName(Path("new.wav"));  // does not exist yet
  EXPECT_EQ(wave.FileName(), Path("new.wav"));
  EXPECT_EQ(wave.Position(), -1);
  EXPECT_EQ(wave.SampleRate(), 11025);
  EXPECT_EQ(wave.BitLength(), 0);
  EXPECT_EQ(wave.Regions().Count(), 0);
  EXPECT_EQ(calls, (std::vector<int>{2, 1}));  // last attached first

  const WAVEFORMATEX f = MakePCMFormat(8, 1, 8000);
  wave.CreateFile(Path("new.wav"), &f);
  EXPECT_EQ(calls.size(), 4u);
  wave.BeginUpdate();
  wave.SetFileName(QString());
  wave.EndUpdate();  // held back while locked, raised once at the end
  EXPECT_EQ(calls.size(), 6u);
  EXPECT_TRUE(wave.FileName().isEmpty());
  wave.SetFileName(QString());
  EXPECT_EQ(calls.size(), 6u);  // nothing to clear

  TMMWave other;
  second.SetObservable(&other.Observable());  // moves: no longer told by `wave`
  EXPECT_EQ(wave.Observable().ObserverCount(), 1);
  wave.SetFileName(Path("new.wav"));
  EXPECT_EQ(calls.back(), 1);
  EXPECT_EQ(calls.size(), 7u);

  wave.SetIOBufferSize(1000);
  EXPECT_EQ(wave.IOBufferSize(), 8192);

  // A stopped recording with no audio still opens (empty data), and a failed create
  // raises and leaves no file behind.
  try {
    wave.CreateFile(dir_.filePath("no/such/folder/x.wav"), &f);
    ADD_FAILURE() << "created";
  } catch (const EMMWaveError& e) {
    EXPECT_EQ(e.Message(), "Unable to create wave file");
  }
  EXPECT_FALSE(QFile::exists(dir_.filePath("no/such/folder/x.wav")));
  EXPECT_EQ(wave.FileName(), Path("new.wav"));
}

TEST_F(MMWaveTest, CutListKeepsOrderRefusesOverlapsAndGrowsInSteps) {
  TMMCutList list;
  std::vector<int> capacities;
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(list.Add({100 + i * 10, 0, 10, 0}), i);
    capacities.push_back(list.Capacity());
  }
  EXPECT_EQ(capacities[0], 4);
  EXPECT_EQ(capacities[4], 8);
  EXPECT_EQ(capacities[8], 16);
  EXPECT_EQ(capacities[16], 32);
  EXPECT_EQ(list.Add({0, 0, 5, 0}), 0);     // before all: sorted to the front
  EXPECT_EQ(list.Add({105, 0, 1, 0}), -1);  // inside [100, 110)
  EXPECT_EQ(list.Count(), 21);
  EXPECT_EQ(list.TotalSamples(), 205);
  try {
    list.Item(21);
    ADD_FAILURE() << "no error";
  } catch (const EListError& e) {
    EXPECT_EQ(e.Message(), "List index out of bounds (21)");
  }
}

TEST_F(MMWaveTest, ReadsStopAtTheEndAndATruncatedFileEndsWithSilence) {
  const WAVEFORMATEX f = MakePCMFormat(16, 1, 8000);
  ASSERT_TRUE(Put(Path(), Riff(Fmt(f) + Chunk("data", Ramp(1000)))));
  TMMWave wave;
  wave.SetFileName(Path());
  ASSERT_EQ(QFile::resize(Path(), 46 + 600), true);  // cut after parsing
  wave.OpenFile();
  char buffer[700];
  EXPECT_EQ(wave.ReadData(buffer, 700), 600);
  EXPECT_EQ(QByteArray(buffer, 600), Ramp(600));
  std::memset(buffer, 0x55, sizeof buffer);
  EXPECT_EQ(wave.ReadData(buffer, 700), 4);
  EXPECT_EQ(QByteArray(buffer, 5), QByteArray(4, '\0') + '\x55');
  EXPECT_EQ(wave.ReadData(buffer, 700), -1);
  EXPECT_EQ(wave.Position(), 500);
}

// The disk fills up while recording: the file keeps every whole frame that reached it and
// ends with valid sizes.
TEST_F(MMWaveTest, AFullDiskLeavesAValidFileWithWhatWasWritten) {
  const WAVEFORMATEX f = MakePCMFormat(16, 2, 44100);
  const QByteArray audio = Ramp(176400);
  constexpr rlim_t kLimit = 100003;  // not on a frame boundary

  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit small = old;
  small.rlim_cur = kLimit;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  std::int64_t accepted = 0;
  {
    TMMWave wave;
    wave.SetFileMustExist(false);
    wave.CreateFile(Path(), &f);
    for (qsizetype at = 0; at < audio.size(); at += 8192) {
      const QByteArray part = audio.mid(at, 8192);
      const std::int64_t n = wave.WriteData(part.constData(), part.size());
      if (n <= 0) {
        break;
      }
      accepted += n;
    }
    wave.CloseFile();
  }
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_LT(accepted, audio.size());

  const QByteArray file = Get(Path());
  ASSERT_GE(file.size(), 46);
  EXPECT_LE(file.size(), static_cast<qsizetype>(kLimit));
  const std::uint32_t dataSize = ReadU32(file, 42);
  EXPECT_EQ(dataSize % 4, 0u);
  EXPECT_GT(dataSize, 90000u);
  EXPECT_EQ(ReadU32(file, 4), static_cast<std::uint32_t>(file.size() - 8));
  EXPECT_EQ(file.mid(46, dataSize), audio.left(dataSize));

  TMMWave wave;
  wave.SetFileName(Path());
  wave.SetTimeFormat(tfByte);
  EXPECT_EQ(wave.DataSize(), dataSize);
}

// A write that would take the RIFF size past 32 bits is refused instead of wrapping it.
TEST_F(MMWaveTest, WritesStopBeforeTheFileOutgrowsRiffSizes) {
  const WAVEFORMATEX f = MakePCMFormat(16, 2, 44100);
  constexpr std::int64_t kEnd = 0xFFFFFFF2LL;  // data of whole frames
  ASSERT_TRUE(Put(Path(), Riff(Fmt(f) + Chunk("data", QByteArray(), kEnd - 46), kEnd - 8)));
  ASSERT_TRUE(QFile::resize(Path(), kEnd));  // sparse: takes no room on disk
  TMMWave wave;
  wave.SetFileName(Path());
  wave.SetTimeFormat(tfByte);
  ASSERT_EQ(wave.DataSize(), kEnd - 46);
  wave.SetPosition(wave.DataSize());  // append
  wave.OpenFile();
  EXPECT_EQ(wave.WriteData("abcdefghijklmnop", 16), 0);
  EXPECT_EQ(wave.WriteData("abcd", 4), 4);
  wave.CloseFile();

  QFile file(Path());
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.size(), kEnd + 16);
  const QByteArray head = file.read(46);
  EXPECT_EQ(ReadU32(head, 4), static_cast<std::uint32_t>(kEnd + 16 - 8));
  EXPECT_EQ(ReadU32(head, 42), static_cast<std::uint32_t>(kEnd + 4 - 46));
  file.seek(kEnd);
  EXPECT_EQ(file.read(16), QByteArray("abcd") + "fact" + U32(4) + U32((kEnd + 4 - 46) / 4));
}

}  // namespace
