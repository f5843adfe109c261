#pragma once

#include <cstdint>

#include <QString>

namespace sonarelle::take_mix {

// The recording source that records the microphone and the program's own accompaniment
// into one take. The mixer driver lists and selects it; the wave-in driver records it.

// Its name in the source list.
inline const QString kSourceName = QStringLiteral("Voice and accompaniment");

// Whether it is the chosen recording source (the server's default source then stays the
// microphone the voice comes from).
bool Chosen();
void SetChosen(bool chosen);

// The voice's level in the take, 0 to 65535 (65535 is the voice as recorded).
std::uint32_t VoiceLevel();
void SetVoiceLevel(std::uint32_t level);

// The accompaniment's level in the take, 0 to 100 percent of what was played.
int AccompanimentLevel();
void SetAccompanimentLevel(int percent);

// What this machine adds between the sound leaving the speakers and the singer's voice
// reaching the microphone beyond what the server reports, in milliseconds (may be negative).
inline constexpr int kOffsetLimitMs = 500;
int OffsetMs();
void SetOffsetMs(int ms);

// The latencies the sound server reports for the default microphone and speakers.
struct Latencies {
  bool known = false;
  double inputMs = 0.0;
  double outputMs = 0.0;
};
// Asks the server now; `known` is false when it cannot be reached.
Latencies MeasureLatencies();

}  // namespace sonarelle::take_mix
