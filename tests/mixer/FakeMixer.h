#pragma once

#include <map>
#include <vector>

#include "platform/MixerDriver.h"

// A mixer whose lines and controls a test lays out: for the cases the sound server cannot
// show (a MIXER selection, a source with a mute of its own, a mono or disabled volume).
class FakeMixer : public sonarelle::MixerDriver {
 public:
  struct Line {
    sonarelle::MixerLine line;
    std::vector<sonarelle::MixerControl> controls;
  };
  std::vector<Line> destinations;
  std::vector<std::vector<Line>> sources;                      // per destination
  std::map<std::uint32_t, std::vector<std::uint32_t>> values;  // by control id
  std::map<std::uint32_t, std::vector<sonarelle::MixerListText>> texts;
  int writes = 0;
  sonarelle::MixerNotify notify;  // as the last open gave it

  int GetNumDevs() override { return 1; }
  sonarelle::MMRESULT GetDevCaps(int, sonarelle::MixerCaps& caps) override {
    caps.manufacturerId = 2;
    caps.destinations = std::uint32_t(destinations.size());
    return 0;
  }
  sonarelle::MMRESULT Open(sonarelle::MixerHandle* handle, int,
                           const sonarelle::MixerNotify& given) override {
    notify = given;
    *handle = 1;
    return 0;
  }
  sonarelle::MMRESULT Close(sonarelle::MixerHandle) override { return 0; }
  sonarelle::MMRESULT GetDestinationLine(sonarelle::MixerHandle, std::uint32_t d,
                                         sonarelle::MixerLine& line) override {
    if (d >= destinations.size()) return sonarelle::MMSYSERR_INVALPARAM;
    line = destinations[d].line;
    line.connections = d < sources.size() ? std::uint32_t(sources[d].size()) : 0;
    return 0;
  }
  sonarelle::MMRESULT GetSourceLine(sonarelle::MixerHandle, std::uint32_t d, std::uint32_t s,
                                    sonarelle::MixerLine& line) override {
    line = sources.at(d).at(s).line;
    return 0;
  }
  sonarelle::MMRESULT GetLineControls(sonarelle::MixerHandle, std::uint32_t lineId,
                                      std::vector<sonarelle::MixerControl>& controls) override {
    for (const Line& l : destinations) {
      if (l.line.lineId == lineId) controls = l.controls;
    }
    for (const auto& list : sources) {
      for (const Line& l : list) {
        if (l.line.lineId == lineId) controls = l.controls;
      }
    }
    return 0;
  }
  sonarelle::MMRESULT GetControlValues(sonarelle::MixerHandle, std::uint32_t id, std::uint32_t,
                                       std::uint32_t, std::vector<std::uint32_t>& out) override {
    out = values[id];
    return 0;
  }
  sonarelle::MMRESULT GetControlListText(sonarelle::MixerHandle, std::uint32_t id, std::uint32_t,
                                         std::uint32_t,
                                         std::vector<sonarelle::MixerListText>& out) override {
    out = texts[id];
    return 0;
  }
  sonarelle::MMRESULT SetControlValues(sonarelle::MixerHandle, std::uint32_t id, std::uint32_t,
                                       std::uint32_t,
                                       const std::vector<std::uint32_t>& in) override {
    values[id] = in;
    ++writes;
    return 0;
  }
};
