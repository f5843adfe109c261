// Time to find the mixer, open it and read the whole tree the mixer wrapper builds at its
// start (destinations, source lines, controls, values and list texts), on a rig of its own.
//
//   bench_mixer [ROUNDS]   (default 20)
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include <QCoreApplication>
#include <QElapsedTimer>

#include "BenchRig.h"
#include "platform/MixerDriver.h"

using namespace sonarelle;

namespace {

// Reads every line's controls and their values as the wrapper does; false on any failure.
bool ReadLine(MixerDriver& driver, MixerHandle handle, const MixerLine& line) {
  std::vector<MixerControl> controls;
  if (driver.GetLineControls(handle, line.lineId, controls) != MMSYSERR_NOERROR) {
    return false;
  }
  for (const MixerControl& control : controls) {
    const bool uniform = (control.controlFlags & MIXERCONTROL_CONTROLF_UNIFORM) != 0;
    const std::uint32_t channels = uniform ? 1 : line.channels;
    std::vector<std::uint32_t> values;
    if (driver.GetControlValues(handle, control.controlId, channels, control.items, values) !=
        MMSYSERR_NOERROR) {
      return false;
    }
    std::vector<MixerListText> texts;
    if (control.items != 0 && driver.GetControlListText(handle, control.controlId, channels,
                                                        control.items, texts) != MMSYSERR_NOERROR) {
      return false;
    }
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 20;
  BenchRig rig;
  if (!rig.Started()) {
    std::fprintf(stderr, "the sound rig did not start\n");
    return 1;
  }
  qputenv("PULSE_SERVER", rig.Server().toLocal8Bit());
  MixerDriver& driver = PulseMixerDriver();
  std::vector<double> times;
  for (int round = 0; round < rounds; ++round) {
    QElapsedTimer timer;
    timer.start();
    MixerHandle handle = 0;
    MixerCaps caps;
    bool ok =
        driver.GetNumDevs() == 1 && driver.GetDevCaps(0, caps) == MMSYSERR_NOERROR &&
        driver.Open(&handle, 0, [](unsigned, MixerHandle, std::uint32_t) {}) == MMSYSERR_NOERROR;
    for (std::uint32_t d = 0; ok && d < caps.destinations; ++d) {
      MixerLine line;
      ok = driver.GetDestinationLine(handle, d, line) == MMSYSERR_NOERROR &&
           ReadLine(driver, handle, line);
      for (std::uint32_t s = 0; ok && s < line.connections; ++s) {
        MixerLine source;
        ok = driver.GetSourceLine(handle, d, s, source) == MMSYSERR_NOERROR &&
             ReadLine(driver, handle, source);
      }
    }
    times.push_back(static_cast<double>(timer.nsecsElapsed()) / 1e6);
    driver.Close(handle);
    if (!ok) {
      std::fprintf(stderr, "round %d failed\n", round);
      return 1;
    }
  }
  std::sort(times.begin(), times.end());
  std::printf(
      "mixer: GetNumDevs + GetDevCaps + Open + whole tree, %d rounds: median %.1f ms, "
      "max %.1f ms\n",
      rounds, times[times.size() / 2], times.back());
  return 0;
}
