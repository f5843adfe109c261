#pragma once

#include <initializer_list>

#include <QString>

namespace sonarelle {

// The General MIDI SoundFont to play with: the file SONARELLE_SOUNDFONT names when set, else
// the first of `candidates` that is installed; empty when there is none.
QString ChooseSoundFont(std::initializer_list<const char*> candidates);

// The SoundFont the built-in synthesizer plays with: SONARELLE_SOUNDFONT, else the fullest
// General MIDI SoundFont installed; empty when there is none.
QString SynthesizerSoundFont();

}  // namespace sonarelle
