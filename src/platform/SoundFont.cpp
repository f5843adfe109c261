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

}  // namespace sonarelle
