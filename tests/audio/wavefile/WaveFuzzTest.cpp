// Thousands of damaged headers through the parser and the reader: every one is refused
// with one of the two messages or read within its file, never past it and never forever.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include <QFile>
#include <QTemporaryDir>

#include "WaveBytes.h"
#include "audio/wavefile/MMWave.h"

using namespace sonarelle;
using namespace wavebytes;

namespace {

QByteArray Sample(int which) {
  switch (which % 3) {
    case 0: {
      WAVEFORMATEX f = MakePCMFormat(16, 2, 44100);
      return Riff(Fmt(f) + Chunk("data", Ramp(1200)) + Chunk("fact", U32(300)) +
                  Chunk("LIST", QByteArray("INFO") + Chunk("ICMT", "a comment")) +
                  Chunk("DISP", U32(1) + "title"));
    }
    case 1:
      return Riff(Chunk("LIST", QByteArray("INFO") + Chunk("INAM", "x")) +
                  Fmt(MakePCMFormat(8, 1, 8000), 16) + Chunk("data", Ramp(777)));
    default: {
      WAVEFORMATEX f = MakePCMFormat(24, 3, 48000);
      f.wFormatTag = 0xFFFE;
      f.cbSize = 22;
      return Riff(Chunk("fmt ", QByteArray(reinterpret_cast<const char*>(&f), 18) + Ramp(22)) +
                  Chunk("fact", U32(100)) + Chunk("data", Ramp(900)));
    }
  }
}

// Damage of the kinds files really suffer: sizes off, bytes flipped, tails lost.
QByteArray Damage(QByteArray bytes, std::mt19937& random) {
  const int edits = 1 + static_cast<int>(random() % 4);
  for (int e = 0; e < edits; ++e) {
    const auto at = static_cast<qsizetype>(random() % std::min<qsizetype>(bytes.size(), 80));
    switch (random() % 5) {
      case 0:
        bytes[at] = static_cast<char>(random());
        break;
      case 1: {  // a size field gets an awkward value
        static const std::uint32_t kSizes[] = {0, 1, 3, 17, 0x7FFFFFFF, 0xFFFFFFFF, 0xFFFFFFFE};
        const std::uint32_t v = random() % 2 ? kSizes[random() % 7] : random();
        const qsizetype slot = (at / 4) * 4;
        if (slot + 4 <= bytes.size()) {
          bytes.replace(slot, 4, U32(v));
        }
        break;
      }
      case 2:
        bytes.truncate(static_cast<qsizetype>(random() % (bytes.size() + 1)));
        break;
      case 3:
        bytes.insert(at, Chunk("junk", Ramp(static_cast<qsizetype>(random() % 9))));
        break;
      default:
        bytes.remove(at, static_cast<qsizetype>(random() % 6));
        break;
    }
    if (bytes.isEmpty()) {
      break;
    }
  }
  return bytes;
}

TEST(WaveFuzzTest, DamagedHeadersAreRefusedOrReadWithinTheFile) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("fuzz.wav"));
  std::mt19937 random(20240611);
  int opened = 0;
  int refused = 0;
  std::vector<char> buffer(512);
  for (int round = 0; round < 8000; ++round) {
    const QByteArray bytes = Damage(Sample(round), random);
    QFile::remove(path);  // a fresh file: truncating one in place makes ext4 sync on close
    ASSERT_TRUE(Put(path, bytes));
    TMMWave wave;
    try {
      wave.SetFileName(path);
    } catch (const EMMWaveError& e) {
      ASSERT_TRUE(e.Message() == "Invalid wave file..." || e.Message() == "Error reading wave file")
          << e.what();
      ++refused;
      continue;
    }
    ++opened;
    SCOPED_TRACE(round);
    ASSERT_NE(wave.GetFormat(), nullptr);
    const WAVEFORMATEX& f = *wave.GetFormat();
    ASSERT_GT(f.nBlockAlign, 0);
    ASSERT_GT(f.nSamplesPerSec, 0u);
    wave.SetTimeFormat(tfByte);
    const std::int64_t dataBytes = wave.DataSize();
    ASSERT_GE(dataBytes, 0);
    // Other formats' byte rates need not round-trip through samples; PCM's must.
    if (f.wFormatTag == WAVE_FORMAT_PCM) {
      ASSERT_LE(dataBytes, bytes.size());
    }

    wave.OpenFile();
    std::int64_t total = 0;
    int pulls = 0;
    for (; pulls < 10000; ++pulls) {
      const std::int64_t n = wave.ReadData(buffer.data(), static_cast<std::int64_t>(buffer.size()));
      if (n < 0) {
        break;
      }
      ASSERT_LE(n, static_cast<std::int64_t>(buffer.size()));
      total += n;
    }
    ASSERT_LT(pulls, 10000) << "reading never ended";
    ASSERT_LE(total, std::min<std::int64_t>(dataBytes, bytes.size()) + 4);
    // A seek anywhere, then a read, must stay inside as well.
    wave.SetPosition(static_cast<std::int64_t>(random() % (dataBytes + 10)));
    ASSERT_LE(wave.BytesRemaining(), std::max<std::int64_t>(dataBytes, 0));
    wave.ReadData(buffer.data(), static_cast<std::int64_t>(buffer.size()));
    wave.CloseFile();
    ASSERT_EQ(Get(path), bytes) << "reading changed the file";
  }
  // Both outcomes must have been exercised, or the damage is not doing its job.
  EXPECT_GT(opened, 300);
  EXPECT_GT(refused, 300);
}

}  // namespace
