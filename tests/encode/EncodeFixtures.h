#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <vector>

#include <QByteArray>
#include <QString>

// Fixtures of the encoder tests: tone WAVE files, the real conversion chain, decoding with
// GStreamer and a walk over the MP3 frame headers.

// A 16-bit PCM WAVE file of a sine at `frequency`, half of full scale, on every channel.
QByteArray MakeToneWav(int rate, int channels, double seconds, double frequency, int bits = 16);
bool WriteFile(const QString& path, const QByteArray& bytes);
QByteArray ReadFile(const QString& path);

namespace sonarelle {
class TMMMP3Encoder;
}

// Result of one run of reader -> pump -> encoder.
struct ConversionRun {
  bool started = false;  // StartPump returned without raising
  bool stopped = false;  // OnStop came
  QString error;         // what StartPump raised
};
// Converts `wav` to the encoder's FileName through the real chain; `configure` sets the
// encoder up before the pump starts; the pump is closed in its stop callback.
ConversionRun RunConversion(const QString& wav, sonarelle::TMMMP3Encoder& encoder);

// The decoded audio of an MP3 file: the first channel's samples scaled to -1..1.
struct DecodedAudio {
  bool ok = false;
  int rate = 0;
  int channels = 0;
  std::vector<double> left;
};
DecodedAudio DecodeMp3(const QString& path);

// One MPEG audio frame header.
struct FrameHeader {
  int version = 0;  // 3 for MPEG-1
  int layer = 0;    // 1 for layer III
  bool crc = false;
  int bitrateKbps = 0;
  int rate = 0;
  int mode = 0;  // 0 stereo, 1 joint, 2 dual channel, 3 mono
  bool privateBit = false;
  bool copyright = false;
  bool original = false;
};
// The frame headers from the start of `stream` on, following each frame's length; stops at
// the first byte that is not a frame header and reports its offset in `end`.
std::vector<FrameHeader> WalkFrames(const QByteArray& stream, qsizetype& end);

// The tags GStreamer finds in a file (title, artist, album, datetime, comment, genre...),
// from the first tag list it reports; empty when it finds none.
std::map<QString, QString> ReadTagsWithGStreamer(const QString& path);
