#pragma once

#include <QString>
#include <QTemporaryDir>
#include <vector>

// A sound rig of the benchmark's own (scripts/sound-rig.sh) in a temporary folder, started
// on construction and stopped on destruction.
class BenchRig {
 public:
  BenchRig();
  ~BenchRig();
  BenchRig(const BenchRig&) = delete;
  BenchRig& operator=(const BenchRig&) = delete;

  bool Started() const { return started_; }
  // The PULSE_SERVER address of the rig.
  QString Server() const;
  // The recorder's device number of the rig's source `name` ("mic", "line"), or -2.
  int SourceIndex(const QString& name) const;
  // The temporary folder, for the benchmark's own files too.
  QString FilePath(const QString& name) const { return dir_.filePath(name); }

 private:
  QTemporaryDir dir_{QStringLiteral("/tmp/sonarelle-bench-XXXXXX")};
  bool started_ = false;
};

// The data chunk of a 16-bit stereo WAVE file, left channel only, scaled to -1 .. 1.
std::vector<double> LeftChannel(const QString& fileName);

// Steps in a recorded sine of `hz` steeper than the sine allows: stretches lost or repeated.
// Prints where the first few are.
int PhaseBreaks(const std::vector<double>& samples, double rate, double hz);
