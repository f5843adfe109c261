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

}  // namespace sonarelle::take_mix
