#include <gtest/gtest.h>

#include <sys/resource.h>

#include <csignal>
#include <cstring>
#include <functional>
#include <random>
#include <vector>

#include <QCoreApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include "WaveBytes.h"
#include "audio/chain/DiskSpace.h"
#include "audio/chain/MMDSPThread.h"
#include "audio/wavefile/MMWaveFile.h"

using namespace sonarelle;
using namespace wavebytes;

namespace {

// A buffer header with its data, as a driver hands it along.
struct Buffer {
  explicit Buffer(std::uint32_t size) : data(size) {
    hdr.lpData = data.data();
    hdr.dwBufferLength = size;
  }
  QByteArray Bytes() const { return {hdr.lpData, static_cast<qsizetype>(hdr.dwBytesRecorded)}; }
  TWaveHdr hdr{};
  std::vector<char> data;
};

// Counts what reaches it from upstream.
struct Sink : TMMDSPComponent {
  Sink() {
    OnBufferReady = [this](TMMDSPComponent*, PWaveHdr h) {
      received.append(h->lpData, static_cast<qsizetype>(h->dwBytesRecorded));
    };
  }
  QByteArray received;
};

std::uint64_t g_freeSpace = 0;
std::uint64_t FakeFreeSpace(const QString&) {
  return g_freeSpace;
}

// Runs a body on a registered chain worker thread and waits for it on the main thread.
class Worker : public TMMDSPThread {
 public:
  explicit Worker(std::function<void()> body) : TMMDSPThread(nullptr), body_(std::move(body)) {}
  ~Worker() override { EndThread(); }

 protected:
  void Execute() override { body_(); }

 private:
  std::function<void()> body_;
};

class MMWaveFileTest : public ::testing::Test {
 protected:
  QString Path(const char* name = "take.wav") const {
    return dir_.filePath(QString::fromLatin1(name));
  }

  static QByteArray SoxRaw(const QString& path) {
    QProcess sox;
    sox.start(QStringLiteral("sox"), {QStringLiteral("-V1"), path, QStringLiteral("-t"),
                                      QStringLiteral("raw"), QStringLiteral("-")});
    EXPECT_TRUE(sox.waitForFinished(60000));
    EXPECT_EQ(sox.exitCode(), 0) << sox.readAllStandardError().toStdString();
    return sox.readAllStandardOutput();
  }

  // A writer behind `source`, in front of `sink`, recording into Path(name).
  void LinkWriter(TMMWaveFile& writer, TMMDSPComponent& source, Sink& sink,
                  const WAVEFORMATEX& format, const char* name = "take.wav") {
    source.SetFormat(&format);
    writer.SetInput(&source);
    writer.SetOutput(&sink);
    writer.Wave().SetFileMustExist(false);
    writer.Wave().SetFileName(Path(name));
    writer.OnOpen = [this](TMMComponent*) { ++opens_; };
    writer.OnClose = [this](TMMComponent*) { ++closes_; };
  }

  static void Push(TMMDSPComponent& source, const QByteArray& bytes) {
    Buffer buffer(static_cast<std::uint32_t>(bytes.size()));
    std::memcpy(buffer.data.data(), bytes.constData(), buffer.data.size());
    buffer.hdr.dwBytesRecorded = buffer.hdr.dwBufferLength;
    source.BufferReady(&buffer.hdr);
  }

  static QByteArray Noise(qsizetype n, unsigned seed) {
    std::mt19937 random(seed);
    QByteArray b(n, '\0');
    for (char& c : b) {
      c = static_cast<char>(random());
    }
    return b;
  }

  void TearDown() override { SetFreeSpaceQuery(nullptr); }

  QTemporaryDir dir_;
  int opens_ = 0;
  int closes_ = 0;
};

TEST_F(MMWaveFileTest, WriterRecordsWhatComesDownAndPassesItOn) {
  TMMDSPComponent source;
  Sink sink;
  TMMWaveFile writer;
  LinkWriter(writer, source, sink, MakePCMFormat(16, 2, 44100));
  EXPECT_EQ(writer.SilenceByte(), 0);
  ASSERT_NE(sink.GetFormat(), nullptr);  // the format went on down

  Push(source, Noise(400, 0));  // not started: passed on, not written
  writer.Open();
  writer.Start();
  EXPECT_EQ(opens_, 1);
  QByteArray written;
  for (unsigned i = 0; i < 10; ++i) {
    const QByteArray piece = Noise(4410, i + 1);
    if (i == 6) {
      writer.SetEnabled(false);
    }
    if (i == 8) {
      writer.SetEnabled(true);
    }
    if (i < 6 || i >= 8) {
      written += piece;
    }
    Push(source, piece);
  }
  writer.Close();
  EXPECT_EQ(closes_, 1);
  EXPECT_EQ(sink.received.size(), 400 + 10 * 4410);
  EXPECT_EQ(SoxRaw(Path()), written);
  writer.Close();
  EXPECT_EQ(closes_, 1);  // closing again does nothing
}

TEST_F(MMWaveFileTest, ARecordingStoppedBeforeAnyBufferHoldsOneSilentFrame) {
  const struct {
    WAVEFORMATEX format;
    QByteArray data;
  } cases[] = {
      {MakePCMFormat(16, 2, 44100), QByteArray(4, '\0')},
      {MakePCMFormat(8, 1, 8000), QByteArray(4, '\x80')},  // 8-bit silence is 128
      {MakePCMFormat(24, 2, 48000), QByteArray(6, '\0')},  // whole frames only
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.format.wBitsPerSample);
    TMMDSPComponent source;
    Sink sink;
    TMMWaveFile writer;
    LinkWriter(writer, source, sink, c.format);
    writer.Open();
    writer.Start();
    writer.Close();
    const QByteArray file = Get(Path());
    ASSERT_EQ(file.mid(38, 4), "data");
    EXPECT_EQ(ReadU32(file, 42), static_cast<std::uint32_t>(c.data.size()));
    EXPECT_EQ(file.mid(46, c.data.size()), c.data);
    EXPECT_EQ(SoxRaw(Path()), c.data);
  }
}

TEST_F(MMWaveFileTest, AFullDiskClosesTheWriterAndKeepsWhatWasWritten) {
  SetFreeSpaceQuery(&FakeFreeSpace);
  TMMDSPComponent source;
  Sink sink;
  TMMWaveFile writer;
  LinkWriter(writer, source, sink, MakePCMFormat(16, 1, 22050));
  writer.Open();
  writer.Start();
  // Exactly the I/O buffer, the buffer and the reserve free is enough; one byte less is not.
  g_freeSpace = 32768 + 2000 + 10240;
  QByteArray written;
  for (unsigned i = 0; i < 3; ++i) {
    written += Noise(2000, i);
    Push(source, written.right(2000));
  }
  EXPECT_EQ(closes_, 0);
  g_freeSpace -= 1;
  Push(source, Noise(2000, 7));
  EXPECT_EQ(closes_, 1);
  EXPECT_FALSE(writer.Wave().Opened());
  g_freeSpace = 1u << 30;
  Push(source, Noise(2000, 8));  // closed: passed on, never written
  EXPECT_EQ(closes_, 1);
  EXPECT_EQ(sink.received.size(), 5 * 2000);
  EXPECT_EQ(SoxRaw(Path()), written);
  const QByteArray file = Get(Path());
  EXPECT_EQ(ReadU32(file, 4), static_cast<std::uint32_t>(file.size() - 8));
}

// A real short write: the file may not grow past a limit.
TEST_F(MMWaveFileTest, AFailedWriteClosesTheWriterWithAValidFile) {
  TMMDSPComponent source;
  Sink sink;
  TMMWaveFile writer;
  LinkWriter(writer, source, sink, MakePCMFormat(16, 2, 44100));
  writer.Open();
  writer.Start();
  const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
  rlimit old{};
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  rlimit small = old;
  small.rlim_cur = 150001;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  QByteArray all;
  for (unsigned i = 0; i < 60 && closes_ == 0; ++i) {
    all += Noise(4410, i);
    Push(source, all.right(4410));
  }
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, oldHandler);
  EXPECT_EQ(closes_, 1);
  const QByteArray raw = SoxRaw(Path());
  EXPECT_GT(raw.size(), 100000);
  EXPECT_EQ(raw.size() % 4, 0);
  EXPECT_EQ(raw, all.left(raw.size()));
}

TEST_F(MMWaveFileTest, AFileCutOffWhileWritingHoldsWhatWasWrittenUpToTheLastUpdate) {
  for (const int interval : {0, 1}) {
    SCOPED_TRACE(interval);
    TMMDSPComponent source;
    Sink sink;
    TMMWaveFile writer;
    writer.SetHeaderUpdateInterval(interval);
    LinkWriter(writer, source, sink, MakePCMFormat(16, 2, 44100));
    writer.Open();
    writer.Start();
    QByteArray written;
    for (unsigned i = 0; i < 3; ++i) {
      QThread::msleep(2);
      written += Noise(4408, i);
      Push(source, written.right(4408));
    }
    // What a kill would leave: the file as it is on disk now.
    ASSERT_TRUE(Put(Path("cut.wav"), Get(Path())));
    TMMWave cut;
    cut.SetTimeFormat(tfByte);
    if (interval == 0) {
      EXPECT_THROW(cut.SetFileName(Path("cut.wav")), EMMWaveError);
    } else {
      cut.SetFileName(Path("cut.wav"));
      EXPECT_EQ(cut.DataSize(), written.size());
      EXPECT_EQ(SoxRaw(Path("cut.wav")), written);
    }
    writer.Close();
    EXPECT_EQ(SoxRaw(Path()), written);
  }
}

TEST_F(MMWaveFileTest, AReaderOfAnEmptyDataChunkEndsAtOnceStartedOrNot) {
  ASSERT_TRUE(Put(Path(), Riff(Fmt(MakePCMFormat(16, 2, 44100)) + Chunk("data", {}))));
  TMMWaveFile reader;
  Sink sink;
  reader.SetOutput(&sink);
  reader.Wave().SetFileName(Path());
  Buffer buffer(4096);
  for (const bool start : {false, true}) {
    reader.Open();
    if (start) reader.Start();
    bool more = false;
    buffer.hdr.dwBytesRecorded = 99;
    reader.BufferLoad(&buffer.hdr, more);
    EXPECT_EQ(buffer.hdr.dwBytesRecorded, 0u) << "started " << start;
    EXPECT_FALSE(more);
  }
  reader.Close();
}

TEST_F(MMWaveFileTest, ReaderPullsTheDataInBuffersAndHandsItsFormatDown) {
  const QByteArray data = Noise(10000, 3);
  ASSERT_TRUE(Put(Path(), Riff(Fmt(MakePCMFormat(8, 1, 11025)) + Chunk("data", data))));
  TMMWaveFile reader;
  Sink sink;
  reader.SetOutput(&sink);
  QStringList events;
  reader.OnChange = [&](TMMComponent*) { events << "change"; };
  reader.OnChanged = [&](TMMComponent*) {
    events << QStringLiteral("changed %1").arg(sink.GetFormat() != nullptr);
  };
  reader.Wave().SetFileName(Path());
  EXPECT_EQ(events, (QStringList{"change", "changed 1"}));
  ASSERT_NE(sink.GetFormat(), nullptr);
  EXPECT_NE(sink.GetFormat(), reader.Wave().GetFormat());  // each keeps its own copy
  EXPECT_EQ(sink.GetFormat()->nSamplesPerSec, 11025u);
  EXPECT_EQ(reader.SilenceByte(), 128);

  Buffer buffer(4096);
  bool more = false;
  reader.Open();
  reader.BufferLoad(&buffer.hdr, more);  // opened, not started: silence
  EXPECT_TRUE(more);
  EXPECT_EQ(buffer.Bytes(), QByteArray(4096, '\x80'));

  reader.Start();
  QByteArray got;
  std::vector<std::pair<std::uint32_t, bool>> pulls;
  for (int i = 0; i < 4; ++i) {
    more = false;
    reader.BufferLoad(&buffer.hdr, more);
    pulls.emplace_back(buffer.hdr.dwBytesRecorded, more);
    got += buffer.Bytes();
  }
  const std::vector<std::pair<std::uint32_t, bool>> expected{
      {4096, true}, {4096, true}, {1808, false}, {0, false}};
  EXPECT_EQ(pulls, expected);
  EXPECT_EQ(got, data);

  reader.SetEnabled(false);
  more = false;
  reader.BufferLoad(&buffer.hdr, more);
  EXPECT_TRUE(more);
  EXPECT_EQ(buffer.hdr.dwBytesRecorded, 4096u);
  reader.Close();
  EXPECT_EQ(Get(Path()), Riff(Fmt(MakePCMFormat(8, 1, 11025)) + Chunk("data", data)));
}

TEST_F(MMWaveFileTest, ReaderWrapsAsOftenAsTheHeaderAsks) {
  const QByteArray data = Noise(3000, 4);
  ASSERT_TRUE(Put(Path(), Riff(Fmt(MakePCMFormat(16, 2, 8000)) + Chunk("data", data))));
  TMMWaveFile reader;
  int loops = 0;
  reader.OnLooping = [&](TMMComponent*) { ++loops; };
  reader.Wave().SetFileName(Path());
  reader.Open();
  reader.Start();
  Buffer buffer(1024);
  buffer.hdr.LoopFlag = 1;
  buffer.hdr.LoopCount = 2;
  buffer.hdr.LoopsLeft = 2;
  QByteArray got;
  int marks = 0;
  for (int pull = 0; pull < 100; ++pull) {
    bool more = false;
    buffer.hdr.LoopMark = 0;
    reader.BufferLoad(&buffer.hdr, more);
    got += buffer.Bytes();
    marks += buffer.hdr.LoopMark == -1 ? 1 : 0;
    if (!more) {
      break;
    }
  }
  EXPECT_EQ(loops, 2);
  EXPECT_EQ(marks, 2);
  EXPECT_EQ(got, data + data + data);
}

TEST_F(MMWaveFileTest, OpenAndCloseFromAWorkerTellTheOwnerOnTheMainThread) {
  ASSERT_TRUE(Put(Path(), Riff(Fmt(MakePCMFormat(16, 1, 8000)) + Chunk("data", Noise(800, 5)))));
  TMMWaveFile reader;
  reader.Wave().SetFileName(Path());
  std::vector<bool> onMain;
  const auto note = [&](TMMComponent*) {
    onMain.push_back(QThread::currentThread() == QCoreApplication::instance()->thread());
  };
  reader.OnOpen = note;
  reader.OnClose = note;
  bool workerSawOpen = false;
  Worker worker([&] {
    reader.Open();
    workerSawOpen = reader.Wave().Opened();
    reader.Close();
  });
  worker.Resume();
  ASSERT_TRUE(worker.WaitFor(10000));
  EXPECT_TRUE(workerSawOpen);
  EXPECT_EQ(onMain, (std::vector<bool>{true, true}));
}

TEST_F(MMWaveFileTest, WithoutOverwritingTheWriterAppends) {
  const WAVEFORMATEX format = MakePCMFormat(16, 1, 8000);
  const QByteArray old = Noise(1000, 6);
  ASSERT_TRUE(Put(Path(), Riff(Fmt(format) + Chunk("data", old))));
  TMMDSPComponent source;
  Sink sink;
  TMMWaveFile writer;
  writer.SetOverwriteExisting(false);
  LinkWriter(writer, source, sink, format);
  writer.Open();
  writer.Start();
  const QByteArray more = Noise(600, 7);
  Push(source, more);
  writer.Close();
  EXPECT_EQ(SoxRaw(Path()), old + more);

  // A file with its "fmt " chunk behind the data keeps its format when the data grows over it.
  ASSERT_TRUE(Put(Path(), Riff(Chunk("data", old) + Fmt(format))));
  TMMWaveFile behind;
  behind.SetOverwriteExisting(false);
  LinkWriter(behind, source, sink, format);
  behind.Open();
  behind.Start();
  Push(source, more);
  behind.Close();
  WaveIOPtr block;
  ASSERT_EQ(OpenWaveFile(Path(), block), kWaveIOOk) << "the format is still there";
  ASSERT_EQ(ReopenWaveFile(*block), kWaveIOOk);
  QByteArray audio(old.size() + more.size() + 10, '\0');
  audio.resize(ReadBytes(*block, audio.data(), audio.size()));
  EXPECT_EQ(audio, old + more);

  // A folder that is not there: the create error reaches the caller of Open.
  TMMWaveFile lost;
  LinkWriter(lost, source, sink, format, "no/folder/x.wav");
  try {
    lost.Open();
    ADD_FAILURE() << "opened";
  } catch (const EMMWaveError& e) {
    EXPECT_EQ(e.Message(), "Unable to create wave file");
  }
}

}  // namespace
