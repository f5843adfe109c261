// WAVE files written by sox are read, and files written here are read back by sox, sample
// for sample.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include <QProcess>
#include <QTemporaryDir>

#include "WaveBytes.h"
#include "audio/wavefile/MMWave.h"

using namespace sonarelle;
using namespace wavebytes;

namespace {

class SoxInteropTest : public ::testing::Test {
 protected:
  QString Path(const QString& name) const { return dir_.filePath(name); }

  // Runs sox and returns what it wrote to standard output.
  static QByteArray Sox(const QStringList& args) {
    QProcess sox;
    sox.start(QStringLiteral("sox"), args);
    if (!sox.waitForFinished(60000) || sox.exitStatus() != QProcess::NormalExit ||
        sox.exitCode() != 0) {
      ADD_FAILURE() << "sox " << args.join(' ').toStdString() << ": "
                    << sox.readAllStandardError().toStdString();
      return {};
    }
    return sox.readAllStandardOutput();
  }

  // The audio bytes as sox decodes them, in the file's own encoding.
  static QByteArray SoxRaw(const QString& path) {
    return Sox({QStringLiteral("-V1"), path, QStringLiteral("-t"), QStringLiteral("raw"),
                QStringLiteral("-")});
  }

  static QString SoxInfo(const QString& flag, const QString& path) {
    return QString::fromUtf8(Sox({QStringLiteral("--i"), flag, path})).trimmed();
  }

  // A tone with noise, so that byte order and channel order matter.
  void Synth(const QString& path, const QStringList& format, const QString& length) {
    // The format goes to the null input too, so lengths in samples are at the file's rate.
    QStringList args{QStringLiteral("-V1")};
    args << format << QStringLiteral("-n") << format << path << QStringLiteral("synth") << length
         << QStringLiteral("sine") << QStringLiteral("440") << QStringLiteral("whitenoise")
         << QStringLiteral("vol") << QStringLiteral("0.5");
    Sox(args);
  }

  static QByteArray ReadAll(TMMWave& wave, int piece) {
    QByteArray all;
    std::vector<char> buffer(static_cast<size_t>(piece));
    wave.OpenFile();
    for (int guard = 0; guard < 100000; ++guard) {
      const std::int64_t n = wave.ReadData(buffer.data(), piece);
      if (n < 0) {
        break;
      }
      all.append(buffer.data(), static_cast<qsizetype>(n));
    }
    wave.CloseFile();
    return all;
  }

  QTemporaryDir dir_;
};

TEST_F(SoxInteropTest, ReadsPCMThatSoxWroteOverAGridOfFormats) {
  for (int rate : {8000, 11025, 22050, 44100, 48000}) {
    for (int channels : {1, 2}) {
      for (int bits : {8, 16}) {
        const QString name = QStringLiteral("sox_%1_%2_%3.wav").arg(rate).arg(channels).arg(bits);
        SCOPED_TRACE(name.toStdString());
        // An odd number of frames, so 8-bit mono needs a pad byte.
        Synth(Path(name),
              {QStringLiteral("-r"), QString::number(rate), QStringLiteral("-c"),
               QString::number(channels), QStringLiteral("-b"), QString::number(bits)},
              QStringLiteral("%1s").arg(rate / 7 + 1 - (rate / 7) % 2));
        const QByteArray raw = SoxRaw(Path(name));
        ASSERT_FALSE(raw.isEmpty());

        TMMWave wave;
        wave.SetFileName(Path(name));
        EXPECT_EQ(wave.FormatTag(), 1);
        EXPECT_EQ(wave.SampleRate(), rate);
        EXPECT_EQ(wave.Mode(), channels == 2 ? mStereo : mMono);
        EXPECT_EQ(wave.BitLength(), bits);
        // A pad byte ends the file and is counted as data, as a following chunk would be.
        const QByteArray expected = raw.size() % 2 != 0 ? raw + QByteArray(1, '\0') : raw;
        wave.SetTimeFormat(tfByte);
        EXPECT_EQ(wave.DataSize(), expected.size());
        EXPECT_EQ(ReadAll(wave, 4096), expected);
      }
    }
  }
}

TEST_F(SoxInteropTest, ExtensibleAndFloatFilesOpenWithTheirOwnLayout) {
  const struct {
    const char* name;
    QStringList format;
    int tag;
    int bits;
    int channels;
    const char* formatString;
  } cases[] = {
      {"s24.wav", {"-r", "44100", "-c", "2", "-b", "24"}, 0xFFFE, 24, 2, "Unknown"},
      {"c3.wav", {"-r", "22050", "-c", "3", "-b", "16"}, 0xFFFE, 16, 3, "Unknown"},
      {"f32.wav",
       {"-r", "8000", "-c", "1", "-b", "32", "-e", "floating-point"},
       3,
       32,
       1,
       "IEEE Float"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const QString path = Path(QString::fromLatin1(c.name));
    Synth(path, c.format, QStringLiteral("0.25"));
    TMMWave wave;
    wave.SetFileName(path);
    ASSERT_NE(wave.GetFormat(), nullptr);
    EXPECT_EQ(wave.FormatTag(), c.tag);
    EXPECT_EQ(wave.BitLength(), c.bits);
    EXPECT_EQ(wave.GetFormat()->nChannels, c.channels);
    EXPECT_EQ(wave.FormatString(), c.formatString);
    // The extra bytes of the record come along, and a copy is as long as the chunk.
    EXPECT_EQ(FormatSize(wave.GetFormat()), c.tag == 0xFFFE ? 40u : 18u);
    EXPECT_EQ(ReadAll(wave, 1000), SoxRaw(path));
  }
}

TEST_F(SoxInteropTest, InfoListsAroundTheDataAreReadAndKept) {
  Synth(Path("plain.wav"), {"-r", "11025", "-c", "1", "-b", "16"}, QStringLiteral("0.2"));
  const QByteArray plain = Get(Path("plain.wav"));
  const QByteArray raw = SoxRaw(Path("plain.wav"));
  ASSERT_EQ(plain.mid(36, 4), "data");  // sox writes a 16-byte record
  const QByteArray list =
      Chunk("LIST", QByteArray("INFO") + Chunk("INAM", QByteArray("Song\0", 5)) +
                        Chunk("ICMT", QByteArray("odd\0", 4)));
  // One LIST before the data, one after it; the outer size grows with them.
  QByteArray tagged = plain.left(36) + list + plain.mid(36) + list;
  tagged.replace(4, 4, U32(static_cast<std::uint32_t>(tagged.size() - 8)));
  ASSERT_TRUE(Put(Path("tagged.wav"), tagged));
  EXPECT_EQ(SoxRaw(Path("tagged.wav")), raw);

  TMMWave wave;
  wave.SetFileName(Path("tagged.wav"));
  wave.SetTimeFormat(tfByte);
  EXPECT_EQ(wave.DataSize(), raw.size());  // ends at the second LIST's header
  EXPECT_EQ(ReadAll(wave, 777), raw);

  // Appending rewrites the trailer: the entries come back once, behind "fact".
  wave.SetPosition(wave.DataSize());
  wave.OpenFile();
  const QByteArray more = Ramp(400);
  ASSERT_EQ(wave.WriteData(more.constData(), more.size()), more.size());
  wave.CloseFile();
  const QByteArray after = Get(Path("tagged.wav"));
  EXPECT_EQ(ReadU32(after, 4), static_cast<std::uint32_t>(after.size() - 8));
  const QByteArray rawAfter = SoxRaw(Path("tagged.wav"));
  EXPECT_EQ(rawAfter, raw + more);
  EXPECT_TRUE(
      after.endsWith(Chunk("LIST", QByteArray("INFO") + Chunk("INAM", QByteArray("Song\0", 5)) +
                                       Chunk("ICMT", QByteArray("odd\0", 4)))));
  EXPECT_EQ(SoxInfo(QStringLiteral("-s"), Path("tagged.wav")),
            QString::number(rawAfter.size() / 2));
}

TEST_F(SoxInteropTest, FilesWrittenHereAreReadBackBySoxSampleExactly) {
  std::mt19937 random(42);
  for (int rate : {8000, 11025, 22050, 44100, 48000, 96000}) {
    for (int channels : {1, 2}) {
      for (int bits : {8, 16, 24}) {
        const QString name = QStringLiteral("our_%1_%2_%3.wav").arg(rate).arg(channels).arg(bits);
        SCOPED_TRACE(name.toStdString());
        const WAVEFORMATEX format = MakePCMFormat(bits, channels, rate);
        // An odd frame count, written in pieces that split frames.
        const qsizetype bytes = static_cast<qsizetype>(rate / 10 + 1) * format.nBlockAlign;
        QByteArray audio(bytes, '\0');
        for (char& b : audio) {
          b = static_cast<char>(random());
        }
        {
          TMMWave wave;
          wave.SetFileMustExist(false);
          wave.CreateFile(Path(name), &format);
          for (qsizetype at = 0; at < audio.size(); at += 1001) {
            const QByteArray piece = audio.mid(at, 1001);
            ASSERT_EQ(wave.WriteData(piece.constData(), piece.size()), piece.size());
          }
          wave.CloseFile();
        }
        EXPECT_EQ(SoxRaw(Path(name)), audio);
        EXPECT_EQ(SoxInfo(QStringLiteral("-r"), Path(name)), QString::number(rate));
        EXPECT_EQ(SoxInfo(QStringLiteral("-c"), Path(name)), QString::number(channels));
        EXPECT_EQ(SoxInfo(QStringLiteral("-b"), Path(name)), QString::number(bits));
        EXPECT_EQ(SoxInfo(QStringLiteral("-s"), Path(name)), QString::number(rate / 10 + 1));
      }
    }
  }
}

}  // namespace
