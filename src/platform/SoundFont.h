#pragma once

#include <initializer_list>

#include <QString>

namespace sonarelle {

// The General MIDI SoundFont to play with: the file SONARELLE_SOUNDFONT names when set, else
// the first of `candidates` that is installed; empty when there is none.
QString ChooseSoundFont(std::initializer_list<const char*> candidates);

}  // namespace sonarelle
