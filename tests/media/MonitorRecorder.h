#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

// Records what the sound rig plays: stereo from a source of the server named by
// PULSE_SERVER (the null sink's monitor "speakers.monitor"), through libpulse.
namespace monitor_recorder {

inline constexpr int kRate = 44100;

struct Recording {
  std::vector<double> left;
  std::vector<double> right;
};

// Records `frames` stereo frames from `source`; empty string, or why it could not. Gives up
// after `timeout`. `flowing`, if given, is set once the first samples came: the server may
// take a while to start a recording, and what plays before is not in it.
std::string Record(const char* source, std::size_t frames, std::chrono::milliseconds timeout,
                   Recording* recording, std::atomic<bool>* flowing = nullptr);

// Records windows of `frames` one after another until `heard` holds for one, or `deadline`
// passes; the last window. A loaded machine may start a sound later than an idle one.
Recording RecordUntil(const char* source, std::size_t frames, std::chrono::milliseconds deadline,
                      const std::function<bool(const Recording&)>& heard);

double Rms(const std::vector<double>& samples);

}  // namespace monitor_recorder
