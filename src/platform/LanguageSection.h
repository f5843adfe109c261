#pragma once

#include <QString>

#include "platform/IniSnapshot.h"

namespace sonarelle {

// One window's section of the language file. A text missing from the file, or the whole
// file missing, gives the default; a key present with an empty value gives an empty text.
class TLanguageSection {
 public:
  TLanguageSection(const TIniSnapshot& texts, QString section)
      : texts_(texts), section_(std::move(section)) {}

  QString operator()(const char* key, const QString& defaultText) const {
    return texts_.ReadString(section_, QString::fromLatin1(key), defaultText);
  }

 private:
  const TIniSnapshot& texts_;
  QString section_;
};

}  // namespace sonarelle
