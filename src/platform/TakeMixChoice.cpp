#include "platform/TakeMixChoice.h"

#include <algorithm>
#include <atomic>

namespace sonarelle::take_mix {

namespace {

std::atomic<bool> chosen{false};
std::atomic<std::uint32_t> voiceLevel{65535};
std::atomic<int> accompanimentLevel{100};
std::atomic<int> offsetMs{0};

}  // namespace

bool Chosen() {
  return chosen.load();
}

void SetChosen(bool value) {
  chosen.store(value);
}

std::uint32_t VoiceLevel() {
  return voiceLevel.load();
}

void SetVoiceLevel(std::uint32_t level) {
  voiceLevel.store(std::min<std::uint32_t>(level, 65535));
}

int AccompanimentLevel() {
  return accompanimentLevel.load();
}

void SetAccompanimentLevel(int percent) {
  accompanimentLevel.store(std::clamp(percent, 0, 100));
}

int OffsetMs() {
  return offsetMs.load();
}

void SetOffsetMs(int ms) {
  offsetMs.store(std::clamp(ms, -kOffsetLimitMs, kOffsetLimitMs));
}

}  // namespace sonarelle::take_mix
