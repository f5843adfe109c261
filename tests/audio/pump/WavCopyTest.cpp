// A WAVE file read by a reader, pumped by the trigger into a writer, comes out with the
// same samples.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <random>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>

#include "audio/pump/MMTrigger.h"
#include "audio/wavefile/MMWaveFile.h"

using namespace sonarelle;

namespace {

void PutLE(QByteArray& out, std::uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out.append(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// A plain 44-byte-header PCM file with `dataBytes` of seeded noise.
QByteArray MakeWav(int bits, int channels, int rate, int dataBytes, unsigned seed) {
  const WAVEFORMATEX format = MakePCMFormat(bits, channels, rate);
  QByteArray file("RIFF");
  PutLE(file, static_cast<std::uint32_t>(36 + dataBytes), 4);
  file.append("WAVEfmt ");
  PutLE(file, 16, 4);
  PutLE(file, format.wFormatTag, 2);
  PutLE(file, format.nChannels, 2);
  PutLE(file, format.nSamplesPerSec, 4);
  PutLE(file, format.nAvgBytesPerSec, 4);
  PutLE(file, format.nBlockAlign, 2);
  PutLE(file, format.wBitsPerSample, 2);
  file.append("data");
  PutLE(file, static_cast<std::uint32_t>(dataBytes), 4);
  std::mt19937 noise(seed);
  for (int i = 0; i < dataBytes; ++i) file.append(static_cast<char>(noise() & 0xFF));
  return file;
}

// The "fmt " and "data" chunk contents of a RIFF WAVE file.
struct Chunks {
  QByteArray fmt;
  QByteArray data;
};

Chunks ReadChunks(const QString& path) {
  QFile file(path);
  Chunks chunks;
  if (!file.open(QIODevice::ReadOnly)) return chunks;
  const QByteArray all = file.readAll();
  qsizetype at = 12;
  while (at + 8 <= all.size()) {
    const QByteArray id = all.mid(at, 4);
    std::uint32_t size = 0;
    std::memcpy(&size, all.constData() + at + 4, 4);
    if (id == "fmt ") chunks.fmt = all.mid(at + 8, size);
    if (id == "data") chunks.data = all.mid(at + 8, size);
    at += 8 + size + (size & 1);
  }
  return chunks;
}

TEST(WavCopyTest, ReaderPumpWriterGivesASampleIdenticalFile) {
  struct Case {
    int bits, channels, rate, dataBytes;
  };
  const Case cases[] = {{16, 2, 44100, 176400 + 1000},  // a second and a part buffer
                        {8, 1, 8000, 4096},             // whole buffers only
                        {16, 1, 22050, 2},              // less than one buffer
                        {24, 2, 48000, 6 * 3001}};      // blocks that do not divide 2048
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.bits << " bits, " << c.channels << " ch, " << c.rate);
    const QString source = dir.filePath(QString("in%1.wav").arg(n));
    const QString target = dir.filePath(QString("out%1.wav").arg(n));
    ++n;
    {
      QFile file(source);
      ASSERT_TRUE(file.open(QIODevice::WriteOnly));
      file.write(MakeWav(c.bits, c.channels, c.rate, c.dataBytes, static_cast<unsigned>(n)));
    }

    TMMWaveFile reader;
    TMMWaveFile writer;
    writer.Wave().SetFileMustExist(false);
    writer.Wave().SetFileName(target);
    TMMTrigger trigger;  // destroyed before the files it drives
    trigger.SetInput(&reader);
    trigger.SetOutput(&writer);
    reader.Wave().SetFileName(source);  // hands the format down to the writer

    std::atomic<int> stops{0};
    bool stopOnMain = false;
    trigger.OnStop = [&](TMMComponent*) {
      ++stops;
      stopOnMain = QThread::currentThread() == QCoreApplication::instance()->thread();
      trigger.ClosePump();  // as the main window does; finalises the written file
    };
    trigger.StartPump();
    QElapsedTimer clock;
    clock.start();
    while (stops == 0 && clock.elapsed() < 20000) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);  // a stray second stop
    EXPECT_EQ(stops, 1);
    EXPECT_TRUE(stopOnMain);
    EXPECT_EQ(trigger.State(), TMMTrigger::tsClosed);

    const Chunks in = ReadChunks(source);
    const Chunks out = ReadChunks(target);
    EXPECT_EQ(out.fmt.left(16), in.fmt.left(16));
    ASSERT_EQ(out.data.size(), in.data.size());
    EXPECT_TRUE(out.data == in.data);
  }
}

}  // namespace
