#pragma once

#include <QString>
#include <QTemporaryDir>

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
  // The temporary folder, for the benchmark's own files too.
  QString FilePath(const QString& name) const { return dir_.filePath(name); }

 private:
  QTemporaryDir dir_{QStringLiteral("/tmp/sonarelle-bench-XXXXXX")};
  bool started_ = false;
};
