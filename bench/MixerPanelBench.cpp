// What the recording-source panel costs the main window's creation, with nine sources:
//   - the main window's creation (which reads the master volume and builds the panel), and
//     the mixer alone (open, tree, nine sources' levels), median of ten,
//   - the installed program's start to its main window on the screen (bench_startup) with
//     these sources on this rig.
// Starts a sound rig of its own and adds sine sources to it until it has nine real inputs.
// Its own figures are taken on the offscreen platform unless QT_QPA_PLATFORM says otherwise;
// bench_startup starts the installed program on an X server of its own. Prints figures only.
#include <algorithm>
#include <cstdio>
#include <vector>

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QRadioButton>

#include "BenchRig.h"
#include "app/FrmMain.h"
#include "mixer/AudioMixer.h"

using namespace sonarelle;

namespace {

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  BenchRig rig;
  if (!rig.Started()) {
    std::printf("the sound rig did not start\n");
    return 1;
  }
  qputenv("PULSE_SERVER", rig.Server().toUtf8());
  for (int i = 0; i < 7; ++i) {
    QProcess pactl;
    pactl.start(QStringLiteral("pactl"),
                {QStringLiteral("load-module"), QStringLiteral("module-sine-source"),
                 QStringLiteral("source_name=extra%1").arg(i),
                 QStringLiteral("frequency=%1").arg(500 + 100 * i)});
    pactl.waitForFinished();
  }
  QApplication app(argc, argv);

  std::vector<double> window;
  std::vector<double> mixer;
  int sources = 0;
  for (int run = 0; run < 10; ++run) {
    QElapsedTimer timer;
    timer.start();
    auto form = std::make_unique<TFrmMain>();
    window.push_back(double(timer.nsecsElapsed()) / 1e6);
    sources = int(form->findChildren<QRadioButton*>().size());

    timer.restart();
    TAudioMixer alone;
    for (int i = 0; i < 9; ++i) {
      int left = 0, right = 0, mute = 0;
      bool stereo = false, volumeOff = false, muteOff = false, selection = false;
      alone.GetLineLevels(1, i, left, right, mute, stereo, volumeOff, muteOff, selection);
    }
    mixer.push_back(double(timer.nsecsElapsed()) / 1e6);
  }
  std::printf("panel: %d sources shown\n", sources);
  std::printf("main window created with its panel: %.1f ms (median of 10)\n", Median(window));
  std::printf("mixer opened, tree read and nine sources' levels read: %.1f ms (median of 10)\n",
              Median(mixer));
  std::fflush(stdout);

  QProcess startup;
  startup.setProcessChannelMode(QProcess::ForwardedChannels);
  startup.start(QStringLiteral(SONARELLE_BENCH_STARTUP),
                {QStringLiteral("10"), QStringLiteral("--server"), rig.Server()});
  startup.waitForFinished(300000);
  return 0;
}
