// The MP3 encoder behind the real reader and pump, with the real encoder library; the MP3
// files are checked by their frame headers and by decoding them with GStreamer.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "EncodeFixtures.h"
#include "audio/chain/DiskSpace.h"
#include "audio/wavefile/MMWaveFile.h"
#include "encode/MMMP3Encoder.h"
#include "platform/Exception.h"
#include "platform/Mp3EncoderLibrary.h"
#include "support/Tone.h"

using namespace sonarelle;

namespace {

class EncoderTest : public testing::Test {
 protected:
  QString Path(const QString& name) const { return dir_.filePath(name); }
  QString ToneFile(const QString& name, int rate, int channels, double seconds, int bits = 16) {
    QString path = Path(name);
    EXPECT_TRUE(WriteFile(path, MakeToneWav(rate, channels, seconds, 440, bits)));
    return path;
  }
  QTemporaryDir dir_;
};

TEST_F(EncoderTest, ToneBecomesConstant160kbpsStreamWithCrcThatDecodesToTheSameTone) {
  const QString wav = ToneFile("tone.wav", 44100, 2, 2.0);
  const QString mp3 = Path("tone.mp3");
  ASSERT_TRUE(WriteFile(mp3, QByteArray(100000, 'x')));  // an old file of that name goes
  TMMMP3Encoder encoder;
  encoder.SetBitrate(br160);
  encoder.SetCRC(true);
  encoder.SetFileName(mp3);
  const ConversionRun run = RunConversion(wav, encoder);
  ASSERT_TRUE(run.started) << run.error.toStdString();
  EXPECT_TRUE(run.stopped);
  EXPECT_FALSE(encoder.EncoderOpened());

  const BE_CONFIG& config = encoder.Config();
  EXPECT_EQ(+config.dwConfig, 0u);
  EXPECT_EQ(+config.dwSampleRate, 44100u);
  EXPECT_EQ(+config.byMode, 0);
  EXPECT_EQ(+config.wBitrate, 160);
  EXPECT_EQ(+config.bCRC, -1);
  EXPECT_EQ(+config.bPrivate, 0);
  EXPECT_EQ(+config.bCopyright, 0);
  EXPECT_EQ(+config.bOriginal, 0);

  const QByteArray stream = ReadFile(mp3);
  qsizetype end = 0;
  const std::vector<FrameHeader> frames = WalkFrames(stream, end);
  EXPECT_EQ(end, stream.size()) << "the file is frames from start to end";
  // Two seconds are 77 frames of 1152 samples, plus the encoder's delay and padding.
  EXPECT_GE(frames.size(), 77u);
  EXPECT_LE(frames.size(), 80u);
  for (const FrameHeader& frame : frames) {
    ASSERT_EQ(frame.bitrateKbps, 160);
    ASSERT_TRUE(frame.crc);
    ASSERT_EQ(frame.rate, 44100);
    ASSERT_EQ(frame.mode, 0);
    ASSERT_FALSE(frame.copyright || frame.original || frame.privateBit);
  }

  const DecodedAudio audio = DecodeMp3(mp3);
  ASSERT_TRUE(audio.ok);
  EXPECT_EQ(audio.rate, 44100);
  EXPECT_EQ(audio.channels, 2);
  const double seconds = static_cast<double>(audio.left.size()) / 44100;
  EXPECT_NEAR(seconds, 2.0, 0.1);
  const std::vector<double> middle(audio.left.begin() + 22050, audio.left.begin() + 66150);
  EXPECT_TRUE(HasTone(middle, 44100, 440));
  EXPECT_GT(TonePower(middle, 44100, 440), 0.02);
}

TEST_F(EncoderTest, SettingsAndInputShapeTheFrameHeaders) {
  struct Case {
    int rate, channels;
    TMMMP3ChannelMode channelMode;
    TMMMP3Bitrate bitrate;
    bool crc, copyright, privat, original;
    int mode;  // expected in the headers
  };
  const Case cases[] = {
      {44100, 1, cmStereo, br64, false, true, false, false, 3},  // mono input is mono
      {48000, 2, cmMono, br128, false, false, true, false, 0},   // cmMono on stereo: stereo
      {32000, 2, cmDualChannel, br96, true, false, false, true, 2},
      {44100, 2, cmStereo, br320, false, true, true, true, 0},
  };
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << n);
    const QString wav = ToneFile(QString("in%1.wav").arg(n), c.rate, c.channels, 0.5);
    const QString mp3 = Path(QString("out%1.mp3").arg(n++));
    TMMMP3Encoder encoder;
    encoder.SetFileName(mp3);
    encoder.SetChannelMode(c.channelMode);
    encoder.SetBitrate(c.bitrate);
    encoder.SetCRC(c.crc);
    encoder.SetCopyright(c.copyright);
    encoder.SetPrivat(c.privat);
    encoder.SetOriginal(c.original);
    const ConversionRun run = RunConversion(wav, encoder);
    ASSERT_TRUE(run.stopped) << run.error.toStdString();
    EXPECT_EQ(+encoder.Config().byMode, c.mode);
    EXPECT_EQ(+encoder.Config().bCopyright, c.copyright ? -1 : 0);
    EXPECT_EQ(+encoder.Config().bPrivate, c.privat ? -1 : 0);
    EXPECT_EQ(+encoder.Config().bOriginal, c.original ? -1 : 0);
    qsizetype end = 0;
    const QByteArray stream = ReadFile(mp3);
    const std::vector<FrameHeader> frames = WalkFrames(stream, end);
    ASSERT_GT(frames.size(), 10u);
    EXPECT_EQ(end, stream.size());
    const FrameHeader& h = frames[frames.size() / 2];
    EXPECT_EQ(h.rate, c.rate);
    EXPECT_EQ(h.mode, c.mode);
    EXPECT_EQ(h.bitrateKbps, BitrateKbps(c.bitrate));
    EXPECT_EQ(h.crc, c.crc);
    EXPECT_EQ(h.copyright, c.copyright);
    EXPECT_EQ(h.privateBit, c.privat);
    EXPECT_EQ(h.original, c.original);
  }
}

TEST_F(EncoderTest, RefusedInputFailsAtStartAndLeavesTheTargetAlone) {
  const QString slow = ToneFile("slow.wav", 22050, 2, 0.2);
  const QString bytes8 = ToneFile("8bit.wav", 44100, 2, 0.2, 8);
  const QString existing = Path("existing.mp3");
  ASSERT_TRUE(WriteFile(existing, "keep"));
  for (const auto& [wav, mp3] : {std::pair{slow, Path("slow.mp3")}, std::pair{bytes8, existing}}) {
    TMMMP3Encoder encoder;
    encoder.SetFileName(mp3);
    const ConversionRun run = RunConversion(wav, encoder);
    EXPECT_FALSE(run.started);
    EXPECT_EQ(run.error, "Unsupported Input Format");
    EXPECT_FALSE(encoder.EncoderOpened());
  }
  EXPECT_FALSE(QFile::exists(Path("slow.mp3")));
  EXPECT_EQ(ReadFile(existing), "keep");
}

TEST_F(EncoderTest, MissingOrIncompleteLibraryFailsWithTheDownloadMessage) {
  const QString wav = ToneFile("tone.wav", 44100, 2, 0.2);
  const QString original = Mp3EncoderLibraryName();
  // A library that does not exist, and one that loads but is no MP3 encoder.
  for (const char* name : {"libsonarelle-no-such-encoder.so.0", "libm.so.6"}) {
    SCOPED_TRACE(name);
    SetMp3EncoderLibraryName(name);
    const QString mp3 = Path("none.mp3");
    TMMMP3Encoder encoder;
    encoder.SetFileName(mp3);
    const ConversionRun run = RunConversion(wav, encoder);
    EXPECT_FALSE(run.started);
    EXPECT_EQ(run.error, QString(kMp3LibraryMissing) + kMp3EncoderDownloadLocation);
    EXPECT_TRUE(run.error.startsWith("Unable to load MP3 encoder library\n\r"));
    EXPECT_FALSE(QFile::exists(mp3));
  }
  SetMp3EncoderLibraryName(original);
  TMMMP3Encoder encoder;
  encoder.SetFileName(Path("after.mp3"));
  EXPECT_TRUE(RunConversion(wav, encoder).stopped) << "the real library loads again";
}

std::atomic<int> gSpaceCalls{0};
std::atomic<int> gSpaceUntilFull{0};

std::uint64_t FillingDisk(const QString&) {
  return gSpaceCalls++ < gSpaceUntilFull ? std::uint64_t{1} << 40 : 5000;
}

TEST_F(EncoderTest, FullDiskClosesTheFileAndKeepsAPlayablePart) {
  const QString wav = ToneFile("tone.wav", 44100, 2, 2.0);
  const QString mp3 = Path("part.mp3");
  gSpaceCalls = 0;
  gSpaceUntilFull = 30;  // about 30 frames go through before the disk is full
  const FreeSpaceQuery previous = SetFreeSpaceQuery(&FillingDisk);
  TMMMP3Encoder encoder;
  encoder.SetBitrate(br160);
  encoder.SetCRC(true);
  encoder.SetFileName(mp3);
  const ConversionRun run = RunConversion(wav, encoder);
  SetFreeSpaceQuery(previous);
  ASSERT_TRUE(run.started) << run.error.toStdString();
  EXPECT_TRUE(run.stopped) << "the pump still reads to the end";
  EXPECT_GT(gSpaceCalls.load(), 30);
  EXPECT_FALSE(encoder.EncoderOpened());

  const QByteArray stream = ReadFile(mp3);
  qsizetype end = 0;
  const std::vector<FrameHeader> frames = WalkFrames(stream, end);
  EXPECT_EQ(end, stream.size());
  EXPECT_GE(frames.size(), 25u);
  EXPECT_LE(frames.size(), 35u);
  const DecodedAudio audio = DecodeMp3(mp3);
  ASSERT_TRUE(audio.ok);
  EXPECT_LT(audio.left.size(), 44100u);
  EXPECT_TRUE(HasTone(audio.left, 44100, 440));
}

// Feeds the data part of a WAVE file to an opened and started encoder in pieces of the
// given sizes (cycled), then stops and closes it; the MP3 bytes that came out.
QByteArray EncodeInPieces(const QString& wav, const QString& mp3, const std::vector<int>& sizes,
                          qsizetype* sizeBeforeStop = nullptr) {
  TMMWaveFile reader;  // only the link and the format
  reader.Wave().SetFileName(wav);
  TMMMP3Encoder encoder;
  encoder.SetFileName(mp3);
  encoder.SetInput(&reader);
  encoder.Open();
  encoder.Start();
  const QByteArray file = ReadFile(wav);
  const QByteArray data = file.mid(44);
  std::vector<char> block(static_cast<std::size_t>(data.size()));
  TWaveHdr header{};
  header.lpData = block.data();
  qsizetype at = 0;
  for (std::size_t i = 0; at < data.size(); ++i) {
    const qsizetype piece = std::min<qsizetype>(sizes[i % sizes.size()], data.size() - at);
    std::memcpy(block.data(), data.constData() + at, static_cast<std::size_t>(piece));
    header.dwBufferLength = static_cast<std::uint32_t>(block.size());
    header.dwBytesRecorded = static_cast<std::uint32_t>(piece);
    encoder.BufferReady(&header);
    at += piece;
  }
  if (sizeBeforeStop != nullptr) *sizeBeforeStop = QFileInfo(mp3).size();
  encoder.Stop();
  encoder.Close();
  encoder.SetInput(nullptr);
  return ReadFile(mp3);
}

TEST_F(EncoderTest, PiecesOfAnySizeGiveTheSameStreamAndStopFlushesTheRest) {
  const QString wav = ToneFile("tone.wav", 44100, 2, 0.7);
  const QByteArray whole = EncodeInPieces(wav, Path("whole.mp3"), {1 << 20});
  const QByteArray pieces = EncodeInPieces(wav, Path("pieces.mp3"), {2048, 6, 9000, 4608, 2});
  ASSERT_FALSE(whole.isEmpty());
  EXPECT_TRUE(whole == pieces) << "chunking must not change what the library sees";

  // Less than one chunk: nothing comes out before the stop.
  const QString shortWav = ToneFile("short.wav", 44100, 2, 0.02);
  qsizetype before = -1;
  const QByteArray flushed = EncodeInPieces(shortWav, Path("short.mp3"), {2048}, &before);
  EXPECT_EQ(before, 0);
  qsizetype end = 0;
  EXPECT_GE(WalkFrames(flushed, end).size(), 1u);
  EXPECT_EQ(end, flushed.size());
}

TEST_F(EncoderTest, FileSettingsAreLockedWhileOpen) {
  const QString wav = ToneFile("tone.wav", 44100, 2, 0.1);
  TMMWaveFile reader;
  reader.Wave().SetFileName(wav);
  TMMMP3Encoder encoder;
  encoder.SetFileName(Path("locked.mp3"));
  encoder.SetInput(&reader);
  encoder.Open();
  ASSERT_TRUE(encoder.EncoderOpened());
  try {
    encoder.SetFileName(Path("other.mp3"));
    ADD_FAILURE() << "no error";
  } catch (const Exception& error) {
    EXPECT_EQ(error.Message(), "Change to property while device was open");
  }
  EXPECT_THROW(encoder.SetFileType(ftWAV), Exception);
  EXPECT_EQ(encoder.FileName(), Path("locked.mp3"));
  EXPECT_EQ(encoder.FileType(), ftRAW);
  encoder.Close();
  encoder.SetFileType(ftWAV);  // allowed again once closed
  EXPECT_EQ(encoder.FileType(), ftWAV);
  encoder.SetInput(nullptr);
}

TEST_F(EncoderTest, WaveOutputWrapsTheStreamInAnMpegLayer3WaveFile) {
  const QString wav = ToneFile("tone.wav", 44100, 2, 0.5);
  const QString out = Path("wrapped.wav");
  TMMMP3Encoder encoder;
  encoder.SetFileType(ftWAV);
  encoder.SetFileName(out);
  ASSERT_TRUE(RunConversion(wav, encoder).stopped);
  const QByteArray file = ReadFile(out);
  ASSERT_GT(file.size(), 100);
  EXPECT_EQ(file.left(4), "RIFF");
  const qsizetype fmt = file.indexOf("fmt ");
  ASSERT_GT(fmt, 0);
  EXPECT_EQ(static_cast<std::uint8_t>(file[fmt + 8]), 0x55);
  const qsizetype data = file.indexOf("data");
  ASSERT_GT(data, 0);
  qsizetype end = 0;
  std::uint32_t dataSize = 0;
  std::memcpy(&dataSize, file.constData() + data + 4, 4);
  const QByteArray stream = file.mid(data + 8, dataSize);
  EXPECT_GT(WalkFrames(stream, end).size(), 15u);
  EXPECT_EQ(end, stream.size());
}

}  // namespace
