#include "platform/TakeMixChoice.h"

#include <algorithm>
#include <atomic>

namespace sonarelle::take_mix {

namespace {

std::atomic<bool> chosen{false};
std::atomic<std::uint32_t> voiceLevel{65535};

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

}  // namespace sonarelle::take_mix
