#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

// Helpers for recordings made on the sound rig (PULSE_SERVER).

// The rig's sources by name, in the server's order: the wave-in device numbers.
QStringList RigSources();
// The device number of the named source; fails the calling test when there is none.
int RigDevice(const QString& name);
// Runs pactl against the rig; its standard output, trimmed.
QString Pactl(const QStringList& arguments);

// One channel of interleaved PCM (8-bit unsigned or 16-bit signed), scaled to -1 .. 1.
std::vector<double> Channel(const QByteArray& pcm, int bits, int channels, int channel);

// Fits one sine of `frequency` over all samples: its amplitude, and the rms of what the
// fit leaves over relative to it. A gap or a skipped stretch breaks the phase, and the
// residue grows with it.
struct SineFit {
  double amplitude = 0;
  double residue = 1;
};
SineFit FitSine(const std::vector<double>& samples, double rate, double frequency);

// The largest step between neighbouring samples.
double LargestStep(const std::vector<double>& samples);

// Checks, in the calling test, that every channel of 16-bit PCM at 44100 Hz carries a sine
// of `frequency` whose phase runs on without a break and without a jump.
void ExpectUnbrokenTone(const QByteArray& pcm, int channels, double frequency);

// A finished WAVE file: header sizes that agree with the file, its format and its data.
struct WaveContents {
  bool final = false;
  int channels = 0;
  int rate = 0;
  int bits = 0;
  QByteArray data;
};
WaveContents ReadWave(const QString& fileName);
