#include "platform/SoundFont.h"

#include <QFileInfo>

namespace sonarelle {

QString ChooseSoundFont(std::initializer_list<const char*> candidates) {
  QString chosen = qEnvironmentVariable("SONARELLE_SOUNDFONT");
  if (!chosen.isEmpty()) return chosen;
  for (const char* path : candidates) {
    if (QFileInfo(QString::fromUtf8(path)).isFile()) return QString::fromUtf8(path);
  }
  return {};
}

QString SynthesizerSoundFont() {
  // The fullest first: samples are loaded as programs need them, so its size costs little.
  return ChooseSoundFont(
      {"/usr/share/sounds/sf2/MuseScore_General_Full.sf2", "/usr/share/sounds/sf2/FluidR3_GM.sf2",
       "/usr/share/sounds/sf2/default-GM.sf2", "/usr/share/sounds/sf2/TimGM6mb.sf2"});
}

}  // namespace sonarelle
