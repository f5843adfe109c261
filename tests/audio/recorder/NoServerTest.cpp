// Without a sound server the recorder reports that there is no device, at once.
#include <gtest/gtest.h>

#include <QTemporaryDir>

#include "audio/recorder/MMWaveRecorder.h"

using namespace sonarelle;

TEST(WaveRecorderNoServer, NoDeviceIsReported) {
  QTemporaryDir dir;
  qputenv("PULSE_SERVER", QFile::encodeName(dir.filePath(QStringLiteral("none"))).prepend("unix:"));
  TMMWaveRecorder recorder;
  int errors = 0;
  recorder.OnError = [&](TMMComponent*) { ++errors; };
  EXPECT_EQ(recorder.ProductName(), QStringLiteral("No wave audio recording device found"));
  recorder.SetFileName(dir.filePath(QStringLiteral("take.wav")));
  try {
    recorder.StartRecording();
    ADD_FAILURE() << "recording started without a server";
  } catch (const EMMWaveInError& error) {
    EXPECT_EQ(error.Message(), QStringLiteral("No wave audio recording device found"));
  }
  EXPECT_EQ(errors, 1);
  EXPECT_FALSE(recorder.Recording());
}
